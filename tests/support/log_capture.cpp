#include "support/log_capture.h"

#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/base_sink.h>

#include <algorithm>
#include <mutex>

#include "shell/log.h"

namespace {

class MemorySink final : public spdlog::sinks::base_sink<std::mutex> {
 public:
  std::vector<std::string> Lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 protected:
  void sink_it_(const spdlog::details::log_msg& message) override {
    spdlog::memory_buf_t formatted;
    formatter_->format(message, formatted);
    lines_.emplace_back(formatted.data(), formatted.size());
  }
  void flush_() override {}

 private:
  std::vector<std::string> lines_;
};

// The shared sink list is an ordinary (non-const) static; tests add to it before the loggers
// under test exist.
std::vector<spdlog::sink_ptr>& MutableLogSinks() {
  return const_cast<std::vector<spdlog::sink_ptr>&>(GetLogSinks());
}

}  // namespace

LogCapture::LogCapture() : sink_(std::make_shared<MemorySink>()) {
  sink_->set_formatter(std::make_unique<spdlog::pattern_formatter>(
      "[%n] [%l] %v", spdlog::pattern_time_type::local, ""));
  MutableLogSinks().push_back(sink_);
}

LogCapture::~LogCapture() {
  auto& sinks = MutableLogSinks();
  sinks.erase(std::remove(sinks.begin(), sinks.end(), sink_), sinks.end());
}

std::vector<std::string> LogCapture::Lines() const {
  return static_cast<MemorySink&>(*sink_).Lines();
}

int LogCapture::Find(std::string_view text, int from) const {
  const auto lines = Lines();
  for (int i = std::max(from, 0); i < static_cast<int>(lines.size()); ++i) {
    if (lines[i].find(text) != std::string::npos) return i;
  }
  return -1;
}
