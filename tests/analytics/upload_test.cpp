#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <thread>

#include "analytics/analytics_manager.h"
#include "analytics_test_env.h"

using nlohmann::json;

namespace {

const char* const kDefaultKey = ZELK_DEFAULT_ANALYTICS_API_KEY;

// The value of the first header called `name`, and its position among the request's headers.
std::pair<std::string, int> Header(const RecordedRequest& request, const std::string& name) {
  for (size_t i = 0; i < request.headers.size(); ++i) {
    if (request.headers[i].first == name) return {request.headers[i].second, static_cast<int>(i)};
  }
  return {"", -1};
}

// A plain-HTTP listener on 127.0.0.1 that keeps the raw bytes of one request and answers 200.
class RawHttpReceiver {
 public:
  RawHttpReceiver() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, 1) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("raw receiver: cannot listen");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~RawHttpReceiver() {
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    close(listener_);
  }
  std::string base_url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::string Received() {
    std::lock_guard lock(mutex_);
    return received_;
  }

 private:
  void Serve() {
    const int connection = accept(listener_, nullptr, nullptr);
    if (connection < 0) return;
    std::string bytes;
    char buffer[4096];
    // Headers, then as many body bytes as Content-Length announces.
    for (;;) {
      const size_t end = bytes.find("\r\n\r\n");
      if (end != std::string::npos) {
        const size_t field = bytes.find("Content-Length: ");
        const size_t body = field == std::string::npos ? 0 : std::stoul(bytes.substr(field + 16));
        if (bytes.size() >= end + 4 + body) break;
      }
      const ssize_t n = read(connection, buffer, sizeof buffer);
      if (n <= 0) break;
      bytes.append(buffer, static_cast<size_t>(n));
    }
    {
      std::lock_guard lock(mutex_);
      received_ = bytes;
    }
    const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    (void)!write(connection, answer.data(), answer.size());
    close(connection);
  }

  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::string received_;
};

}  // namespace

TEST(BulkBodyTest, OneCompactLinePerRecordWithKeysInByteOrder) {
  json first;
  first["step_type"] = "class InstallStep";
  first["step_duration"] = static_cast<double>(0.0f);
  first["final_state"] = "AlreadyInstalled";
  first["date"] = "2024-03-05T09:04:01Z";
  json second;
  second["step_duration"] = static_cast<double>(1.2f);
  second["download_time"] = static_cast<double>(0.5f);
  second["launch_failed"] = false;
  second["allow_update"] = true;
  second["result"] = "say \"hi\"\\ \n\t\x01 J\xC3\xBCrgen";
  json third;
  third["result"] = "Zugriff verweigert: C:\\Benutzer\\J\xFCrgen";  // a legacy code page text
  third["new_version"] = "5";

  EXPECT_EQ(SerializeBulkBody({first, second, third}),
            "{\"date\":\"2024-03-05T09:04:01Z\",\"final_state\":\"AlreadyInstalled\","
            "\"step_duration\":0.0,\"step_type\":\"class InstallStep\"}\n"
            "{\"allow_update\":true,\"download_time\":0.5,\"launch_failed\":false,"
            "\"result\":\"say \\\"hi\\\"\\\\ \\n\\t\\u0001 J\xC3\xBCrgen\","
            "\"step_duration\":1.2000000476837158}\n"
            "{\"new_version\":\"5\","
            "\"result\":\"Zugriff verweigert: C:\\\\Benutzer\\\\J\xEF\xBF\xBDrgen\"}\n");
  EXPECT_EQ(SerializeBulkBody({}), "");
}

TEST_F(AnalyticsTest, RecordsGetTheCommonFields) {
  AnalyticsManager manager;
  json record;
  record["step_type"] = "class LaunchZelkStep";
  record["environment"] = "overwritten";
  const auto before = std::chrono::system_clock::now();
  manager.AddRecord(record);
  manager.AddRecord(json::object());
  const auto after = std::chrono::system_clock::now();

  ASSERT_EQ(manager.records().size(), 2u);
  const json& added = manager.records()[0];
  EXPECT_EQ(added["environment"], "Zelk Go");
  EXPECT_EQ(added["step_type"], "class LaunchZelkStep");
  EXPECT_EQ(added["installation_id"], manager.installation_id());
  EXPECT_EQ(manager.installation_id().size(), 36u);

  const std::string date = added["date"];
  ASSERT_EQ(date.size(), 20u) << date;
  std::tm utc = {};
  ASSERT_NE(strptime(date.c_str(), "%Y-%m-%dT%H:%M:%SZ", &utc), nullptr) << date;
  const auto stamped = std::chrono::system_clock::from_time_t(timegm(&utc));
  EXPECT_GE(stamped, std::chrono::floor<std::chrono::seconds>(before));
  EXPECT_LE(stamped, after);
  EXPECT_EQ(manager.records()[1].size(), 3u);
}

TEST_F(AnalyticsTest, OnlyStatus200And201CountAsAccepted) {
  const struct {
    int status;
    std::string body;
    bool accepted;
  } cases[] = {
      {200, "{\"errors\":false}", true},
      {201, "", true},
      {202, "queued", false},
      {204, "", false},
      {500, "{\"error\":\"index closed\"}", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    SetResponse(c.status, c.body);
    const int first_line = static_cast<int>(log_.lines().size());
    const size_t requests_before = receiver_->request_count();
    {
      AnalyticsManager manager;
      json record;
      record["step_type"] = "class InstallStep";
      manager.AddRecord(record);
      manager.SendRecords();
    }
    ASSERT_EQ(receiver_->request_count(), requests_before + 1);
    const int unexpected = log_.Find("[class AnalyticsManager] [error] Unexpected response: " + c.body,
                                     first_line);
    const int failed = log_.Find("[class AnalyticsManager] [error] Could not send analytics data!",
                                 first_line);
    if (c.accepted) {
      EXPECT_EQ(unexpected, -1);
      EXPECT_EQ(failed, -1);
    } else {
      ASSERT_NE(unexpected, -1);
      EXPECT_EQ(failed, unexpected + 1);
    }
  }
}

TEST_F(AnalyticsTest, PostsTheBodyWithFourHeaders) {
  AnalyticsManager manager;
  for (const char* type : {"class InstallStep", "class SelfUpdateStep"}) {
    json record;
    record["step_type"] = type;
    manager.AddRecord(record);
  }
  manager.SendRecords();

  const auto requests = receiver_->requests();
  ASSERT_EQ(requests.size(), 1u);
  const RecordedRequest& request = requests[0];
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.path, kBulkPath);
  EXPECT_EQ(request.body, SerializeBulkBody(manager.records()));
  EXPECT_EQ(Header(request, "Accept").first, "application/json");
  EXPECT_EQ(Header(request, "Content-Type").first, "application/json");
  EXPECT_EQ(Header(request, "charset").first, "utf-8");
  EXPECT_EQ(Header(request, "ApiKey").first, kDefaultKey);
  ASSERT_EQ(LastUpload().size(), 2u);
  EXPECT_EQ(LastUpload()[1]["step_type"], "class SelfUpdateStep");
}

// The HTTPS receiver hands headers over sorted by name; the order on the wire is read here from
// the raw bytes of a plain-HTTP request.
TEST_F(AnalyticsTest, HeadersGoOutInTheirOrder) {
  RawHttpReceiver raw;
  setenv("ZELK_ANALYTICS_PROXY_URL", raw.base_url().c_str(), 1);
  setenv("ZELK_ANALYTICS_API_KEY", "k3y", 1);
  AnalyticsManager manager;
  manager.AddRecord(json::object());
  manager.SendRecords();

  const std::string request = raw.Received();
  const size_t accept = request.find("\r\nAccept: application/json\r\n");
  const size_t content_type = request.find("\r\nContent-Type: application/json\r\n");
  const size_t charset = request.find("\r\ncharset: utf-8\r\n");
  const size_t api_key = request.find("\r\nApiKey: k3y\r\n");
  ASSERT_NE(api_key, std::string::npos) << request;
  EXPECT_LT(accept, content_type) << request;
  EXPECT_LT(content_type, charset) << request;
  EXPECT_LT(charset, api_key) << request;
  EXPECT_EQ(request.rfind("POST /analytics/v1/indices/zelklauncher-session/_bulk HTTP/1.1\r\n", 0), 0u);
  EXPECT_EQ(log_.Find("Could not send analytics data!"), -1);
}

TEST_F(AnalyticsTest, EnvironmentChoosesBaseAddressAndKeyOnEveryUpload) {
  const std::string base = receiver_->base_url();
  const struct {
    std::string base;          // ZELK_ANALYTICS_PROXY_URL
    const char* key;           // ZELK_ANALYTICS_API_KEY, nullptr for unset
    std::string path;          // what the receiver sees
    const char* key_header;    // nullptr when no ApiKey header arrives
  } cases[] = {
      {base, nullptr, kBulkPath, kDefaultKey},
      {base + "/", nullptr, std::string("/") + kBulkPath, kDefaultKey},
      {base + "/staging", "key-for-staging", std::string("/staging") + kBulkPath, "key-for-staging"},
      {base, "", kBulkPath, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.base + " / " + (c.key ? c.key : "(unset)"));
    setenv("ZELK_ANALYTICS_PROXY_URL", c.base.c_str(), 1);
    if (c.key) {
      setenv("ZELK_ANALYTICS_API_KEY", c.key, 1);
    } else {
      unsetenv("ZELK_ANALYTICS_API_KEY");
    }
    AnalyticsManager manager;
    manager.AddRecord(json::object());
    manager.SendRecords();

    const RecordedRequest request = receiver_->requests().back();
    EXPECT_EQ(request.path, c.path);
    const auto api_key = Header(request, "ApiKey");
    if (c.key_header) {
      EXPECT_EQ(api_key.first, c.key_header);
    } else {
      EXPECT_EQ(api_key.second, -1) << api_key.first;
    }
  }
  EXPECT_EQ(log_.Find("Could not send analytics data!"), -1);
}

TEST_F(AnalyticsTest, TransferFailuresAreLogged) {
  const struct {
    std::string name;
    std::function<void()> arrange;
    int curl_code;
    std::string text;
  } cases[] = {
      {"nothing listens", [&] {
         setenv("ZELK_ANALYTICS_PROXY_URL", "https://127.0.0.1:1", 1);
       }, 7, "Failed to connect to 127.0.0.1 port 1"},
      {"certificate not trusted",
       [&] {
         setenv("ZELK_ANALYTICS_PROXY_URL", receiver_->base_url().c_str(), 1);
         unsetenv("CURL_CA_BUNDLE");
       },
       60, "SSL certificate problem"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.arrange();
    const int first_line = static_cast<int>(log_.lines().size());
    AnalyticsManager manager;
    manager.AddRecord(json::object());
    manager.SendRecords();

    const int code = log_.Find("[class AnalyticsManager] [error] libcurl result code: (" +
                                   std::to_string(c.curl_code) + ")",
                               first_line);
    ASSERT_NE(code, -1);
    const auto lines = log_.lines();
    ASSERT_GT(lines.size(), static_cast<size_t>(code + 2));
    EXPECT_NE(lines[code + 1].message.find(c.text), std::string::npos) << lines[code + 1];
    EXPECT_EQ(lines[code + 1].message.back(), '\n');
    EXPECT_EQ(lines[code + 2].Text(), "[class AnalyticsManager] [error] Could not send analytics data!");
  }
  EXPECT_EQ(receiver_->request_count(), 0u);
}
