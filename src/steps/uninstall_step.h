// The only step of a "-uninstall" run. It asks the user to confirm, deletes the desktop shortcut,
// shows a short progress phase and, on "Exit", has a detached process remove the whole launcher
// folder 3 seconds later, once this launcher has ended. It refuses while Zelk.exe runs, and for a
// launcher folder without the installed_zelk marker (a downloaded copy), whose folder is not the
// launcher's to delete.
#pragma once

#include <cstdint>
#include <string>

#include "shell/screen_kit.h"
#include "shell/step.h"

class UninstallZelkStep final : public StepBase {
 public:
  enum UninstallState : int32_t {
    AwaitingConfirmation = 0,  // the confirmation screen
    RemovingShortcut = 1,      // delete the desktop shortcut (one frame)
    Completing = 2,            // progress phase, then the exit screen
    ApplicationRunning = 3,    // Zelk.exe runs: refused
    NotInstalled = 4,          // no installed_zelk beside the launcher: refused
  };

  explicit UninstallZelkStep(ProgressBar& progress_bar)
      : StepBase("class UninstallZelkStep"), progress_bar_(progress_bar) {}

  int Update(float dt) override;
  void Start() override;
  nlohmann::json GetAnalyticsRecord() override;

 private:
  int UpdateAwaitingConfirmation();
  int UpdateCompleting(float dt);
  int UpdateApplicationRunning();
  int UpdateNotInstalled();
  // True when the removal process was started.
  bool ScheduleFolderRemoval();

  ProgressBar& progress_bar_;
  int32_t state_ = AwaitingConfirmation;
  std::string message_;
  int32_t progress_ = 0;
  float completion_wait_ = 0;
};
