// Downloading what a release manifest points to, and, in a launcher built with a release public
// key, refusing a file that the manifest's signature line does not vouch for.
#pragma once

#include <spdlog/logger.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "network/download.h"

// Base64 of the Ed25519 public key this launcher was built with (CMake cache variable
// ZELK_RELEASE_PUBLIC_KEY); empty when it was built without one, which is the default.
std::string_view BuiltInReleasePublicKey();

// What the manifest said about the file: which manifest, its trimmed line 1 and trimmed line 3.
struct ExpectedRelease {
  std::string_view manifest_path;
  std::string version;
  std::string signature_line;
};

// Without a built-in key: Download(url, destination, progress, percent), nothing else, and line
// 3 is never looked at.
// With one: a missing or malformed line 3 refuses the release before anything is transferred;
// otherwise the SHA-256 is computed while the bytes are written, and the file is kept only when
// it matches line 3 and line 3's signature verifies for the manifest's version. A refused file
// is removed. Refusals are logged at error level through `logger` and give false, as a failed
// download does.
bool DownloadRelease(const std::string& url, const std::string& destination,
                     ProgressFunction progress, std::atomic<int32_t>* percent,
                     const ExpectedRelease& expected, spdlog::logger& logger);

// The check itself, for a downloaded file whose SHA-256 is `sha256_hex`: true when line 3 is well
// formed, names that digest and carries a signature of the release statement under
// `public_key_base64`. `reason` says why not.
bool ReleaseSignatureHolds(std::string_view public_key_base64, const ExpectedRelease& expected,
                           std::string_view sha256_hex, std::string& reason);
