#include "steps/self_update_step.h"

#include <imgui.h>

#include "network/download.h"
#include "network/release_download.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"
#include "shell/options.h"
#include "steps/background_task.h"

namespace fs = std::filesystem;

namespace {

// $1: the downloaded file, $2: the launcher, then the options for the restarted launcher. Each
// command runs whatever the one before it did: a failed rename still restarts the old launcher.
constexpr const char* kRestartScript =
    "sleep 4; chmod 0755 -- \"$1\"; mv -f -- \"$1\" \"$2\"; launcher=$2; shift 2; "
    "exec \"$launcher\" -updated \"$@\"";

}  // namespace

const char* SelfUpdateStateName(SelfUpdateState state) {
  switch (state) {
    case SelfUpdateState::CheckingForUpdate: return "CheckingForUpdate";
    case SelfUpdateState::DownloadingNewVersion: return "DownloadingNewVersion";
    case SelfUpdateState::Updated: return "Updated";
    case SelfUpdateState::UpdateFailed: return "UpdateFailed";
  }
  return "";
}

std::vector<std::string> RestartCommand(const fs::path& download, const fs::path& launcher,
                                        bool skip_auto_proxy) {
  std::vector<std::string> command{"/bin/sh", "-c", kRestartScript, "sh", download.string(),
                                   launcher.string()};
  if (skip_auto_proxy) command.push_back("-skipautoproxy");
  return command;
}

std::string DescribeCommand(const std::vector<std::string>& command) {
  std::string text;
  for (const auto& argument : command) {
    if (!text.empty()) text += ' ';
    text += '\'';
    for (char c : argument) text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    text += '\'';
  }
  return text;
}

bool RestartAfterUpdate(const fs::path& download, const fs::path& launcher,
                        const fs::path& launcher_folder, bool skip_auto_proxy,
                        spdlog::logger& logger) {
  // Without its own path the launcher could neither be replaced nor restarted: the run would
  // end with nothing coming back.
  if (launcher.empty()) {
    logger.error("Could not read the launcher's own path");
    return false;
  }
  const std::vector<std::string> command = RestartCommand(download, launcher, skip_auto_proxy);
  logger.info("Restarting after update {}", DescribeCommand(command));
  if (!StartProcess(command[0], {command.begin() + 1, command.end()}, launcher_folder)) {
    logger.error("Could not start the restart command: {}", GetLastErrorText());
    return false;
  }
  return true;
}

void SelfUpdateStep::Start() {
  BeginStart();
  download_path_ = GetLauncherFolder() / "ZelkLauncher.tmp";
  logger_->debug("Starting self update step");
  logger_->info("Checking for updated launcher");
  if (allow_update_) logger_->debug("Update is allowed");
  version_check_ = std::async(std::launch::async, [this] {
    return release_check_.CheckLauncherRelease(*logger_, record_);
  });
  state_ = SelfUpdateState::CheckingForUpdate;
  message_.clear();
}

int SelfUpdateStep::Update(float dt) {
  AddTime(dt);
  ImGui::NewLine();
  DrawCentredText(message_);
  switch (state_) {
    case SelfUpdateState::CheckingForUpdate:
      return UpdateCheckingForUpdate();
    case SelfUpdateState::DownloadingNewVersion:
      return UpdateDownloading(dt);
    case SelfUpdateState::Updated:
      return UpdateRestart();
    case SelfUpdateState::UpdateFailed:
      return UpdateFailedScreen();
  }
  return Running;
}

int SelfUpdateStep::UpdateCheckingForUpdate() {
  if (!IsReady(version_check_)) return Running;
  download_url_ = version_check_.get();
  if (download_url_ == fetch_failed_marker_) {
    state_ = SelfUpdateState::UpdateFailed;
    message_ = "Failed to update. Please try again later...";
    return Running;
  }
  if (download_url_.empty()) return Done;
  if (!allow_update_) {
    message_ = "We should already be up to date!!";
    state_ = SelfUpdateState::UpdateFailed;
    return Running;
  }
  state_ = SelfUpdateState::DownloadingNewVersion;
  message_ = "Installing Zelk Launcher";
  logger_->info("Downloading new version {}", download_url_);
  download_ = std::async(std::launch::async, [this] {
    return DownloadRelease(download_url_, download_path_.string(), OnDownloadProgress,
                           &download_percent_,
                           {kLauncherManifestPath, release_check_.available_version,
                            release_check_.signature_line},
                           *logger_);
  });
  return Running;
}

int SelfUpdateStep::UpdateDownloading(float dt) {
  download_time_ += dt;
  if (IsReady(download_)) {
    if (download_.get() && HoldsDownloadedLauncher()) {
      message_ = "Installing Zelk Launcher";
      state_ = SelfUpdateState::Updated;
    } else {
      message_ = "Download of new version failed, try again later";
      state_ = SelfUpdateState::UpdateFailed;
    }
  }
  progress_bar_.Draw(download_percent_.load(), dt);
  return Running;
}

// An empty answer with status 200 (a misconfigured mirror) would leave the user with an empty
// launcher file and nothing to start; it counts as a failed download, and the launcher stays.
// A file that cannot be looked at is left to the helper, whose failed rename keeps the launcher.
bool SelfUpdateStep::HoldsDownloadedLauncher() {
  std::error_code error;
  if (fs::file_size(download_path_, error) != 0 || error) return true;
  logger_->error("Downloaded launcher {} is empty", download_path_.string());
  return false;
}

int SelfUpdateStep::UpdateRestart() {
  if (RestartAfterUpdate(download_path_, GetLauncherPath(), GetLauncherFolder(), SkipAutoProxy,
                         *logger_)) {
    return QuitWithoutReport;
  }
  state_ = SelfUpdateState::UpdateFailed;
  message_ = "Could not start the application";
  return Running;
}

int SelfUpdateStep::UpdateFailedScreen() {
  if (!DrawBottomButton("Exit")) return Running;
  logger_->error("Update failed {}", message_);
  record_["result"] = "Update Failed!";
  return Quit;
}

nlohmann::json SelfUpdateStep::GetAnalyticsRecord() {
  WaitUntilFinished(version_check_);
  WaitUntilFinished(download_);
  auto& record = CompleteRecord();
  record["final_state"] = SelfUpdateStateName(state_);
  record["old_version"] = std::string(LauncherVersion);
  record["new_version"] = release_check_.available_version;
  record["allow_update"] = allow_update_;
  record["download_time"] = static_cast<double>(download_time_);
  return record;
}
