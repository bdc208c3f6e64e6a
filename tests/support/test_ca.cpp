#include "support/test_ca.h"

#include <stdexcept>

#include "support/run_command.h"

namespace {
void Openssl(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{"openssl"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const CommandResult result = RunCommand(argv);
  if (result.exit_code != 0) throw std::runtime_error("openssl failed: " + result.output);
}
}  // namespace

TestCa::TestCa() : ca_file_(folder_ / "ca.pem"), ca_key_(folder_ / "ca.key") {
  Openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
           "-keyout", ca_key_.string(), "-out", ca_file_.string(), "-days", "2", "-subj",
           "/CN=Zelk Test CA", "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
           "keyUsage=critical,keyCertSign,cRLSign"});
}

ServerCertificate TestCa::Issue(const std::vector<std::string>& subject_alt_names) {
  const std::string stem = "server" + std::to_string(++issued_);
  ServerCertificate issued{folder_ / (stem + ".pem"), folder_ / (stem + ".key")};
  const auto request = folder_ / (stem + ".csr");
  const auto extensions = folder_ / (stem + ".ext");
  std::string names;
  for (const auto& name : subject_alt_names) names += (names.empty() ? "" : ",") + name;
  WriteFile(extensions, "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\nsubjectAltName=" +
                            names + "\n");
  Openssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
           issued.key_file.string(), "-out", request.string(), "-subj", "/CN=zelk-test-server"});
  Openssl({"x509", "-req", "-in", request.string(), "-CA", ca_file_.string(), "-CAkey",
           ca_key_.string(), "-CAcreateserial", "-days", "2", "-out",
           issued.certificate_file.string(), "-extfile", extensions.string()});
  return issued;
}
