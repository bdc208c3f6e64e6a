// The publisher's Ed25519 key pair: made once with `zelk-release keygen`, the private key kept
// by whoever publishes, the public key built into the launcher (ZELK_RELEASE_PUBLIC_KEY).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

struct KeyFiles {
  std::filesystem::path private_key;  // <prefix>.key: PKCS#8 PEM, mode 0600
  std::filesystem::path public_key;   // <prefix>.pub: base64 of the 32 raw key bytes, one line
  std::string public_key_base64;
};

// Writes a new key pair next to `prefix`; refuses to replace existing files.
KeyFiles GenerateKeyPair(const std::filesystem::path& prefix);

// The Ed25519 signature (64 raw bytes) of `message` with the private key in `private_key_file`.
std::string SignWithKeyFile(const std::filesystem::path& private_key_file, std::string_view message);
// Base64 of the public half of the private key in `private_key_file`.
std::string PublicKeyOf(const std::filesystem::path& private_key_file);

// Lower-case hex SHA-256 of the file's bytes.
std::string Sha256OfFile(const std::filesystem::path& file);
