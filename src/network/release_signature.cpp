#include "network/release_signature.h"

#include <openssl/evp.h>

#include <cctype>

namespace {

constexpr std::string_view kStatementTitle = "Zelk release signature v1\n";
constexpr std::string_view kHashField = "sha256=";
constexpr std::string_view kSignatureField = " ed25519=";

bool IsHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

}  // namespace

std::string ReleaseStatement(std::string_view manifest_path, std::string_view version,
                             std::string_view sha256_hex) {
  std::string statement(kStatementTitle);
  statement.append(manifest_path).append("\n");
  statement.append(version).append("\n");
  statement.append(sha256_hex).append("\n");
  return statement;
}

std::optional<SignatureLine> ParseSignatureLine(std::string_view line) {
  if (!line.starts_with(kHashField)) return std::nullopt;
  line.remove_prefix(kHashField.size());
  if (line.size() < kSha256HexSize) return std::nullopt;
  SignatureLine parsed;
  for (char c : line.substr(0, kSha256HexSize)) {
    if (!IsHexDigit(c)) return std::nullopt;
    parsed.sha256_hex += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  line.remove_prefix(kSha256HexSize);
  if (!line.starts_with(kSignatureField)) return std::nullopt;
  line.remove_prefix(kSignatureField.size());
  std::optional<std::string> signature = DecodeBase64(line);
  if (!signature || signature->size() != kEd25519SignatureSize) return std::nullopt;
  parsed.signature = std::move(*signature);
  return parsed;
}

std::string FormatSignatureLine(std::string_view sha256_hex, std::string_view signature) {
  return std::string(kHashField) + std::string(sha256_hex) + std::string(kSignatureField) +
         EncodeBase64(signature);
}

bool VerifyReleaseSignature(std::string_view public_key_base64, std::string_view statement,
                            std::string_view signature) {
  const std::optional<std::string> key = DecodeBase64(public_key_base64);
  if (!key || key->size() != kEd25519PublicKeySize || signature.size() != kEd25519SignatureSize) {
    return false;
  }
  EVP_PKEY* public_key = EVP_PKEY_new_raw_public_key(
      EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(key->data()), key->size());
  if (public_key == nullptr) return false;
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  bool verified = false;
  if (context != nullptr &&
      EVP_DigestVerifyInit(context, nullptr, nullptr, nullptr, public_key) == 1) {
    verified = EVP_DigestVerify(context, reinterpret_cast<const unsigned char*>(signature.data()),
                                signature.size(),
                                reinterpret_cast<const unsigned char*>(statement.data()),
                                statement.size()) == 1;
  }
  EVP_MD_CTX_free(context);
  EVP_PKEY_free(public_key);
  return verified;
}

std::string EncodeBase64(std::string_view bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3), '\0');
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                      reinterpret_cast<const unsigned char*>(bytes.data()),
                                      static_cast<int>(bytes.size()));
  text.resize(static_cast<size_t>(written));
  return text;
}

std::optional<std::string> DecodeBase64(std::string_view text) {
  if (text.empty() || text.size() % 4 != 0) return std::nullopt;
  const size_t padding = text.ends_with("==") ? 2 : text.ends_with('=') ? 1 : 0;
  std::string bytes(text.size() / 4 * 3, '\0');
  const int decoded = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                      reinterpret_cast<const unsigned char*>(text.data()),
                                      static_cast<int>(text.size()));
  if (decoded < 0 || static_cast<size_t>(decoded) < padding) return std::nullopt;
  bytes.resize(static_cast<size_t>(decoded) - padding);
  // Only the canonical text of these bytes is accepted: no white space, no padding inside, no
  // stray bits in the last digit.
  if (EncodeBase64(bytes) != text) return std::nullopt;
  return bytes;
}

struct Sha256::State {
  EVP_MD_CTX* context = nullptr;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  state_->context = EVP_MD_CTX_new();
  if (state_->context != nullptr) EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr);
}

Sha256::~Sha256() { EVP_MD_CTX_free(state_->context); }

void Sha256::Add(const void* data, size_t size) {
  if (state_->context != nullptr) EVP_DigestUpdate(state_->context, data, size);
}

std::string Sha256::FinishHex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  // A context that could not be made gives an empty text, which never matches a manifest.
  if (state_->context == nullptr || EVP_DigestFinal_ex(state_->context, digest, &size) != 1) {
    return {};
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < size; ++i) {
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 15];
  }
  return hex;
}
