// Makes sure the application folder holds the release server's current application before the
// launch step starts it: refuses while Zelk.exe runs (Retry / Exit), deletes the application
// first on "-repair", checks the application manifest and, when the installed version differs,
// downloads the archive and installs it with a progress bar. Ends with Done (the launch step
// follows) or, after a failure or the user's Exit, with Quit.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <future>
#include <optional>
#include <string>

#include "network/release_check.h"
#include "shell/screen_kit.h"
#include "shell/step.h"

enum UpdateZelkState : int32_t {
  ZelkIsRunning = 0,
  CheckForUpdate = 1,
  CheckingForUpdate = 2,
  DownloadingNewVersion = 3,
  ExtractingNewVersion = 4,
  UpdateFailed = 5,
  Repairing = 6,
};

// "final_state" texts; empty for a value outside the enumeration.
const char* UpdateZelkStateName(int32_t state);

class UpdateZelkStep final : public StepBase {
 public:
  UpdateZelkStep(ProgressBar& progress_bar, bool repair)
      : StepBase("class UpdateZelkStep"), progress_bar_(progress_bar), repair_(repair) {}
  // Waits for a task that still runs (the futures of std::async do).
  ~UpdateZelkStep() override = default;

  int Update(float dt) override;
  void Start() override;
  // Waits for a task that still runs before reading what it writes.
  nlohmann::json GetAnalyticsRecord() override;

 private:
  void CheckZelkRunning();
  void RunRepair();
  int UpdateZelkIsRunning();
  int UpdateCheckingForUpdate();
  int UpdateDownloading(float dt);
  int UpdateExtracting(float dt);
  int UpdateFailedScreen();

  // The archive lands in the launcher folder, whatever the working folder of the run.
  std::filesystem::path archive_name_;
  std::filesystem::path application_folder_;
  int32_t state_ = CheckForUpdate;
  std::future<std::string> version_check_;
  std::future<bool> download_;
  std::future<bool> install_;
  std::string message_;
  ProgressBar& progress_bar_;
  std::atomic<int32_t> download_percent_{0};
  std::atomic<int32_t> extract_percent_{0};
  bool repair_;
  float download_time_ = 0;
  float extraction_time_ = 0;
  // Written by the version check task; holds installed_version and available_version.
  std::optional<ZelkReleaseCheck> release_check_;
};
