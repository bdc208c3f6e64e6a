#include "support/log_capture.h"

#include <spdlog/sinks/base_sink.h>

#include <algorithm>
#include <mutex>
#include <ostream>

#include "shell/log.h"

class LogCapture::Sink final : public spdlog::sinks::base_sink<std::mutex> {
 public:
  std::vector<LogLine> lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }

 protected:
  void sink_it_(const spdlog::details::log_msg& message) override {
    const auto level = spdlog::level::to_string_view(message.level);
    lines_.push_back({std::string(message.logger_name.data(), message.logger_name.size()),
                      std::string(level.data(), level.size()),
                      std::string(message.payload.data(), message.payload.size())});
  }
  void flush_() override {}

 private:
  std::vector<LogLine> lines_;
};

namespace {
// The shared sink list is read-only for the launcher; a test adds its capture to it before any
// logger of the code under test exists, and removes it when done.
std::vector<spdlog::sink_ptr>& SharedSinks() {
  return const_cast<std::vector<spdlog::sink_ptr>&>(GetLogSinks());
}
}  // namespace

LogCapture::LogCapture() : sink_(std::make_shared<Sink>()) { SharedSinks().push_back(sink_); }

LogCapture::~LogCapture() {
  auto& sinks = SharedSinks();
  sinks.erase(std::remove(sinks.begin(), sinks.end(), sink_), sinks.end());
}

std::vector<LogLine> LogCapture::lines() const { return sink_->lines(); }

std::vector<LogLine> LogCapture::lines(std::string_view logger) const {
  std::vector<LogLine> selected;
  for (auto& line : sink_->lines()) {
    if (line.logger == logger) selected.push_back(std::move(line));
  }
  return selected;
}

bool LogCapture::Contains(std::string_view text) const {
  const auto all = sink_->lines();
  return std::any_of(all.begin(), all.end(), [&](const LogLine& line) {
    return line.message.find(text) != std::string::npos;
  });
}

int LogCapture::Find(std::string_view text, int from) const {
  const auto all = sink_->lines();
  for (int i = std::max(from, 0); i < static_cast<int>(all.size()); ++i) {
    if (all[i].Text().find(text) != std::string::npos) return i;
  }
  return -1;
}

void LogCapture::Clear() { sink_->Clear(); }

std::ostream& operator<<(std::ostream& out, const LogLine& line) {
  return out << "[" << line.logger << "] [" << line.level << "] \"" << line.message << "\"";
}
