// Writes ZIP archives for tests with libzip: files with Unix modes, folders, symbolic links and
// names that a careful unpacker must refuse.
#pragma once

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

class ZipBuilder {
 public:
  // `mode` is a Unix mode (e.g. 0755); without one the entry records no Unix attributes.
  ZipBuilder& File(std::string name, std::string content, std::optional<unsigned> mode = 0644,
                   std::time_t modified = 0);
  ZipBuilder& Folder(std::string name);
  ZipBuilder& Symlink(std::string name, std::string target);
  // Throws when libzip fails.
  void Write(const std::filesystem::path& path) const;

 private:
  struct Entry {
    std::string name;
    std::string content;
    std::optional<unsigned> mode;
    std::time_t modified;
    bool folder;
  };
  std::vector<Entry> entries_;
};
