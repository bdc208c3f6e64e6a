// A certificate authority made at test time, and server certificates issued by it, written as
// PEM files into a temporary folder. The launcher is pointed at ca_file() with CURL_CA_BUNDLE.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_folder.h"

struct ServerCertificate {
  std::filesystem::path certificate_file;
  std::filesystem::path key_file;
};

class TestCa {
 public:
  // Throws when openssl fails.
  TestCa();
  const std::filesystem::path& ca_file() const { return ca_file_; }
  // A certificate for 127.0.0.1 and localhost unless other names are given ("DNS:x", "IP:y").
  ServerCertificate Issue(const std::vector<std::string>& subject_alt_names = {"IP:127.0.0.1",
                                                                              "DNS:localhost"});

 private:
  TempFolder folder_;
  std::filesystem::path ca_file_;
  std::filesystem::path ca_key_;
  int issued_ = 0;
};
