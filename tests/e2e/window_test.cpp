// The launcher's window on a desktop: its place and size, what it shows, and how closing it ends
// the run.
#include <gtest/gtest.h>

#include "support/launcher_test.h"

namespace {

class LauncherWindowTest : public LauncherTest {};

TEST_F(LauncherWindowTest, IsCentredOnTheScreenAt500By200) {
  auto launcher = StartLauncher(sandbox.PlaceInstalled(kInstalledVersion));
  ASSERT_TRUE(launcher->WaitForWindow());

  const WindowGeometry geometry = launcher->Geometry();

  EXPECT_EQ(geometry.width, 500);
  EXPECT_EQ(geometry.height, 200);
  EXPECT_EQ(geometry.x, (XServer::kWidth - 500) / 2);
  EXPECT_EQ(geometry.y, (XServer::kHeight - 200) / 2);
  EXPECT_EQ(launcher->WaitForExit(), 0);
}

TEST_F(LauncherWindowTest, ShowsTheLogoTopLeftAndTheMessageCentred) {
  auto launcher = StartLauncher(sandbox.PlaceInstalled(kInstalledVersion));
  ASSERT_TRUE(launcher->WaitForLog("Started Zelk"));
  ASSERT_TRUE(launcher->WaitForFirstFrame());

  const Screenshot screen = launcher->TakeScreenshot(sandbox.root() / "launching.png");

  const Rgb background{18, 18, 18};
  const Rgb teal{0, 77, 64};
  const Rgb light{224, 242, 241};
  // The logo (assets/logo.png, 32 x 32) at (8, 8): a teal rounded square with a light glyph,
  // pixel for pixel, and the window background all around it.
  for (const auto& [x, y] : {std::pair{12, 24}, {36, 24}, {24, 12}, {24, 35}, {10, 20}, {38, 30}}) {
    EXPECT_EQ(screen.At(x, y), teal) << "at (" << x << ", " << y << ")";
  }
  for (const auto& [x, y] : {std::pair{20, 17}, {18, 31}, {30, 25}}) {
    EXPECT_EQ(screen.At(x, y), light) << "at (" << x << ", " << y << ")";
  }
  EXPECT_EQ(screen.CountOtherThan(background, 8, 8, 40, 40), 32 * 32 - 148)
      << "only the logo's transparent corners show the background";
  EXPECT_EQ(screen.CountOtherThan(background, 0, 0, 8, 48), 0);
  EXPECT_EQ(screen.CountOtherThan(background, 40, 0, 60, 48), 0);
  EXPECT_EQ(screen.CountOtherThan(background, 0, 0, 60, 8), 0);
  // "Launching zelk..." on the line below the logo, centred: glyphs in the middle of the line,
  // nothing towards either edge.
  EXPECT_GT(screen.CountOtherThan(background, 190, 60, 310, 84), 50);
  EXPECT_EQ(screen.CountOtherThan(background, 0, 60, 150, 84), 0);
  EXPECT_EQ(screen.CountOtherThan(background, 350, 60, 500, 84), 0);
  // The rest of the window is background: nothing below the message.
  EXPECT_EQ(screen.CountOtherThan(background, 0, 90, 500, 200), 0);
  EXPECT_EQ(launcher->WaitForExit(), 0);
}

// Both ways a desktop asks a window to close; the launcher ends the run as if it were done.
struct CloseCase {
  const char* name;
  void (LauncherProcess::*close)();
};

void PrintTo(const CloseCase& close, std::ostream* out) { *out << close.name; }

class LauncherCloseTest : public LauncherTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(LauncherCloseTest, ClosingTheLaunchingScreenEndsTheRunWithExitCode0) {
  auto launcher = StartLauncher(sandbox.PlaceInstalled(kInstalledVersion));
  ASSERT_TRUE(launcher->WaitForLog("Started Zelk"));
  ASSERT_TRUE(launcher->WaitForFirstFrame());

  (launcher.get()->*GetParam().close)();

  EXPECT_EQ(launcher->WaitForExit(), 0);
  // The close ended the run, not the end of the launching screen.
  EXPECT_EQ(launcher->Log().find("Exiting launch step"), std::string::npos) << launcher->Log();
}

INSTANTIATE_TEST_SUITE_P(Closes, LauncherCloseTest,
                         ::testing::Values(CloseCase{"AltF4", &LauncherProcess::PressAltF4},
                                           CloseCase{"WindowManagerClose",
                                                     &LauncherProcess::RequestClose}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
