// The uninstall step as a user meets it: "-uninstall" on the installed launcher asks, removes the
// desktop entry, shows its progress phase and, after "Exit", the launcher folder disappears a few
// seconds later while everything around it stays. It refuses while Zelk.exe runs, and for a copy
// that is not installed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>

#include "support/child_process.h"
#include "support/launcher_test.h"
#include "support/wait_until.h"

namespace fs = std::filesystem;
using std::chrono::seconds;
using testing::HasSubstr;
using testing::Not;

namespace {

constexpr Rgb kBackground{18, 18, 18};
constexpr Rgb kButton{35, 35, 35};
constexpr Rgb kProgressFill{0, 77, 64};

class UninstallStepTest : public LauncherTest {
 protected:
  UninstallStepTest() {
    WriteFile(desktop_entry(), "[Desktop Entry]\n");
    fs::create_directories(sandbox.data_home() / "Programs");
    WriteFile(sandbox.data_home() / "Programs" / "other program.txt", "keep");
    WriteFile(sandbox.home() / "notes.txt", "keep");
  }
  ~UninstallStepTest() override {
    if (zelk_ > 0) StopChild(zelk_, SIGKILL);
  }

  fs::path desktop_entry() const { return sandbox.desktop() / "Zelk Go.desktop"; }

  // Waits until the launcher folder is gone (the removal starts 3 seconds after the step).
  bool WaitUntilRemoved(const fs::path& folder) {
    return WaitUntil([&] { return !fs::exists(folder); }, seconds(20), std::chrono::milliseconds(100));
  }
  void ExpectSurroundingsKept() {
    EXPECT_EQ(ReadFile(sandbox.data_home() / "Programs" / "other program.txt"), "keep");
    EXPECT_EQ(ReadFile(sandbox.home() / "notes.txt"), "keep");
  }
  void ExpectNothingDeleted(const fs::path& launcher, const std::string& log) {
    EXPECT_TRUE(fs::exists(launcher));
    EXPECT_TRUE(fs::exists(desktop_entry()));
    EXPECT_THAT(log, Not(HasSubstr("Scheduled the removal")));
    ExpectSurroundingsKept();
  }

  // A Zelk.exe that keeps running until the test ends.
  void StartZelk() {
    const fs::path zelk = sandbox.root() / "running" / "Zelk.exe";
    CopyExecutable(ZELK_FIXTURE_APP_EXE, zelk);
    ChildOptions options;
    options.environment = {{"ZELK_FIXTURE_RECORD", sandbox.fixture_record().string()},
                           {"ZELK_FIXTURE_SLEEP_MS", "120000"}};
    zelk_ = SpawnChild({zelk.string()}, options);
    ASSERT_GT(zelk_, 0);
    ASSERT_TRUE(WaitUntil([&] { return !ReadFixtureRecord(sandbox.fixture_record()).empty(); }));
  }

  pid_t zelk_ = -1;
};

TEST_F(UninstallStepTest, CancelDeletesNothing) {
  const fs::path installed = sandbox.PlaceInstalled(kInstalledVersion);
  auto launcher = StartLauncher(installed, {"-uninstall"});
  ASSERT_TRUE(launcher->WaitForFirstFrame());
  // The confirmation: its text, the folder, the hint, "Uninstall" and "Cancel".
  ASSERT_TRUE(WaitUntil([&] { return launcher->TakeScreenshot().At(305, 130) == kButton; }));
  const Screenshot screen = launcher->TakeScreenshot();
  EXPECT_EQ(screen.At(105, 130), kButton);
  for (const int line : {44, 64, 84}) {
    EXPECT_GT(screen.CountOtherThan(kBackground, 0, line, 500, line + 18), 50) << "line at " << line;
  }

  launcher->Click(350, 140);
  EXPECT_EQ(launcher->WaitForExit(), 0);
  EXPECT_THAT(launcher->Log(), HasSubstr("[class UninstallZelkStep] [debug] User exit"));
  ExpectNothingDeleted(installed, launcher->Log());
}

TEST_F(UninstallStepTest, UninstallRemovesTheLauncherFolderAfterExit) {
  const fs::path installed = sandbox.PlaceInstalled(kInstalledVersion);
  auto launcher = StartLauncher(installed, {"-uninstall"});
  ASSERT_TRUE(launcher->WaitForFirstFrame());
  ASSERT_TRUE(WaitUntil([&] { return launcher->TakeScreenshot().At(105, 130) == kButton; }));

  launcher->Click(150, 140);
  const auto clicked = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitUntil([&] { return !fs::exists(desktop_entry()); }));
  // The progress phase: the bar fills from its left end, then the "Exit" button takes its place.
  EXPECT_TRUE(WaitUntil([&] { return launcher->TakeScreenshot().At(40, 132) == kProgressFill; }));
  ASSERT_TRUE(WaitUntil([&] { return launcher->TakeScreenshot().At(205, 130) == kButton; }));
  EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - clicked).count(), 1.9);
  EXPECT_TRUE(fs::exists(installed)) << "nothing is removed before \"Exit\"";

  launcher->Click(250, 140);
  EXPECT_EQ(launcher->WaitForExit(), 0);
  EXPECT_EQ(launcher->StandardOutput(), "Uninstall successful");
  EXPECT_TRUE(WaitUntilRemoved(sandbox.installed_folder()));
  EXPECT_TRUE(fs::is_directory(sandbox.data_home() / "Programs"));
  ExpectSurroundingsKept();
}

TEST_F(UninstallStepTest, SilentUninstallRemovesTheLauncherFolder) {
  sandbox.PlaceInstalled(kInstalledVersion);
  auto launcher =
      StartLauncher(sandbox.installed_folder() / "ZelkLauncher.exe", {"-uninstall", "-silent"});
  EXPECT_EQ(launcher->WaitForExit(), 0);
  EXPECT_EQ(launcher->StandardOutput(), "Uninstall successful");
  EXPECT_FALSE(fs::exists(desktop_entry()));
  EXPECT_TRUE(WaitUntilRemoved(sandbox.installed_folder()));
  EXPECT_TRUE(fs::is_directory(sandbox.data_home() / "Programs"));
  ExpectSurroundingsKept();
}

TEST_F(UninstallStepTest, RunningZelkRefuses) {
  const fs::path installed = sandbox.PlaceInstalled(kInstalledVersion);
  StartZelk();

  auto interactive = StartLauncher(installed, {"-uninstall"});
  ASSERT_TRUE(interactive->WaitForFirstFrame());
  ASSERT_TRUE(WaitUntil([&] { return interactive->TakeScreenshot().At(205, 130) == kButton; }));
  interactive->Click(250, 140);
  EXPECT_EQ(interactive->WaitForExit(), 0);

  auto silent = StartLauncher(installed, {"-uninstall", "-silent"});
  EXPECT_EQ(silent->WaitForExit(), 1);
  EXPECT_EQ(silent->StandardOutput(), "Failed to uninstall because zelk is currently running");
  ExpectNothingDeleted(installed, silent->Log());
}

// A copy in a download folder or in the home folder itself: that folder is not the launcher's.
TEST_F(UninstallStepTest, CopyThatIsNotInstalledRefusesAndDeletesNothing) {
  const fs::path download = sandbox.PlaceDownload();
  WriteFile(sandbox.download_folder() / "holiday.jpg", "keep");

  auto interactive = StartLauncher(download, {"-uninstall"});
  ASSERT_TRUE(interactive->WaitForFirstFrame());
  ASSERT_TRUE(WaitUntil([&] { return interactive->TakeScreenshot().At(205, 130) == kButton; }));
  EXPECT_GT(interactive->TakeScreenshot().CountOtherThan(kBackground, 0, 44, 500, 84), 200);
  interactive->Click(250, 140);
  EXPECT_EQ(interactive->WaitForExit(), 0);
  ExpectNothingDeleted(download, interactive->Log());

  const fs::path in_home = sandbox.home() / "ZelkLauncher.exe";
  CopyExecutable(ZELK_LAUNCHER_EXE, in_home);
  for (const fs::path& launcher_path : {download, in_home}) {
    auto silent = StartLauncher(launcher_path, {"-uninstall", "-silent"});
    EXPECT_EQ(silent->WaitForExit(), 1);
    EXPECT_EQ(silent->StandardOutput(),
              "Uninstall failed. Only an installed Zelk Launcher can be uninstalled");
    ExpectNothingDeleted(launcher_path, silent->Log());
  }
  EXPECT_EQ(ReadFile(sandbox.download_folder() / "holiday.jpg"), "keep");
}

// Installed into a data folder whose path is shell syntax, then uninstalled: the folder goes
// completely and nothing beside it is touched.
TEST_F(UninstallStepTest, AwkwardLauncherFolderIsRemovedCompletely) {
  const fs::path data_home =
      sandbox.home() / "data \"q\" 'x' $(touch pwned) `touch pwned2`; rm -rf ~ \\b";
  const std::map<std::string, std::string> environment = {{"XDG_DATA_HOME", data_home.string()}};
  auto install = StartLauncher(sandbox.PlaceDownload(), {"-silent"}, {}, environment);
  ASSERT_EQ(install->WaitForExit(), 0);
  const fs::path folder = data_home / "Programs" / "ZelkGoLauncher";
  ASSERT_TRUE(fs::exists(folder / "installed_zelk"));
  fs::create_directories(folder / "Zelk" / "data");
  WriteFile(folder / "Zelk" / "data" / "save.bin", "x");
  WriteFile(data_home / "Programs" / "ZelkGoLauncher old.txt", "keep");

  auto uninstall = StartLauncher(folder / "ZelkLauncher.exe", {"-uninstall", "-silent"}, {},
                                 environment);
  EXPECT_EQ(uninstall->WaitForExit(), 0);
  EXPECT_EQ(uninstall->StandardOutput(), "Uninstall successful");
  EXPECT_TRUE(WaitUntilRemoved(folder));
  EXPECT_EQ(ReadFile(data_home / "Programs" / "ZelkGoLauncher old.txt"), "keep");
  EXPECT_FALSE(fs::exists(sandbox.home() / "pwned"));
  EXPECT_FALSE(fs::exists(sandbox.home() / "pwned2"));
  EXPECT_FALSE(fs::exists(fs::path("/") / "pwned"));
  ExpectSurroundingsKept();
}

}  // namespace
