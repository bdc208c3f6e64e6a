#include "steps/install_step.h"

#include <imgui.h>

#include <system_error>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"
#include "shell/console.h"
#include "shell/options.h"
#include "shell/screen_kit.h"
#include "steps/shortcuts.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kMultipleLaunchersText =
    "Multiple zelk launchers cannot run at the same time.\n"
    "Make sure to exit any existing launchers before trying again";
constexpr const char* kInstallFailureText =
    "Install failure. Check the launcher log file for further error information";

const char* FinalStateName(int32_t state) {
  switch (state) {
    case InstallStep::AlreadyInstalled: return "AlreadyInstalled";
    case InstallStep::InstallationRequired: return "InstallationRequired";
    case InstallStep::InstallationSuccessful: return "InstallationSuccessful";
    case InstallStep::InstallationFailed: return "InstallationFailed";
    default: return "";
  }
}

// Any entry of that name counts, a folder or a dangling link too.
bool EntryExists(const fs::path& path) {
  std::error_code error;
  return fs::exists(fs::symlink_status(path, error));
}

}  // namespace

void InstallStep::Start() {
  BeginStart();
  logger_->debug("Starting install step");
  // This launcher counts as one of them.
  if (CountRunningInstances("ZelkLauncher.exe", true) >= 2) {
    logger_->error("Launcher instance is already running");
    state_ = AnotherInstanceRunning;
    return;
  }
  state_ = EntryExists(GetLauncherFolder() / "installed_zelk") ? AlreadyInstalled
                                                                : InstallationRequired;
}

int InstallStep::Update(float dt) {
  AddTime(dt);
  switch (state_) {
    case AlreadyInstalled:
      logger_->debug("Already installed");
      RefreshShortcuts();
      return SilentMode ? Quit : Done;
    case InstallationRequired:
      return UpdateInstallationRequired();
    case InstallationSuccessful:
      return UpdateInstallationSuccessful();
    case InstallationFailed:
      return UpdateInstallationFailed();
    case AnotherInstanceRunning:
      return UpdateAnotherInstanceRunning();
    default:
      return Running;
  }
}

nlohmann::json InstallStep::GetAnalyticsRecord() {
  auto& record = CompleteRecord();
  record["final_state"] = FinalStateName(state_);
  return record;
}

int InstallStep::UpdateInstallationRequired() {
  DrawCentredText("Hi");
  ImGui::NewLine();
  DrawCentredText("Let's install the Zelk Launcher");

  const ImVec2 window = ImGui::GetWindowSize();
  ImGui::SetCursorPosY(window.y - 75);
  bool install = SilentMode;
  if (!SilentMode) {
    ImGui::SetCursorPosX(100);
    install = ImGui::Button("Install", ImVec2(100, 30));
    ImGui::SameLine(window.x - 200, -1.0f);
  } else {
    ImGui::SetCursorPosX(window.x - 200);
  }
  // The attempt changes the state; the new screen shows from the next frame on.
  const int32_t state_before = state_;
  if (install) AttemptInstall();
  const bool exit = ImGui::Button("Exit", ImVec2(100, 30));
  if (exit) {
    logger_->debug("User exit");
    return Quit;
  }
  // Unattended, an install folder that cannot be had would be tried again in every frame, for
  // ever, with nothing said: the run ends as a failed installation instead.
  if (SilentMode && install && state_ == state_before) {
    record_["result"] = "Failed creating the install folder";
    WriteOutcome(kInstallFailureText);
    return QuitWithError;
  }
  return Running;
}

void InstallStep::AttemptInstall() {
  logger_->debug("User selects install");
  base_folder_ = GetInstallBaseFolder();
  if (base_folder_.empty()) return;
  installed_executable_ = CopyLauncherFiles();
  state_ = installed_executable_.empty() ? InstallationFailed : InstallationSuccessful;
}

int InstallStep::UpdateInstallationSuccessful() {
  ImGui::NewLine();
  DrawCentredText("Zelk Launcher installation successful");
  DrawCentredText("Start Zelk Launcher");
  const bool launch = SilentMode || DrawBottomButton("Launch");
  if (!launch) return Running;
  WriteOutcome("Install success");
  if (SilentMode) return Quit;
  return StartInstalledLauncher(installed_executable_, base_folder_) ? Quit : Running;
}

int InstallStep::UpdateInstallationFailed() {
  ImGui::NewLine();
  DrawCentredText("Zelk Launcher installation failed");
  const bool exit = SilentMode || DrawBottomButton("Exit");
  if (!exit) return Running;
  WriteOutcome(kInstallFailureText);
  logger_->debug("User exit");
  return QuitWithError;
}

int InstallStep::UpdateAnotherInstanceRunning() {
  ImGui::NewLine();
  DrawCentredText(kMultipleLaunchersText);
  const bool exit = SilentMode || DrawBottomButton("Exit");
  if (!exit) return Running;
  WriteOutcome(kMultipleLaunchersText);
  return QuitWithError;
}

fs::path InstallStep::GetInstallBaseFolder() {
  const std::optional<fs::path> data_folder = GetLocalAppDataFolder();
  if (!data_folder) {
    logger_->debug("Could not get appdata folder");
    return {};
  }
  const fs::path base = *data_folder / "Programs";
  std::error_code error;
  const fs::file_status status = fs::status(base, error);
  if (error && error != std::errc::no_such_file_or_directory) {
    // The folder cannot even be looked at (no permission on the data folder): as good as missing
    // and not creatable.
    logger_->debug("Could not get create programs folder {}", base.string());
    return {};
  }
  // An entry of that name that is not a folder makes the copy fail, with the failure screen.
  if (fs::exists(status)) return base;
  // One level only: the data folder itself exists by now.
  if (!fs::create_directory(base, error)) {
    logger_->debug("Could not get create programs folder {}", base.string());
    return {};
  }
  return base;
}

fs::path InstallStep::CopyLauncherFiles() {
  const fs::path launcher_folder = base_folder_ / "ZelkGoLauncher";
  std::error_code error;
  fs::create_directory(launcher_folder, error);

  const fs::path source = GetLauncherPath();
  const fs::path target = launcher_folder / "ZelkLauncher.exe";
  const fs::path marker = launcher_folder / "installed_zelk";
  const bool copied = !source.empty() && CopyFileReplacing(source, target);
  if (copied && CreateEmptyFile(marker)) {
    logger_->debug("Installed {} and {}", target.string(), marker.string());
    CreateShortcuts(target, launcher_folder, true);
    return target;
  }
  logger_->error("Failed copying files {} and {}", target.string(), marker.string());
  record_["result"] = "Failed copying files";
  return {};
}

bool InstallStep::StartInstalledLauncher(const fs::path& installed_executable,
                                         const fs::path& base_folder) {
  const fs::path working_folder = base_folder / "ZelkGoLauncher";
  if (StartProcess(installed_executable, {}, working_folder)) {
    logger_->debug("Created restart process {} {}", installed_executable.string(),
                   working_folder.string());
    return true;
  }
  logger_->error("Failed creating restart process {} {}", installed_executable.string(),
                 working_folder.string());
  record_["result"] = "Failed creating the restart process";
  return false;
}

void InstallStep::RefreshShortcuts() {
  base_folder_ = GetLauncherParentFolder();
  const fs::path launcher_folder = base_folder_ / "ZelkGoLauncher";
  CreateShortcuts(launcher_folder / "ZelkLauncher.exe", launcher_folder, false);
}

void InstallStep::CreateShortcuts(const fs::path& target, const fs::path& working_folder,
                                  bool create_desktop_shortcut) {
  if (!CreateLauncherShortcuts(target, working_folder, create_desktop_shortcut, base_folder_,
                               *logger_)) {
    record_["result"] = "Failed to create one or more shortcuts";
  }
}
