#include "support/run_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

extern char** environ;

CommandResult RunCommand(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& extra_environment,
                         double timeout_seconds,
                         const std::optional<std::filesystem::path>& working_folder) {
  CommandResult result;
  std::map<std::string, std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const char* equals = std::strchr(*entry, '=');
    if (equals != nullptr) environment[std::string(*entry, static_cast<size_t>(equals - *entry))] = equals + 1;
  }
  for (const auto& [key, value] : extra_environment) environment[key] = value;
  std::vector<std::string> environment_texts;
  for (const auto& [key, value] : environment) environment_texts.push_back(key + "=" + value);
  std::vector<char*> envp;
  for (auto& text : environment_texts) envp.push_back(text.data());
  envp.push_back(nullptr);
  std::vector<std::string> arguments(argv);
  std::vector<char*> args;
  for (auto& argument : arguments) args.push_back(argument.data());
  args.push_back(nullptr);

  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (working_folder) posix_spawn_file_actions_addchdir_np(&actions, working_folder->c_str());
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  if (spawned != 0) {
    close(pipe_fds[0]);
    result.output = std::string("cannot start ") + argv[0] + ": " + std::strerror(spawned);
    return result;
  }

  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<int64_t>(timeout_seconds * 1000));
  bool timed_out = false;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      timed_out = true;
      break;
    }
    pollfd poll_fd{pipe_fds[0], POLLIN, 0};
    if (poll(&poll_fd, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    const ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    result.output.append(buffer, static_cast<size_t>(n));
  }
  close(pipe_fds[0]);
  if (timed_out) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!timed_out && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  return result;
}
