// A launcher folder that cannot be written (a read-only mount, a locked-down profile): the run
// cannot open its log, and goes on without one.
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/launcher_test.h"
#include "support/run_command.h"

namespace fs = std::filesystem;

namespace {

// Makes `folder` refuse new entries for the guard's lifetime. Root is not stopped by
// permissions, so there the folder is marked immutable instead.
class UnwritableFolder {
 public:
  explicit UnwritableFolder(fs::path folder) : folder_(std::move(folder)) {
    if (root_) {
      locked_ = RunCommand({"chattr", "+i", folder_.string()}).exit_code == 0;
    } else {
      fs::permissions(folder_, fs::perms(0555));
      locked_ = true;
    }
  }
  ~UnwritableFolder() {
    if (!locked_) return;
    if (root_) {
      RunCommand({"chattr", "-i", folder_.string()});
    } else {
      fs::permissions(folder_, fs::perms(0755));
    }
  }
  bool locked() const { return locked_; }

 private:
  fs::path folder_;
  bool root_ = geteuid() == 0;
  bool locked_ = false;
};

class ReadOnlyFolderTest : public LauncherTest {};

TEST_F(ReadOnlyFolderTest, LauncherRunsWithoutItsLogAndLaunchesZelk) {
  const fs::path launcher = sandbox.PlaceInstalled(kInstalledVersion);
  // The entries an installed run refreshes are there already, as after any earlier run.
  WriteFile(sandbox.installed_folder() / "Repair.desktop", "[Desktop Entry]\n");
  WriteFile(sandbox.installed_folder() / "Uninstall.desktop", "[Desktop Entry]\n");
  UnwritableFolder unwritable(sandbox.installed_folder());
  if (!unwritable.locked()) GTEST_SKIP() << "this file system cannot lock a folder";

  auto process = StartLauncher(launcher);
  EXPECT_EQ(process->WaitForExit(), 0);

  EXPECT_FALSE(fs::exists(sandbox.installed_folder() / "zelk_launcher.txt"));
  EXPECT_NE(process->StandardError().find("Cannot open the log file"), std::string::npos)
      << process->StandardError();
  const auto starts = ReadFixtureRecord(sandbox.fixture_record());
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].cwd, sandbox.application_folder().string());
}

}  // namespace
