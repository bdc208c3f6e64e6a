#include "shell/log.h"

#include <gtest/gtest.h>

#include <spdlog/spdlog.h>

#include <regex>
#include <thread>

#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

Logger LoggerOn(const spdlog::sink_ptr& sink, const std::string& name) {
  auto logger = std::make_unique<spdlog::logger>(name, sink);
  logger->set_level(spdlog::level::debug);
  logger->flush_on(spdlog::level::debug);
  return logger;
}

}  // namespace

TEST(LogTest, LinesUseTheDefaultPatternWithCrLfAndUtf8) {
  TempFolder folder;
  const auto path = folder / "zelk_launcher.txt";
  auto sink = CreateLogFileSink(path);
  auto logger = LoggerOn(sink, "class InstallStep");
  logger->info("Copying to {}", "/home/jürgen/Programs");
  logger->warn("careful");
  logger->debug("details");
  logger->trace("dropped");

  const std::string content = ReadFile(path);
  const std::regex line(
      R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] \[class InstallStep\] \[(info|warning|debug)\] [^\r\n]*\r\n)");
  std::string rest = content;
  int lines = 0;
  for (std::smatch match; std::regex_search(rest, match, line) && match.position() == 0;
       rest = match.suffix()) {
    ++lines;
  }
  EXPECT_EQ(lines, 3) << content;
  EXPECT_EQ(rest, "");
  EXPECT_NE(content.find("[info] Copying to /home/jürgen/Programs\r\n"), std::string::npos);
  EXPECT_NE(content.find("[warning] careful\r\n"), std::string::npos);
  EXPECT_EQ(content.find("dropped"), std::string::npos);
}

TEST(LogTest, AppendsToAnEarlierFileAndRotatesWhenFull) {
  TempFolder folder;
  const auto path = folder / "zelk_launcher.txt";
  const size_t limit = 5 * 1024 * 1024;
  WriteFile(path, std::string(limit - 10, 'x'));
  WriteFile(folder / "zelk_launcher.1.txt", "previous");
  WriteFile(folder / "zelk_launcher.2.txt", "oldest");
  {
    auto logger = LoggerOn(CreateLogFileSink(path), "main");
    logger->info("does not fit");
  }
  EXPECT_EQ(fs::file_size(folder / "zelk_launcher.1.txt"), limit - 10);
  EXPECT_EQ(ReadFile(folder / "zelk_launcher.2.txt"), "previous");
  EXPECT_NE(ReadFile(path).find("does not fit"), std::string::npos);
  EXPECT_FALSE(fs::exists(folder / "zelk_launcher.3.txt"));
}

TEST(LogTest, SizeOfAnEarlierFileCountsTowardsTheLimit) {
  TempFolder folder;
  const auto path = folder / "zelk_launcher.txt";
  WriteFile(path, "earlier run\r\n");
  {
    auto logger = LoggerOn(CreateLogFileSink(path), "main");
    logger->info("this run");
  }
  const std::string content = ReadFile(path);
  EXPECT_EQ(content.rfind("earlier run\r\n", 0), 0u);
  EXPECT_NE(content.find("this run"), std::string::npos);
  EXPECT_FALSE(fs::exists(folder / "zelk_launcher.1.txt"));
}

TEST(LogTest, AnUnopenableFileGivesASinkThatDropsEverything) {
  TempFolder folder;
  WriteFile(folder / "not-a-folder", "");
  auto sink = CreateLogFileSink(folder / "not-a-folder" / "zelk_launcher.txt");
  ASSERT_NE(sink, nullptr);
  auto logger = LoggerOn(sink, "main");
  logger->info("goes nowhere");
  logger->error("still fine");
}

TEST(LogTest, LoggersOfTheSameNameShareTheFileFromSeveralThreads) {
  TempFolder folder;
  const auto path = folder / "zelk_launcher.txt";
  auto sink = CreateLogFileSink(path);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&sink] {
      auto logger = LoggerOn(sink, "utility(Fetch())");
      for (int i = 0; i < 200; ++i) logger->info("line {}", i);
    });
  }
  for (auto& thread : threads) thread.join();
  const std::string content = ReadFile(path);
  size_t lines = 0;
  for (size_t at = content.find("\r\n"); at != std::string::npos; at = content.find("\r\n", at + 2)) {
    ++lines;
  }
  EXPECT_EQ(lines, 800u);
}

TEST(LogTest, CreateLoggerIsUnregisteredAtLevelDebug) {
  auto first = CreateLogger("utility(Fetch())");
  auto second = CreateLogger("utility(Fetch())");
  EXPECT_EQ(first->level(), spdlog::level::debug);
  EXPECT_EQ(first->flush_level(), spdlog::level::debug);
  EXPECT_EQ(spdlog::get("utility(Fetch())"), nullptr);
  EXPECT_EQ(first->sinks(), GetLogSinks());
}
