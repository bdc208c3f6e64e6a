#include "local_ca.h"

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "tool_error.h"

namespace fs = std::filesystem;

namespace {

struct Deleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
  void operator()(X509* certificate) const { X509_free(certificate); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter>;
using Certificate = std::unique_ptr<X509, Deleter>;

constexpr long kDay = 24 * 60 * 60;

Key NewKey() {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  if (key == nullptr) throw ToolError("cannot generate a TLS key");
  return Key(key);
}

void AddExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  if (extension == nullptr) throw ToolError("cannot make the certificate extension " + value);
  X509_add_ext(certificate, extension, -1);
  X509_EXTENSION_free(extension);
}

// A certificate for `key` named `common_name`, signed by `issuer_key` (itself when issuer is
// null).
Certificate MakeCertificate(EVP_PKEY* key, const std::string& common_name, X509* issuer,
                            EVP_PKEY* issuer_key, long days, bool authority,
                            const std::string& alt_names) {
  Certificate certificate(X509_new());
  X509_set_version(certificate.get(), 2);
  unsigned char serial[16];
  FILE* random = std::fopen("/dev/urandom", "rb");
  if (random == nullptr || std::fread(serial, 1, sizeof serial, random) != sizeof serial) {
    if (random != nullptr) std::fclose(random);
    throw ToolError("cannot read random bytes for a certificate serial");
  }
  std::fclose(random);
  serial[0] &= 0x7f;
  BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
  BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate.get()));
  BN_free(number);
  X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -kDay);
  X509_gmtime_adj(X509_getm_notAfter(certificate.get()), days * kDay);
  X509_set_pubkey(certificate.get(), key);
  X509_NAME* name = X509_get_subject_name(certificate.get());
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("zelk-release"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(common_name.c_str()), -1, -1, 0);
  X509* signer = issuer != nullptr ? issuer : certificate.get();
  X509_set_issuer_name(certificate.get(), X509_get_subject_name(signer));
  AddExtension(certificate.get(), signer, NID_subject_key_identifier, "hash");
  if (authority) {
    AddExtension(certificate.get(), signer, NID_basic_constraints, "critical,CA:TRUE,pathlen:0");
    AddExtension(certificate.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    AddExtension(certificate.get(), signer, NID_authority_key_identifier, "keyid");
    AddExtension(certificate.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(certificate.get(), signer, NID_key_usage, "critical,digitalSignature");
    AddExtension(certificate.get(), signer, NID_ext_key_usage, "serverAuth");
    AddExtension(certificate.get(), signer, NID_subject_alt_name, alt_names);
  }
  if (X509_sign(certificate.get(), issuer_key, EVP_sha256()) == 0) {
    throw ToolError("cannot sign the certificate " + common_name);
  }
  return certificate;
}

// Written under a temporary name and renamed, created with `mode` from the start.
template <typename Write>
void WritePem(const fs::path& file, mode_t mode, Write write) {
  const fs::path temporary = file.string() + ".partial";
  fs::remove(temporary);
  const int descriptor = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (descriptor < 0) throw ToolError("cannot create " + temporary.string() + ": " + std::strerror(errno));
  FILE* stream = fdopen(descriptor, "wb");
  if (stream == nullptr) {
    close(descriptor);
    throw ToolError("cannot create " + temporary.string());
  }
  const bool written = write(stream) == 1;
  if (std::fclose(stream) != 0 || !written) throw ToolError("cannot write " + temporary.string());
  fs::rename(temporary, file);
}

Key ReadKey(const fs::path& file) {
  FILE* stream = std::fopen(file.c_str(), "rb");
  if (stream == nullptr) return nullptr;
  Key key(PEM_read_PrivateKey(stream, nullptr, nullptr, nullptr));
  std::fclose(stream);
  return key;
}

Certificate ReadCertificate(const fs::path& file) {
  FILE* stream = std::fopen(file.c_str(), "rb");
  if (stream == nullptr) return nullptr;
  Certificate certificate(PEM_read_X509(stream, nullptr, nullptr, nullptr));
  std::fclose(stream);
  return certificate;
}

bool IsIpLiteral(const std::string& address) {
  return address.find_first_not_of("0123456789.") == std::string::npos ||
         address.find(':') != std::string::npos;
}

// Usable for another day, issued by `ca` and naming `address`.
bool ServerCertificateFits(X509* certificate, EVP_PKEY* key, X509* ca, const std::string& address) {
  if (certificate == nullptr || key == nullptr) return false;
  if (X509_cmp_time(X509_get0_notAfter(certificate), nullptr) <= 0) return false;
  time_t tomorrow = time(nullptr) + kDay;
  if (X509_cmp_time(X509_get0_notAfter(certificate), &tomorrow) <= 0) return false;
  if (X509_check_private_key(certificate, key) != 1) return false;
  EVP_PKEY* ca_key = X509_get0_pubkey(ca);
  if (ca_key == nullptr || X509_verify(certificate, ca_key) != 1) return false;
  return IsIpLiteral(address) ? X509_check_ip_asc(certificate, address.c_str(), 0) == 1
                              : X509_check_host(certificate, address.c_str(), 0, 0, nullptr) == 1;
}

}  // namespace

ServerTls EnsureLocalTls(const fs::path& data_folder, const std::string& address) {
  const fs::path folder = data_folder / "tls";
  fs::create_directories(folder);
  fs::permissions(folder, static_cast<fs::perms>(0700));
  const ServerTls tls{folder / "ca.pem", folder / "server.pem", folder / "server.key"};
  const fs::path ca_key_file = folder / "ca.key";

  Key ca_key = ReadKey(ca_key_file);
  Certificate ca = ReadCertificate(tls.ca_certificate);
  if (!ca_key || !ca || X509_check_private_key(ca.get(), ca_key.get()) != 1 ||
      X509_cmp_time(X509_get0_notAfter(ca.get()), nullptr) <= 0) {
    ca_key = NewKey();
    ca = MakeCertificate(ca_key.get(), "zelk-release local CA", nullptr, ca_key.get(), 3650, true, "");
    WritePem(ca_key_file, 0600, [&](FILE* stream) {
      return PEM_write_PrivateKey(stream, ca_key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    WritePem(tls.ca_certificate, 0644, [&](FILE* stream) { return PEM_write_X509(stream, ca.get()); });
  }

  Key server_key = ReadKey(tls.server_key);
  Certificate server = ReadCertificate(tls.server_certificate);
  if (!ServerCertificateFits(server.get(), server_key.get(), ca.get(), address)) {
    std::string alt_names = "IP:127.0.0.1,IP:::1,DNS:localhost";
    if (address != "127.0.0.1" && address != "::1" && address != "localhost") {
      alt_names += (IsIpLiteral(address) ? ",IP:" : ",DNS:") + address;
    }
    server_key = NewKey();
    server = MakeCertificate(server_key.get(), "zelk-release server", ca.get(), ca_key.get(), 365,
                             false, alt_names);
    WritePem(tls.server_key, 0600, [&](FILE* stream) {
      return PEM_write_PrivateKey(stream, server_key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    WritePem(tls.server_certificate, 0644,
             [&](FILE* stream) { return PEM_write_X509(stream, server.get()); });
  }
  return tls;
}
