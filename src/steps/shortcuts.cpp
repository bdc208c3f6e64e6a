#include "steps/shortcuts.h"

#include <string>
#include <system_error>
#include <vector>

#include "platform/paths.h"
#include "platform/resources.h"
#include "platform/shortcuts.h"

namespace fs = std::filesystem;

namespace {

// The repair and uninstall shortcuts are only logged at warning when they cannot be written:
// on every installed run after the first they already exist.
bool WriteShortcut(const fs::path& target, const fs::path& shortcut_file,
                   std::string_view description, const fs::path& working_folder,
                   const std::vector<std::string>& arguments, spdlog::level::level_enum failure_level,
                   spdlog::logger& logger) {
  if (CreateShortcutFile(target, shortcut_file, description, working_folder, arguments) >= 0) {
    logger.debug("Created shortcut {}", shortcut_file.string());
    return true;
  }
  logger.log(failure_level, "Failed creating shortcut {}", shortcut_file.string());
  return false;
}

void RenameOldDesktopShortcut(const fs::path& desktop, spdlog::logger& logger) {
  const fs::path old_shortcut = desktop / ShortcutFileName(kOldDesktopShortcutName);
  std::error_code error;
  const fs::file_status status = fs::symlink_status(old_shortcut, error);
  if (error && error != std::errc::no_such_file_or_directory) {
    logger.debug("Failed to rename old shortcut to new name. Error: {}", error.message());
    return;
  }
  if (!fs::exists(status)) return;
  // Replaces a "Zelk Go" written just before: the user's old shortcut wins.
  fs::rename(old_shortcut, desktop / ShortcutFileName(kDesktopShortcutName), error);
  if (error) {
    logger.debug("Failed to rename old shortcut to new name. Error: {}", error.message());
  } else {
    logger.debug("Successfully renamed old shortcut to new name");
  }
}

}  // namespace

bool CreateLauncherShortcuts(const fs::path& target, const fs::path& working_folder,
                             bool create_desktop_shortcut, const fs::path& base_folder,
                             spdlog::logger& logger) {
  if (const auto logo = EmbeddedResources().Find(ResourceId::Logo)) {
    if (!InstallShortcutIcon(target, *logo)) {
      logger.warn("Failed writing shortcut icon {}", ShortcutIconPath(target).string());
    }
  }

  bool desktop_written = true;
  if (const std::optional<fs::path> desktop = GetDesktopFolder()) {
    if (create_desktop_shortcut) {
      desktop_written = WriteShortcut(target, *desktop / ShortcutFileName(kDesktopShortcutName),
                                      "Shortcut to Zelk", working_folder, {}, spdlog::level::err,
                                      logger);
    }
    RenameOldDesktopShortcut(*desktop, logger);
  } else {
    logger.debug("Could not get desktop path");
  }

  const fs::path launcher_folder = base_folder / "ZelkGoLauncher";
  WriteShortcut(target, launcher_folder / ShortcutFileName("Repair"), "Repair shortcut for Zelk",
                working_folder, {"-repair"}, spdlog::level::warn, logger);
  WriteShortcut(target, launcher_folder / ShortcutFileName("Uninstall"),
                "Uninstall shortcut for Zelk", working_folder, {"-uninstall"}, spdlog::level::warn,
                logger);
  return desktop_written;
}

void RemoveDesktopShortcut(spdlog::logger& logger) {
  const std::optional<fs::path> desktop = GetDesktopFolder();
  if (!desktop) return;
  const fs::path shortcut = *desktop / ShortcutFileName(kDesktopShortcutName);
  std::error_code error;
  fs::remove(shortcut, error);
  if (error && error != std::errc::no_such_file_or_directory) {
    logger.warn("Failed removing shortcut {}. Error: {}", shortcut.string(), error.message());
  }
}
