#include "support/fake_proxy_settings.h"

namespace {
class FakeLookup final : public ProxyLookup {
 public:
  explicit FakeLookup(FakeProxySettingsSource& source) : source_(source) {}

  bool ReadUserSettings(const std::string&, ProxySettings& settings, std::string& error) override {
    ++source_.settings_calls;
    if (!source_.settings_readable) {
      error = source_.settings_error;
      return false;
    }
    settings = source_.settings;
    return true;
  }

  AutoProxyAnswer QueryProxyForUrl(const std::string& url,
                                   const std::optional<std::string>& script_url) override {
    source_.queries.push_back({url, script_url});
    return source_.answer;
  }

 private:
  FakeProxySettingsSource& source_;
};
}  // namespace

std::unique_ptr<ProxyLookup> FakeProxySettingsSource::Open(std::string& error) {
  ++open_calls;
  if (open_fails) {
    error = open_error;
    return nullptr;
  }
  return std::make_unique<FakeLookup>(*this);
}
