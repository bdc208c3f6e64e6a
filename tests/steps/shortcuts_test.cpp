// The launcher's set of shortcuts in a sandboxed profile: which entries are written, the old
// desktop name, and the log levels of each outcome.
#include "steps/shortcuts.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <stdlib.h>

#include <sstream>

#include "support/temp_folder.h"

namespace fs = std::filesystem;
using testing::HasSubstr;
using testing::Not;

namespace {

class LauncherShortcuts : public testing::Test {
 protected:
  LauncherShortcuts()
      : sink_(std::make_shared<spdlog::sinks::ostream_sink_st>(log_)), logger_("test", sink_) {
    sink_->set_pattern("[%l] %v");
    logger_.set_level(spdlog::level::debug);
    setenv("HOME", home_.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home_ / ".config").c_str(), 1);
    fs::create_directories(desktop_);
    fs::create_directories(launcher_folder_);
  }

  bool Create(bool desktop_shortcut) {
    return CreateLauncherShortcuts(target_, launcher_folder_, desktop_shortcut, base_folder_,
                                   logger_);
  }
  std::string Log() const { return log_.str(); }

  TempFolder home_;
  const fs::path desktop_ = home_ / "Desktop";
  const fs::path base_folder_ = home_ / ".local/share/Programs";
  const fs::path launcher_folder_ = base_folder_ / "ZelkGoLauncher";
  const fs::path target_ = launcher_folder_ / "ZelkLauncher.exe";
  const fs::path desktop_entry_ = desktop_ / "Zelk Go.desktop";
  const fs::path repair_ = launcher_folder_ / "Repair.desktop";
  const fs::path uninstall_ = launcher_folder_ / "Uninstall.desktop";

 private:
  std::ostringstream log_;
  std::shared_ptr<spdlog::sinks::ostream_sink_st> sink_;

 protected:
  spdlog::logger logger_;
};

TEST_F(LauncherShortcuts, FreshInstallWritesAllThreeAndTheIcon) {
  EXPECT_TRUE(Create(true));
  const std::string desktop = ReadFile(desktop_entry_);
  EXPECT_THAT(desktop, HasSubstr("\nExec=" + target_.string() + "\n"));
  EXPECT_THAT(desktop, HasSubstr("\nComment=Shortcut to Zelk\n"));
  EXPECT_THAT(desktop, HasSubstr("\nPath=" + launcher_folder_.string() + "\n"));
  EXPECT_THAT(ReadFile(repair_), HasSubstr("\nExec=" + target_.string() + " -repair\n"));
  EXPECT_THAT(ReadFile(repair_), HasSubstr("\nComment=Repair shortcut for Zelk\n"));
  EXPECT_THAT(ReadFile(uninstall_), HasSubstr("\nExec=" + target_.string() + " -uninstall\n"));
  EXPECT_THAT(ReadFile(uninstall_), HasSubstr("\nComment=Uninstall shortcut for Zelk\n"));
  // The logo, as a PNG that desktops can show.
  EXPECT_EQ(ReadFile(launcher_folder_ / "ZelkLauncher.png").substr(0, 4), "\x89PNG");
  EXPECT_THAT(Log(), HasSubstr("[debug] Created shortcut " + desktop_entry_.string()));
  EXPECT_THAT(Log(), HasSubstr("[debug] Created shortcut " + repair_.string()));
  EXPECT_THAT(Log(), HasSubstr("[debug] Created shortcut " + uninstall_.string()));
}

TEST_F(LauncherShortcuts, InstalledRunLeavesExistingEntriesAndWarns) {
  WriteFile(repair_, "old repair");
  WriteFile(uninstall_, "old uninstall");
  EXPECT_TRUE(Create(false));
  EXPECT_EQ(ReadFile(repair_), "old repair");
  EXPECT_EQ(ReadFile(uninstall_), "old uninstall");
  EXPECT_FALSE(fs::exists(desktop_entry_));
  EXPECT_THAT(Log(), HasSubstr("[warning] Failed creating shortcut " + repair_.string()));
  EXPECT_THAT(Log(), HasSubstr("[warning] Failed creating shortcut " + uninstall_.string()));
}

TEST_F(LauncherShortcuts, InstalledRunWritesMissingEntries) {
  WriteFile(repair_, "old repair");
  EXPECT_TRUE(Create(false));
  EXPECT_EQ(ReadFile(repair_), "old repair");
  EXPECT_THAT(ReadFile(uninstall_), HasSubstr("-uninstall"));
}

TEST_F(LauncherShortcuts, ExistingDesktopEntryIsAFailureAndStaysUnchanged) {
  WriteFile(desktop_entry_, "the user's entry");
  EXPECT_FALSE(Create(true));
  EXPECT_EQ(ReadFile(desktop_entry_), "the user's entry");
  EXPECT_THAT(Log(), HasSubstr("[error] Failed creating shortcut " + desktop_entry_.string()));
  EXPECT_TRUE(fs::exists(repair_));
  EXPECT_TRUE(fs::exists(uninstall_));
}

TEST_F(LauncherShortcuts, OldDesktopNameReplacesTheNewEntry) {
  WriteFile(desktop_ / "Zelk Core.desktop", "old shortcut");
  EXPECT_TRUE(Create(true));
  EXPECT_EQ(ReadFile(desktop_entry_), "old shortcut");
  EXPECT_FALSE(fs::exists(desktop_ / "Zelk Core.desktop"));
  EXPECT_THAT(Log(), HasSubstr("[debug] Successfully renamed old shortcut to new name"));
}

TEST_F(LauncherShortcuts, InstalledRunRenamesTheOldDesktopEntryOnly) {
  WriteFile(desktop_ / "Zelk Core.desktop", "old shortcut");
  EXPECT_TRUE(Create(false));
  EXPECT_EQ(ReadFile(desktop_entry_), "old shortcut");
  EXPECT_EQ(std::distance(fs::directory_iterator(desktop_), fs::directory_iterator()), 1);
}

TEST_F(LauncherShortcuts, FailedRenameIsLoggedAtDebug) {
  WriteFile(desktop_ / "Zelk Core.desktop", "old shortcut");
  fs::create_directories(desktop_entry_ / "not empty");
  EXPECT_FALSE(Create(true));
  EXPECT_EQ(ReadFile(desktop_ / "Zelk Core.desktop"), "old shortcut");
  EXPECT_THAT(Log(), HasSubstr("[debug] Failed to rename old shortcut to new name. Error: "));
}

TEST_F(LauncherShortcuts, MissingDesktopStillWritesTheLauncherFolderEntries) {
  fs::remove(desktop_);
  EXPECT_TRUE(Create(true));
  EXPECT_THAT(Log(), HasSubstr("[debug] Could not get desktop path"));
  EXPECT_THAT(Log(), Not(HasSubstr("[error]")));
  EXPECT_TRUE(fs::exists(repair_));
  EXPECT_TRUE(fs::exists(uninstall_));
}

TEST_F(LauncherShortcuts, RemoveDesktopShortcutTakesOnlyTheNewEntry) {
  WriteFile(desktop_entry_, "entry");
  WriteFile(desktop_ / "other.desktop", "other");
  RemoveDesktopShortcut(logger_);
  EXPECT_FALSE(fs::exists(desktop_entry_));
  EXPECT_TRUE(fs::exists(desktop_ / "other.desktop"));
  RemoveDesktopShortcut(logger_);  // already gone: no error
  fs::remove_all(desktop_);
  RemoveDesktopShortcut(logger_);  // no desktop: no error
  EXPECT_EQ(Log(), "");
}

}  // namespace
