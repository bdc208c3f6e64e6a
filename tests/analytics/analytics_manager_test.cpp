#include "analytics/analytics_manager.h"

#include <gtest/gtest.h>

#include "analytics_test_env.h"
#include "platform/paths.h"
#include "shell/launcher.h"
#include "support/fake_window_host.h"

using nlohmann::json;

namespace {

// A step that only keeps a record, as a real step does.
class RecordingStep final : public StepBase {
 public:
  explicit RecordingStep(std::string type) : StepBase(std::move(type)) {}
  int Update(float dt) override {
    AddTime(dt);
    return Running;
  }
  void Start() override { BeginStart(); }
  json GetAnalyticsRecord() override {
    ++asked;
    auto& record = CompleteRecord();
    record["final_state"] = "Idle";
    return record;
  }
  int asked = 0;
};

}  // namespace

TEST_F(AnalyticsTest, EveryStepReportsInListOrderStartedOrNot) {
  std::vector<std::unique_ptr<IStep>> steps;
  for (const char* type : {"class FirstStep", "class SecondStep", "class ThirdStep"}) {
    steps.push_back(std::make_unique<RecordingStep>(type));
  }
  steps[1]->Start();
  steps[1]->Update(0.25f);

  SendStepRecords(steps);

  const auto records = LastUpload();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0]["step_type"], "class FirstStep");
  EXPECT_EQ(records[1]["step_type"], "class SecondStep");
  EXPECT_EQ(records[2]["step_type"], "class ThirdStep");
  EXPECT_EQ(records[1]["result"], "succeeded");
  EXPECT_EQ(records[1]["step_duration"], 0.25);
  for (size_t i : {0u, 2u}) {
    EXPECT_FALSE(records[i].contains("result"));
    EXPECT_EQ(records[i]["step_duration"], 0.0);
  }
  for (const auto& record : records) {
    EXPECT_EQ(record["environment"], "Zelk Go");
    EXPECT_EQ(record["installation_id"], ReadFile(value_file()));
    EXPECT_EQ(record["final_state"], "Idle");
  }
  for (const auto& step : steps) EXPECT_EQ(static_cast<RecordingStep&>(*step).asked, 1);
  // The wire form of an unstarted step's duration.
  EXPECT_NE(receiver_->requests()[0].body.find("\"step_duration\":0.0,"), std::string::npos);
}

// Closing the window ends the run with a report of every step in the pipeline, whichever step
// was current; an upload the service refuses does not change the exit code.
TEST_F(AnalyticsTest, ClosingTheWindowReportsTheWholePipeline) {
  SetResponse(500, "down for maintenance");
  for (const bool uninstall : {false, true}) {
    SCOPED_TRACE(uninstall ? "-uninstall" : "default");
    std::vector<std::string> arguments = {GetLauncherPath().string()};
    if (uninstall) arguments.push_back("-uninstall");
    LaunchOptions options;
    ASSERT_TRUE(ParseCommandLine(arguments, options));
    ProgressBar progress_bar(500, 200);
    std::vector<std::string> expected_types;
    for (const auto& step : GetSteps(options, progress_bar)) {
      expected_types.push_back(step->GetAnalyticsRecord()["step_type"]);
    }
    const size_t requests_before = receiver_->request_count();

    FakeWindowHost host;
    host.close_after_frame = 0;
    EXPECT_EQ(RunLauncher(arguments, host, EmbeddedResources()), 0);

    ASSERT_EQ(receiver_->request_count(), requests_before + 1);
    std::vector<std::string> sent_types;
    for (const auto& record : LastUpload()) sent_types.push_back(record["step_type"]);
    EXPECT_EQ(sent_types, expected_types);
  }
  EXPECT_NE(log_.Find("Unexpected response: down for maintenance"), -1);
}
