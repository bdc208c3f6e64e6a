// Putting a downloaded application archive in place: the old application folder goes, a fresh one
// is created and the archive is unpacked into it entry by entry, then the archive is deleted.
// Both run on the application update step's install task and log through its logger; a failure
// writes its text into the step's record "result".
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>
#include <spdlog/logger.h>

// What the install task shares with its step. The step outlives the task and reads `record` only
// after the task has delivered its result; `extract_percent` is read every frame.
struct ArchiveInstallContext {
  spdlog::logger& logger;
  nlohmann::json& record;
  std::atomic<int32_t>& extract_percent;
};

// Removes `application_folder` (a missing one is fine), creates it again one level deep, unpacks
// `archive` into it and deletes `archive` whatever the unpack gave. True when the archive was
// unpacked.
bool InstallApplication(const std::filesystem::path& archive,
                        const std::filesystem::path& application_folder,
                        ArchiveInstallContext context);

// Unpacks every entry of `archive` into `destination` in index order, storing
// trunc(i / n * 100) in extract_percent after entry i of n. Encrypted entries and entries whose
// compression method is not supported are skipped. An entry that would land outside
// `destination` (an absolute name, a ".." component, a symbolic link) is skipped with an error
// line. The application's "version.txt" is written last, so that an unpack that stops half-way
// never looks like a complete installation. False when the archive cannot be opened as a ZIP file
// or holds no entries, and (with an error line, stopping at that entry) when an entry's folders
// cannot be created, its data cannot be read (a damaged archive) or its file cannot be written.
bool ExtractArchive(const std::filesystem::path& archive, const std::filesystem::path& destination,
                    ArchiveInstallContext context);

// The relative path an entry name stands for inside the destination folder; nothing for a name
// that would lead outside it. "data/a.bin" -> data/a.bin, "bin/" -> bin/, "../x", "/etc/x",
// "a/../../x", "" -> nothing.
std::optional<std::filesystem::path> ArchiveEntryPath(std::string_view name);
