// The per-user value store on Linux: key "Software\Nuvak\Zelk" is the folder
// $XDG_CONFIG_HOME/Nuvak/Zelk (default ~/.config/Nuvak/Zelk), and each value is a file there
// holding the text as UTF-8 without a line break. An open key is an open folder descriptor.
// Values are written to a temporary file that is synced and then renamed over the value.
// Not implemented: value types other than text, deleting values or keys.
#include "platform/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <vector>

#include "platform/paths.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

// No value this store writes comes near this; a bigger file is not one of ours.
constexpr off_t kMaxValueSize = 1024 * 1024;

// One folder or file name: not empty, not "." or "..", no '/' and no NUL.
bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

// The folder of a key, or an errno value: ENOENT without a configuration folder, EINVAL for a
// key path with an empty, relative or otherwise unusable component.
std::optional<fs::path> KeyFolder(RegistryHive, std::wstring_view key_path, int& error) {
  auto folder = GetConfigFolder();
  if (!folder) {
    error = ENOENT;
    return std::nullopt;
  }
  std::vector<std::string> names;
  size_t start = 0;
  for (;;) {
    const size_t end = key_path.find(L'\\', start);
    names.push_back(ToUtf8(key_path.substr(start, end == std::wstring_view::npos ? end : end - start)));
    if (end == std::wstring_view::npos) break;
    start = end + 1;
  }
  if (!names.empty() && names.front() == "Software") names.erase(names.begin());
  for (const auto& name : names) {
    if (!IsPlainName(name)) {
      error = EINVAL;
      return std::nullopt;
    }
    *folder /= name;
  }
  return folder;
}

int OpenFolder(const fs::path& folder, intptr_t& handle) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  handle = fd;
  return 0;
}

// Creates each missing folder of `folder` with mode 0700.
int CreateFolders(const fs::path& folder) {
  fs::path partial;
  for (const auto& part : folder) {
    partial /= part;
    struct stat status;
    if (stat(partial.c_str(), &status) == 0) {
      if (S_ISDIR(status.st_mode)) continue;
      return ENOTDIR;
    }
    if (mkdir(partial.c_str(), 0700) != 0) return errno;
  }
  return 0;
}

int WriteAll(int fd, const std::string& bytes) {
  size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    written += static_cast<size_t>(n);
  }
  return 0;
}

}  // namespace

RegistryKey::~RegistryKey() { Close(); }

RegistryKey::RegistryKey(RegistryKey&& other) noexcept
    : handle_(other.handle_), folder_(std::move(other.folder_)) {
  other.handle_ = -1;
}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    folder_ = std::move(other.folder_);
    other.handle_ = -1;
  }
  return *this;
}

int RegistryKey::SetString(std::wstring_view value_name, std::wstring_view data) {
  if (!IsOpen()) return EBADF;
  const std::string name = ToUtf8(value_name);
  if (!IsPlainName(name)) return EINVAL;

  std::string temporary = (folder_ / ("." + name + ".XXXXXX")).string();
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);  // mode 0600: the value is the user's own
  if (fd < 0) return errno;
  int error = WriteAll(fd, ToUtf8(data));
  if (error == 0 && fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && rename(temporary.c_str(), (folder_ / name).c_str()) != 0) error = errno;
  if (error != 0) unlink(temporary.c_str());
  return error;
}

int RegistryKey::Close() {
  if (!IsOpen()) return 0;
  const int fd = static_cast<int>(handle_);
  handle_ = -1;
  int error = 0;
  // Makes a rename into the folder durable. Some file systems cannot sync a folder (EINVAL);
  // their renames are as durable as they get.
  if (fsync(fd) != 0 && errno != EINVAL) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  return error;
}

int RegistryOpenKey(RegistryHive hive, std::wstring_view key_path, RegistryKey& key) {
  int error = 0;
  const auto folder = KeyFolder(hive, key_path, error);
  if (!folder) return error;
  RegistryKey opened;
  if (const int status = OpenFolder(*folder, opened.handle_); status != 0) return status;
  opened.folder_ = *folder;
  key = std::move(opened);
  return 0;
}

int RegistryCreateKey(RegistryHive hive, std::wstring_view key_path, RegistryKey& key) {
  int error = 0;
  const auto folder = KeyFolder(hive, key_path, error);
  if (!folder) return error;
  if (const int status = CreateFolders(*folder); status != 0) return status;
  return RegistryOpenKey(hive, key_path, key);
}

int RegistryGetString(RegistryHive hive, std::wstring_view key_path, std::wstring_view value_name,
                      std::wstring& data) {
  int error = 0;
  const auto folder = KeyFolder(hive, key_path, error);
  if (!folder) return error;
  const std::string name = ToUtf8(value_name);
  if (!IsPlainName(name)) return EINVAL;

  // Non-blocking, so that a pipe in the value's place cannot stall the launcher.
  const int fd = open((*folder / name).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return errno;
  struct stat status;
  if (fstat(fd, &status) != 0) {
    error = errno;
  } else if (S_ISDIR(status.st_mode)) {
    error = EISDIR;
  } else if (!S_ISREG(status.st_mode)) {
    error = EINVAL;
  } else if (status.st_size > kMaxValueSize) {
    error = EFBIG;
  }
  std::string bytes;
  char buffer[4096];
  while (error == 0) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
    } else if (n == 0) {
      break;
    } else if (bytes.size() + static_cast<size_t>(n) > static_cast<size_t>(kMaxValueSize)) {
      error = EFBIG;
    } else {
      bytes.append(buffer, static_cast<size_t>(n));
    }
  }
  close(fd);
  if (error != 0) return error;
  data = FromUtf8(bytes);
  return 0;
}
