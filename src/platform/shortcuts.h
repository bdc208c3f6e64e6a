// Shortcut files that start a program from the desktop or a file manager. On Linux a shortcut is
// a freedesktop desktop entry (NAME.desktop).
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// CreateShortcutFile's result codes, as the shell's link object gives them: 0 or more is success.
inline constexpr int32_t kShortcutExists = static_cast<int32_t>(0x80004005);  // E_FAIL
// Other failures are 0x80070000 | errno (the system error wrapped as a result code).

// The file name of a shortcut called `name`: "Zelk Go" -> "Zelk Go.desktop".
std::string ShortcutFileName(std::string_view name);

// Writes a shortcut at `shortcut_file` that starts `target` with `arguments` in `working_folder`,
// shows `description` as its comment, the file's stem as its name, and the target's own icon
// (ShortcutIconPath). The file is created exclusively with mode 0755: whatever already exists at
// that path (a file, a folder, a dangling link) is left untouched and the result is
// kShortcutExists.
int32_t CreateShortcutFile(const std::filesystem::path& target,
                           const std::filesystem::path& shortcut_file,
                           std::string_view description,
                           const std::filesystem::path& working_folder,
                           const std::vector<std::string>& arguments);

// The icon that shortcuts to `target` show. On Linux an executable carries no icon a desktop can
// read, so it is a PNG beside it: ".../ZelkLauncher.exe" -> ".../ZelkLauncher.png".
std::filesystem::path ShortcutIconPath(const std::filesystem::path& target);

// Puts `png` at ShortcutIconPath(target) unless that file already holds exactly these bytes.
// False with errno set when it cannot be written.
bool InstallShortcutIcon(const std::filesystem::path& target, std::span<const unsigned char> png);
