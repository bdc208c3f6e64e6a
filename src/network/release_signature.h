// Signed releases: the optional third manifest line that ties a release's file to its version.
//
//   line 3:    sha256=<64 hex digits> ed25519=<base64 of the 64-byte signature>
//   statement: "Zelk release signature v1\n" <manifest path> "\n" <version> "\n" <sha256 hex> "\n"
//
// The publisher signs the statement with its Ed25519 private key; a launcher built with the
// matching public key recomputes the file's SHA-256 while it downloads, rebuilds the statement
// from the manifest's own version and refuses the file unless the signature verifies. Naming the
// manifest in the statement keeps a signed launcher from passing as an application archive, and
// the version keeps an old signed file from being served under a new version number.
//
// Pure text and crypto functions, shared by the launcher and the release tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

inline constexpr size_t kSha256HexSize = 64;
inline constexpr size_t kEd25519SignatureSize = 64;
inline constexpr size_t kEd25519PublicKeySize = 32;

// The statement signed for the release named by `manifest_path` ("/core/ZelkRelease.txt" or
// "/core/LauncherRelease.txt"), `version` (trimmed manifest line 1) and the file's SHA-256 in
// lower-case hex.
std::string ReleaseStatement(std::string_view manifest_path, std::string_view version,
                             std::string_view sha256_hex);

struct SignatureLine {
  std::string sha256_hex;  // 64 lower-case hex digits
  std::string signature;   // 64 raw bytes
};

// Reads a trimmed line 3. Exactly "sha256=<hex> ed25519=<base64>" with one space between the two
// fields; hex digits of either case (returned in lower case), standard padded base64 of exactly 64
// bytes. Nothing for anything else, including an empty line.
std::optional<SignatureLine> ParseSignatureLine(std::string_view line);
// The line for `sha256_hex` and the raw `signature`.
std::string FormatSignatureLine(std::string_view sha256_hex, std::string_view signature);

// True when `signature` (raw bytes) is a valid Ed25519 signature of `statement` under
// `public_key_base64` (base64 of the 32 raw key bytes). False for a key that does not decode.
bool VerifyReleaseSignature(std::string_view public_key_base64, std::string_view statement,
                            std::string_view signature);

// Standard padded base64. Decode gives nothing for text that is not exactly that.
std::string EncodeBase64(std::string_view bytes);
std::optional<std::string> DecodeBase64(std::string_view text);

// A SHA-256 computed piece by piece, as the bytes arrive.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Add(const void* data, size_t size);
  // The digest of everything added, in lower-case hex; ends the computation.
  std::string FinishHex();

 private:
  struct State;
  std::unique_ptr<State> state_;
};
