#include "steps/application_install.h"

#include <zip.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <system_error>
#include <vector>

#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

struct ZipCloser {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct ZipFileCloser {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};

constexpr size_t kCopyBufferSize = 1 << 20;
constexpr uint32_t kUnixFileTypeMask = 0170000;
constexpr uint32_t kUnixSymbolicLink = 0120000;

struct EntryMode {
  bool symbolic_link = false;
  std::optional<fs::perms> permissions;  // only for archives made on a Unix system
};

EntryMode ReadEntryMode(zip_t* archive, zip_uint64_t index) {
  EntryMode mode;
  zip_uint8_t system = 0;
  zip_uint32_t attributes = 0;
  if (zip_file_get_external_attributes(archive, index, 0, &system, &attributes) != 0 ||
      system != ZIP_OPSYS_UNIX) {
    return mode;
  }
  const uint32_t unix_mode = attributes >> 16;
  mode.symbolic_link = (unix_mode & kUnixFileTypeMask) == kUnixSymbolicLink;
  // Only the permission bits: never set-user-ID, set-group-ID or sticky.
  if ((unix_mode & 0777) != 0) mode.permissions = static_cast<fs::perms>(unix_mode & 0777);
  return mode;
}

// Streams one entry into `target` through `buffer`. False, with the reason in `error`, when the
// entry's data cannot be read (a damaged archive: a bad local header, bad compressed data, a CRC
// mismatch) or the file cannot be written. Either would leave a broken file behind a result that
// says the application is installed.
bool WriteEntry(zip_t* archive, zip_uint64_t index, const fs::path& target,
                std::vector<char>& buffer, std::string& error) {
  std::unique_ptr<zip_file_t, ZipFileCloser> entry(zip_fopen_index(archive, index, 0));
  if (!entry) {
    error = std::string("cannot read it from the archive: ") + zip_strerror(archive);
    return false;
  }
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  if (!out) {
    error = GetLastErrorText();
    return false;
  }
  for (;;) {
    const zip_int64_t read = zip_fread(entry.get(), buffer.data(), buffer.size());
    if (read == 0) break;
    if (read < 0) {
      error = std::string("cannot read it from the archive: ") + zip_file_strerror(entry.get());
      return false;
    }
    if (!out.write(buffer.data(), read)) {
      error = GetLastErrorText();
      return false;
    }
  }
  out.close();
  if (out.fail()) {
    error = GetLastErrorText();
    return false;
  }
  return true;
}

void ApplyEntryMetadata(const fs::path& target, const zip_stat_t& stat, const EntryMode& mode,
                        bool is_application) {
  std::error_code ignored;
  if (stat.valid & ZIP_STAT_MTIME) {
    const auto modified = std::chrono::system_clock::from_time_t(stat.mtime);
    fs::last_write_time(target, std::chrono::file_clock::from_sys(modified), ignored);
  }
  if (mode.permissions) {
    fs::permissions(target, *mode.permissions, ignored);
  } else if (is_application) {
    // An archive made on a system without Unix modes records none; the application must still
    // be startable.
    fs::permissions(target, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec,
                    ignored);
  }
}

}  // namespace

std::optional<fs::path> ArchiveEntryPath(std::string_view name) {
  if (name.empty() || name.front() == '/') return std::nullopt;
  fs::path relative;
  size_t start = 0;
  while (start <= name.size()) {
    const size_t slash = name.find('/', start);
    const std::string_view part =
        name.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
    if (part == "..") return std::nullopt;
    if (!part.empty() && part != ".") relative /= fs::path(part);
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  if (relative.empty()) return std::nullopt;
  if (name.back() == '/') relative /= "";
  return relative;
}

bool ExtractArchive(const fs::path& archive_path, const fs::path& destination,
                    ArchiveInstallContext context) {
  int open_error = 0;
  std::unique_ptr<zip_t, ZipCloser> archive(zip_open(archive_path.c_str(), ZIP_RDONLY, &open_error));
  if (!archive) return false;

  const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
  if (count <= 0) {
    archive.reset();
    context.logger.error("Downloaded zip contains no files");
    context.record["result"] = "Downloaded zip contains no files";
    return false;
  }

  // One buffer for the whole archive: the entries are streamed through it.
  std::vector<char> buffer(kCopyBufferSize);
  std::optional<zip_uint64_t> version_entry;
  const auto extract = [&](zip_uint64_t index, const zip_stat_t& stat, const fs::path& target,
                           const EntryMode& mode) {
    std::error_code error;
    fs::create_directories(target.parent_path(), error);
    if (error) {
      context.logger.error("Failed to create folder {} for {}: {}", target.parent_path().string(),
                           stat.name, error.message());
      return false;
    }
    if (std::string_view(stat.name).ends_with('/')) return true;
    std::string write_error;
    if (!WriteEntry(archive.get(), index, target, buffer, write_error)) {
      context.logger.error("Failed to unpack {} into {}: {}", SanitizeUtf8(stat.name),
                           target.string(), write_error);
      return false;
    }
    ApplyEntryMetadata(target, stat, mode, target == destination / "Zelk.exe");
    return true;
  };

  const auto n = static_cast<zip_uint64_t>(count);
  for (zip_uint64_t i = 0; i < n; ++i) {
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive.get(), i, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_NAME)) continue;

    const bool encrypted = (stat.valid & ZIP_STAT_ENCRYPTION_METHOD) &&
                           stat.encryption_method != ZIP_EM_NONE;
    const bool unsupported = (stat.valid & ZIP_STAT_COMP_METHOD) &&
                             !zip_compression_method_supported(stat.comp_method, 0);
    const EntryMode mode = ReadEntryMode(archive.get(), i);
    const auto relative = ArchiveEntryPath(stat.name);
    if (!relative || mode.symbolic_link) {
      context.logger.error("Skipping archive entry {}: it leads outside the application folder",
                           SanitizeUtf8(stat.name));
    } else if (!encrypted && !unsupported) {
      if (*relative == "version.txt") {
        version_entry = i;
      } else if (!extract(i, stat, destination / *relative, mode)) {
        return false;
      }
    }
    context.extract_percent.store(
        static_cast<int32_t>(static_cast<float>(i) / static_cast<float>(n) * 100.0f));
  }

  if (version_entry) {
    zip_stat_t stat;
    zip_stat_init(&stat);
    zip_stat_index(archive.get(), *version_entry, 0, &stat);
    if (!extract(*version_entry, stat, destination / "version.txt",
                 ReadEntryMode(archive.get(), *version_entry))) {
      return false;
    }
  }
  return true;
}

bool InstallApplication(const fs::path& archive, const fs::path& application_folder,
                        ArchiveInstallContext context) {
  std::error_code error;
  fs::remove_all(application_folder, error);
  if (error) {
    const std::string text = GetErrorText(error.value());
    context.logger.error("Failed to delete old installation: {}", text);
    context.record["result"] = "Failed to delete old installation: " + text;
    return false;
  }
  if (!fs::create_directory(application_folder, error)) {
    const std::string text = GetErrorText(error ? error.value() : EEXIST);
    context.logger.error("Failed to create zelk installation directory");
    context.record["result"] = "Failed to create zelk installation directory: " + text;
    return false;
  }

  const bool unpacked = ExtractArchive(archive, application_folder, context);

  // A missing archive (nothing to delete) is no failure.
  if (!fs::remove(archive, error) && error) {
    const std::string text = GetErrorText(error.value());
    context.logger.error("Failed to delete zip file {}", text);
    context.record["result"] = "Failed to delete zip file: " + text;
  }
  return unpacked;
}
