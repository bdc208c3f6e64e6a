// Each analytics test gets a profile of its own (HOME and XDG_CONFIG_HOME in a temporary folder)
// and a real HTTPS analytics receiver on 127.0.0.1, trusted through CURL_CA_BUNDLE and reached
// through ZELK_ANALYTICS_PROXY_URL. The receiver answers every POST with `status` and
// `response_body`, and records what it got.
#pragma once

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/https_server.h"
#include "support/log_capture.h"
#include "support/temp_folder.h"
#include "support/test_ca.h"

class AnalyticsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // libcurl's own proxy handling applies to the upload: keep any proxy of the machine out.
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                             "ZELK_ANALYTICS_API_KEY"}) {
      unsetenv(name);
    }
    setenv("HOME", home_.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", config_folder().c_str(), 1);
    setenv("CURL_CA_BUNDLE", ca_.ca_file().c_str(), 1);
    receiver_ = std::make_unique<HttpsServer>(ca_.Issue());
    receiver_->server().Post(".*", [this](const httplib::Request&, httplib::Response& response) {
      Answer(response);
    });
    receiver_->Start();
    setenv("ZELK_ANALYTICS_PROXY_URL", receiver_->base_url().c_str(), 1);
  }

  // How the receiver answers a POST (on the server's thread).
  virtual void Answer(httplib::Response& response) {
    if (on_post) on_post();
    response.status = status;
    std::lock_guard lock(body_mutex_);
    response.set_content(response_body, "application/json");
  }

  std::filesystem::path config_folder() const { return home_ / "config"; }
  std::filesystem::path value_file() const {
    return config_folder() / "Nuvak" / "Zelk" / "ZELK_MACHINE_GUID";
  }
  void SetResponse(int new_status, std::string body) {
    status = new_status;
    std::lock_guard lock(body_mutex_);
    response_body = std::move(body);
  }
  // The records of the last bulk request, one parsed JSON value per line.
  std::vector<nlohmann::json> LastUpload() const {
    std::vector<nlohmann::json> records;
    const auto requests = receiver_->requests();
    if (requests.empty()) return records;
    const std::string& body = requests.back().body;
    size_t start = 0;
    for (size_t end; (end = body.find('\n', start)) != std::string::npos; start = end + 1) {
      records.push_back(nlohmann::json::parse(body.substr(start, end - start)));
    }
    EXPECT_EQ(start, body.size()) << "the body ends with a line feed";
    return records;
  }

  static constexpr const char* kBulkPath = "/analytics/v1/indices/zelklauncher-session/_bulk";

  std::atomic<int> status{200};
  // Runs when a POST arrives, while the uploading thread waits for the answer.
  std::function<void()> on_post;
  std::string response_body;
  std::mutex body_mutex_;
  TempFolder home_;
  TestCa ca_;
  LogCapture log_;
  // Last, so that it stops before anything its handler touches is gone.
  std::unique_ptr<HttpsServer> receiver_;
};
