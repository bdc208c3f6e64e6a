// What the network tests share: a test CA that CURL_CA_BUNDLE points at, a server certificate
// from it, no proxy in the environment, SkipAutoProxy off, and a capture of the log.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "shell/options.h"
#include "support/https_server.h"
#include "support/log_capture.h"
#include "support/scoped_environment.h"
#include "support/temp_folder.h"
#include "support/test_ca.h"

class NetworkTest : public ::testing::Test {
 protected:
  NetworkTest() {
    for (const char* name : kProxyEnvironmentVariables) environment_.Unset(name);
    environment_.Set("CURL_CA_BUNDLE", ca_.ca_file().string());
    SkipAutoProxy = false;
  }
  ~NetworkTest() override { SkipAutoProxy = false; }

  // The messages one logger wrote, in order.
  std::vector<std::string> Messages(std::string_view logger) const {
    std::vector<std::string> messages;
    for (const auto& line : log_.lines(logger)) messages.push_back(line.message);
    return messages;
  }

  ScopedEnvironment environment_;
  TempFolder folder_;
  TestCa ca_;
  ServerCertificate certificate_ = ca_.Issue();
  LogCapture log_;
};

// Lets a misbehaving handler hold its connection until the test lets go (or a minute passes),
// so that the server can still be stopped at the end of the test.
class Gate {
 public:
  void Wait() const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!open_ && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  void Open() { open_ = true; }

 private:
  std::atomic<bool> open_{false};
};

// Opens a gate when it goes out of scope. Declared after the server, it lets a waiting handler go
// before the server stops, however the test ends.
class GateOpener {
 public:
  explicit GateOpener(Gate& gate) : gate_(gate) {}
  ~GateOpener() { gate_.Open(); }
  GateOpener(const GateOpener&) = delete;
  GateOpener& operator=(const GateOpener&) = delete;

 private:
  Gate& gate_;
};
