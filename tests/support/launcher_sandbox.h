// A user profile of its own for one run of the real launcher: a fresh HOME with XDG_DATA_HOME,
// XDG_CONFIG_HOME and a Desktop folder, and helpers that lay out the two places a user starts the
// launcher from: a download folder and the installed launcher folder.
#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "support/temp_folder.h"

class LauncherSandbox {
 public:
  LauncherSandbox();

  const std::filesystem::path& root() const { return folder_.path(); }
  std::filesystem::path home() const { return folder_ / "home"; }
  std::filesystem::path data_home() const { return home() / ".local" / "share"; }
  std::filesystem::path config_home() const { return home() / ".config"; }
  std::filesystem::path desktop() const { return home() / "Desktop"; }
  std::filesystem::path download_folder() const { return folder_ / "download"; }
  // $XDG_DATA_HOME/Programs/ZelkGoLauncher
  std::filesystem::path installed_folder() const;
  // installed_folder()/Zelk
  std::filesystem::path application_folder() const { return installed_folder() / "Zelk"; }
  // Where the stand-in application writes down how it was started (ZELK_FIXTURE_RECORD).
  std::filesystem::path fixture_record() const { return folder_ / "fixture_record.txt"; }

  // HOME, XDG_DATA_HOME, XDG_CONFIG_HOME, ZELK_FIXTURE_RECORD.
  std::map<std::string, std::string> Environment() const;

  // A copy of the built launcher in download_folder(); returns its path.
  std::filesystem::path PlaceDownload() const;
  // The installed layout: ZelkLauncher.exe and the installed_zelk marker in installed_folder(),
  // and the application (a copy of the fixture program as Zelk/Zelk.exe) with Zelk/version.txt
  // holding `version`. Returns the launcher's path.
  std::filesystem::path PlaceInstalled(const std::string& version) const;

 private:
  TempFolder folder_;
};

// Copies `from` to `to` with mode 0755, creating the folders on the way.
void CopyExecutable(const std::filesystem::path& from, const std::filesystem::path& to);
