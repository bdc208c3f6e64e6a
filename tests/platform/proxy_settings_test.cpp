// The Linux proxy settings source: libproxy for the automatic query, the environment for the
// user's static proxy.
#include "platform/proxy_settings.h"

#include <gtest/gtest.h>

#include <map>

#include "support/scoped_environment.h"

namespace {

class LinuxProxySettingsTest : public ::testing::Test {
 protected:
  LinuxProxySettingsTest() {
    for (const char* name : kProxyEnvironmentVariables) environment_.Unset(name);
  }

  std::unique_ptr<ProxyLookup> Open() {
    std::string error;
    auto lookup = SystemProxySettingsSource().Open(error);
    EXPECT_NE(lookup, nullptr) << error;
    return lookup;
  }

  ScopedEnvironment environment_;
};

TEST_F(LinuxProxySettingsTest, TheStaticProxyIsTheVariableOfTheUrlsScheme) {
  const struct {
    const char* name;
    std::map<std::string, std::string> variables;
    const char* url;
    std::optional<std::string> proxy;
  } cases[] = {
      {"all four", {{"https_proxy", "l:1"}, {"HTTPS_PROXY", "u:2"}, {"all_proxy", "a:3"},
                    {"ALL_PROXY", "A:4"}}, "https://releases.example.net/x", "l:1"},
      {"upper case", {{"HTTPS_PROXY", "u:2"}, {"all_proxy", "a:3"}}, "https://r/x", "u:2"},
      {"all_proxy", {{"all_proxy", "a:3"}, {"ALL_PROXY", "A:4"}}, "https://r/x", "a:3"},
      {"ALL_PROXY", {{"ALL_PROXY", "A:4"}}, "https://r/x", "A:4"},
      {"an empty variable counts as unset", {{"https_proxy", ""}, {"ALL_PROXY", "A:4"}},
       "https://r/x", "A:4"},
      {"another scheme's variable", {{"http_proxy", "h:5"}}, "https://r/x", std::nullopt},
      {"the scheme decides", {{"http_proxy", "h:5"}, {"https_proxy", "l:1"}}, "HTTP://r/x", "h:5"},
      {"none", {}, "https://r/x", std::nullopt},
  };
  for (const auto& c : cases) {
    ScopedEnvironment scoped;
    for (const auto& [name, value] : c.variables) scoped.Set(name, value);
    ProxySettings settings;
    settings.proxy = "stale";
    std::string error;
    ASSERT_TRUE(Open()->ReadUserSettings(c.url, settings, error)) << c.name;
    EXPECT_EQ(settings.proxy, c.proxy) << c.name;
    EXPECT_TRUE(settings.auto_detect);
    EXPECT_EQ(settings.script_url, std::nullopt);
  }
}

TEST_F(LinuxProxySettingsTest, TheAutomaticQueryAsksLibproxy) {
  const std::string url = "https://releases.example.net/core/LauncherRelease.txt";
  const struct {
    const char* name;
    std::map<std::string, std::string> variables;
    AutoProxyAnswer answer;
  } cases[] = {
      {"nothing configured: direct, a failed query", {}, {}},
      {"a proxy URL", {{"https_proxy", "http://127.0.0.1:3128"}}, {true, "http://127.0.0.1:3128"}},
      {"a value without scheme is passed over", {{"https_proxy", "127.0.0.1:3128"}}, {}},
      {"excluded host", {{"https_proxy", "http://127.0.0.1:3128"}, {"no_proxy", ".example.net"}}, {}},
  };
  for (const auto& c : cases) {
    ScopedEnvironment scoped;
    for (const auto& [name, value] : c.variables) scoped.Set(name, value);
    const AutoProxyAnswer answer = Open()->QueryProxyForUrl(url, std::nullopt);
    EXPECT_EQ(answer.succeeded, c.answer.succeeded) << c.name;
    EXPECT_EQ(answer.proxy, c.answer.proxy) << c.name;
  }
}

TEST_F(LinuxProxySettingsTest, ReplacingTheSourceLastsUntilRestored) {
  EXPECT_EQ(&GetProxySettingsSource(), &SystemProxySettingsSource());
  struct NoSource final : ProxySettingsSource {
    std::unique_ptr<ProxyLookup> Open(std::string&) override { return nullptr; }
  } replacement;
  ReplaceProxySettingsSource(&replacement);
  EXPECT_EQ(&GetProxySettingsSource(), &replacement);
  ReplaceProxySettingsSource(nullptr);
  EXPECT_EQ(&GetProxySettingsSource(), &SystemProxySettingsSource());
}

}  // namespace
