// The launcher's shortcuts: "Zelk Go" on the user's desktop for a fresh installation, "Repair"
// ("-repair") and "Uninstall" ("-uninstall") in the launcher folder, refreshed on every installed
// run; an old desktop "Zelk Core" is moved onto the new name. An existing shortcut is never
// replaced.
#pragma once

#include <spdlog/logger.h>

#include <filesystem>

inline constexpr const char* kDesktopShortcutName = "Zelk Go";
inline constexpr const char* kOldDesktopShortcutName = "Zelk Core";

// Writes the shortcuts to `target` (the installed ZelkLauncher.exe) with `working_folder` (the
// installed launcher folder): the desktop one only with `create_desktop_shortcut`, the repair and
// uninstall ones in `base_folder`/ZelkGoLauncher. Logs each outcome to `logger`. False only when
// the desktop shortcut was asked for and not written; no failure stops the other shortcuts.
bool CreateLauncherShortcuts(const std::filesystem::path& target,
                             const std::filesystem::path& working_folder,
                             bool create_desktop_shortcut,
                             const std::filesystem::path& base_folder, spdlog::logger& logger);

// Deletes "Zelk Go" from the user's desktop; a missing shortcut or desktop folder is no error.
void RemoveDesktopShortcut(spdlog::logger& logger);
