// Catches what the launcher logs while a test runs: loggers created while a LogCapture lives
// (CreateLogger) write to it as well as to the log file.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct LogLine {
  std::string logger;   // e.g. "utility(Fetch())"
  std::string level;    // "debug", "info", "warning", "error"
  std::string message;  // the formatted message, without the line format

  bool operator==(const LogLine&) const = default;
  // "[logger] [level] message", e.g. "[class AnalyticsManager] [info] Found machine guid in registry"
  std::string Text() const { return "[" + logger + "] [" + level + "] " + message; }
};

class LogCapture {
 public:
  LogCapture();   // joins the shared sinks
  ~LogCapture();  // leaves them
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<LogLine> lines() const;
  // Only the lines of the logger named `logger`.
  std::vector<LogLine> lines(std::string_view logger) const;
  // True when some message contains `text`.
  bool Contains(std::string_view text) const;
  // Index of the first line at or after `from` whose Text() contains `text`; -1 when none does.
  int Find(std::string_view text, int from = 0) const;
  void Clear();

  class Sink;

 private:
  std::shared_ptr<Sink> sink_;
};

// For gtest failure messages.
std::ostream& operator<<(std::ostream& out, const LogLine& line);
