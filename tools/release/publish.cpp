#include "publish.h"

#include <zip.h>

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <vector>

#include "network/release_signature.h"
#include "signing.h"
#include "tool_error.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kZelkManifest = "/core/ZelkRelease.txt";
constexpr std::string_view kLauncherManifest = "/core/LauncherRelease.txt";

void CheckCommon(const PublishOptions& options) {
  if (!IsPublishableVersion(options.version)) {
    throw ToolError("version \"" + options.version +
                    "\" is not publishable: use 1 to 64 letters, digits, '.', '_', '+' or '-'");
  }
  if (!options.base_url.starts_with("https://") && !options.base_url.starts_with("http://")) {
    throw ToolError("the base URL must start with https:// or http://: " + options.base_url);
  }
  if (options.private_key && !fs::is_regular_file(*options.private_key)) {
    throw ToolError("no private key at " + options.private_key->string());
  }
}

// The first line of a file as the launcher reads version.txt: up to the line feed, without a
// carriage return before it.
std::string FirstLineOf(const fs::path& file) {
  std::ifstream stream(file, std::ios::binary);
  std::string line;
  std::getline(stream, line);
  if (!stream.eof() && line.ends_with('\r')) line.pop_back();
  return line;
}

void WriteFileAtomically(const fs::path& target, std::string_view content) {
  fs::create_directories(target.parent_path());
  const fs::path temporary = target.string() + ".partial";
  {
    std::ofstream stream(temporary, std::ios::binary | std::ios::trunc);
    stream.write(content.data(), static_cast<std::streamsize>(content.size()));
    stream.close();
    if (!stream) throw ToolError("cannot write " + temporary.string());
  }
  fs::rename(temporary, target);
}

std::string ManifestText(std::string_view manifest_path, const PublishOptions& options,
                         const std::string& url, const fs::path& file) {
  std::string text = options.version + "\n" + url + "\n";
  if (options.private_key) {
    const std::string sha256 = Sha256OfFile(file);
    const std::string signature = SignWithKeyFile(
        *options.private_key, ReleaseStatement(manifest_path, options.version, sha256));
    text += FormatSignatureLine(sha256, signature) + "\n";
  }
  return text;
}

Published WriteManifest(std::string_view manifest_path, const PublishOptions& options,
                        const std::string& relative_file) {
  Published published;
  published.file = options.release_folder / relative_file;
  published.url = JoinUrl(options.base_url, relative_file);
  published.manifest = options.release_folder / fs::path(manifest_path).relative_path();
  published.manifest_text = ManifestText(manifest_path, options, published.url, published.file);
  WriteFileAtomically(published.manifest, published.manifest_text);
  return published;
}

struct ArchiveEntry {
  fs::path path;       // on disk
  std::string name;    // in the archive, '/'-separated; folders end with '/'
  bool folder = false;
  mode_t mode = 0;     // permission bits
  time_t modified = 0;
};

std::vector<ArchiveEntry> CollectEntries(const fs::path& folder) {
  std::vector<ArchiveEntry> entries;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator();
       ++it) {
    const fs::path& path = it->path();
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) throw ToolError("cannot read " + path.string());
    ArchiveEntry entry;
    entry.path = path;
    entry.name = fs::relative(path, folder).generic_string();
    entry.mode = info.st_mode & 0777;
    entry.modified = info.st_mtime;
    if (S_ISDIR(info.st_mode)) {
      entry.folder = true;
      entry.name += '/';
    } else if (!S_ISREG(info.st_mode)) {
      throw ToolError(path.string() + " is a symbolic link or special file; the launcher only "
                      "unpacks files and folders");
    }
    entries.push_back(std::move(entry));
  }
  std::sort(entries.begin(), entries.end(),
            [](const ArchiveEntry& a, const ArchiveEntry& b) { return a.name < b.name; });
  return entries;
}

struct ZipCloser {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};

void SetEntryMode(zip_t* archive, zip_int64_t index, mode_t type, mode_t mode, time_t modified,
                  const std::string& name) {
  const zip_uint32_t attributes = static_cast<zip_uint32_t>(type | mode) << 16;
  if (zip_file_set_external_attributes(archive, static_cast<zip_uint64_t>(index), 0,
                                       ZIP_OPSYS_UNIX, attributes) != 0 ||
      zip_file_set_mtime(archive, static_cast<zip_uint64_t>(index), modified, 0) != 0) {
    throw ToolError("cannot store the mode of " + name + ": " + zip_strerror(archive));
  }
}

void WriteArchive(const fs::path& target, const std::vector<ArchiveEntry>& entries,
                  const std::optional<std::string>& added_version_file) {
  fs::create_directories(target.parent_path());
  const fs::path temporary = target.string() + ".partial";
  int error = 0;
  std::unique_ptr<zip_t, ZipCloser> archive(
      zip_open(temporary.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error));
  if (!archive) throw ToolError("cannot create " + temporary.string());

  for (const ArchiveEntry& entry : entries) {
    zip_int64_t index = -1;
    if (entry.folder) {
      index = zip_dir_add(archive.get(), entry.name.c_str(), ZIP_FL_ENC_UTF_8);
    } else {
      zip_source_t* source = zip_source_file(archive.get(), entry.path.c_str(), 0, -1);
      if (source != nullptr) {
        index = zip_file_add(archive.get(), entry.name.c_str(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) zip_source_free(source);
      }
    }
    if (index < 0) throw ToolError("cannot add " + entry.name + ": " + zip_strerror(archive.get()));
    SetEntryMode(archive.get(), index, entry.folder ? S_IFDIR : S_IFREG, entry.mode, entry.modified,
                 entry.name);
  }
  if (added_version_file) {
    zip_source_t* source = zip_source_buffer(archive.get(), added_version_file->data(),
                                             added_version_file->size(), 0);
    const zip_int64_t index =
        source == nullptr ? -1 : zip_file_add(archive.get(), "version.txt", source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
      if (source != nullptr) zip_source_free(source);
      throw ToolError(std::string("cannot add version.txt: ") + zip_strerror(archive.get()));
    }
    SetEntryMode(archive.get(), index, S_IFREG, 0644, time(nullptr), "version.txt");
  }
  // zip_close reads the files and writes the archive; on success it also frees the handle.
  if (zip_close(archive.get()) != 0) {
    throw ToolError("cannot write " + temporary.string() + ": " + zip_strerror(archive.get()));
  }
  archive.release();
  fs::rename(temporary, target);
}

}  // namespace

bool IsPublishableVersion(std::string_view version) {
  if (version.empty() || version.size() > 64 || version.front() == '.') return false;
  return std::all_of(version.begin(), version.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '.' || c == '_' || c == '+' || c == '-';
  });
}

std::string JoinUrl(std::string_view base, std::string_view relative) {
  while (base.ends_with('/')) base.remove_suffix(1);
  return std::string(base) + "/" + std::string(relative);
}

Published PackApplication(const PublishOptions& options) {
  CheckCommon(options);
  const fs::path& folder = options.source;
  if (!fs::is_directory(folder)) throw ToolError(folder.string() + " is not a folder");
  if (!fs::is_regular_file(fs::symlink_status(folder / "Zelk.exe"))) {
    throw ToolError(folder.string() + " holds no Zelk.exe: not an application folder");
  }
  std::optional<std::string> added_version_file;
  const fs::path version_file = folder / "version.txt";
  if (fs::exists(fs::symlink_status(version_file))) {
    const std::string first_line = FirstLineOf(version_file);
    if (first_line != options.version) {
      throw ToolError(version_file.string() + " says \"" + first_line + "\", not \"" +
                      options.version + "\": the launcher would install the archive on every run");
    }
  } else {
    added_version_file = options.version + "\n";
  }

  const std::vector<ArchiveEntry> entries = CollectEntries(folder);
  const std::string relative = "zelk/Zelk-" + options.version + ".zip";
  WriteArchive(options.release_folder / relative, entries, added_version_file);
  return WriteManifest(kZelkManifest, options, relative);
}

Published PublishLauncher(const PublishOptions& options) {
  CheckCommon(options);
  if (!fs::is_regular_file(options.source)) {
    throw ToolError(options.source.string() + " is not a launcher executable");
  }
  const std::string relative = "launcher/ZelkLauncher-" + options.version + ".exe";
  const fs::path target = options.release_folder / relative;
  fs::create_directories(target.parent_path());
  const fs::path temporary = target.string() + ".partial";
  fs::copy_file(options.source, temporary, fs::copy_options::overwrite_existing);
  fs::permissions(temporary, static_cast<fs::perms>(0755));
  fs::rename(temporary, target);
  return WriteManifest(kLauncherManifest, options, relative);
}
