#include "platform/process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/paths.h"
#include "support/run_command.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

// Copies of this test binary stand for launchers. Started with ZELK_PROCESS_TEST_SLEEP_MS set, a
// copy only sleeps; with ZELK_PROCESS_TEST_COUNT set, it prints what CountRunningInstances says
// of its own file name (own path only, then any path) and exits.
const bool helper_mode = [] {
  if (const char* ms = std::getenv("ZELK_PROCESS_TEST_SLEEP_MS")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(ms)));
    _exit(0);
  }
  if (std::getenv("ZELK_PROCESS_TEST_COUNT") != nullptr) {
    const std::string name = GetLauncherPath().filename().string();
    std::printf("%u %u", CountRunningInstances(name, true), CountRunningInstances(name, false));
    std::fflush(stdout);
    _exit(0);
  }
  return false;
}();

// Starts `executable` sleeping; the process is ended when the guard goes.
class Sleeper {
 public:
  explicit Sleeper(const fs::path& executable, const char* sleep_variable) {
    setenv(sleep_variable, "30000", 1);
    started_ = StartProcess(executable, {}, executable.parent_path());
    unsetenv(sleep_variable);
    // Wait until the program runs under its own name.
    for (int i = 0; i < 200 && started_ && !Runs(executable); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  // Ends this test's children started from the file (never the test itself).
  ~Sleeper() {
    for (const auto& entry : fs::directory_iterator("/proc")) {
      std::error_code error;
      const int pid = std::atoi(entry.path().filename().c_str());
      if (pid <= 0 || fs::read_symlink(entry.path() / "exe", error) != executable_) continue;
      const std::string stat = ReadFile(entry.path() / "stat");
      const size_t after_name = stat.rfind(')');
      if (after_name == std::string::npos) continue;
      int parent = 0;
      char state = 0;
      if (std::sscanf(stat.c_str() + after_name + 1, " %c %d", &state, &parent) == 2 &&
          parent == getpid()) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
      }
    }
  }
  bool started() const { return started_; }

 private:
  bool Runs(const fs::path& executable) {
    executable_ = executable;
    return CountRunningInstances(executable.filename().string(), false) > 0;
  }
  bool started_ = false;
  fs::path executable_;
};

fs::path CopyExecutable(const fs::path& from, const fs::path& to) {
  fs::create_directories(to.parent_path());
  fs::copy_file(from, to);
  fs::permissions(to, fs::perms::owner_all);
  return to;
}

}  // namespace

TEST(ProcessTest, OwnPathOnlyCountsCopiesStartedFromTheSameFile) {
  TempFolder folder;
  // A name of this test's own, so that tests running beside it do not count.
  const std::string name = "ZelkLauncher-" + std::to_string(getpid()) + ".exe";
  const auto launcher = CopyExecutable(GetLauncherPath(), folder / "installed" / name);
  const auto other_copy = CopyExecutable(GetLauncherPath(), folder / "download" / name);
  const auto count = [&] {
    return RunCommand({launcher.string()}, {{"ZELK_PROCESS_TEST_COUNT", "1"}}).output;
  };
  EXPECT_EQ(count(), "1 1");

  Sleeper same_file(launcher, "ZELK_PROCESS_TEST_SLEEP_MS");
  ASSERT_TRUE(same_file.started());
  EXPECT_EQ(count(), "2 2");
  // A copy with the same file name in another folder: the same name, another file.
  Sleeper other_file(other_copy, "ZELK_PROCESS_TEST_SLEEP_MS");
  ASSERT_TRUE(other_file.started());
  EXPECT_EQ(count(), "2 3");
}

TEST(ProcessTest, NamesMatchIgnoringTheCaseOfLatinLetters) {
  TempFolder folder;
  Sleeper capitals(CopyExecutable(ZELK_FIXTURE_APP_EXE, folder / "ZELKPROCESSTEST.EXE"),
                   "ZELK_FIXTURE_SLEEP_MS");
  ASSERT_TRUE(capitals.started());
  EXPECT_EQ(CountRunningInstances("ZelkProcessTest.exe", false), 1u);
  EXPECT_EQ(CountRunningInstances("zelkprocesstest.exe", false), 1u);
  EXPECT_EQ(CountRunningInstances("ZelkProcessTest", false), 0u);
  EXPECT_EQ(CountRunningInstances("ZelkProcessTest.exe.", false), 0u);
}

TEST(ProcessTest, StartsInTheWorkingFolderWithExactlyTheGivenArguments) {
  TempFolder folder;
  const auto program = CopyExecutable(ZELK_FIXTURE_APP_EXE, folder / "app folder" / "Zelk.exe");
  const auto record = folder / "record.txt";
  setenv("ZELK_FIXTURE_RECORD", record.c_str(), 1);
  const bool started = StartProcess(program, {"-updated", "two words", "$(touch pwned)"},
                                    program.parent_path());
  unsetenv("ZELK_FIXTURE_RECORD");
  ASSERT_TRUE(started);
  for (int i = 0; i < 300 && ReadFile(record).find("end\n") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(ReadFile(record), "exe=" + program.string() + "\ncwd=" + program.parent_path().string() +
                                  "\nargs=3\narg=-updated\narg=two words\narg=$(touch pwned)\nend\n");
  EXPECT_FALSE(fs::exists(program.parent_path() / "pwned"));
}

TEST(ProcessTest, FailuresLeaveTheCauseInErrno) {
  TempFolder folder;
  const auto program = CopyExecutable(ZELK_FIXTURE_APP_EXE, folder / "Zelk.exe");
  WriteFile(folder / "not-executable", "data");
  const struct {
    fs::path executable;
    fs::path working_folder;
    int error;
  } cases[] = {
      {folder / "missing.exe", folder.path(), ENOENT},
      {program, folder / "missing folder", ENOENT},
      {folder / "not-executable", folder.path(), EACCES},
  };
  for (const auto& c : cases) {
    errno = 0;
    EXPECT_FALSE(StartProcess(c.executable, {}, c.working_folder)) << c.executable;
    EXPECT_EQ(errno, c.error) << c.executable;
  }
}
