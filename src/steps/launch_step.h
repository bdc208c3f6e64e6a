// The last step of a normal run: starts Zelk.exe from the application folder, shows
// "Launching zelk..." for five seconds of wall-clock time and is done. When the application
// cannot be started it shows "Could not launch Zelk" and quits on "Exit".
#pragma once

#include <cstdint>

#include "shell/step.h"

class LaunchZelkStep final : public StepBase {
 public:
  LaunchZelkStep() : StepBase("class LaunchZelkStep") {}

  int Update(float dt) override;
  void Start() override;
  nlohmann::json GetAnalyticsRecord() override;

 private:
  int64_t launch_deadline_ = 0;  // wall-clock milliseconds
  bool launch_failed_ = false;
};
