// File operations the steps need beyond std::filesystem: replacing a file in one step, and
// creating an empty file.
#pragma once

#include <filesystem>
#include <span>

// Copies `source` over `target`. The bytes go into a temporary file beside `target`, which gets
// mode 0755 and is then renamed onto `target`: a reader never sees a half-written file, and a
// program running from `target` (or from `source`, when they are the same file) keeps its own
// copy. False with errno set on failure; the temporary file is removed then.
bool CopyFileReplacing(const std::filesystem::path& source, const std::filesystem::path& target);

// Writes `bytes` over `target` in the same way, with `mode` (e.g. 0644).
bool WriteFileReplacing(const std::filesystem::path& target, std::span<const unsigned char> bytes,
                        unsigned mode);

// Creates `path` as an empty file, emptying an existing file. False with errno set (a folder of
// that name, a missing or read-only parent folder).
bool CreateEmptyFile(const std::filesystem::path& path);
