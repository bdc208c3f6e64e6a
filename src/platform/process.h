// Running processes: counting them by executable name, and starting new ones.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// Counts running processes whose executable file name equals `executable_name`, ignoring the
// case of A-Z. With `own_path_only`, a process counts only when its executable is the running
// launcher's own file, or when its executable path cannot be read (another user's process).
unsigned CountRunningInstances(std::string_view executable_name, bool own_path_only);

// Starts `executable` as a new, independent process: `arguments` after its own path as argv[0],
// `working_folder` as its working folder, the launcher's environment, its own session (no
// terminal), standard streams on /dev/null, no other descriptor inherited. True once the program
// runs; on failure errno holds the cause (a missing file, a missing folder, no permission).
bool StartProcess(const std::filesystem::path& executable,
                  const std::vector<std::string>& arguments,
                  const std::filesystem::path& working_folder);
