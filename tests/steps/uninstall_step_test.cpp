// The uninstall step in-process: this test program's folder holds no installed_zelk, so it is
// no installed launcher folder and nothing may be removed.
#include "steps/uninstall_step.h"

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

TEST(UninstallZelkStep, RefusesAFolderWithoutTheMarkerAndDeletesNothing) {
  TempFolder home;
  setenv("HOME", home.path().c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
  fs::create_directories(home / "Desktop");
  WriteFile(home / "Desktop" / "Zelk Go.desktop", "entry");
  ASSERT_FALSE(fs::exists(GetLauncherFolder() / "installed_zelk"));

  for (const bool silent : {true, false}) {
    SilentMode = silent;
    StepFrames frames;
    ProgressBar progress_bar(500, 200);
    UninstallZelkStep step(progress_bar);
    step.Start();
    CaptureStdout();
    const int first = frames.Run(step);
    const int second = first == Running ? frames.Run(step) : first;
    const std::string output = GetCapturedStdout();
    if (silent) {
      EXPECT_EQ(first, QuitWithError);
      EXPECT_EQ(output, "Uninstall failed. Only an installed Zelk Launcher can be uninstalled");
    } else {
      EXPECT_EQ(first, Running);  // the refusal screen waits for "Exit"
      EXPECT_EQ(second, Running);
      EXPECT_EQ(output, "");
    }
    EXPECT_TRUE(fs::exists(home / "Desktop" / "Zelk Go.desktop"));
    EXPECT_TRUE(fs::exists(GetLauncherPath()));
    const auto record = step.GetAnalyticsRecord();
    EXPECT_EQ(record["step_type"], "class UninstallZelkStep");
    EXPECT_EQ(record["result"], "succeeded");
    EXPECT_FALSE(record.contains("final_state"));
  }
  SilentMode = false;
}

}  // namespace
