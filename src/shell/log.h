// The launcher's log: one rotating file in the launcher folder, shared by short-lived and
// step-owned loggers.
#pragma once

#include <spdlog/logger.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using Logger = std::unique_ptr<spdlog::logger>;

// The process-wide sink list; the first call opens zelk_launcher.txt in the launcher folder
// (5 MiB, two rotated files, CR LF line ends). The first call must come before any other thread
// exists. When the file cannot be opened (a read-only launcher folder) the list holds a sink that
// drops every message, after one line on standard error: the launcher runs on without a log.
const std::vector<spdlog::sink_ptr>& GetLogSinks();

// The rotating file sink on `path`, or a sink that drops everything when the file cannot be
// opened (after one line on standard error).
spdlog::sink_ptr CreateLogFileSink(const std::filesystem::path& path);

// A new logger named `name` on the shared sinks, at level debug and flushed on every message.
// Loggers are owned by their creator and never registered with spdlog.
Logger CreateLogger(std::string name);
