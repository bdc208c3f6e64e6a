// Keeps the launcher itself current: checks the launcher manifest and, when it names another
// version, downloads the new executable into ZelkLauncher.tmp, starts a detached helper that
// swaps it in after this process has gone and restarts it with "-updated", and ends the run
// without a report. A run started with "-updated" never updates again; a manifest that cannot be
// read, a failed download or a helper that cannot start end on a failure screen.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "network/release_check.h"
#include "shell/screen_kit.h"
#include "shell/step.h"

enum class SelfUpdateState : int32_t {
  CheckingForUpdate,
  DownloadingNewVersion,
  Updated,
  UpdateFailed,
};

const char* SelfUpdateStateName(SelfUpdateState state);

// The helper's argument list: a constant shell script that waits 4 seconds, makes the download
// executable, renames it over the launcher and starts the launcher with "-updated" (and
// "-skipautoproxy"); the paths travel as the script's own arguments, never inside its text.
std::vector<std::string> RestartCommand(const std::filesystem::path& download,
                                        const std::filesystem::path& launcher,
                                        bool skip_auto_proxy);
// The command as it will run, for the log: each argument quoted for a POSIX shell.
std::string DescribeCommand(const std::vector<std::string>& command);
// Logs the command and starts the helper detached, in `launcher_folder`; true when its process
// exists. False, with the cause logged at error level, for an empty `launcher` or a helper that
// cannot start (a missing folder, no shell).
bool RestartAfterUpdate(const std::filesystem::path& download, const std::filesystem::path& launcher,
                        const std::filesystem::path& launcher_folder, bool skip_auto_proxy,
                        spdlog::logger& logger);

class SelfUpdateStep final : public StepBase {
 public:
  SelfUpdateStep(bool allow_update, ProgressBar& progress_bar)
      : StepBase("class SelfUpdateStep"), allow_update_(allow_update), progress_bar_(progress_bar) {}
  ~SelfUpdateStep() override = default;  // the futures of std::async wait for their tasks

  int Update(float dt) override;
  void Start() override;
  // Waits for a task that still runs before reading what it writes.
  nlohmann::json GetAnalyticsRecord() override;

 private:
  int UpdateCheckingForUpdate();
  int UpdateDownloading(float dt);
  bool HoldsDownloadedLauncher();
  int UpdateRestart();
  int UpdateFailedScreen();

  const std::string fetch_failed_marker_{kCouldNotFetchUpdate};
  // In the launcher folder, whatever the working folder of the run.
  std::filesystem::path download_path_;
  SelfUpdateState state_ = SelfUpdateState::CheckingForUpdate;
  std::future<std::string> version_check_;
  std::string download_url_;
  std::future<bool> download_;
  std::string message_;
  bool allow_update_;
  ProgressBar& progress_bar_;
  std::atomic<int32_t> download_percent_{0};
  float download_time_ = 0;
  // Written by the version check task; holds available_version.
  LauncherReleaseCheck release_check_;
};
