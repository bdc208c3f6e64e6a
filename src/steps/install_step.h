// The first step of every run but an uninstall. An installed launcher (installed_zelk beside it)
// refreshes its repair and uninstall shortcuts and passes on without drawing anything. Any other
// copy shows the install screen: "Install" copies it into Programs/ZelkGoLauncher in the user's
// data folder with the marker and the shortcuts, and "Launch" starts the installed copy and ends
// the run. A second launcher started from the same file is refused.
#pragma once

#include <cstdint>
#include <filesystem>

#include "shell/step.h"

class InstallStep final : public StepBase {
 public:
  // The names are what the record reports as "final_state".
  enum InstallState : int32_t {
    AnotherInstanceRunning = 0,  // ""
    AlreadyInstalled = 1,        // "AlreadyInstalled"
    InstallationRequired = 2,    // "InstallationRequired"
    InstallationSuccessful = 3,  // "InstallationSuccessful"
    InstallationFailed = 4,      // "InstallationFailed"
  };

  InstallStep() : StepBase("class InstallStep") {}

  int Update(float dt) override;
  void Start() override;
  nlohmann::json GetAnalyticsRecord() override;

 private:
  int UpdateInstallationRequired();
  int UpdateInstallationSuccessful();
  int UpdateInstallationFailed();
  int UpdateAnotherInstanceRunning();
  void AttemptInstall();

  // "Programs" in the user's data folder, created (one level) when missing; empty on failure.
  std::filesystem::path GetInstallBaseFolder();
  // Copies the running executable and writes the marker into ZelkGoLauncher in the base folder,
  // then the shortcuts; the installed executable, or empty on failure.
  std::filesystem::path CopyLauncherFiles();
  bool StartInstalledLauncher(const std::filesystem::path& installed_executable,
                              const std::filesystem::path& base_folder);
  void RefreshShortcuts();
  void CreateShortcuts(const std::filesystem::path& target,
                       const std::filesystem::path& working_folder, bool create_desktop_shortcut);

  int32_t state_ = InstallationRequired;
  std::filesystem::path base_folder_;
  std::filesystem::path installed_executable_;
};
