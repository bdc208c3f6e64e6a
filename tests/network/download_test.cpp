#include "network/download.h"

#include <gtest/gtest.h>

#include <random>

#include "network_fixture.h"

namespace {

using DownloadTest = NetworkTest;

std::string RandomBytes(size_t size) {
  std::mt19937 generator(size);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(generator());
  return bytes;
}

// Serves `content` in 64 KiB pieces, with its length announced or (chunked) not.
void ServeInPieces(HttpsServer& server, const std::string& path, const std::string& content,
                   bool announce_length) {
  auto provider = [&content](size_t offset, httplib::DataSink& sink) {
    if (offset >= content.size()) {
      sink.done();
      return true;
    }
    const size_t piece = std::min<size_t>(64 * 1024, content.size() - offset);
    return sink.write(content.data() + offset, piece);
  };
  server.server().Get(path, [&content, provider, announce_length](const httplib::Request&,
                                                                  httplib::Response& response) {
    if (announce_length) {
      response.set_content_provider(content.size(), "application/octet-stream",
                                    [&content](size_t offset, size_t, httplib::DataSink& sink) {
                                      const size_t piece =
                                          std::min<size_t>(64 * 1024, content.size() - offset);
                                      return sink.write(content.data() + offset, piece);
                                    });
    } else {
      response.set_chunked_content_provider("application/octet-stream", provider);
    }
  });
}

TEST_F(DownloadTest, AFileOfKnownSizeArrivesWholeAndEndsAt100) {
  const std::string content = RandomBytes(3 * 1024 * 1024 + 7);
  HttpsServer server(certificate_);
  ServeInPieces(server, "/Zelk.zip", content, true);
  server.Start();
  const auto destination = folder_ / "Zelk.zip";
  WriteFile(destination, std::string(5 * 1024 * 1024, 'o'));  // an older, longer file is replaced

  std::atomic<int32_t> percent = 0;
  EXPECT_TRUE(Download(server.base_url() + "/Zelk.zip", destination.string(), OnDownloadProgress,
                       &percent));
  EXPECT_EQ(percent.load(), 100);
  EXPECT_TRUE(ReadFile(destination) == content);
  EXPECT_EQ(Messages("download(Download())"), std::vector<std::string>{});
}

TEST_F(DownloadTest, ABodyWithoutLengthLeavesThePercentageAlone) {
  const std::string content = RandomBytes(2 * 1024 * 1024);
  HttpsServer server(certificate_);
  ServeInPieces(server, "/ZelkLauncher.exe", content, false);
  server.Start();
  const auto destination = folder_ / "ZelkLauncher.tmp";

  std::atomic<int32_t> percent = 37;
  EXPECT_TRUE(Download(server.base_url() + "/ZelkLauncher.exe", destination.string(),
                       OnDownloadProgress, &percent));
  EXPECT_EQ(percent.load(), 37);
  EXPECT_TRUE(ReadFile(destination) == content);
}

TEST_F(DownloadTest, ANon200StatusFailsQuietlyAndLeavesTheErrorBody) {
  HttpsServer server(certificate_);
  server.server().Get("/missing.zip", [](const httplib::Request&, httplib::Response& response) {
    response.status = 404;
    response.set_content("<h1>Not Found</h1>", "text/html");
  });
  server.server().Get("/moved.zip", [](const httplib::Request&, httplib::Response& response) {
    response.status = 302;
    response.set_header("Location", "/missing.zip");
  });
  server.Start();

  std::atomic<int32_t> percent = 0;
  const auto destination = folder_ / "Zelk.zip";
  EXPECT_FALSE(Download(server.base_url() + "/missing.zip", destination.string(),
                        OnDownloadProgress, &percent));
  EXPECT_EQ(ReadFile(destination), "<h1>Not Found</h1>");
  EXPECT_FALSE(Download(server.base_url() + "/moved.zip", destination.string(),
                        OnDownloadProgress, &percent));
  EXPECT_EQ(ReadFile(destination), "");
  EXPECT_EQ(server.request_count(), 2u);  // the redirect was not followed
  EXPECT_EQ(Messages("download(Download())"), std::vector<std::string>{});
}

TEST_F(DownloadTest, AnUnwritableDestinationFailsBeforeAnyRequest) {
  HttpsServer server(certificate_);
  server.ServeText("/Zelk.zip", "zip");
  server.Start();
  const std::string destinations[] = {
      (folder_ / "no such folder" / "Zelk.zip").string(),
      folder_.path().string(),  // a folder
      "",
  };
  for (const auto& destination : destinations) {
    std::atomic<int32_t> percent = 12;
    EXPECT_FALSE(Download(server.base_url() + "/Zelk.zip", destination, OnDownloadProgress,
                          &percent))
        << destination;
    EXPECT_EQ(percent.load(), 12);
  }
  EXPECT_EQ(server.request_count(), 0u);
  EXPECT_FALSE(std::filesystem::exists(folder_ / "no such folder"));
  EXPECT_EQ(log_.lines(), std::vector<LogLine>{});  // not even proxy discovery ran
}

TEST_F(DownloadTest, AConnectionDroppedMidBodyFailsAndKeepsThePart) {
  const std::string content = RandomBytes(1024 * 1024);
  const size_t sent = 256 * 1024;
  HttpsServer server(certificate_);
  server.server().Get("/Zelk.zip", [&](const httplib::Request&, httplib::Response& response) {
    response.set_content_provider(content.size(), "application/octet-stream",
                                  [&](size_t offset, size_t, httplib::DataSink& sink) {
                                    if (offset >= sent) return false;  // closes the connection
                                    return sink.write(content.data() + offset, 64 * 1024);
                                  });
  });
  server.Start();

  std::atomic<int32_t> percent = 0;
  const auto destination = folder_ / "Zelk.zip";
  EXPECT_FALSE(Download(server.base_url() + "/Zelk.zip", destination.string(), OnDownloadProgress,
                        &percent));
  EXPECT_TRUE(ReadFile(destination) == content.substr(0, sent));
  EXPECT_LE(percent.load(), 25);
  const auto messages = Messages("download(Download())");
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], "libcurl result code: (18)");
  EXPECT_EQ(messages[1], "transfer closed with 786432 bytes remaining to read\n");
}

TEST_F(DownloadTest, OnlyHttpAndHttpsAreSpoken) {
  const auto secret = folder_ / "secret.txt";
  WriteFile(secret, "local file");
  const auto destination = folder_ / "ZelkLauncher.tmp";
  std::atomic<int32_t> percent = 0;
  EXPECT_FALSE(Download("file://" + secret.string(), destination.string(), OnDownloadProgress,
                        &percent));
  EXPECT_EQ(ReadFile(destination), "");
  EXPECT_EQ(Messages("download(Download())"),
            (std::vector<std::string>{"libcurl result code: (1)",
                                      "Protocol \"file\" not supported or disabled in libcurl\n"}));
}

TEST(DownloadProgressTest, PublishesTruncatedPercentagesOnlyForAKnownSize) {
  const struct {
    curl_off_t expected;
    curl_off_t received;
    int32_t percent;
  } cases[] = {
      {1000, 0, 0},      {1000, 999, 99},      {1000, 1000, 100}, {3, 1, 33},
      {3, 2, 66},        {0, 500, 37},  // no size announced: untouched
      {629145600, 629145599, 100},       // single precision rounds 99.99999984 up
      {629145600, 314572800, 50},
  };
  CURL* handle = curl_easy_init();
  ASSERT_NE(handle, nullptr);
  for (const auto& c : cases) {
    std::atomic<int32_t> percent = 37;
    DownloadProgress record{handle, 0, 0, 0, &percent};
    EXPECT_EQ(OnDownloadProgress(&record, c.expected, c.received, 0, 0), 0);
    EXPECT_EQ(percent.load(), c.percent) << c.expected << " " << c.received;
    EXPECT_EQ(record.last_received, c.received);
  }
  curl_easy_cleanup(handle);
}

TEST(DownloadProgressTest, BytesArrivingResetTheStalledTime) {
  CURL* handle = curl_easy_init();
  std::atomic<int32_t> percent = 0;
  DownloadProgress record{handle, 0, 0, 29'000'000, &percent};
  EXPECT_EQ(OnDownloadProgress(&record, 0, 10, 0, 0), 0);
  EXPECT_EQ(record.stalled_time, 0);
  // A handle that has not run reports no elapsed time: the limit is only passed when the record
  // already holds more than 30 s.
  record.stalled_time = kDownloadStallLimitUs;
  EXPECT_EQ(OnDownloadProgress(&record, 0, 10, 0, 0), 0);
  record.stalled_time = kDownloadStallLimitUs + 1;
  EXPECT_EQ(OnDownloadProgress(&record, 0, 10, 0, 0), 28);
  curl_easy_cleanup(handle);
}

}  // namespace
