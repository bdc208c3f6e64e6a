#include "shell/log.h"

#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/null_sink.h>
#include <spdlog/sinks/rotating_file_sink.h>

#include <cstdio>

#include "platform/paths.h"

namespace {
constexpr size_t kMaxLogSize = 5 * 1024 * 1024;
constexpr size_t kRotatedFiles = 2;
}  // namespace

spdlog::sink_ptr CreateLogFileSink(const std::filesystem::path& path) {
  try {
    auto file = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(path.string(), kMaxLogSize,
                                                                        kRotatedFiles, false);
    file->set_formatter(std::make_unique<spdlog::pattern_formatter>(
        "%+", spdlog::pattern_time_type::local, "\r\n"));
    return file;
  } catch (const spdlog::spdlog_ex& error) {
    std::fprintf(stderr, "Cannot open the log file %s: %s\n", path.c_str(), error.what());
    return std::make_shared<spdlog::sinks::null_sink_mt>();
  }
}

const std::vector<spdlog::sink_ptr>& GetLogSinks() {
  static std::vector<spdlog::sink_ptr> sinks;
  if (sinks.empty()) sinks.push_back(CreateLogFileSink(GetLauncherFolder() / "zelk_launcher.txt"));
  return sinks;
}

Logger CreateLogger(std::string name) {
  const auto& sinks = GetLogSinks();
  auto logger = std::make_unique<spdlog::logger>(std::move(name), sinks.begin(), sinks.end());
  logger->set_level(spdlog::level::debug);
  logger->flush_on(spdlog::level::debug);
  return logger;
}
