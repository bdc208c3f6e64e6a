// Where the running launcher lives, and the user's folders that it installs into.
#pragma once

#include <filesystem>
#include <optional>

// Full path of the running launcher executable; empty if it cannot be read.
std::filesystem::path GetLauncherPath();
// The folder that holds the running launcher executable ("/" for a launcher at the root).
std::filesystem::path GetLauncherFolder();
// The folder that holds the launcher folder.
std::filesystem::path GetLauncherParentFolder();

// The user's local application-data folder ($XDG_DATA_HOME when set and absolute, else
// ~/.local/share), created when missing; nothing when neither can be formed or created.
std::optional<std::filesystem::path> GetLocalAppDataFolder();
// The user's desktop (XDG_DESKTOP_DIR from user-dirs.dirs, else ~/Desktop); nothing when that
// folder does not exist.
std::optional<std::filesystem::path> GetDesktopFolder();
// The user's configuration folder ($XDG_CONFIG_HOME when set and absolute, else ~/.config);
// not created. Nothing when neither can be formed.
std::optional<std::filesystem::path> GetConfigFolder();
