// The server's TLS files when none are given: a certificate authority of this data folder and a
// server certificate it issues for the loopback names, kept in <data>/tls and reused while the
// server certificate is valid. The launcher trusts the CA through CURL_CA_BUNDLE.
#pragma once

#include <filesystem>
#include <string>

struct ServerTls {
  std::filesystem::path ca_certificate;      // tls/ca.pem
  std::filesystem::path server_certificate;  // tls/server.pem
  std::filesystem::path server_key;          // tls/server.key (mode 0600)
};

// Makes or reuses the CA and a server certificate for `address` (an IP literal or "localhost");
// the certificate also names 127.0.0.1, ::1 and localhost.
ServerTls EnsureLocalTls(const std::filesystem::path& data_folder, const std::string& address);
