// Any process named Zelk.exe on the machine counts as the application running, whichever test
// started it. A test that keeps a Zelk.exe running must therefore not overlap a test that needs
// none; tests that need none may overlap each other.
//
// ZelkExeLock is a reader-writer lock across test processes (flock on files in the temporary
// folder): a test that needs no Zelk.exe running holds it shared (LauncherTest does so for every
// test), a test that keeps one running holds it exclusive. A waiting exclusive holder keeps new
// shared holders out, so it is not starved by a long queue of parallel tests.
#pragma once

#include <sys/types.h>

#include <filesystem>

class ZelkExeLock {
 public:
  enum class Mode { Shared, Exclusive };
  // Blocks until the lock is held.
  explicit ZelkExeLock(Mode mode);
  ~ZelkExeLock();
  ZelkExeLock(const ZelkExeLock&) = delete;
  ZelkExeLock& operator=(const ZelkExeLock&) = delete;

 private:
  int fd_ = -1;
};

// A Zelk.exe that runs until destroyed: a copy of the fixture program at `folder`/Zelk.exe,
// started with no record file. Hold an exclusive ZelkExeLock while one exists.
class RunningZelk {
 public:
  explicit RunningZelk(const std::filesystem::path& folder);
  ~RunningZelk();
  RunningZelk(const RunningZelk&) = delete;
  RunningZelk& operator=(const RunningZelk&) = delete;
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};
