#include "support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

extern char** environ;

namespace {

std::string FindProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* path = std::getenv("PATH");
  std::stringstream folders(path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin");
  for (std::string folder; std::getline(folders, folder, ':');) {
    const std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return name;
}

}  // namespace

std::map<std::string, std::string> CurrentEnvironment() {
  std::map<std::string, std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (const char* equals = std::strchr(*entry, '=')) {
      environment[std::string(*entry, static_cast<size_t>(equals - *entry))] = equals + 1;
    }
  }
  return environment;
}

pid_t SpawnChild(const std::vector<std::string>& argv, const ChildOptions& options) {
  // Everything the child needs is prepared before fork: between fork and exec only
  // async-signal-safe calls run, since the test process may have threads.
  const std::string program = FindProgram(argv.at(0));
  std::vector<std::string> arguments(argv);
  std::vector<char*> args;
  for (auto& argument : arguments) args.push_back(argument.data());
  args.push_back(nullptr);
  std::vector<std::string> environment_texts;
  for (const auto& [key, value] : options.environment) environment_texts.push_back(key + "=" + value);
  std::vector<char*> envp;
  for (auto& text : environment_texts) envp.push_back(text.data());
  envp.push_back(nullptr);
  const std::string folder = options.working_folder ? options.working_folder->string() : "";
  const pid_t parent = getpid();

  int exec_error_pipe[2];
  if (pipe2(exec_error_pipe, O_CLOEXEC) != 0) return -1;
  const pid_t pid = fork();
  if (pid < 0) {
    close(exec_error_pipe[0]);
    close(exec_error_pipe[1]);
    return -1;
  }
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    const int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, 0);
    dup2(options.standard_output >= 0 ? options.standard_output : null_fd, 1);
    dup2(options.standard_error >= 0 ? options.standard_error : null_fd, 2);
    if (options.descriptor_3 >= 0) {
      dup2(options.descriptor_3, 3);
    } else {
      close(3);
    }
    // Nothing else of the test process reaches the child.
    for (int fd = 4; fd < 1024; ++fd) {
      if (fd != exec_error_pipe[1]) close(fd);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (!folder.empty() && chdir(folder.c_str()) != 0) {
      const int error = errno;
      (void)!write(exec_error_pipe[1], &error, sizeof error);
      _exit(127);
    }
    execve(program.c_str(), args.data(), envp.data());
    const int error = errno;
    (void)!write(exec_error_pipe[1], &error, sizeof error);
    _exit(127);
  }
  close(exec_error_pipe[1]);
  int error = 0;
  const ssize_t got = read(exec_error_pipe[0], &error, sizeof error);
  close(exec_error_pipe[0]);
  if (got == static_cast<ssize_t>(sizeof error)) {
    waitpid(pid, nullptr, 0);
    errno = error;
    return -1;
  }
  return pid;
}

int StopChild(pid_t pid, int signal) {
  int status = 0;
  if (pid <= 0) return status;
  kill(pid, signal);
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}
