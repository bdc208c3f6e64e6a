// A proxy settings source that a test steers: what the user's settings hold, whether they can be
// read, what the automatic query answers, and a count of every call made to it. Install it with
// ScopedProxySettingsSource for the length of a test.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/proxy_settings.h"

class FakeProxySettingsSource final : public ProxySettingsSource {
 public:
  // Steering.
  bool open_fails = false;
  std::string open_error = "The handle is invalid.";
  bool settings_readable = true;
  std::string settings_error = "The system cannot find the file specified.";
  ProxySettings settings;  // what ReadUserSettings reports
  AutoProxyAnswer answer;  // what QueryProxyForUrl answers

  // What was asked.
  int open_calls = 0;
  int settings_calls = 0;
  struct Query {
    std::string url;
    std::optional<std::string> script_url;
  };
  std::vector<Query> queries;

  std::unique_ptr<ProxyLookup> Open(std::string& error) override;
};

// Makes `source` the process's proxy settings source until the end of the scope.
class ScopedProxySettingsSource {
 public:
  explicit ScopedProxySettingsSource(ProxySettingsSource& source) {
    ReplaceProxySettingsSource(&source);
  }
  ~ScopedProxySettingsSource() { ReplaceProxySettingsSource(nullptr); }
  ScopedProxySettingsSource(const ScopedProxySettingsSource&) = delete;
  ScopedProxySettingsSource& operator=(const ScopedProxySettingsSource&) = delete;
};
