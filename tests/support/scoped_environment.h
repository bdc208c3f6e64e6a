// Environment variables set or removed for the length of a scope, then put back as they were.
#pragma once

#include <map>
#include <optional>
#include <string>

class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ~ScopedEnvironment();  // restores every variable touched, in reverse
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  void Set(const std::string& name, const std::string& value);
  void Unset(const std::string& name);

 private:
  void Remember(const std::string& name);
  std::map<std::string, std::optional<std::string>> saved_;
};

// Every variable through which libcurl or the system could route a transfer via a proxy.
inline constexpr const char* kProxyEnvironmentVariables[] = {
    "http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
    "ALL_PROXY",  "no_proxy",   "NO_PROXY",    "ftp_proxy",   "FTP_PROXY"};
