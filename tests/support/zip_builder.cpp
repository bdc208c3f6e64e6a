#include "support/zip_builder.h"

#include <zip.h>

#include <stdexcept>

ZipBuilder& ZipBuilder::File(std::string name, std::string content, std::optional<unsigned> mode,
                             std::time_t modified) {
  entries_.push_back({std::move(name), std::move(content), mode ? std::optional(0100000u | *mode) : std::nullopt,
                      modified, false});
  return *this;
}

ZipBuilder& ZipBuilder::Folder(std::string name) {
  entries_.push_back({std::move(name), "", 040755u, 0, true});
  return *this;
}

ZipBuilder& ZipBuilder::Symlink(std::string name, std::string target) {
  entries_.push_back({std::move(name), std::move(target), 0120777u, 0, false});
  return *this;
}

void ZipBuilder::Write(const std::filesystem::path& path) const {
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (archive == nullptr) throw std::runtime_error("zip_open failed");
  for (const auto& entry : entries_) {
    zip_int64_t index = -1;
    if (entry.folder) {
      index = zip_dir_add(archive, entry.name.c_str(), ZIP_FL_ENC_UTF_8);
    } else {
      zip_source_t* source = zip_source_buffer(archive, entry.content.data(), entry.content.size(), 0);
      index = zip_file_add(archive, entry.name.c_str(), source, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
      if (index < 0) zip_source_free(source);
    }
    if (index < 0) throw std::runtime_error("zip add failed for " + entry.name);
    const auto i = static_cast<zip_uint64_t>(index);
    if (entry.mode) {
      zip_file_set_external_attributes(archive, i, 0, ZIP_OPSYS_UNIX, *entry.mode << 16);
    } else {
      zip_file_set_external_attributes(archive, i, 0, ZIP_OPSYS_DOS, 0);
    }
    if (entry.modified != 0) zip_file_set_mtime(archive, i, entry.modified, 0);
  }
  if (zip_close(archive) != 0) {
    zip_discard(archive);
    throw std::runtime_error("zip_close failed");
  }
}
