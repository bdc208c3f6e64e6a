// The release manifests and the version comparison of the checks: line splitting, trimming, and
// the first line of version.txt as the application check reads it from disk.
#include <fuzzer/FuzzedDataProvider.h>
#include <spdlog/sinks/null_sink.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz_check.h"
#include "network/release_check.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kWhitespace = " \t\n\v\f\r";

bool IsWhitespace(char c) { return kWhitespace.find(c) != std::string_view::npos; }

// `part` is a view into `whole`.
bool IsViewInto(std::string_view part, std::string_view whole) {
  return part.empty() ||
         (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

void CheckTrim(std::string_view text) {
  const std::string_view trimmed = TrimAsciiWhitespace(text);
  FUZZ_CHECK(IsViewInto(trimmed, text));
  if (trimmed.empty()) {
    for (const char c : text) FUZZ_CHECK(IsWhitespace(c));
    return;
  }
  FUZZ_CHECK(!IsWhitespace(trimmed.front()) && !IsWhitespace(trimmed.back()));
  const size_t front = static_cast<size_t>(trimmed.data() - text.data());
  for (size_t i = 0; i < front; ++i) FUZZ_CHECK(IsWhitespace(text[i]));
  for (size_t i = front + trimmed.size(); i < text.size(); ++i) FUZZ_CHECK(IsWhitespace(text[i]));
  FUZZ_CHECK(TrimAsciiWhitespace(trimmed) == trimmed);
}

void CheckLines(std::string_view manifest) {
  const std::string_view line1 = ManifestLine1(manifest);
  const std::string_view line2 = ManifestLine2(manifest);
  FUZZ_CHECK(line1.find('\n') == std::string_view::npos);
  FUZZ_CHECK(line2.find('\n') == std::string_view::npos);
  FUZZ_CHECK(manifest.starts_with(line1));
  if (manifest.find('\n') == std::string_view::npos) {
    FUZZ_CHECK(line1 == manifest);
    FUZZ_CHECK(line2.empty());
    return;
  }
  const std::string expected_start = std::string(line1) + '\n' + std::string(line2);
  FUZZ_CHECK(manifest.starts_with(expected_start));
  FUZZ_CHECK(manifest.size() == expected_start.size() || manifest[expected_start.size()] == '\n');
}

void CheckFirstTextLine(std::string_view content) {
  const std::string line = FirstTextLine(content);
  FUZZ_CHECK(line.find('\n') == std::string::npos);
  FUZZ_CHECK(content.starts_with(line));
  const std::string_view rest = content.substr(line.size());
  FUZZ_CHECK(rest.empty() || rest.starts_with('\n') || rest.starts_with("\r\n"));
  if (rest.empty()) FUZZ_CHECK(line == content);
}

class VersionFile {
 public:
  VersionFile() {
    const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    launcher_folder_ = base / ("zelk-fuzz-manifest-" + std::to_string(getpid()));
    fs::create_directories(launcher_folder_ / "Zelk");
  }
  ~VersionFile() {
    std::error_code ignored;
    fs::remove_all(launcher_folder_, ignored);
  }
  // version.txt's first line as the application check reads it.
  std::string Read(std::string_view content) {
    std::ofstream(launcher_folder_ / "Zelk" / "version.txt", std::ios::binary | std::ios::trunc)
        << content;
    static spdlog::logger logger("fuzz", std::make_shared<spdlog::sinks::null_sink_st>());
    return ZelkReleaseCheck(launcher_folder_).ReadInstalledVersion(logger);
  }

 private:
  fs::path launcher_folder_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static VersionFile version_file;
  FuzzedDataProvider input(data, size);
  const std::string version_txt = input.ConsumeRandomLengthString(256);
  const std::string manifest = input.ConsumeRemainingBytesAsString();

  CheckTrim(manifest);
  CheckLines(manifest);
  CheckTrim(ManifestLine1(manifest));
  CheckTrim(ManifestLine2(manifest));
  CheckFirstTextLine(version_txt);
  CheckFirstTextLine(manifest);

  // The application check compares version.txt's first line, read from disk, with the trimmed
  // line 1 of the manifest.
  const std::string installed = version_file.Read(version_txt);
  FUZZ_CHECK(installed == FirstTextLine(version_txt));

  // An application that ships the manifest's version in its version.txt, with either line end or
  // none, never asks for that version again.
  const std::string available(TrimAsciiWhitespace(ManifestLine1(manifest)));
  for (const char* end : {"", "\n", "\r\n"}) {
    FUZZ_CHECK(FirstTextLine(available + end) == available);
  }
  FUZZ_CHECK(version_file.Read(available + "\r\n") == available);
  return 0;
}
