// Servers that stop sending: Fetch gives up after its 20-second limit, Download after 30 seconds
// without a new byte. Each case takes that long.
#include <gtest/gtest.h>

#include "network/download.h"
#include "network/utility.h"
#include "network_fixture.h"

namespace {

using StallTest = NetworkTest;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST_F(StallTest, FetchGivesUpOnASilentServerAfter20Seconds) {
  Gate gate;
  HttpsServer server(certificate_);
  server.server().Get("/core/LauncherRelease.txt",
                      [&](const httplib::Request&, httplib::Response& response) {
                        gate.Wait();
                        response.set_content("5\n", "text/plain");
                      });
  server.Start();
  const GateOpener opener(gate);

  const auto start = Clock::now();
  EXPECT_EQ(Fetch(server.base_url() + "/core/LauncherRelease.txt"), "");
  EXPECT_GE(SecondsSince(start), 20.0);
  const auto messages = Messages("utility(Fetch())");
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], "libcurl result code: (28)");
  EXPECT_TRUE(messages[1].starts_with("Operation timed out after ")) << messages[1];
  EXPECT_EQ(server.request_count(), 1u);
}

TEST_F(StallTest, DownloadAbandonsAServerThatSendsNothingFor30Seconds) {
  Gate gate;
  HttpsServer server(certificate_);
  server.server().Get("/Zelk.zip", [&](const httplib::Request&, httplib::Response& response) {
    gate.Wait();
    response.set_content("zip", "application/octet-stream");
  });
  server.Start();
  const GateOpener opener(gate);

  std::atomic<int32_t> percent = 64;
  const auto destination = folder_ / "Zelk.zip";
  const auto start = Clock::now();
  EXPECT_FALSE(Download(server.base_url() + "/Zelk.zip", destination.string(), OnDownloadProgress,
                        &percent));
  EXPECT_GE(SecondsSince(start), 30.0);
  EXPECT_EQ(Messages("download(Download())"),
            (std::vector<std::string>{"libcurl result code: (42)", "Callback aborted\n"}));
  EXPECT_EQ(percent.load(), 64);
  EXPECT_EQ(ReadFile(destination), "");
}

TEST_F(StallTest, DownloadAbandonsAServerThatStopsMidBody) {
  Gate gate;
  const std::string content(1000 * 1000, 'z');
  const size_t sent = 250 * 1000;
  HttpsServer server(certificate_);
  server.server().Get("/Zelk.zip", [&](const httplib::Request&, httplib::Response& response) {
    response.set_content_provider(content.size(), "application/octet-stream",
                                  [&](size_t offset, size_t, httplib::DataSink& sink) {
                                    if (offset >= sent) {
                                      gate.Wait();
                                      return false;
                                    }
                                    return sink.write(content.data() + offset, sent);
                                  });
  });
  server.Start();
  const GateOpener opener(gate);

  std::atomic<int32_t> percent = 0;
  const auto destination = folder_ / "Zelk.zip";
  EXPECT_FALSE(Download(server.base_url() + "/Zelk.zip", destination.string(), OnDownloadProgress,
                        &percent));
  EXPECT_EQ(Messages("download(Download())"),
            (std::vector<std::string>{"libcurl result code: (42)", "Callback aborted\n"}));
  EXPECT_EQ(percent.load(), 25);
  EXPECT_EQ(ReadFile(destination).size(), sent);
}

}  // namespace
