// Proxy settings on Linux.
// - Automatic query: libproxy (environment, desktop settings, PAC, WPAD as the system has them).
//   Its "direct://" entries are no proxy; an answer with nothing else, or no answer, is a query
//   that failed. The other entries are joined with ";" in libproxy's order.
// - The user's settings: always readable; automatic detection is on and there is no script URL
//   of our own (libproxy finds the script itself). The static proxy is the environment variable
//   of the URL's scheme (https_proxy, HTTPS_PROXY, then all_proxy, ALL_PROXY for an https URL);
//   an empty variable counts as unset.
// - Bypass lists are not reported.
#include "platform/proxy_settings.h"

#include <proxy.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <string_view>

namespace {

std::string SchemeOf(std::string_view url) {
  const size_t end = url.find("://");
  std::string scheme(url.substr(0, end == std::string_view::npos ? 0 : end));
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return scheme;
}

std::optional<std::string> StaticProxyFromEnvironment(const std::string& url) {
  const std::string scheme = SchemeOf(url);
  std::string upper = scheme;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string names[] = {scheme + "_proxy", upper + "_PROXY", "all_proxy", "ALL_PROXY"};
  for (const auto& name : names) {
    if (name.front() == '_') continue;  // a URL without a scheme has no scheme variable
    const char* value = std::getenv(name.c_str());
    if (value != nullptr && *value != '\0') return std::string(value);
  }
  return std::nullopt;
}

class LibproxyLookup final : public ProxyLookup {
 public:
  explicit LibproxyLookup(pxProxyFactory* factory) : factory_(factory) {}
  ~LibproxyLookup() override { px_proxy_factory_free(factory_); }
  LibproxyLookup(const LibproxyLookup&) = delete;
  LibproxyLookup& operator=(const LibproxyLookup&) = delete;

  bool ReadUserSettings(const std::string& url, ProxySettings& settings, std::string&) override {
    settings = ProxySettings{};
    settings.auto_detect = true;
    settings.proxy = StaticProxyFromEnvironment(url);
    return true;
  }

  AutoProxyAnswer QueryProxyForUrl(const std::string& url,
                                   const std::optional<std::string>&) override {
    char** proxies = px_proxy_factory_get_proxies(factory_, url.c_str());
    if (proxies == nullptr) return {};
    std::string joined;
    for (char** entry = proxies; *entry != nullptr; ++entry) {
      if (std::string_view(*entry).starts_with("direct://")) continue;
      if (!joined.empty()) joined += ';';
      joined += *entry;
    }
    px_proxy_factory_free_proxies(proxies);
    if (joined.empty()) return {};
    return {true, std::move(joined)};
  }

 private:
  pxProxyFactory* factory_;
};

class LibproxySource final : public ProxySettingsSource {
 public:
  std::unique_ptr<ProxyLookup> Open(std::string& error) override {
    pxProxyFactory* factory = px_proxy_factory_new();
    if (factory == nullptr) {
      error = "libproxy could not create a proxy factory";
      return nullptr;
    }
    return std::make_unique<LibproxyLookup>(factory);
  }
};

std::atomic<ProxySettingsSource*> replaced_source{nullptr};

}  // namespace

ProxySettingsSource& SystemProxySettingsSource() {
  static LibproxySource source;
  return source;
}

ProxySettingsSource& GetProxySettingsSource() {
  ProxySettingsSource* source = replaced_source.load();
  return source != nullptr ? *source : SystemProxySettingsSource();
}

void ReplaceProxySettingsSource(ProxySettingsSource* source) { replaced_source.store(source); }
