// Text conversion and wide formatting, and the log file made from a folder name: conversions
// always give valid UTF-8, SanitizeUtf8 leaves valid text alone and is idempotent, and a wide
// path formats to exactly its text.
#include <spdlog/logger.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "fuzz_check.h"
#include "platform/text.h"
#include "shell/log.h"

namespace fs = std::filesystem;

namespace {

bool IsValidCodePoint(wchar_t c) {
  const auto value = static_cast<char32_t>(c);
  return value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF);
}

void CheckNarrow(std::string_view narrow) {
  const std::string sanitized = SanitizeUtf8(narrow);
  FUZZ_CHECK(IsValidUtf8(sanitized));
  FUZZ_CHECK(SanitizeUtf8(sanitized) == sanitized);
  if (IsValidUtf8(narrow)) FUZZ_CHECK(sanitized == narrow);

  const std::wstring wide = FromUtf8(narrow);
  for (const wchar_t c : wide) FUZZ_CHECK(IsValidCodePoint(c));
  FUZZ_CHECK(wide.size() <= narrow.size());
  FUZZ_CHECK(ToUtf8(wide) == sanitized);
}

void CheckWide(std::wstring_view wide) {
  const std::string narrow = ToUtf8(wide);
  FUZZ_CHECK(IsValidUtf8(narrow));
  std::wstring expected(wide);
  for (wchar_t& c : expected) {
    if (!IsValidCodePoint(c)) c = 0xFFFD;
  }
  FUZZ_CHECK(FromUtf8(narrow) == expected);

  // The log file path is the launcher folder and the file name, formatted with "%ls".
  const std::wstring folder(wide.substr(0, wide.find(L'\0')));
  FUZZ_CHECK(FormatWide(L"%ls/zelk_launcher.txt", folder.c_str()) == folder + L"/zelk_launcher.txt");
  FUZZ_CHECK(FormatWide(L"[%d] %ls %ls", 7, folder.c_str(), L"\u00e9") ==
             L"[7] " + folder + L" \u00e9");
}

// A launcher folder named by the input (one path component) holds a log file that gets the
// message with its CR LF line end.
void CheckLogFile(std::string_view name, std::string_view message) {
  static const fs::path base =
      (fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path()) /
      ("zelk-fuzz-text-" + std::to_string(getpid()));
  std::string component(name.substr(0, 200));
  for (char& c : component) {
    if (c == '/' || c == '\0') c = '_';
  }
  if (component.empty() || component == "." || component == "..") component = "folder";
  const fs::path folder = base / component;
  fs::create_directories(folder);
  {
    spdlog::logger logger("fuzz", CreateLogFileSink(folder / "zelk_launcher.txt"));
    logger.set_level(spdlog::level::debug);
    logger.flush_on(spdlog::level::debug);
    logger.info(message);
  }
  std::ifstream file(folder / "zelk_launcher.txt", std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  FUZZ_CHECK(content.str().ends_with(std::string(message) + "\r\n"));
  std::error_code ignored;
  fs::remove_all(base, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view narrow(reinterpret_cast<const char*>(data), size);
  CheckNarrow(narrow);

  std::wstring wide(size / sizeof(wchar_t), L'\0');
  std::memcpy(wide.data(), data, wide.size() * sizeof(wchar_t));
  CheckWide(wide);
  CheckWide(FromUtf8(narrow));

  const size_t split = narrow.find('\n');
  CheckLogFile(narrow.substr(0, split),
               split == std::string_view::npos ? std::string_view() : narrow.substr(split + 1));
  return 0;
}
