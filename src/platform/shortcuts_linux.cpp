// Linux shortcuts: desktop entries written with O_CREAT | O_EXCL, so an existing entry is never
// replaced, and the icon PNG beside the target.
#include "platform/shortcuts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>

#include "platform/desktop_entry.h"
#include "platform/files.h"

namespace fs = std::filesystem;

namespace {

int32_t FromErrno(int error) {
  return static_cast<int32_t>(0x80070000u | (static_cast<uint32_t>(error) & 0xFFFFu));
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

}  // namespace

std::string ShortcutFileName(std::string_view name) { return std::string(name) + ".desktop"; }

fs::path ShortcutIconPath(const fs::path& target) {
  return target.parent_path() / (target.stem().string() + ".png");
}

int32_t CreateShortcutFile(const fs::path& target, const fs::path& shortcut_file,
                           std::string_view description, const fs::path& working_folder,
                           const std::vector<std::string>& arguments) {
  struct stat existing;
  if (lstat(shortcut_file.c_str(), &existing) == 0) return kShortcutExists;

  DesktopEntry entry;
  entry.name = shortcut_file.stem().string();
  entry.comment = std::string(description);
  entry.command.push_back(target.string());
  entry.command.insert(entry.command.end(), arguments.begin(), arguments.end());
  entry.working_folder = working_folder.string();
  entry.icon = ShortcutIconPath(target).string();
  const std::optional<std::string> text = FormatDesktopEntry(entry);
  if (!text) return FromErrno(EILSEQ);

  // O_EXCL also refuses an entry that appeared since the test above, and never follows a link.
  const int fd = open(shortcut_file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0755);
  if (fd < 0) return errno == EEXIST ? kShortcutExists : FromErrno(errno);
  if (!WriteAll(fd, *text) || fchmod(fd, 0755) != 0) {
    const int error = errno;
    close(fd);
    unlink(shortcut_file.c_str());
    return FromErrno(error);
  }
  if (close(fd) != 0) {
    const int error = errno;
    unlink(shortcut_file.c_str());
    return FromErrno(error);
  }
  return 0;
}

bool InstallShortcutIcon(const fs::path& target, std::span<const unsigned char> png) {
  const fs::path icon = ShortcutIconPath(target);
  std::ifstream current(icon, std::ios::binary);
  const std::string held((std::istreambuf_iterator<char>(current)), std::istreambuf_iterator<char>());
  if (held.size() == png.size() && std::equal(png.begin(), png.end(), held.begin(),
                                              [](unsigned char a, char b) {
                                                return a == static_cast<unsigned char>(b);
                                              })) {
    return true;
  }
  return WriteFileReplacing(icon, png, 0644);
}
