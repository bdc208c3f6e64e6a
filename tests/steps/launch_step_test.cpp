#include "steps/launch_step.h"

#include <gtest/gtest.h>

#include "platform/paths.h"
#include "steps/step_frame.h"

TEST(LaunchStepRecordTest, AStepThatNeverStartedReportsItsInitialValues) {
  LaunchZelkStep step;
  EXPECT_EQ(step.GetAnalyticsRecord(),
            (nlohmann::json{{"step_type", "class LaunchZelkStep"},
                            {"step_duration", 0.0},
                            {"launch_failed", false}}));
}

TEST(LaunchStepRecordTest, AnApplicationThatCannotStartIsReportedAndWaitsForExit) {
  // The test binary's folder holds no Zelk/Zelk.exe.
  ASSERT_FALSE(std::filesystem::exists(GetLauncherFolder() / "Zelk" / "Zelk.exe"));
  StepFrames frames;
  LaunchZelkStep step;
  step.Start();
  for (int frame = 0; frame < 3; ++frame) EXPECT_EQ(frames.Run(step, 0.5f), Running);
  const auto record = step.GetAnalyticsRecord();
  EXPECT_EQ(record["result"], "Could not start Zelk");
  EXPECT_EQ(record["launch_failed"], true);
  EXPECT_DOUBLE_EQ(record["step_duration"].get<double>(), 1.5);
}
