// Publishing into a release folder, the tree that `zelk-release serve` (or any static HTTPS
// server) serves as it is:
//
//   core/ZelkRelease.txt        <version> \n <base>/zelk/Zelk-<version>.zip \n [signature line \n]
//   core/LauncherRelease.txt    <version> \n <base>/launcher/ZelkLauncher-<version>.exe \n [...]
//   zelk/Zelk-<version>.zip
//   launcher/ZelkLauncher-<version>.exe
//
// Each file is written under a temporary name and renamed into place, the manifest last, so a
// server never hands out a half-written file or a manifest that points to nothing.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

struct PublishOptions {
  std::filesystem::path source;          // the application folder, or the launcher executable
  std::string version;
  std::filesystem::path release_folder;
  std::string base_url;                  // what the release folder is served as, e.g. https://host:port
  std::optional<std::filesystem::path> private_key;  // signs the release (manifest line 3)
};

struct Published {
  std::filesystem::path manifest;
  std::filesystem::path file;  // the archive or the executable, in the release folder
  std::string url;             // manifest line 2
  std::string manifest_text;
};

// A version the tool publishes: 1 to 64 characters of letters, digits, '.', '_', '+' and '-',
// not starting with '.'. The launcher compares versions as opaque texts; this keeps them usable
// as file names and manifest lines.
bool IsPublishableVersion(std::string_view version);
// `base` without trailing slashes, "/" and `relative`.
std::string JoinUrl(std::string_view base, std::string_view relative);

// `zelk-release pack`: the application folder must hold Zelk.exe; a version.txt in it must have
// `version` as its first line, and one is added to the archive when the folder has none. Files
// keep their Unix permission bits and modification times; folders are stored as entries too.
// Symbolic links and special files are refused (the launcher would not unpack them).
Published PackApplication(const PublishOptions& options);

// `zelk-release launcher`: copies the executable into the release folder (mode 0755) and writes
// the launcher manifest.
Published PublishLauncher(const PublishOptions& options);
