#include "steps/uninstall_step.h"

#include <imgui.h>

#include <system_error>

#include "platform/delayed_removal.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"
#include "shell/console.h"
#include "shell/options.h"
#include "steps/shortcuts.h"

namespace fs = std::filesystem;

namespace {

constexpr float kProgressPhaseSeconds = 2.0f;
constexpr unsigned kRemovalDelaySeconds = 3;

// Only the install step writes the marker, and only into the installed launcher folder.
bool IsInstalledLauncherFolder(const fs::path& folder) {
  std::error_code error;
  return !folder.empty() && fs::exists(fs::symlink_status(folder / "installed_zelk", error));
}

}  // namespace

void UninstallZelkStep::Start() {
  BeginStart();
  message_ = "Uninstalling Zelk...";
  progress_ = 0;
  const fs::path launcher_folder = GetLauncherFolder();
  if (!IsInstalledLauncherFolder(launcher_folder)) {
    logger_->warn("Not uninstalling {}: no installed_zelk, so it is no installed launcher folder",
                  launcher_folder.string());
    state_ = NotInstalled;
    message_ = "Only an installed Zelk Launcher can be uninstalled";
    return;
  }
  if (CountRunningInstances("Zelk.exe", false) != 0) {
    state_ = ApplicationRunning;
    message_ = "Zelk is already running. Exit application and retry";
  }
}

int UninstallZelkStep::Update(float dt) {
  AddTime(dt);
  if (state_ == Completing) completion_wait_ += dt;
  // The line held at the start of the frame: a change below shows from the next frame on.
  DrawCentredText(message_);
  switch (state_) {
    case AwaitingConfirmation:
      return UpdateAwaitingConfirmation();
    case RemovingShortcut:
      RemoveDesktopShortcut(*logger_);
      state_ = Completing;
      progress_ = 100;
      return UpdateCompleting(dt);
    case Completing:
      return UpdateCompleting(dt);
    case ApplicationRunning:
      return UpdateApplicationRunning();
    case NotInstalled:
      return UpdateNotInstalled();
    default:
      return Running;
  }
}

nlohmann::json UninstallZelkStep::GetAnalyticsRecord() { return CompleteRecord(); }

int UninstallZelkStep::UpdateAwaitingConfirmation() {
  if (SilentMode) {
    state_ = RemovingShortcut;
    return Running;
  }
  message_ = "Clicking \"Uninstall\" will delete all files in the following folder:";
  DrawCentredText(GetLauncherFolder().string());
  DrawCentredText("If you do not want this, please click \"Cancel\"");
  const ButtonPairClicks clicks = DrawButtonPair("Uninstall", "Cancel");
  if (clicks.left) state_ = RemovingShortcut;
  if (clicks.right) {
    logger_->debug("User exit");
    return Quit;
  }
  return Running;
}

int UninstallZelkStep::UpdateCompleting(float dt) {
  if (!SilentMode && completion_wait_ < kProgressPhaseSeconds) {
    progress_bar_.Draw(progress_, dt);
    return Running;
  }
  message_ = "Uninstall will complete when you click the \"Exit\" button!";
  if (!SilentMode && !DrawBottomButton("Exit")) return Running;
  if (ScheduleFolderRemoval()) {
    WriteOutcome("Uninstall successful");
    return Quit;
  }
  WriteOutcome("Uninstall failed. Check the launcher log file for further details");
  return QuitWithError;
}

int UninstallZelkStep::UpdateApplicationRunning() {
  if (SilentMode) {
    WriteOutcome("Failed to uninstall because zelk is currently running");
    return QuitWithError;
  }
  return DrawBottomButton("Exit") ? Quit : Running;
}

int UninstallZelkStep::UpdateNotInstalled() {
  if (SilentMode) {
    WriteOutcome("Uninstall failed. Only an installed Zelk Launcher can be uninstalled");
    return QuitWithError;
  }
  DrawCentredText("This copy is not installed, so nothing was deleted");
  return DrawBottomButton("Exit") ? Quit : Running;
}

bool UninstallZelkStep::ScheduleFolderRemoval() {
  const fs::path launcher_folder = GetLauncherFolder();
  // Checked again right before: the removal takes everything in the folder.
  if (!IsInstalledLauncherFolder(launcher_folder)) {
    logger_->error("Not removing {}: no installed_zelk", launcher_folder.string());
    return false;
  }
  if (!StartDelayedTreeRemoval(launcher_folder, kRemovalDelaySeconds)) {
    const std::string error = GetLastErrorText();
    logger_->error("Failed starting the removal of {}. Error: {}", launcher_folder.string(),
                   error);
    return false;
  }
  logger_->debug("Scheduled the removal of {}", launcher_folder.string());
  return true;
}
