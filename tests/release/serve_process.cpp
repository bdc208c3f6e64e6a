#include "serve_process.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <sstream>

#include "support/child_process.h"
#include "support/run_command.h"
#include "support/wait_until.h"

ToolResult RunReleaseTool(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{ZELK_RELEASE_TOOL_EXE};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const CommandResult result = RunCommand(argv, {}, 60);
  return {result.exit_code, result.output};
}

ServeProcess::ServeProcess(const std::filesystem::path& release_folder,
                           const std::filesystem::path& data_folder,
                           const std::vector<std::string>& extra_arguments) {
  std::vector<std::string> argv{ZELK_RELEASE_TOOL_EXE, "serve", "--release", release_folder.string(),
                                "--data", data_folder.string()};
  argv.insert(argv.end(), extra_arguments.begin(), extra_arguments.end());
  const std::filesystem::path output = scratch_ / "output.txt";
  const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ChildOptions options;
  options.environment = {{"PATH", "/usr/bin:/bin"}};
  options.standard_output = fd;
  options.standard_error = fd;
  pid_ = SpawnChild(argv, options);
  close(fd);
  if (pid_ < 0) {
    ADD_FAILURE() << "cannot start zelk-release serve";
    return;
  }
  // The values are complete once the line after the last one's name has ended.
  const bool printed = WaitUntil([&] {
    const std::string text = Output();
    const size_t last = text.find("ZELK_ANALYTICS_API_KEY=");
    return last != std::string::npos && text.find('\n', last) != std::string::npos;
  });
  if (!printed) {
    ADD_FAILURE() << "zelk-release serve printed no environment values:\n" << Output();
    Stop(SIGKILL);
    return;
  }
  std::istringstream lines(Output());
  for (std::string line; std::getline(lines, line);) {
    const size_t equals = line.find('=');
    if (equals != std::string::npos && (line.starts_with("ZELK_") || line.starts_with("CURL_"))) {
      values_[line.substr(0, equals)] = line.substr(equals + 1);
    }
  }
}

ServeProcess::~ServeProcess() {
  if (pid_ > 0) Stop(SIGTERM);
}

int ServeProcess::Stop(int signal) {
  if (pid_ <= 0) return -1;
  const int status = StopChild(pid_, signal);
  pid_ = -1;
  return status;
}

std::string ServeProcess::Output() const {
  const std::filesystem::path output = scratch_ / "output.txt";
  return std::filesystem::exists(output) ? ReadFile(output) : std::string();
}
