// Linux files: a temporary file from mkostemp in the target's folder, renamed over the target.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>

namespace fs = std::filesystem;

namespace {

// Keeps errno across the clean-up calls of a failure path.
class ErrnoKeeper {
 public:
  ErrnoKeeper() : saved_(errno) {}
  ~ErrnoKeeper() { errno = saved_; }

 private:
  int saved_;
};

bool WriteAll(int fd, const unsigned char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// Creates a temporary file beside `target`, lets `fill` write it, sets `mode`, flushes it to disk
// and renames it onto `target`.
bool ReplaceThroughTemporary(const fs::path& target, unsigned mode,
                             const std::function<bool(int fd)>& fill) {
  std::string temporary = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX"))
                              .string();
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = fill(fd) && fchmod(fd, static_cast<mode_t>(mode)) == 0 && fsync(fd) == 0;
  if (!written) {
    ErrnoKeeper keep;
    close(fd);
    unlink(temporary.c_str());
    return false;
  }
  if (close(fd) != 0 || rename(temporary.c_str(), target.c_str()) != 0) {
    ErrnoKeeper keep;
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace

bool CopyFileReplacing(const fs::path& source, const fs::path& target) {
  const int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  const bool copied = ReplaceThroughTemporary(target, 0755, [in](int out) {
    unsigned char buffer[64 * 1024];
    for (;;) {
      const ssize_t got = read(in, buffer, sizeof buffer);
      if (got == 0) return true;
      if (got < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      if (!WriteAll(out, buffer, static_cast<size_t>(got))) return false;
    }
  });
  ErrnoKeeper keep;
  close(in);
  return copied;
}

bool WriteFileReplacing(const fs::path& target, std::span<const unsigned char> bytes,
                        unsigned mode) {
  return ReplaceThroughTemporary(
      target, mode, [bytes](int out) { return WriteAll(out, bytes.data(), bytes.size()); });
}

bool CreateEmptyFile(const fs::path& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  return close(fd) == 0;
}
