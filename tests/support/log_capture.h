// What the launcher's loggers write, kept in memory for a test to read. Loggers created while a
// LogCapture lives write into it as well as into the log file.
#pragma once

#include <spdlog/sinks/sink.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // One entry per message: "[logger name] [level] message", e.g.
  // "[class AnalyticsManager] [info] Found machine guid in registry".
  std::vector<std::string> Lines() const;
  // Index of the first line at or after `from` that contains `text`; -1 when there is none.
  int Find(std::string_view text, int from = 0) const;

 private:
  std::shared_ptr<spdlog::sinks::sink> sink_;
};
