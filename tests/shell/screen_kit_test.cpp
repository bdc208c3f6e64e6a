#include "shell/screen_kit.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(ProgressBarTest, StartsAtItsPlaceForTheWindow) {
  const ProgressBar bar(500, 200);
  EXPECT_EQ(bar.x, 30);
  EXPECT_EQ(bar.y, 125);
  EXPECT_EQ(bar.width, 440);
  EXPECT_EQ(bar.height, 15);
  EXPECT_EQ(bar.shown_end, 30);
  EXPECT_EQ(bar.previous_target, 30);
}

TEST(ProgressBarTest, PercentZeroOrBelowKeepsTheFillButCountsTime) {
  for (int percent : {0, -5}) {
    ProgressBar bar(500, 200);
    bar.Advance(50, 0.5f);
    const float end = bar.shown_end, target = bar.previous_target;
    EXPECT_FALSE(bar.Advance(percent, 0.25f));
    EXPECT_EQ(bar.shown_end, end);
    EXPECT_EQ(bar.previous_target, target);
    EXPECT_FLOAT_EQ(bar.elapsed, 0.75f);
  }
}

TEST(ProgressBarTest, FirstCallWithoutTimeStartsTheFillAtTheLeftEdge) {
  ProgressBar bar(500, 200);
  EXPECT_TRUE(bar.Advance(60, 0.0f));
  EXPECT_EQ(bar.shown_end, 30);
  EXPECT_FLOAT_EQ(bar.previous_target, 30 + 0.6f * 440);
}

TEST(ProgressBarTest, HundredHeldSteadyApproachesTheRightEndWithoutPassingIt) {
  ProgressBar bar(500, 200);
  float previous = bar.shown_end;
  for (int frame = 0; frame < 60 * 600; ++frame) {
    bar.Advance(100, 1.0f / 60);
    ASSERT_LE(bar.shown_end, 470.0f) << "frame " << frame;
    ASSERT_GE(bar.shown_end, previous - 1e-3f) << "frame " << frame;
    previous = bar.shown_end;
  }
  EXPECT_NEAR(bar.shown_end, 470.0f, 0.5f);
}

TEST(ProgressBarTest, AboveHundredIsNotClamped) {
  ProgressBar bar(500, 200);
  bar.Advance(150, 1.0f);
  EXPECT_FLOAT_EQ(bar.previous_target, 30 + 1.5f * 440);
  for (int frame = 0; frame < 6000; ++frame) bar.Advance(150, 0.1f);
  EXPECT_GT(bar.shown_end, 470.0f);
}

TEST(ProgressBarTest, AFallingTargetSlidesTheFillBack) {
  ProgressBar bar(500, 200);
  for (int frame = 0; frame < 3000; ++frame) bar.Advance(100, 0.1f);
  const float full = bar.shown_end;
  for (int frame = 0; frame < 3000; ++frame) bar.Advance(10, 0.1f);
  EXPECT_LT(bar.shown_end, full);
  EXPECT_NEAR(bar.shown_end, 30 + 0.1f * 440, 1.0f);
}

TEST(ProgressBarTest, FollowsTheSmoothingFormulaInSinglePrecision) {
  ProgressBar bar(500, 200);
  bar.Advance(20, 0.5f);  // elapsed 0.5
  const float start_end = bar.shown_end, start_target = bar.previous_target;
  bar.Advance(40, 0.5f);  // elapsed 1.0
  const float target = 30 + 0.4f * 440;
  const float velocity = (target - start_target) / (1.0f * 0.05f);
  const float expected =
      std::exp(-0.05f * 1.0f) * (start_end - start_target + velocity) + (target - velocity);
  EXPECT_EQ(bar.shown_end, std::max(30.0f, expected));
}
