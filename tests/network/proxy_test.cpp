// Proxy discovery: the choice among proxies, the order of the lookups and their messages, and the
// effect on the transfer handle, through a fake settings source; then the system's source with a
// real proxy.
#include <arpa/inet.h>
#include <netinet/in.h>

#include <gtest/gtest.h>

#include <map>

#include "network/download.h"
#include "network/utility.h"
#include "network_fixture.h"
#include "support/fake_proxy_settings.h"
#include "support/tiny_proxy.h"

namespace {

constexpr const char* kLogger = "download(SetProxyIfNeeded())";
constexpr const char* kReleaseUrl = "https://releases.example.net/core/LauncherRelease.txt";
constexpr const char* kFallback =
    "Proxy auto-detection failed. Checking IE settings for proxy information";

LogLine Info(std::string message) { return {kLogger, "info", std::move(message)}; }
LogLine Error(std::string message) { return {kLogger, "error", std::move(message)}; }

// The proxy hosts of the tests, each on a loopback address of its own.
const std::map<std::string, std::string> kProxyHosts = {
    {"127.0.0.2:80", "proxy:80"}, {"127.0.0.3:80", "a:80"},
    {"127.0.0.4:80", "b:80"},     {"127.0.0.5:80", "A.LOCAL:80"},
};

curl_socket_t RefuseSocket(void* opened, curlsocktype, curl_sockaddr* address) {
  const auto& ipv4 = reinterpret_cast<const sockaddr_in&>(address->addr);
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &ipv4.sin_addr, text, sizeof text);
  *static_cast<std::string*>(opened) = std::string(text) + ":" + std::to_string(ntohs(ipv4.sin_port));
  return CURL_SOCKET_BAD;
}

// Where a transfer on `handle` goes, found by letting libcurl try to reach http://127.0.0.1:9/
// without ever opening a socket: the proxy ("b:80") when one is set, "direct" when none is, or
// libcurl's error text when it refuses the proxy text.
std::string Route(CURL* handle) {
  curl_slist* resolve = nullptr;
  for (const auto& [address, host] : kProxyHosts) {
    const std::string name = host.substr(0, host.find(':'));
    resolve = curl_slist_append(resolve, (name + ":80:" + address.substr(0, address.find(':'))).c_str());
  }
  std::string opened;
  char error[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(handle, CURLOPT_URL, "http://127.0.0.1:9/");
  curl_easy_setopt(handle, CURLOPT_RESOLVE, resolve);
  curl_easy_setopt(handle, CURLOPT_OPENSOCKETFUNCTION, RefuseSocket);
  curl_easy_setopt(handle, CURLOPT_OPENSOCKETDATA, &opened);
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error);
  curl_easy_perform(handle);
  curl_easy_setopt(handle, CURLOPT_RESOLVE, nullptr);
  curl_slist_free_all(resolve);
  if (opened == "127.0.0.1:9") return "direct";
  if (const auto host = kProxyHosts.find(opened); host != kProxyHosts.end()) return host->second;
  return error;
}

class ProxyTest : public NetworkTest {
 protected:
  // SetProxyIfNeeded on a fresh handle with the fake source; the route it left.
  std::string RunOnFreshHandle() {
    CURL* handle = curl_easy_init();
    SetProxyIfNeeded(handle, kReleaseUrl);
    std::string route = Route(handle);
    curl_easy_cleanup(handle);
    return route;
  }

  FakeProxySettingsSource source_;
  ScopedProxySettingsSource installed_{source_};
};

TEST_F(ProxyTest, ChoosesOneProxyFromTheTextFound) {
  const struct {
    std::string found;
    std::string route;       // what the transfer uses
    bool several;            // "Multiple proxies found"
    bool set;                // "Proxy was found and set", else "No proxy was found"
  } cases[] = {
      {"proxy:80", "proxy:80", false, true},
      {"a.local:80;b:80", "b:80", true, true},
      {"a.local:80;b.local:80", "direct", true, false},
      {";b:80", "direct", true, false},  // the empty first piece is chosen
      {"a:80;", "a:80", true, true},
      {"http=a:80;https=b:443", "Unsupported proxy syntax in 'http=a:80'", true, true},
      {"A.LOCAL:80;b:80", "A.LOCAL:80", true, true},  // ".local" is case-sensitive
  };
  // The same text, found by the automatic query or as the user's static proxy.
  for (const bool automatic : {true, false}) {
    for (const auto& c : cases) {
      source_.settings = {true, std::nullopt, automatic ? std::nullopt : std::optional(c.found),
                          std::nullopt};
      source_.answer = automatic ? AutoProxyAnswer{true, c.found} : AutoProxyAnswer{};
      log_.Clear();

      EXPECT_EQ(RunOnFreshHandle(), c.route) << c.found;

      std::vector<LogLine> expected;
      expected.push_back(automatic ? Info("Proxy auto-detected: " + c.found) : Info(kFallback));
      expected.push_back(c.several ? Info("Multiple proxies found. Attempting to choose one")
                                   : Info("Did not find multiple proxies"));
      expected.push_back(c.set ? Info("Proxy was found and set") : Info("No proxy was found"));
      EXPECT_EQ(log_.lines(), expected) << c.found << (automatic ? " (automatic)" : " (static)");
    }
  }
}

TEST_F(ProxyTest, ChooseProxySplitsAsAStreamSplitsLines) {
  const struct {
    const char* list;
    const char* chosen;
  } cases[] = {
      {"a;b", "a"},           {";", ""},        {"x.local;;b", ""},  {"x.local;", ""},
      {"p.localhost:1;q:2", "q:2"}, {"a.local.example:80;b", "b"}, {"a;b.local", "a"},
  };
  for (const auto& c : cases) EXPECT_EQ(ChooseProxy(c.list), c.chosen) << c.list;
}

TEST_F(ProxyTest, FollowsTheUserSettings) {
  const std::string script = "http://wpad.example.net/proxy.pac";
  const struct {
    const char* name;
    bool readable;
    ProxySettings settings;
    AutoProxyAnswer answer;
    std::vector<std::optional<std::string>> queries;  // script URL of each automatic query
    std::string route;
    std::vector<LogLine> log;
  } cases[] = {
      {"auto-detect off and no script URL: straight to the static proxy",
       true,
       {false, std::nullopt, "proxy:80", std::nullopt},
       {true, "a:80"},
       {},
       "proxy:80",
       {Info(kFallback), Info("Did not find multiple proxies"), Info("Proxy was found and set")}},
      {"script URL and auto-detect: only the script URL is used",
       true,
       {true, script, "b:80", std::nullopt},
       {true, "a:80"},
       {script},
       "a:80",
       {Info("Proxy auto-detected: a:80"), Info("Did not find multiple proxies"),
        Info("Proxy was found and set")}},
      {"auto-detect: an answer without a proxy falls back to the static one",
       true,
       {true, std::nullopt, "b:80", std::nullopt},
       {true, std::nullopt},
       {std::nullopt},
       "b:80",
       {Error("Received a NULL proxy back from the Windows API when auto-detecting"),
        Info(kFallback), Info("Did not find multiple proxies"), Info("Proxy was found and set")}},
      {"settings unreadable: automatic detection, and no static proxy is known",
       false,
       {false, std::nullopt, "b:80", std::nullopt},
       {},
       {std::nullopt},
       "direct",
       {Error("Failed to check for IE proxy configuration. Error: The system cannot find the "
              "file specified."),
        Info(kFallback), Info("Did not find multiple proxies"), Info("No proxy was found")}},
      {"no settings at all",
       true,
       {},
       {true, "a:80"},
       {},
       "direct",
       {Info(kFallback), Info("Did not find multiple proxies"), Info("No proxy was found")}},
  };
  for (const auto& c : cases) {
    source_.settings_readable = c.readable;
    source_.settings = c.settings;
    source_.answer = c.answer;
    source_.queries.clear();
    log_.Clear();

    EXPECT_EQ(RunOnFreshHandle(), c.route) << c.name;
    EXPECT_EQ(log_.lines(), c.log) << c.name;
    ASSERT_EQ(source_.queries.size(), c.queries.size()) << c.name;
    for (size_t i = 0; i < c.queries.size(); ++i) {
      EXPECT_EQ(source_.queries[i].url, kReleaseUrl);
      EXPECT_EQ(source_.queries[i].script_url, c.queries[i]) << c.name;
    }
  }
  EXPECT_EQ(source_.open_calls, static_cast<int>(std::size(cases)));  // nothing is kept
}

TEST_F(ProxyTest, NoLookupCanBeMadeSoTheTransferGoesDirect) {
  source_.open_fails = true;
  source_.settings.proxy = "proxy:80";
  EXPECT_EQ(RunOnFreshHandle(), "direct");
  EXPECT_EQ(log_.lines(),
            std::vector<LogLine>{
                Error("Failed to use WinHttpOpen. Skipping proxy step. Error: The handle is invalid.")});
  EXPECT_EQ(source_.settings_calls, 0);
}

TEST_F(ProxyTest, ARejectedProxyIsClearedAndTheTransferGoesDirect) {
  const std::string too_long(9'000'000, 'p');  // longer than libcurl takes for any text option
  source_.settings.auto_detect = true;
  source_.answer = {true, too_long};
  EXPECT_EQ(RunOnFreshHandle(), "direct");
  EXPECT_EQ(log_.lines(),
            (std::vector<LogLine>{
                Info("Proxy auto-detected: " + too_long), Info("Did not find multiple proxies"),
                Info("Proxy was found and set"),
                Error("Failed to set proxy for proxy: " + too_long +
                      ". Reason: A libcurl function was given a bad argument\n")}));
}

TEST_F(ProxyTest, SkipAutoProxyMakesNoLookupAndLeavesTheHandleAlone) {
  source_.settings = {true, std::nullopt, "proxy:80", std::nullopt};
  source_.answer = {true, "a:80"};
  SkipAutoProxy = true;
  EXPECT_EQ(RunOnFreshHandle(), "direct");
  EXPECT_EQ(log_.lines(),
            std::vector<LogLine>{Info("Skipping auto proxy checking due to command line argument")});
  EXPECT_EQ(source_.open_calls, 0);
}

// The system's own source (libproxy and the environment), wrapped to count lookups.
class CountingSource final : public ProxySettingsSource {
 public:
  std::unique_ptr<ProxyLookup> Open(std::string& error) override {
    ++opened;
    return SystemProxySettingsSource().Open(error);
  }
  int opened = 0;
};

class SystemProxyTest : public NetworkTest {
 protected:
  SystemProxyTest() {
    server_.ServeText("/core/LauncherRelease.txt", "5\nhttps://example.net/ZelkLauncher.exe\n");
    server_.ServeText("/ZelkLauncher.exe", "new launcher");
    server_.Start();
  }
  bool WentThroughProxy() const {
    return proxy_.log().find("CONNECT 127.0.0.1:" + std::to_string(server_.port()) + " ") !=
           std::string::npos;
  }
  std::string ManifestUrl() const { return server_.base_url() + "/core/LauncherRelease.txt"; }

  HttpsServer server_{certificate_};
  TinyProxy proxy_;
  CountingSource source_;
  ScopedProxySettingsSource installed_{source_};
};

TEST_F(SystemProxyTest, TransfersGoThroughTheProxyTheEnvironmentNames) {
  ASSERT_EQ(Fetch(ManifestUrl()), "5\nhttps://example.net/ZelkLauncher.exe\n");
  EXPECT_FALSE(WentThroughProxy());
  EXPECT_EQ(Messages(kLogger).back(), "No proxy was found");

  environment_.Set("https_proxy", proxy_.url());
  log_.Clear();
  ASSERT_EQ(Fetch(ManifestUrl()), "5\nhttps://example.net/ZelkLauncher.exe\n");
  EXPECT_TRUE(WentThroughProxy()) << proxy_.log();
  EXPECT_EQ(Messages(kLogger),
            (std::vector<std::string>{"Proxy auto-detected: " + proxy_.url(),
                                      "Did not find multiple proxies", "Proxy was found and set"}));

  std::atomic<int32_t> percent = 0;
  const auto destination = folder_ / "ZelkLauncher.tmp";
  ASSERT_TRUE(Download(server_.base_url() + "/ZelkLauncher.exe", destination.string(),
                       OnDownloadProgress, &percent));
  EXPECT_EQ(ReadFile(destination), "new launcher");
  EXPECT_EQ(source_.opened, 3);  // once per transfer
}

TEST_F(SystemProxyTest, AProxyWithoutSchemeIsFoundAsTheStaticProxy) {
  // libproxy passes over a value without a scheme; the static fallback takes it as it is.
  environment_.Set("HTTPS_PROXY", "127.0.0.1:" + std::to_string(proxy_.port()));
  ASSERT_EQ(Fetch(ManifestUrl()), "5\nhttps://example.net/ZelkLauncher.exe\n");
  EXPECT_TRUE(WentThroughProxy()) << proxy_.log();
  EXPECT_EQ(Messages(kLogger),
            (std::vector<std::string>{kFallback, "Did not find multiple proxies",
                                      "Proxy was found and set"}));
}

TEST_F(SystemProxyTest, SkipAutoProxyMakesNoLookup) {
  LaunchOptions options;
  ASSERT_TRUE(ParseCommandLine({"ZelkLauncher.exe", "-skipautoproxy"}, options));
  SkipAutoProxy = options.skip_auto_proxy;
  environment_.Set("https_proxy", proxy_.url());

  ASSERT_EQ(Fetch(ManifestUrl()), "5\nhttps://example.net/ZelkLauncher.exe\n");
  EXPECT_EQ(source_.opened, 0);
  EXPECT_EQ(Messages(kLogger),
            std::vector<std::string>{"Skipping auto proxy checking due to command line argument"});
  // The handle keeps libcurl's own behaviour, which reads the same environment variable.
  EXPECT_TRUE(WentThroughProxy()) << proxy_.log();
}

}  // namespace
