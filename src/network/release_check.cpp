#include "network/release_check.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "network/utility.h"

namespace {

constexpr std::string_view kAsciiWhitespace = " \t\n\v\f\r";
constexpr const char* kLauncherUnavailable = "Update info for launcher not available";

// printf-style "%s" formatting, the way the application check has always written its line.
std::string FormatVersions(const char* format, const std::string& current,
                           const std::string& available) {
  const int size = std::snprintf(nullptr, 0, format, current.c_str(), available.c_str());
  if (size < 0) return {};
  std::vector<char> buffer(static_cast<size_t>(size) + 1);
  std::snprintf(buffer.data(), buffer.size(), format, current.c_str(), available.c_str());
  return std::string(buffer.data(), static_cast<size_t>(size));
}

}  // namespace

std::string_view TrimAsciiWhitespace(std::string_view text) {
  const size_t first = text.find_first_not_of(kAsciiWhitespace);
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(kAsciiWhitespace);
  return text.substr(first, last - first + 1);
}

std::string_view ManifestLine1(std::string_view manifest) {
  return manifest.substr(0, manifest.find('\n'));
}

std::string_view ManifestLine2(std::string_view manifest) {
  const size_t first = manifest.find('\n');
  if (first == std::string_view::npos) return {};
  const std::string_view rest = manifest.substr(first + 1);
  return rest.substr(0, rest.find('\n'));
}

std::string_view ManifestLine3(std::string_view manifest) {
  const size_t first = manifest.find('\n');
  if (first == std::string_view::npos) return {};
  return ManifestLine2(manifest.substr(first + 1));
}

std::string FirstTextLine(std::string_view content) {
  const size_t end = content.find('\n');
  std::string_view line = content.substr(0, end);
  if (end != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
  return std::string(line);
}

std::string ReleaseServerBaseUrl() {
  if (const char* url = std::getenv("ZELK_RELEASE_SERVER_URL"); url != nullptr) return url;
  return ZELK_DEFAULT_RELEASE_SERVER_URL;
}

std::string ManifestUrl(std::string_view path) {
  return ReleaseServerBaseUrl() + std::string(path);
}

std::string LauncherReleaseCheck::CheckLauncherRelease(spdlog::logger& logger,
                                                       nlohmann::json& record) {
  const std::string manifest = Fetch(ManifestUrl(kLauncherManifestPath));
  if (manifest.empty()) {
    logger.error(kLauncherUnavailable);
    record["result"] = kLauncherUnavailable;
    return std::string(kCouldNotFetchUpdate);
  }

  available_version = TrimAsciiWhitespace(ManifestLine1(manifest));
  signature_line = TrimAsciiWhitespace(ManifestLine3(manifest));
  logger.info("Checking versions. Current {}, available {}", LauncherVersion, available_version);
  if (available_version == LauncherVersion) {
    logger.info("Update not needed");
    return {};
  }
  std::string url(TrimAsciiWhitespace(ManifestLine2(manifest)));
  logger.info("Update needed, url {}", url);
  return url;
}

ZelkReleaseCheck::ZelkReleaseCheck(std::filesystem::path launcher_folder)
    : launcher_folder_(std::move(launcher_folder)) {}

std::string ZelkReleaseCheck::CheckZelkRelease(spdlog::logger& logger) {
  installed_version = ReadInstalledVersion(logger);
  const std::string manifest = Fetch(ManifestUrl(kZelkManifestPath));
  available_version = TrimAsciiWhitespace(ManifestLine1(manifest));
  signature_line = TrimAsciiWhitespace(ManifestLine3(manifest));

  // Logged as finished text: a version holding "{}" must not be read as a placeholder.
  const std::string versions = FormatVersions("Checking versions. Current %s, available %s",
                                              installed_version, available_version);
  logger.info(std::string_view(versions));
  if (installed_version == available_version) {
    logger.info("Update not needed");
    return {};
  }
  std::string url(TrimAsciiWhitespace(ManifestLine2(manifest)));
  logger.info("Update needed, url {}", url);
  return url;
}

std::string ZelkReleaseCheck::ReadInstalledVersion(spdlog::logger& logger) const {
  const std::filesystem::path path = launcher_folder_ / "Zelk" / "version.txt";
  logger.debug(std::string_view(path.string()));

  std::ifstream file(path, std::ios::binary);
  if (!file) return {};
  std::string line;
  if (!std::getline(file, line)) return {};
  // getline stops at the line feed and drops it; put it back so that the text-mode rule sees it.
  if (!file.eof()) line += '\n';
  return FirstTextLine(line);
}
