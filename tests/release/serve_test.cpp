// zelk-release serve as a real process on 127.0.0.1: the release folder through the launcher's
// own transfers, paths that try to leave the folder, the analytics bulk POST with its key and
// body checks, a stop in the middle of uploads, and the report of what was stored.
#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <csignal>
#include <map>
#include <mutex>
#include <set>
#include <sys/wait.h>
#include <thread>

#include "bulk_body.h"
#include "network/download.h"
#include "network/utility.h"
#include "record_store.h"
#include "serve_process.h"
#include "server.h"
#include "support/scoped_environment.h"
#include "support/temp_folder.h"
#include "support/wait_until.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// WriteFile, creating the folders on the way.
void Put(const fs::path& file, std::string_view content) {
  fs::create_directories(file.parent_path());
  WriteFile(file, content);
}

class ServeTest : public ::testing::Test {
 protected:
  ServeTest() {
    fs::create_directories(release / "core");
    Put(release / "core" / "ZelkRelease.txt", "1.0\nhttps://example.invalid/zelk.zip\n");
    big_file = std::string(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < big_file.size(); ++i) big_file[i] = static_cast<char>(i * 7 % 251);
    Put(release / "zelk" / "Zelk-1.0.zip", big_file);
    Put(folder / "outside.txt", "secret");
  }

  std::unique_ptr<httplib::SSLClient> Client(const ServeProcess& server) const {
    const std::string url = server.base_url();
    const int port = std::stoi(url.substr(url.rfind(':') + 1));
    auto client = std::make_unique<httplib::SSLClient>("127.0.0.1", port);
    client->set_ca_cert_path(server.ca_file().c_str());
    client->enable_server_certificate_verification(true);
    client->set_read_timeout(10, 0);
    return client;
  }

  httplib::Result PostBulk(const ServeProcess& server, const std::string& body,
                           const std::optional<std::string>& key) const {
    httplib::Headers headers{{"Accept", "application/json"}, {"charset", "utf-8"}};
    if (key) headers.emplace("ApiKey", *key);
    return Client(server)->Post(kAnalyticsBulkPath, headers, body, "application/json");
  }

  std::vector<StoredRecord> Stored() const {
    if (!fs::exists(data / "analytics.sqlite3")) return {};
    RecordStore store(data / "analytics.sqlite3");
    return store.ReadAll();
  }

  TempFolder folder;
  fs::path release = folder / "release";
  fs::path data = folder / "data";
  std::string big_file;
};

TEST_F(ServeTest, AnswersTheLaunchersTransfersFromTheReleaseFolder) {
  ServeProcess server(release, data);
  ASSERT_TRUE(server.started());
  EXPECT_TRUE(fs::exists(server.ca_file()));
  EXPECT_EQ(server.environment().at("ZELK_ANALYTICS_PROXY_URL"), server.base_url());
  EXPECT_TRUE(server.base_url().starts_with("https://127.0.0.1:"));
  ScopedEnvironment environment;
  environment.Set("CURL_CA_BUNDLE", server.ca_file());
  for (const char* name : kProxyEnvironmentVariables) environment.Unset(name);

  EXPECT_EQ(Fetch(server.base_url() + "/core/ZelkRelease.txt"), "1.0\nhttps://example.invalid/zelk.zip\n");
  std::atomic<int32_t> percent{0};
  const fs::path downloaded = folder / "Zelk.zip";
  ASSERT_TRUE(Download(server.base_url() + "/zelk/Zelk-1.0.zip", downloaded.string(), OnDownloadProgress,
                       &percent));
  EXPECT_EQ(ReadFile(downloaded), big_file);
  EXPECT_EQ(percent.load(), 100) << "Content-Length announced the size";
  EXPECT_FALSE(Download(server.base_url() + "/zelk/Zelk-2.0.zip", downloaded.string(), OnDownloadProgress,
                        &percent));

  const auto response = Client(server)->Get("/zelk/Zelk-1.0.zip");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 200);
  EXPECT_EQ(response->get_header_value("Content-Length"), std::to_string(big_file.size()));
}

TEST_F(ServeTest, NothingOutsideTheReleaseFolderIsServed) {
  fs::create_symlink(folder / "outside.txt", release / "link.txt");
  fs::create_directory_symlink(folder.path(), release / "up");
  Put(release / "zelk" / "Zelk-2.0.zip.partial", "half");
  ServeProcess server(release, data);
  ASSERT_TRUE(server.started());
  auto client = Client(server);
  for (const std::string path : {"/outside.txt", "/../outside.txt", "/zelk/../../outside.txt",
                                 "/%2e%2e/outside.txt", "/%2E%2E%2Foutside.txt", "/..%2foutside.txt",
                                 "/link.txt", "/up/outside.txt", "/zelk", "/zelk/", "/",
                                 "/zelk/Zelk-2.0.zip.partial", "/core/./ZelkRelease.txt/.."}) {
    SCOPED_TRACE(path);
    const auto response = client->Get(path);
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 404);
    EXPECT_EQ(response->body.find("secret"), std::string::npos);
  }
  const auto inside = client->Get("//core//ZelkRelease.txt");
  ASSERT_TRUE(inside);
  EXPECT_EQ(inside->status, 200) << "empty segments are no escape";
}

TEST(ResolveReleaseFileTest, OnlyRegularFilesInsideTheRoot) {
  TempFolder folder;
  const fs::path root = folder / "root";
  Put(root / "a" / "b.txt", "b");
  Put(folder / "c.txt", "c");
  const fs::path canonical = fs::canonical(root);
  EXPECT_EQ(ResolveReleaseFile(canonical, "/a/b.txt"), canonical / "a" / "b.txt");
  for (const std::string& path :
       std::vector<std::string>{"", "a/b.txt", "/a", "/../c.txt", "/a/../../c.txt", "/a/./b.txt",
                                std::string("/a/b.txt\0", 9), "/a/missing"}) {
    EXPECT_EQ(ResolveReleaseFile(canonical, path), std::nullopt) << path;
  }
}

TEST_F(ServeTest, StoresWhatTheKeyAndBodyAllowAndNothingElse) {
  ServeProcess server(release, data, {"--api-key", "right-key"});
  ASSERT_TRUE(server.started());
  EXPECT_EQ(server.api_key(), "right-key");

  const std::string good = R"({"step_type":"class InstallStep","result":"succeeded","step_duration":0.5})" "\n"
                           R"({"step_type":"class LaunchZelkStep","result":"Could not start Zelk"})" "\n";
  auto response = PostBulk(server, good, "right-key");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 201) << response->body;
  ASSERT_EQ(Stored().size(), 2u);

  const struct {
    const char* name;
    std::string body;
    std::optional<std::string> key;
    int status;
  } rejected[] = {
      {"wrong key", good, "wrong-key", 401},
      {"key with a different case", good, "Right-key", 401},
      {"no key", good, std::nullopt, 401},
      {"empty key", good, "", 401},
      {"empty body", "", "right-key", 400},
      {"blank line", "{}\n\n{}\n", "right-key", 400},
      {"only a line feed", "\n", "right-key", 400},
      {"array", "[1,2]\n", "right-key", 400},
      {"text after a good line", "{\"a\":1}\nnot json\n", "right-key", 400},
      {"cut object", "{\"a\":1}\n{\"b\":\n", "right-key", 400},
      {"two objects on one line", "{} {}\n", "right-key", 400},
  };
  for (const auto& c : rejected) {
    SCOPED_TRACE(c.name);
    response = PostBulk(server, c.body, c.key);
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, c.status) << response->body;
  }
  const auto stored = Stored();
  ASSERT_EQ(stored.size(), 2u) << "a rejected upload stores nothing";
  EXPECT_EQ(json::parse(stored[0].record)["step_type"], "class InstallStep");
  EXPECT_EQ(stored[0].upload, stored[1].upload);
  EXPECT_FALSE(stored[0].received_at.empty());

  const ToolResult report = RunReleaseTool({"report", "--data", data.string()});
  ASSERT_EQ(report.exit_code, 0) << report.output;
  EXPECT_NE(report.output.find("InstallStep"), std::string::npos) << report.output;
  EXPECT_NE(report.output.find("Could not start Zelk"), std::string::npos) << report.output;
}

TEST(SplitBulkBodyTest, LinesOfJsonObjects) {
  std::string error;
  EXPECT_EQ(SplitBulkBody("{\"a\":1}\n{}\n", error), (std::vector<std::string>{"{\"a\":1}", "{}"}));
  EXPECT_EQ(SplitBulkBody("{}", error), std::vector<std::string>{"{}"}) << "a last line without its line feed";
  EXPECT_EQ(SplitBulkBody("{}\r\n", error), std::vector<std::string>{"{}\r"});
  for (const std::string body : {"", "\n", "{}\n\n", "1\n", "\"text\"\n", "{}\nnull\n", "{\n}\n"}) {
    EXPECT_EQ(SplitBulkBody(body, error), std::nullopt) << body;
    EXPECT_FALSE(error.empty());
  }
}

// Uploads keep arriving while the server is told to stop: every upload answered 201 is in the
// database afterwards, and every stored upload is whole.
TEST_F(ServeTest, StopInTheMiddleOfUploadsLosesNoAcknowledgedRecord) {
  // A connection the stopping server closes must fail the request, not end the test process.
  std::signal(SIGPIPE, SIG_IGN);
  ServeProcess server(release, data, {"--api-key", "k"});
  ASSERT_TRUE(server.started());
  constexpr int kUploaders = 6;
  constexpr int kRecordsPerUpload = 4;
  std::atomic<int> acknowledged_uploads{0};
  std::mutex mutex;
  std::set<std::string> acknowledged;  // "<uploader>-<upload>"
  std::atomic<bool> stop{false};
  std::vector<std::thread> uploaders;
  for (int u = 0; u < kUploaders; ++u) {
    uploaders.emplace_back([&, u] {
      for (int n = 0; !stop.load() && n < 10000; ++n) {
        const std::string id = std::to_string(u) + "-" + std::to_string(n);
        std::string body;
        for (int r = 0; r < kRecordsPerUpload; ++r) {
          body += json{{"upload", id}, {"part", r}, {"step_type", "class InstallStep"}}.dump() + "\n";
        }
        const auto response = PostBulk(server, body, "k");
        if (!response) continue;  // the server has gone or refused the connection
        if (response->status == 201) {
          std::lock_guard lock(mutex);
          acknowledged.insert(id);
          ++acknowledged_uploads;
        }
      }
    });
  }
  ASSERT_TRUE(WaitUntil([&] { return acknowledged_uploads.load() >= 30; }));
  const int status = server.Stop(SIGTERM);
  stop.store(true);
  for (auto& thread : uploaders) thread.join();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << server.Output();
  EXPECT_NE(server.Output().find("Stopped on"), std::string::npos) << server.Output();

  std::map<std::string, std::set<int>> parts;
  for (const StoredRecord& stored : Stored()) {
    const json record = json::parse(stored.record);
    parts[record["upload"].get<std::string>()].insert(record["part"].get<int>());
  }
  for (const std::string& id : acknowledged) {
    EXPECT_TRUE(parts.contains(id)) << "acknowledged upload " << id << " lost";
  }
  for (const auto& [id, stored_parts] : parts) {
    EXPECT_EQ(stored_parts.size(), static_cast<size_t>(kRecordsPerUpload)) << "upload " << id << " is cut";
  }
  EXPECT_GE(parts.size(), acknowledged.size());
}

TEST_F(ServeTest, RestartKeepsItsCertificateKeyAndRecords) {
  std::string ca, key;
  {
    ServeProcess server(release, data);
    ASSERT_TRUE(server.started());
    ca = ReadFile(server.ca_file());
    key = server.api_key();
    ASSERT_EQ(PostBulk(server, "{\"step_type\":\"class InstallStep\"}\n", key)->status, 201);
    EXPECT_EQ(fs::status(data / "tls" / "server.key").permissions() & fs::perms::mask,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(server.Stop(SIGINT), 0) << server.Output();
  }
  ServeProcess again(release, data);
  ASSERT_TRUE(again.started());
  EXPECT_EQ(ReadFile(again.ca_file()), ca) << "the launcher's CURL_CA_BUNDLE stays valid";
  EXPECT_EQ(again.api_key(), key);
  EXPECT_EQ(Stored().size(), 1u);
}

TEST_F(ServeTest, RefusesToListenBeyondLoopback) {
  for (const std::string address : {"0.0.0.0", "192.168.1.1", "example.com", "::"}) {
    const ToolResult result = RunReleaseTool(
        {"serve", "--release", release.string(), "--data", data.string(), "--address", address});
    EXPECT_EQ(result.exit_code, 1) << address;
    EXPECT_NE(result.output.find("loopback"), std::string::npos) << result.output;
  }
  EXPECT_TRUE(IsLoopbackAddress("127.0.0.2"));
  EXPECT_TRUE(IsLoopbackAddress("::1"));
}

}  // namespace
