#include "support/zelk_exe_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "support/child_process.h"
#include "support/launcher_sandbox.h"

namespace fs = std::filesystem;

namespace {

int OpenLockFile(const char* name) {
  const fs::path path = fs::temp_directory_path() / name;
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) throw std::runtime_error("cannot open " + path.string() + ": " + std::strerror(errno));
  return fd;
}

void Lock(int fd, int operation) {
  while (flock(fd, operation) != 0) {
    if (errno != EINTR) throw std::runtime_error(std::string("flock failed: ") + std::strerror(errno));
  }
}

}  // namespace

ZelkExeLock::ZelkExeLock(Mode mode) {
  // Everyone passes the turnstile one at a time; an exclusive holder keeps it until it has the
  // lock itself, so shared holders that come later wait behind it.
  const int turnstile = OpenLockFile("zelk-tests-zelk-exe.turnstile");
  Lock(turnstile, LOCK_EX);
  fd_ = OpenLockFile("zelk-tests-zelk-exe.lock");
  Lock(fd_, mode == Mode::Shared ? LOCK_SH : LOCK_EX);
  close(turnstile);
}

ZelkExeLock::~ZelkExeLock() { close(fd_); }

RunningZelk::RunningZelk(const fs::path& folder) {
  const fs::path zelk = folder / "Zelk.exe";
  CopyExecutable(ZELK_FIXTURE_APP_EXE, zelk);
  ChildOptions options;
  options.environment = {{"ZELK_FIXTURE_SLEEP_MS", "600000"}};
  options.working_folder = folder;
  // Once SpawnChild returns, the exec is done: the process list shows Zelk.exe.
  pid_ = SpawnChild({zelk.string()}, options);
  if (pid_ < 0) throw std::runtime_error("cannot start " + zelk.string() + ": " + std::strerror(errno));
}

RunningZelk::~RunningZelk() { StopChild(pid_, SIGKILL); }
