#include "steps/launch_step.h"

#include <imgui.h>

#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"
#include "shell/screen_kit.h"

namespace {
constexpr int64_t kLaunchScreenMs = 5000;
}

void LaunchZelkStep::Start() {
  BeginStart();
  logger_->info("Starting launch step");
  launch_deadline_ = WallClockMs() + kLaunchScreenMs;

  const auto application_folder = GetLauncherFolder() / "Zelk";
  const auto application = application_folder / "Zelk.exe";
  if (StartProcess(application, {}, application_folder)) {
    logger_->info("Started Zelk {} {}", application.string(), application_folder.string());
    return;
  }
  const std::string error = GetLastErrorText();
  logger_->error("Could not start Zelk {} {}. Error: {}", application.string(),
                 application_folder.string(), error);
  record_["result"] = "Could not start Zelk";
  launch_failed_ = true;
}

int LaunchZelkStep::Update(float dt) {
  AddTime(dt);
  ImGui::NewLine();
  if (launch_failed_) {
    DrawCentredText("Could not launch Zelk");
    return DrawBottomButton("Exit") ? Quit : Running;
  }
  DrawCentredText("Launching zelk...");
  if (WallClockMs() > launch_deadline_) {
    logger_->info("Exiting launch step");
    return Done;
  }
  return Running;
}

nlohmann::json LaunchZelkStep::GetAnalyticsRecord() {
  auto& record = CompleteRecord();
  record["launch_failed"] = launch_failed_;
  return record;
}
