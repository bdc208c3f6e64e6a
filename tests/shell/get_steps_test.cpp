#include <gtest/gtest.h>

#include "shell/launcher.h"

namespace {

std::vector<std::string> StepTypes(const StepList& steps) {
  std::vector<std::string> types;
  for (const auto& step : steps) types.push_back(step->GetAnalyticsRecord()["step_type"]);
  return types;
}

TEST(GetSteps, UninstallRunsTheUninstallStepAlone) {
  ProgressBar progress_bar(500, 200);
  for (const auto& options : {LaunchOptions{.uninstall = true},
                              LaunchOptions{.uninstall = true, .updated = true, .repair = true},
                              LaunchOptions{.silent = true, .uninstall = true}}) {
    EXPECT_EQ(StepTypes(GetSteps(options, progress_bar)),
              std::vector<std::string>{"class UninstallZelkStep"});
  }
}

TEST(GetSteps, EveryOtherRunStartsWithTheInstallStep) {
  ProgressBar progress_bar(500, 200);
  for (const auto& options :
       {LaunchOptions{}, LaunchOptions{.updated = true}, LaunchOptions{.repair = true},
        LaunchOptions{.silent = true, .skip_auto_proxy = true}}) {
    const auto types = StepTypes(GetSteps(options, progress_bar));
    ASSERT_FALSE(types.empty());
    EXPECT_EQ(types.front(), "class InstallStep");
    EXPECT_EQ(std::count(types.begin(), types.end(), "class InstallStep"), 1);
    EXPECT_EQ(std::count(types.begin(), types.end(), "class UninstallZelkStep"), 0);
  }
}

// A step that never became current still reports its own keys, and no "result".
TEST(GetSteps, UnstartedStepsReportTheirInitialRecords) {
  ProgressBar progress_bar(500, 200);
  const StepList install_run = GetSteps(LaunchOptions{}, progress_bar);
  const auto install = install_run.front()->GetAnalyticsRecord();
  EXPECT_EQ(install["final_state"], "InstallationRequired");
  EXPECT_EQ(install["step_duration"], 0.0);
  EXPECT_FALSE(install.contains("result"));

  const StepList uninstall_run = GetSteps(LaunchOptions{.uninstall = true}, progress_bar);
  const auto uninstall = uninstall_run.front()->GetAnalyticsRecord();
  EXPECT_FALSE(uninstall.contains("result"));
  EXPECT_FALSE(uninstall.contains("final_state"));
}

}  // namespace
