// The install step's unattended runs, in-process: the running executable is this test program,
// installed into a sandboxed profile. What the record says after each outcome.
#include "steps/install_step.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/paths.h"
#include "shell/options.h"
#include "steps/step_frame.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

class SilentInstall : public testing::Test {
 protected:
  SilentInstall() {
    SilentMode = true;
    setenv("HOME", home_.path().c_str(), 1);
    setenv("XDG_DATA_HOME", data_home_.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home_ / ".config").c_str(), 1);
    fs::create_directories(desktop_);
  }
  ~SilentInstall() override { SilentMode = false; }

  // Starts the step and runs frames until it ends; standard output of the run in `output`.
  int RunToEnd(InstallStep& step) {
    CaptureStdout();
    step.Start();
    int status = Running;
    for (int frame = 0; frame < 10 && (status == Running || status > QuitWithoutReport); ++frame) {
      status = frames_.Run(step);
    }
    output = GetCapturedStdout();
    return status;
  }

  TempFolder home_;
  const fs::path data_home_ = home_ / ".local/share";
  const fs::path desktop_ = home_ / "Desktop";
  const fs::path launcher_folder_ = data_home_ / "Programs" / "ZelkGoLauncher";
  std::string output;
  StepFrames frames_;
};

TEST_F(SilentInstall, InstallsInTheFirstFrameAndQuitsInTheSecond) {
  InstallStep step;
  step.Start();
  CaptureStdout();
  EXPECT_EQ(frames_.Run(step, 0.25f), Running);
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(ReadFile(launcher_folder_ / "ZelkLauncher.exe"), ReadFile(GetLauncherPath()));
  EXPECT_TRUE(fs::exists(launcher_folder_ / "installed_zelk"));
  EXPECT_TRUE(fs::exists(desktop_ / "Zelk Go.desktop"));

  CaptureStdout();
  EXPECT_EQ(frames_.Run(step, 0.25f), Quit);
  EXPECT_EQ(GetCapturedStdout(), "Install success");

  const auto record = step.GetAnalyticsRecord();
  EXPECT_EQ(record["final_state"], "InstallationSuccessful");
  EXPECT_EQ(record["result"], "succeeded");
  EXPECT_EQ(record["step_type"], "class InstallStep");
  EXPECT_DOUBLE_EQ(record["step_duration"].get<double>(), 0.5);
}

TEST_F(SilentInstall, ExistingDesktopEntryStillInstalls) {
  WriteFile(desktop_ / "Zelk Go.desktop", "the user's entry");
  InstallStep step;
  EXPECT_EQ(RunToEnd(step), Quit);
  EXPECT_EQ(output, "Install success");
  EXPECT_EQ(ReadFile(desktop_ / "Zelk Go.desktop"), "the user's entry");
  const auto record = step.GetAnalyticsRecord();
  EXPECT_EQ(record["final_state"], "InstallationSuccessful");
  EXPECT_EQ(record["result"], "Failed to create one or more shortcuts");
}

TEST_F(SilentInstall, ReinstallReplacesTheExecutableAndTheMarker) {
  fs::create_directories(launcher_folder_);
  WriteFile(launcher_folder_ / "ZelkLauncher.exe", "an older launcher");
  WriteFile(launcher_folder_ / "installed_zelk", "left-over");
  InstallStep step;
  EXPECT_EQ(RunToEnd(step), Quit);
  EXPECT_EQ(ReadFile(launcher_folder_ / "ZelkLauncher.exe"), ReadFile(GetLauncherPath()));
  EXPECT_EQ(fs::file_size(launcher_folder_ / "installed_zelk"), 0u);
}

TEST_F(SilentInstall, FailedCopyEndsWithAnError) {
  // A file where the launcher folder belongs.
  fs::create_directories(launcher_folder_.parent_path());
  WriteFile(launcher_folder_, "not a folder");
  InstallStep step;
  EXPECT_EQ(RunToEnd(step), QuitWithError);
  EXPECT_EQ(output, "Install failure. Check the launcher log file for further error information");
  const auto record = step.GetAnalyticsRecord();
  EXPECT_EQ(record["final_state"], "InstallationFailed");
  EXPECT_EQ(record["result"], "Failed copying files");
}

// Unattended, an install folder that cannot be had ends the run instead of retrying for ever.
TEST_F(SilentInstall, MissingDataFolderEndsWithAnError) {
  WriteFile(home_ / "not a folder", "");
  setenv("XDG_DATA_HOME", (home_ / "not a folder").c_str(), 1);
  InstallStep step;
  EXPECT_EQ(RunToEnd(step), QuitWithError);
  EXPECT_EQ(output, "Install failure. Check the launcher log file for further error information");
  const auto record = step.GetAnalyticsRecord();
  EXPECT_EQ(record["final_state"], "InstallationRequired");
  EXPECT_EQ(record["result"], "Failed creating the install folder");
}

}  // namespace
