// Linux processes: /proc for the process list, posix_spawn for starting programs.
#include "platform/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <iterator>
#include <optional>

#include "platform/paths.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

std::optional<std::string> ReadLink(const fs::path& link) {
  std::string buffer(4096, '\0');
  const ssize_t length = readlink(link.c_str(), buffer.data(), buffer.size());
  if (length <= 0 || static_cast<size_t>(length) >= buffer.size()) return std::nullopt;
  buffer.resize(static_cast<size_t>(length));
  return buffer;
}

std::string BaseName(std::string_view path) {
  const size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// argv[0] of another process; /proc/<pid>/cmdline is readable for every user's process.
std::string FirstArgument(const fs::path& process_folder) {
  std::ifstream cmdline(process_folder / "cmdline", std::ios::binary);
  std::string first;
  std::getline(cmdline, first, '\0');
  return first;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool IsProcessId(const std::string& name) {
  return !name.empty() && name.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

unsigned CountRunningInstances(std::string_view executable_name, bool own_path_only) {
  const std::string own_path = own_path_only ? GetLauncherPath().string() : std::string();
  unsigned count = 0;
  std::error_code error;
  for (fs::directory_iterator it("/proc", error), end; !error && it != end; it.increment(error)) {
    if (!IsProcessId(it->path().filename().string())) continue;
    // The exe link names the real file; it cannot be read for another user's process, where
    // argv[0] stands in. /proc/<pid>/comm is cut at 15 characters and does not serve.
    const std::optional<std::string> exe = ReadLink(it->path() / "exe");
    const std::string name = exe ? BaseName(*exe) : BaseName(FirstArgument(it->path()));
    if (!EqualsIgnoringAsciiCase(name, executable_name)) continue;
    if (!own_path_only || !exe || *exe == own_path) ++count;
  }
  return count;
}

bool StartProcess(const fs::path& executable, const std::vector<std::string>& arguments,
                  const fs::path& working_folder) {
  std::vector<char*> argv;
  std::string program = executable.string();
  argv.push_back(program.data());
  std::vector<std::string> copies(arguments);
  for (auto& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);

  // The working folder is entered before the standard streams are opened, so that a missing
  // folder is reported as the spawn's error.
  posix_spawn_file_actions_addchdir_np(&actions, working_folder.c_str());
  for (int fd = 0; fd <= 2; ++fd) {
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);

  sigset_t no_signals, default_signals;
  sigemptyset(&no_signals);
  sigemptyset(&default_signals);
  sigaddset(&default_signals, SIGPIPE);
  sigaddset(&default_signals, SIGCHLD);
  posix_spawnattr_setsigmask(&attributes, &no_signals);
  posix_spawnattr_setsigdefault(&attributes, &default_signals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK |
                                            POSIX_SPAWN_SETSIGDEF);

  pid_t pid = 0;
  const int result = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (result != 0) {
    errno = result;
    return false;
  }
  return true;
}
