// Starting a helper program from a test (the X server, the window manager, the launcher) without a
// shell: arguments and environment travel as lists. The child dies with the test process, so a
// killed or crashed test leaves nothing running.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct ChildOptions {
  // The whole environment of the child; nothing of the test process's environment is inherited.
  std::map<std::string, std::string> environment;
  std::optional<std::filesystem::path> working_folder;
  // Descriptors of the test process that become the child's 1, 2 and 3; -1 for /dev/null (1 and
  // 2) or nothing (3).
  int standard_output = -1;
  int standard_error = -1;
  int descriptor_3 = -1;
};

// argv[0] is looked up on $PATH of the test process when it holds no "/". Returns the pid, or -1
// with errno set.
pid_t SpawnChild(const std::vector<std::string>& argv, const ChildOptions& options);

// The test process's own environment, as a map.
std::map<std::string, std::string> CurrentEnvironment();

// Sends `signal` and waits for the child; returns its wait status.
int StopChild(pid_t pid, int signal);
