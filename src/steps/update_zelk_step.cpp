#include "steps/update_zelk_step.h"

#include <imgui.h>

#include <system_error>

#include "network/download.h"
#include "network/release_download.h"
#include "steps/background_task.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"
#include "steps/application_install.h"

namespace fs = std::filesystem;

const char* UpdateZelkStateName(int32_t state) {
  switch (state) {
    case ZelkIsRunning: return "ZelkIsRunning";
    case CheckForUpdate: return "CheckForUpdate";
    case CheckingForUpdate: return "CheckingForUpdate";
    case DownloadingNewVersion: return "DownloadingNewVersion";
    case ExtractingNewVersion: return "ExtractingNewVersion";
    case UpdateFailed: return "UpdateFailed";
    case Repairing: return "Repairing";
  }
  return "";
}

void UpdateZelkStep::Start() {
  BeginStart();
  const fs::path launcher_folder = GetLauncherFolder();
  archive_name_ = launcher_folder / "Zelk.zip";
  application_folder_ = launcher_folder / "Zelk";
  release_check_.emplace(launcher_folder);
  CheckZelkRunning();
}

void UpdateZelkStep::CheckZelkRunning() {
  if (CountRunningInstances("Zelk.exe", false) > 0) {
    state_ = ZelkIsRunning;
    message_ = "Zelk is already running. Exit application and retry";
    return;
  }
  state_ = CheckForUpdate;
  message_.clear();
  if (repair_) state_ = Repairing;
}

void UpdateZelkStep::RunRepair() {
  logger_->info("Repairing Zelk");
  std::error_code error;
  fs::remove_all(application_folder_, error);
  if (error) {
    const std::string text = GetErrorText(error.value());
    logger_->error("Failed to repair by deleting old installation: {}", text);
    record_["result"] = "Failed to repair by deleting old installation: " + text;
    state_ = UpdateFailed;
    message_ = "Repair failed! Please try again later";
    return;
  }
  state_ = CheckForUpdate;
}

int UpdateZelkStep::Update(float dt) {
  AddTime(dt);
  ImGui::NewLine();
  DrawCentredText(message_);

  // A Retry that finds the application gone goes on in the same frame: the repair, when asked
  // for, and the start of the version check do not wait for the next one.
  if (state_ == ZelkIsRunning) {
    const int status = UpdateZelkIsRunning();
    if (state_ == ZelkIsRunning) return status;
  }
  if (state_ == Repairing) {
    RunRepair();
    if (state_ != CheckForUpdate) return Running;
  }

  switch (state_) {
    case ZelkIsRunning:
    case Repairing:
      return Running;  // handled above
    case CheckForUpdate:
      logger_->info("Checking for zelk update");
      version_check_ = std::async(std::launch::async,
                                  [this] { return release_check_->CheckZelkRelease(*logger_); });
      state_ = CheckingForUpdate;
      return Running;
    case CheckingForUpdate:
      return UpdateCheckingForUpdate();
    case DownloadingNewVersion:
      return UpdateDownloading(dt);
    case ExtractingNewVersion:
      return UpdateExtracting(dt);
    case UpdateFailed:
      return UpdateFailedScreen();
  }
  return Running;
}

int UpdateZelkStep::UpdateZelkIsRunning() {
  const ButtonPairClicks clicks = DrawButtonPair("Retry", "Exit");
  if (clicks.left) {
    logger_->debug("User retries update");
    if (CountRunningInstances("Zelk.exe", false) > 0) {
      logger_->debug("Zelk running cant update");
    } else {
      CheckZelkRunning();
    }
  }
  if (clicks.right) {
    logger_->debug("User exits update");
    return Quit;
  }
  return Running;
}

int UpdateZelkStep::UpdateCheckingForUpdate() {
  if (!IsReady(version_check_)) return Running;
  const std::string url = version_check_.get();
  if (url.empty()) return Done;
  state_ = DownloadingNewVersion;
  message_ = "Installing Zelk";
  logger_->info("Downloading new version {}", url);
  download_ = std::async(std::launch::async, [this, url] {
    return DownloadRelease(url, archive_name_.string(), OnDownloadProgress, &download_percent_,
                           {kZelkManifestPath, release_check_->available_version,
                            release_check_->signature_line},
                           *logger_);
  });
  return Running;
}

int UpdateZelkStep::UpdateDownloading(float dt) {
  download_time_ += dt;
  if (IsReady(download_)) {
    if (download_.get()) {
      logger_->info("Download completed");
      message_ = "Installing Zelk";
      state_ = ExtractingNewVersion;
      install_ = std::async(std::launch::async, [this] {
        return InstallApplication(archive_name_, application_folder_,
                                  {*logger_, record_, extract_percent_});
      });
    } else {
      message_ = "Download of new version failed, try again later";
      state_ = UpdateFailed;
    }
  }
  progress_bar_.Draw(download_percent_.load() / 2, dt);
  return Running;
}

int UpdateZelkStep::UpdateExtracting(float dt) {
  extraction_time_ += dt;
  if (IsReady(install_)) {
    if (install_.get()) {
      logger_->info("Extraction completed");
      return Done;
    }
    message_ = "Failed extracting new zelk version";
    state_ = UpdateFailed;
  }
  progress_bar_.Draw(50 + extract_percent_.load() / 2, dt);
  return Running;
}

int UpdateZelkStep::UpdateFailedScreen() {
  if (!DrawBottomButton("Exit")) return Running;
  logger_->error("Update failed {}", message_);
  record_["result"] = "Update failed: " + message_;
  return Quit;
}

nlohmann::json UpdateZelkStep::GetAnalyticsRecord() {
  // A run that ends while a task still runs (the window was closed) waits for it here, so that
  // the record never reads a field the task is still writing.
  WaitUntilFinished(version_check_);
  WaitUntilFinished(download_);
  WaitUntilFinished(install_);
  auto& record = CompleteRecord();
  record["final_state"] = UpdateZelkStateName(state_);
  record["download_time"] = static_cast<double>(download_time_);
  record["extraction_time"] = static_cast<double>(extraction_time_);
  record["old_version"] = release_check_ ? release_check_->installed_version : "";
  record["new_version"] = release_check_ ? release_check_->available_version : "";
  return record;
}
