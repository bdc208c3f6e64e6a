#include "network/release_download.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include "network/release_signature.h"
#include "platform/text.h"

bool ReleaseSignatureHolds(std::string_view public_key_base64, const ExpectedRelease& expected,
                           std::string_view sha256_hex, std::string& reason) {
  const std::optional<SignatureLine> line = ParseSignatureLine(expected.signature_line);
  if (!line) {
    reason = expected.signature_line.empty() ? "the manifest has no signature line"
                                             : "the manifest's signature line is malformed";
    return false;
  }
  if (line->sha256_hex != sha256_hex) {
    reason = "the file's SHA-256 " + std::string(sha256_hex) + " is not the manifest's " +
             line->sha256_hex;
    return false;
  }
  const std::string statement =
      ReleaseStatement(expected.manifest_path, expected.version, line->sha256_hex);
  if (!VerifyReleaseSignature(public_key_base64, statement, line->signature)) {
    reason = "the signature does not verify for version " + expected.version;
    return false;
  }
  return true;
}

bool DownloadRelease(const std::string& url, const std::string& destination,
                     ProgressFunction progress, std::atomic<int32_t>* percent,
                     const ExpectedRelease& expected, spdlog::logger& logger) {
  const std::string_view public_key = BuiltInReleasePublicKey();
  if (public_key.empty()) return Download(url, destination, progress, percent);

  std::string reason;
  if (!ParseSignatureLine(expected.signature_line)) {
    ReleaseSignatureHolds(public_key, expected, {}, reason);
    logger.error("Refusing unsigned release {}: {}", url, reason);
    return false;
  }

  Sha256 digest;
  if (!Download(url, destination, progress, percent, &digest)) return false;
  if (ReleaseSignatureHolds(public_key, expected, digest.FinishHex(), reason)) {
    logger.info("Release signature verified for version {}", expected.version);
    return true;
  }
  logger.error("Refusing downloaded release {}: {}", url, reason);
  std::error_code error;
  std::filesystem::remove(destination, error);
  if (error) logger.error("Failed to remove refused download {}: {}", destination, GetErrorText(error.value()));
  return false;
}
