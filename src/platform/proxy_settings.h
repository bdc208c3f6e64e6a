// Where proxy discovery gets its facts: the user's proxy settings and the system's automatic
// proxy resolution for a URL. Every transfer opens one lookup, asks it, and closes it; nothing is
// cached between transfers. The choice among proxies and what is logged live in the caller
// (network/download.h, SetProxyIfNeeded); this interface only reports what the system says.
#pragma once

#include <memory>
#include <optional>
#include <string>

// The user's proxy settings. Texts are UTF-8; an absent text is std::nullopt.
struct ProxySettings {
  bool auto_detect = false;                // automatic detection when there is no script URL
  std::optional<std::string> script_url;   // configuration-script (PAC) URL
  std::optional<std::string> proxy;        // the statically configured proxy list
  std::optional<std::string> proxy_bypass; // reported, not consulted
};

// What an automatic query gave: failed, succeeded without a proxy, or succeeded with a proxy text
// (several proxies joined with ";").
struct AutoProxyAnswer {
  bool succeeded = false;
  std::optional<std::string> proxy;
};

// One lookup, valid for one transfer.
class ProxyLookup {
 public:
  virtual ~ProxyLookup() = default;
  // The user's settings that apply to `url` (its scheme picks the static proxy where the system
  // keeps one per scheme). False when they cannot be read; `error` then holds the system's text.
  virtual bool ReadUserSettings(const std::string& url, ProxySettings& settings,
                                std::string& error) = 0;
  // The proxy the system would use for `url`: through the configuration script at `script_url`,
  // or by automatic detection when it is std::nullopt.
  virtual AutoProxyAnswer QueryProxyForUrl(const std::string& url,
                                           const std::optional<std::string>& script_url) = 0;
};

class ProxySettingsSource {
 public:
  virtual ~ProxySettingsSource() = default;
  // A lookup for one transfer; nullptr when none can be made, with the system's text in `error`.
  virtual std::unique_ptr<ProxyLookup> Open(std::string& error) = 0;
};

// The source that proxy discovery consults: the system's, unless a test has replaced it.
ProxySettingsSource& GetProxySettingsSource();
// Replaces the source for the rest of the process (nullptr restores the system's). Call it only
// while no transfer runs; the source must outlive every transfer that may use it.
void ReplaceProxySettingsSource(ProxySettingsSource* source);
// The system's own source, whatever is installed.
ProxySettingsSource& SystemProxySettingsSource();
