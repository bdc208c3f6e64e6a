#include "network/utility.h"

#include <gtest/gtest.h>

#include "network/transfer.h"
#include "network_fixture.h"
#include "shell/log.h"

namespace {

using FetchTest = NetworkTest;

TEST_F(FetchTest, AnswersTheBodyOnlyForStatus200) {
  const std::string largest(kMaxFetchBodySize, 'x');
  const struct {
    const char* name;
    int status;
    std::string body;
    std::string expected;
  } cases[] = {
      {"text", 200, "5\r\nhttps://example.net/ZelkLauncher.exe\r\n",
       "5\r\nhttps://example.net/ZelkLauncher.exe\r\n"},
      {"binary", 200, std::string("a\0b\xff", 4), std::string("a\0b\xff", 4)},
      {"empty", 200, "", ""},
      {"largest", 200, largest, largest},
      {"not-found", 404, "no such manifest", ""},
      {"server-error", 500, "oops", ""},
      {"moved", 301, "moved", ""},
  };
  HttpsServer server(certificate_);
  for (const auto& c : cases) {
    server.server().Get(std::string("/") + c.name, [&c](const httplib::Request&, httplib::Response& response) {
      response.status = c.status;
      if (c.status == 301) response.set_header("Location", "/text");
      response.set_content(c.body, "text/plain");
    });
  }
  server.Start();

  for (const auto& c : cases) {
    EXPECT_EQ(Fetch(server.base_url() + "/" + c.name), c.expected) << c.name;
  }
  // Each URL was asked once and no redirect was followed.
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), std::size(cases));
  for (size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].method, "GET");
    EXPECT_EQ(requests[i].path, std::string("/") + cases[i].name);
  }
  // A non-200 status is not a transfer error: nothing is logged.
  EXPECT_EQ(Messages("utility(Fetch())"), std::vector<std::string>{});
}

TEST_F(FetchTest, SendsAPlainGetWithoutExtraHeaders) {
  HttpsServer server(certificate_);
  server.ServeText("/core/ZelkRelease.txt", "1.0\n");
  server.Start();
  ASSERT_EQ(Fetch(server.base_url() + "/core/ZelkRelease.txt"), "1.0\n");
  const auto request = server.requests().at(0);
  for (const auto& [name, value] : request.headers) {
    EXPECT_NE(name, "User-Agent");
    EXPECT_NE(name, "Accept-Encoding");
  }
}

TEST_F(FetchTest, ABodyOverOneMebibyteIsAbandoned) {
  HttpsServer server(certificate_);
  server.ServeText("/huge", std::string(kMaxFetchBodySize + 1, 'x'));
  server.server().Get("/endless", [](const httplib::Request&, httplib::Response& response) {
    // No length announced: the body only ends when the client gives up.
    response.set_chunked_content_provider("text/plain", [](size_t, httplib::DataSink& sink) {
      const std::string chunk(64 * 1024, 'y');
      return sink.write(chunk.data(), chunk.size());
    });
  });
  server.Start();

  for (const char* path : {"/huge", "/endless"}) {
    log_.Clear();
    EXPECT_EQ(Fetch(server.base_url() + path), "") << path;
    const auto messages = Messages("utility(Fetch())");
    ASSERT_EQ(messages.size(), 3u) << path;
    EXPECT_EQ(messages[0], "libcurl result code: (23)");
    EXPECT_EQ(messages[1].back(), '\n');
    EXPECT_EQ(messages[2], "Response of " + server.base_url() + path +
                               " is larger than 1048576 bytes; not read");
  }
}

TEST_F(FetchTest, AnUntrustedServerFailsWithTheTwoErrorLines) {
  TestCa other_ca;
  const struct {
    const char* name;
    ServerCertificate certificate;
    std::string error_text;
  } cases[] = {
      {"issued by an unknown CA", other_ca.Issue(),
       "SSL certificate problem: unable to get local issuer certificate\n"},
      {"issued for another host", ca_.Issue({"DNS:releases.example.net"}),
       "SSL: no alternative certificate subject name matches target host name '127.0.0.1'\n"},
  };
  for (const auto& c : cases) {
    HttpsServer server(c.certificate);
    server.ServeText("/core/LauncherRelease.txt", "5\n");
    server.Start();
    log_.Clear();
    EXPECT_EQ(Fetch(server.base_url() + "/core/LauncherRelease.txt"), "") << c.name;
    EXPECT_EQ(Messages("utility(Fetch())"),
              (std::vector<std::string>{"libcurl result code: (60)", c.error_text}))
        << c.name;
  }
}

TEST_F(FetchTest, TrustsOnlyTheSystemStoreWithoutCurlCaBundle) {
  HttpsServer server(certificate_);
  server.ServeText("/core/LauncherRelease.txt", "5\n");
  server.Start();
  const std::string url = server.base_url() + "/core/LauncherRelease.txt";
  ASSERT_EQ(Fetch(url), "5\n");

  for (const char* value : {static_cast<const char*>(""), static_cast<const char*>(nullptr)}) {
    if (value) {
      environment_.Set("CURL_CA_BUNDLE", value);
    } else {
      environment_.Unset("CURL_CA_BUNDLE");
    }
    log_.Clear();
    EXPECT_EQ(Fetch(url), "");
    EXPECT_EQ(Messages("utility(Fetch())").at(0), "libcurl result code: (60)");
  }
}

TEST_F(FetchTest, ARefusedConnectionIsATransferError) {
  HttpsServer server(certificate_);
  server.Start();
  const std::string url = server.base_url() + "/core/LauncherRelease.txt";
  server.Stop();
  EXPECT_EQ(Fetch(url), "");
  const auto messages = Messages("utility(Fetch())");
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], "libcurl result code: (7)");
  EXPECT_TRUE(messages[1].starts_with("Failed to connect to 127.0.0.1 port ")) << messages[1];
  EXPECT_TRUE(messages[1].ends_with("\n"));
}

TEST(TransferErrorTest, LogsTheCodeAndTheBufferOrTheStandardText) {
  const struct {
    CURLcode code;
    const char* buffer;
    const char* second_line;
  } cases[] = {
      {CURLE_ABORTED_BY_CALLBACK, "Callback aborted", "Callback aborted\n"},
      {CURLE_RECV_ERROR, "already ends\n", "already ends\n"},
      {CURLE_COULDNT_CONNECT, "", "Couldn't connect to server\n"},
      {CURLE_OPERATION_TIMEDOUT, nullptr, "Timeout was reached\n"},
  };
  LogCapture log;
  const Logger logger = CreateLogger("upload(Post())");
  for (const auto& c : cases) {
    log.Clear();
    LogTransferError(*logger, c.code, c.buffer);
    EXPECT_EQ(log.lines(),
              (std::vector<LogLine>{
                  {"upload(Post())", "error", "libcurl result code: (" + std::to_string(c.code) + ")"},
                  {"upload(Post())", "error", c.second_line}}));
  }
}

}  // namespace
