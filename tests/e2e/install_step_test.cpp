// The install step as a user meets it: a launcher started from a download folder installs itself
// into the sandboxed profile with its marker and desktop entries, and "Launch" starts the
// installed copy; an installed launcher passes on; a second launcher from the same file is refused.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include "support/launcher_test.h"
#include "support/run_command.h"
#include "support/wait_until.h"

namespace fs = std::filesystem;
using testing::HasSubstr;
using testing::Not;

namespace {

constexpr Rgb kBackground{18, 18, 18};
constexpr Rgb kButton{35, 35, 35};

// Processes whose executable is `exe`, this user's.
std::vector<pid_t> ProcessesOf(const fs::path& exe) {
  std::vector<pid_t> pids;
  std::error_code error;
  for (fs::directory_iterator it("/proc", error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code link_error;
    if (fs::read_symlink(it->path() / "exe", link_error) == exe) pids.push_back(std::stoi(name));
  }
  return pids;
}

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class InstallStepTest : public LauncherTest {
 protected:
  ~InstallStepTest() override {
    // The installed copy that "Launch" started is no child of this test.
    for (const pid_t pid : ProcessesOf(installed_launcher())) kill(pid, SIGKILL);
  }

  fs::path installed_launcher() const { return sandbox.installed_folder() / "ZelkLauncher.exe"; }
  fs::path repair() const { return sandbox.installed_folder() / "Repair.desktop"; }
  fs::path uninstall() const { return sandbox.installed_folder() / "Uninstall.desktop"; }
  fs::path desktop_entry() const { return sandbox.desktop() / "Zelk Go.desktop"; }

  // A silent install from the download folder; its standard output.
  std::string InstallSilently() {
    auto launcher = StartLauncher(sandbox.PlaceDownload(), {"-silent"});
    EXPECT_EQ(launcher->WaitForExit(), 0) << launcher->Log();
    last_log = launcher->Log();
    return launcher->StandardOutput();
  }

  void ExpectValidEntry(const fs::path& entry) {
    const CommandResult validation = RunCommand({"desktop-file-validate", entry.string()});
    EXPECT_EQ(validation.exit_code, 0) << entry << ": " << validation.output;
    EXPECT_EQ(fs::status(entry).permissions() & fs::perms::all,
              fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                  fs::perms::others_read | fs::perms::others_exec);
  }

  std::string last_log;
};

TEST_F(InstallStepTest, FirstRunInstallsAndLaunchStartsTheInstalledCopy) {
  const fs::path download = sandbox.PlaceDownload();
  auto launcher = StartLauncher(download);
  ASSERT_TRUE(launcher->WaitForFirstFrame());

  // "Hi", an empty line, "Let's install the Zelk Launcher", then "Install" and "Exit".
  const Screenshot install_screen = launcher->TakeScreenshot();
  EXPECT_GT(install_screen.CountOtherThan(kBackground, 230, 44, 270, 62), 10);
  EXPECT_EQ(install_screen.CountOtherThan(kBackground, 0, 66, 500, 82), 0);
  EXPECT_GT(install_screen.CountOtherThan(kBackground, 130, 84, 370, 102), 100);
  EXPECT_EQ(install_screen.At(105, 130), kButton);
  EXPECT_EQ(install_screen.At(305, 130), kButton);
  EXPECT_FALSE(fs::exists(sandbox.installed_folder()));

  launcher->Click(150, 140);
  ASSERT_TRUE(launcher->WaitForLog("Installed " + installed_launcher().string() + " and " +
                                   (sandbox.installed_folder() / "installed_zelk").string()));
  EXPECT_EQ(ReadFile(installed_launcher()), ReadFile(download));
  EXPECT_EQ(fs::file_size(sandbox.installed_folder() / "installed_zelk"), 0u);
  for (const fs::path& entry : {desktop_entry(), repair(), uninstall()}) ExpectValidEntry(entry);
  EXPECT_THAT(ReadFile(desktop_entry()), HasSubstr("\nExec=" + installed_launcher().string() + "\n"));
  EXPECT_THAT(ReadFile(repair()), HasSubstr(" -repair\n"));
  EXPECT_THAT(ReadFile(uninstall()), HasSubstr(" -uninstall\n"));

  // The success screen: its one "Launch" button at the bottom centre.
  ASSERT_TRUE(WaitUntil([&] { return launcher->TakeScreenshot().At(205, 130) == kButton; }));
  launcher->Click(250, 140);
  EXPECT_EQ(launcher->WaitForExit(), 0);
  EXPECT_EQ(launcher->StandardOutput(), "Install success");
  EXPECT_THAT(launcher->Log(), HasSubstr("Created restart process " + installed_launcher().string() +
                                         " " + sandbox.installed_folder().string()));

  // The installed copy runs, without options, in the launcher folder.
  std::vector<pid_t> installed;
  ASSERT_TRUE(WaitUntil([&] { return !(installed = ProcessesOf(installed_launcher())).empty(); }));
  const std::string proc = "/proc/" + std::to_string(installed[0]);
  EXPECT_EQ(fs::read_symlink(proc + "/cwd"), sandbox.installed_folder());
  EXPECT_EQ(ReadFile(proc + "/cmdline"), installed_launcher().string() + std::string(1, '\0'));
}

TEST_F(InstallStepTest, ExitOnTheInstallScreenInstallsNothing) {
  auto launcher = StartLauncher(sandbox.PlaceDownload());
  ASSERT_TRUE(launcher->WaitForFirstFrame());
  launcher->Click(350, 140);
  EXPECT_EQ(launcher->WaitForExit(), 0);
  EXPECT_THAT(launcher->Log(), HasSubstr("[class InstallStep] [debug] User exit"));
  EXPECT_FALSE(fs::exists(sandbox.data_home() / "Programs"));
  EXPECT_TRUE(fs::is_empty(sandbox.desktop()));
}

TEST_F(InstallStepTest, InstalledRunPassesOnAndKeepsItsEntries) {
  const fs::path installed = sandbox.PlaceInstalled(kInstalledVersion);
  auto first = StartLauncher(installed);
  EXPECT_EQ(first->WaitForExit(), 0);
  const std::string first_log = first->Log();
  EXPECT_THAT(first_log, HasSubstr("[class InstallStep] [debug] Already installed"));
  EXPECT_THAT(first_log, HasSubstr("Created shortcut " + repair().string()));
  EXPECT_THAT(first_log, HasSubstr("Created shortcut " + uninstall().string()));
  EXPECT_THAT(first_log, Not(HasSubstr("[error]")));
  EXPECT_FALSE(fs::exists(desktop_entry())) << "an installed run writes no desktop entry";
  ASSERT_EQ(ReadFixtureRecord(sandbox.fixture_record()).size(), 1u) << "it went on to launch Zelk";
  ExpectValidEntry(repair());
  ExpectValidEntry(uninstall());

  const std::string repair_text = ReadFile(repair());
  const auto repair_time = fs::last_write_time(repair());
  auto second = StartLauncher(installed);
  EXPECT_EQ(second->WaitForExit(), 0);
  const std::string second_log = second->Log().substr(first_log.size());
  EXPECT_EQ(Occurrences(second_log, "[warning] Failed creating shortcut " + repair().string()), 1u);
  EXPECT_EQ(Occurrences(second_log, "[warning] Failed creating shortcut " + uninstall().string()),
            1u);
  EXPECT_EQ(ReadFile(repair()), repair_text);
  EXPECT_EQ(fs::last_write_time(repair()), repair_time);
}

TEST_F(InstallStepTest, SecondLauncherFromTheSameFileIsRefused) {
  const fs::path download = sandbox.PlaceDownload();
  auto first = StartLauncher(download);
  ASSERT_TRUE(first->WaitForFirstFrame());

  auto second = StartLauncher(download);
  ASSERT_TRUE(second->WaitForLog("Launcher instance is already running"));
  ASSERT_TRUE(second->WaitForFirstFrame());
  // Both windows sit at the centre of the screen: the second one goes on top.
  RunCommand({"xdotool", "windowactivate", "--sync", std::to_string(second->window())},
             XServer::Shared().Environment());
  const Screenshot refused = second->TakeScreenshot();
  EXPECT_GT(refused.CountOtherThan(kBackground, 0, 60, 500, 100), 200);  // two lines of text
  EXPECT_EQ(refused.At(205, 130), kButton);
  second->Click(250, 140);

  EXPECT_EQ(second->WaitForExit(), 1);
  EXPECT_THAT(second->StandardOutput(),
              HasSubstr("Multiple zelk launchers cannot run at the same time.\n"));
  EXPECT_TRUE(first->Running()) << "the first launcher is left alone";
  EXPECT_FALSE(fs::exists(sandbox.installed_folder()));
}

TEST_F(InstallStepTest, SilentFreshCopyInstallsWithoutStartingAnything) {
  EXPECT_EQ(InstallSilently(), "Install success");
  EXPECT_TRUE(fs::exists(installed_launcher()));
  EXPECT_TRUE(fs::exists(sandbox.installed_folder() / "installed_zelk"));
  for (const fs::path& entry : {desktop_entry(), repair(), uninstall()}) ExpectValidEntry(entry);
  EXPECT_THAT(last_log, Not(HasSubstr("restart process")));
  EXPECT_TRUE(ProcessesOf(installed_launcher()).empty());
}

TEST_F(InstallStepTest, SilentInstalledCopyEndsWithoutUpdatingOrLaunching) {
  auto launcher = StartLauncher(sandbox.PlaceInstalled(kInstalledVersion), {"-silent"});
  EXPECT_EQ(launcher->WaitForExit(), 0);
  EXPECT_EQ(launcher->StandardOutput(), "");
  EXPECT_EQ(release_server.CountRequests(ReleaseServer::kLauncherManifestPath), 0u);
  EXPECT_EQ(release_server.CountRequests(ReleaseServer::kZelkManifestPath), 0u);
  EXPECT_TRUE(ReadFixtureRecord(sandbox.fixture_record()).empty());
}

TEST_F(InstallStepTest, ExistingDesktopEntryIsLeftAndTheInstallStillSucceeds) {
  WriteFile(desktop_entry(), "the user's own entry");
  EXPECT_EQ(InstallSilently(), "Install success");
  EXPECT_EQ(ReadFile(desktop_entry()), "the user's own entry");
  EXPECT_THAT(last_log, HasSubstr("[error] Failed creating shortcut " + desktop_entry().string()));
  EXPECT_TRUE(fs::exists(repair()));
  EXPECT_TRUE(fs::exists(uninstall()));
}

TEST_F(InstallStepTest, OldDesktopEntryTakesTheNewName) {
  WriteFile(sandbox.desktop() / "Zelk Core.desktop", "the old entry");
  EXPECT_EQ(InstallSilently(), "Install success");
  EXPECT_EQ(ReadFile(desktop_entry()), "the old entry");
  EXPECT_EQ(std::distance(fs::directory_iterator(sandbox.desktop()), fs::directory_iterator()), 1);
}

TEST_F(InstallStepTest, MissingDesktopStillGetsTheLauncherFolderEntries) {
  fs::remove(sandbox.desktop());
  EXPECT_EQ(InstallSilently(), "Install success");
  EXPECT_THAT(last_log, HasSubstr("[debug] Could not get desktop path"));
  ExpectValidEntry(repair());
  ExpectValidEntry(uninstall());
  EXPECT_FALSE(fs::exists(sandbox.desktop()));
}

// A profile whose path is shell syntax: the entries still validate and name the installed copy.
TEST_F(InstallStepTest, AwkwardDataFolderInstallsWorkingEntries) {
  const fs::path data_home = sandbox.home() / "data \"q\" 'x' $(touch pwned) \\back";
  auto launcher = StartLauncher(sandbox.PlaceDownload(), {"-silent"}, {},
                                {{"XDG_DATA_HOME", data_home.string()}});
  EXPECT_EQ(launcher->WaitForExit(), 0);
  const fs::path folder = data_home / "Programs" / "ZelkGoLauncher";
  EXPECT_TRUE(fs::exists(folder / "ZelkLauncher.exe"));
  for (const fs::path& entry : {desktop_entry(), folder / "Repair.desktop",
                                folder / "Uninstall.desktop"}) {
    ExpectValidEntry(entry);
  }
  EXPECT_FALSE(fs::exists(sandbox.home() / "pwned"));
}

}  // namespace
