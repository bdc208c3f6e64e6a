// Linux folders: /proc/self/exe for the launcher's own path, the XDG base directory variables
// and user-dirs.dirs for the user's folders.
#include "platform/paths.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::optional<fs::path> HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') return std::nullopt;
  return fs::path(home);
}

// $NAME when set and absolute, else $HOME/fallback.
std::optional<fs::path> XdgFolder(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  if (value != nullptr && value[0] == '/') return fs::path(value);
  auto home = HomeFolder();
  if (!home) return std::nullopt;
  return *home / fallback;
}

// One line of user-dirs.dirs: XDG_DESKTOP_DIR="$HOME/Desktop" -> ~/Desktop. Only "$HOME/..." and
// absolute paths are valid values there.
std::optional<fs::path> ParseUserDirsValue(std::string value) {
  if (value.size() < 2 || value.front() != '"' || value.back() != '"') return std::nullopt;
  value = value.substr(1, value.size() - 2);
  std::string unescaped;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) ++i;
    unescaped += value[i];
  }
  if (unescaped.rfind("$HOME", 0) == 0) {
    auto home = HomeFolder();
    if (!home) return std::nullopt;
    std::string rest = unescaped.substr(5);
    if (!rest.empty() && rest.front() != '/') return std::nullopt;
    return fs::path(home->string() + rest);
  }
  if (!unescaped.empty() && unescaped.front() == '/') return fs::path(unescaped);
  return std::nullopt;
}

}  // namespace

fs::path GetLauncherPath() {
  std::vector<char> buffer(260);
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0) return {};
    if (static_cast<size_t>(length) < buffer.size()) {
      std::string path(buffer.data(), static_cast<size_t>(length));
      // The kernel marks a running file that was removed or renamed over (an update swapped in
      // while this copy runs) with " (deleted)"; the launcher's path is still the original one.
      const std::string_view deleted = " (deleted)";
      std::error_code error;
      if (path.ends_with(deleted) && !fs::exists(path, error)) path.resize(path.size() - deleted.size());
      return fs::path(path);
    }
    buffer.resize(buffer.size() + 260);
  }
}

fs::path GetLauncherFolder() { return GetLauncherPath().parent_path(); }

fs::path GetLauncherParentFolder() { return GetLauncherFolder().parent_path(); }

std::optional<fs::path> GetLocalAppDataFolder() {
  auto folder = XdgFolder("XDG_DATA_HOME", ".local/share");
  if (!folder) return std::nullopt;
  std::error_code error;
  fs::create_directories(*folder, error);
  if (!fs::is_directory(*folder, error)) return std::nullopt;
  return folder;
}

std::optional<fs::path> GetConfigFolder() { return XdgFolder("XDG_CONFIG_HOME", ".config"); }

std::optional<fs::path> GetDesktopFolder() {
  std::optional<fs::path> desktop;
  if (auto config = GetConfigFolder()) {
    std::ifstream dirs(*config / "user-dirs.dirs");
    std::string line;
    while (std::getline(dirs, line)) {
      const std::string key = "XDG_DESKTOP_DIR=";
      if (line.rfind(key, 0) == 0) desktop = ParseUserDirsValue(line.substr(key.size()));
    }
  }
  if (!desktop) {
    auto home = HomeFolder();
    if (!home) return std::nullopt;
    desktop = *home / "Desktop";
  }
  std::error_code error;
  if (!fs::is_directory(*desktop, error)) return std::nullopt;
  return desktop;
}
