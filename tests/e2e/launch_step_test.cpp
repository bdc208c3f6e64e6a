// The launch step as a user meets it: the installed launcher, started from its folder, starts
// Zelk.exe and goes away after its launching screen; a Zelk.exe that cannot start leaves the
// failure screen and its "Exit" button.
#include <gtest/gtest.h>

#include "support/launcher_test.h"

namespace fs = std::filesystem;

namespace {

class LaunchStepTest : public LauncherTest {};

TEST_F(LaunchStepTest, StartsZelkInItsFolderWithoutArgumentsAndExitsAfterTheLaunchingScreen) {
  auto launcher = StartLauncher(sandbox.PlaceInstalled(kInstalledVersion));

  EXPECT_EQ(launcher->WaitForExit(), 0);

  const auto starts = ReadFixtureRecord(sandbox.fixture_record());
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].exe, (sandbox.application_folder() / "Zelk.exe").string());
  EXPECT_EQ(starts[0].cwd, sandbox.application_folder().string());
  EXPECT_TRUE(starts[0].args.empty());
  // "Launching zelk..." stays for five seconds on the wall clock; start-up and the other steps
  // add a little.
  EXPECT_GE(launcher->RunSeconds(), 5.0);
  EXPECT_LT(launcher->RunSeconds(), 30.0);
  const std::string log = launcher->Log();
  EXPECT_NE(log.find("Started Zelk " + (sandbox.application_folder() / "Zelk.exe").string() + " " +
                     sandbox.application_folder().string()),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Exiting launch step"), std::string::npos) << log;
}

// An application folder whose version is current but whose Zelk.exe is gone: the update step has
// nothing to do, and the start fails.
TEST_F(LaunchStepTest, MissingZelkShowsTheFailureScreenAndExitEndsTheRun) {
  const fs::path installed = sandbox.PlaceInstalled(kInstalledVersion);
  fs::remove(sandbox.application_folder() / "Zelk.exe");
  auto launcher = StartLauncher(installed);

  ASSERT_TRUE(launcher->WaitForLog("Could not start Zelk " +
                                   (sandbox.application_folder() / "Zelk.exe").string()));
  ASSERT_TRUE(launcher->WaitForFirstFrame());
  const Screenshot screen = launcher->TakeScreenshot();
  // The "Exit" button (x 200 to 300, y 125 to 155) in the button colour, the text above it.
  EXPECT_EQ(screen.At(205, 130), (Rgb{35, 35, 35}));
  EXPECT_GT(screen.CountOtherThan({18, 18, 18}, 150, 60, 350, 84), 50);
  EXPECT_TRUE(launcher->Running()) << "the failure screen waits for the user";

  launcher->Click(250, 140);

  EXPECT_EQ(launcher->WaitForExit(), 0);
  EXPECT_NE(launcher->Log().find("No such file or directory"), std::string::npos) << launcher->Log();
  EXPECT_TRUE(ReadFixtureRecord(sandbox.fixture_record()).empty());
}

}  // namespace
