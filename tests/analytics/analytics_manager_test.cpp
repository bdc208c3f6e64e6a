#include "analytics/analytics_manager.h"

#include <gtest/gtest.h>

#include "analytics_test_env.h"
#include "platform/paths.h"
#include "shell/launcher.h"
#include "support/fake_window_host.h"

using nlohmann::json;

namespace {

// A step that only keeps a record, as a real step does, and returns the statuses it is given
// (then Running).
class RecordingStep final : public StepBase {
 public:
  explicit RecordingStep(std::string type, std::vector<int> statuses = {})
      : StepBase(std::move(type)), statuses_(std::move(statuses)) {}
  int Update(float dt) override {
    AddTime(dt);
    if (next_ < statuses_.size()) return statuses_[next_++];
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

 private:
  std::vector<int> statuses_;
  size_t next_ = 0;
};

const char* const kScriptedTypes[] = {"class FirstStep", "class SecondStep", "class ThirdStep"};
// The statuses of the three steps that ScriptedSteps builds.
std::vector<std::vector<int>> scripted_statuses;

StepList ScriptedSteps(const LaunchOptions&, ProgressBar&) {
  StepList steps;
  for (size_t i = 0; i < 3; ++i) {
    steps.push_back(std::make_unique<RecordingStep>(kScriptedTypes[i], scripted_statuses[i]));
  }
  return steps;
}

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

TEST_F(AnalyticsTest, EveryEndingButQuitWithoutReportReportsEveryStep) {
  const struct {
    std::string name;
    std::vector<std::vector<int>> statuses;
    int close_after_frame;
    int exit_code;
    size_t started;  // 0 for no report
  } cases[] = {
      {"all done", {{Done}, {Done}, {Done}}, -1, 0, 3},
      {"quit", {{Quit}, {}, {}}, -1, 0, 1},
      {"quit with error", {{Done}, {Running, QuitWithError}, {}}, -1, 1, 2},
      {"window closed", {{Done}, {}, {}}, 3, 0, 2},
      {"quit without report", {{Done}, {QuitWithoutReport}, {}}, -1, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(config_folder());
    scripted_statuses = c.statuses;
    const size_t requests_before = receiver_->request_count();
    const int first_line = static_cast<int>(log_.lines().size());
    FakeWindowHost host;
    host.close_after_frame = c.close_after_frame;
    int shutdowns_at_upload = -1;
    on_post = [&] { shutdowns_at_upload = host.shutdowns; };

    EXPECT_EQ(RunLauncher({"/opt/ZelkLauncher.exe"}, host, EmbeddedResources(), ScriptedSteps),
              c.exit_code);

    if (c.started == 0) {
      EXPECT_EQ(receiver_->request_count(), requests_before);
      EXPECT_FALSE(std::filesystem::exists(config_folder())) << "the store is not touched";
      EXPECT_EQ(log_.Find("class AnalyticsManager", first_line), -1);
      continue;
    }
    ASSERT_EQ(receiver_->request_count(), requests_before + 1);
    const auto records = LastUpload();
    ASSERT_EQ(records.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(records[i]["step_type"], kScriptedTypes[i]);
      EXPECT_EQ(records[i].contains("result"), i < c.started) << i;
    }
    EXPECT_EQ(shutdowns_at_upload, 0) << "the report is made before the GUI is torn down";
  }
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
