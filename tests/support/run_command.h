// Running a program from a test and waiting for it: arguments travel as a list, never as shell
// text.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct CommandResult {
  int exit_code = -1;  // -1 when the program did not end in time or was killed by a signal
  std::string output;  // standard output and standard error together
};

// Runs `argv` (argv[0] looked up on PATH) with the current environment plus `extra_environment`,
// and waits up to `timeout_seconds`; a program still running then is killed.
CommandResult RunCommand(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& extra_environment = {},
                         double timeout_seconds = 60,
                         const std::optional<std::filesystem::path>& working_folder = {});
