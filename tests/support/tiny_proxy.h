// A real HTTP proxy (Debian's tinyproxy) on a free port of 127.0.0.1, started for one test and
// stopped with it. Its log shows every request that went through it.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

#include "support/temp_folder.h"

class TinyProxy {
 public:
  TinyProxy();   // throws when tinyproxy cannot be started
  ~TinyProxy();  // stops it
  TinyProxy(const TinyProxy&) = delete;
  TinyProxy& operator=(const TinyProxy&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>"
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  // Everything tinyproxy has logged so far, e.g. "... Request (file descriptor 5): CONNECT
  // 127.0.0.1:4433 HTTP/1.1".
  std::string log() const;

 private:
  TempFolder folder_;
  int port_ = 0;
  pid_t pid_ = -1;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
int FindFreePort();
