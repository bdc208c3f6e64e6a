// The release manifests and the two version checks.
//
// A manifest is a plain text on the release server: line 1 is a version, line 2 a download URL,
// anything after is ignored. Lines end at line feeds; each of the two lines is trimmed of the six
// ASCII white-space characters at both ends, so CR LF files read like LF files. Versions are
// opaque texts compared byte for byte: any difference, up or down, asks for an update.
//
// The checks are operations of the steps that run them: SelfUpdateStep holds a
// LauncherReleaseCheck and UpdateZelkStep a ZelkReleaseCheck as members, run the check on a
// background task (it blocks on the network for up to 20 s) with the step's own logger, and read
// the check's fields once the task has delivered its answer:
//
//   // Start(), after BeginStart():
//   check_answer_ = std::async(std::launch::async, [this] {
//     return release_check_.CheckLauncherRelease(*logger_, record_);
//   });
//   // Update(), when check_answer_ is ready:
//   std::string answer = check_answer_.get();      // release_check_.available_version is set
//   if (answer == kCouldNotFetchUpdate) ...        // manifest not available
//   else if (answer.empty()) ...                   // no update
//   else ...                                       // answer is the download URL
#pragma once

#include <nlohmann/json.hpp>
#include <spdlog/logger.h>

#include <filesystem>
#include <string>
#include <string_view>

// The launcher's own version, compiled in and reported as its "old_version".
inline constexpr std::string_view LauncherVersion = "5";

// CheckLauncherRelease's answer when the launcher manifest is not available. A manifest whose
// line 2 is exactly this text cannot be told apart from that.
inline constexpr std::string_view kCouldNotFetchUpdate = "_COULD_NOT_FETCH_UPDATE_";

inline constexpr std::string_view kLauncherManifestPath = "/core/LauncherRelease.txt";
inline constexpr std::string_view kZelkManifestPath = "/core/ZelkRelease.txt";

// --- Pure text functions ---------------------------------------------------------------------

// Removes space, tab, line feed, vertical tab, form feed and carriage return (and nothing else)
// from both ends.   "  6 \r" -> "6"    "a b" -> "a b"
std::string_view TrimAsciiWhitespace(std::string_view text);
// Line 1 of a manifest: the bytes before the first line feed, or the whole text. Untrimmed.
std::string_view ManifestLine1(std::string_view manifest);
// Line 2: the bytes after the first line feed up to the next one or the end; empty when there is
// no line feed. Untrimmed.
std::string_view ManifestLine2(std::string_view manifest);
// Line 3, the same way: after the second line feed. Only a launcher built with a release public
// key reads it (network/release_signature.h).
std::string_view ManifestLine3(std::string_view manifest);
// The first line of a file's content as text mode reads it: up to the first line feed, without a
// carriage return directly before that line feed; otherwise untrimmed.
//   "1.2.3\r\n" -> "1.2.3"    "1.2.3 \n" -> "1.2.3 "    "" -> ""
std::string FirstTextLine(std::string_view content);

// --- Release server --------------------------------------------------------------------------

// The release server's base address (scheme, host, optional port): ZELK_RELEASE_SERVER_URL from
// the environment when it is set, whatever its content (read on every call), else the address
// the launcher was built with.
std::string ReleaseServerBaseUrl();
// ReleaseServerBaseUrl() followed by `path`, e.g. "https://releases.example.net/core/ZelkRelease.txt".
std::string ManifestUrl(std::string_view path);

// --- Checks ----------------------------------------------------------------------------------

// SelfUpdateStep's check of the launcher manifest against LauncherVersion.
class LauncherReleaseCheck {
 public:
  // Fetches the launcher manifest. Answers:
  //   kCouldNotFetchUpdate  the manifest is not available (transfer failed, status other than
  //                         200, empty body): logged at error level, record["result"] set to
  //                         "Update info for launcher not available", available_version untouched;
  //   ""                    line 1 equals LauncherVersion ("Update not needed"), or it differs and
  //                         there is no line 2;
  //   the URL               trimmed line 2, when line 1 differs ("Update needed, url {}").
  // Logs through `logger` (the step's). Blocks; run it on a background task.
  std::string CheckLauncherRelease(spdlog::logger& logger, nlohmann::json& record);

  // Trimmed line 1 of the launcher manifest; empty until a manifest was read.
  std::string available_version;
  // Trimmed line 3, the release's signature line; empty when the manifest has none.
  std::string signature_line;
};

// UpdateZelkStep's check of the application manifest against the installed version.txt.
class ZelkReleaseCheck {
 public:
  // `launcher_folder` is the folder of the running launcher (GetLauncherFolder()); the
  // application lives in its "Zelk" folder.
  explicit ZelkReleaseCheck(std::filesystem::path launcher_folder);

  // Reads installed_version (ReadInstalledVersion), fetches the application manifest and
  // compares. Answers "" when both versions are equal ("Update not needed"), else trimmed line 2
  // ("Update needed, url {}"), which is "" when the manifest has none. Never kCouldNotFetchUpdate:
  // an unavailable manifest reads as one with two empty lines, so it gives "" either way. Logs
  // through `logger`. Blocks; run it on a background task.
  std::string CheckZelkRelease(spdlog::logger& logger);

  // The first line of <launcher folder>/Zelk/version.txt read in text mode; empty when the file
  // is missing, unreadable or empty. Logs the path at debug level.
  std::string ReadInstalledVersion(spdlog::logger& logger) const;

  std::string installed_version;  // set by CheckZelkRelease
  std::string available_version;  // trimmed line 1 of the application manifest, set by CheckZelkRelease
  std::string signature_line;     // trimmed line 3 (the signature line), set by CheckZelkRelease

 private:
  std::filesystem::path launcher_folder_;
};
