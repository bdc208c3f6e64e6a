#include "support/launcher_sandbox.h"

namespace fs = std::filesystem;

LauncherSandbox::LauncherSandbox() {
  fs::create_directories(data_home());
  fs::create_directories(config_home());
  fs::create_directories(desktop());
}

fs::path LauncherSandbox::installed_folder() const {
  return data_home() / "Programs" / "ZelkGoLauncher";
}

std::map<std::string, std::string> LauncherSandbox::Environment() const {
  return {{"HOME", home().string()},
          {"XDG_DATA_HOME", data_home().string()},
          {"XDG_CONFIG_HOME", config_home().string()},
          {"ZELK_FIXTURE_RECORD", fixture_record().string()}};
}

fs::path LauncherSandbox::PlaceDownload() const {
  const fs::path launcher = download_folder() / "ZelkLauncher.exe";
  CopyExecutable(ZELK_LAUNCHER_EXE, launcher);
  return launcher;
}

fs::path LauncherSandbox::PlaceInstalled(const std::string& version) const {
  const fs::path launcher = installed_folder() / "ZelkLauncher.exe";
  CopyExecutable(ZELK_LAUNCHER_EXE, launcher);
  WriteFile(installed_folder() / "installed_zelk", "");
  CopyExecutable(ZELK_FIXTURE_APP_EXE, application_folder() / "Zelk.exe");
  WriteFile(application_folder() / "version.txt", version + "\n");
  return launcher;
}

void CopyExecutable(const fs::path& from, const fs::path& to) {
  fs::create_directories(to.parent_path());
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                          fs::perms::others_read | fs::perms::others_exec);
}
