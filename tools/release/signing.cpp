#include "signing.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include "network/release_signature.h"
#include "tool_error.h"

namespace fs = std::filesystem;

namespace {

struct PkeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using PkeyPointer = std::unique_ptr<EVP_PKEY, PkeyDeleter>;

PkeyPointer ReadPrivateKey(const fs::path& file) {
  std::FILE* stream = std::fopen(file.c_str(), "rb");
  if (stream == nullptr) throw ToolError("cannot open the private key " + file.string());
  PkeyPointer key(PEM_read_PrivateKey(stream, nullptr, nullptr, nullptr));
  std::fclose(stream);
  if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_ED25519) {
    throw ToolError(file.string() + " is not an Ed25519 private key (make one with zelk-release keygen)");
  }
  return key;
}

std::string RawPublicKey(EVP_PKEY* key) {
  std::string raw(kEd25519PublicKeySize, '\0');
  size_t size = raw.size();
  if (EVP_PKEY_get_raw_public_key(key, reinterpret_cast<unsigned char*>(raw.data()), &size) != 1) {
    throw ToolError("cannot read the public key");
  }
  raw.resize(size);
  return raw;
}

// Creates `file` with `mode` from the start (so no other user can open it before it holds the
// key); never replaces an existing file.
std::FILE* CreateExclusive(const fs::path& file, mode_t mode) {
  const int descriptor = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (descriptor < 0) {
    if (errno == EEXIST) throw ToolError(file.string() + " already exists; refusing to replace a key");
    throw ToolError("cannot create " + file.string() + ": " + std::strerror(errno));
  }
  std::FILE* stream = fdopen(descriptor, "wb");
  if (stream == nullptr) {
    close(descriptor);
    throw ToolError("cannot create " + file.string());
  }
  return stream;
}

}  // namespace

KeyFiles GenerateKeyPair(const fs::path& prefix) {
  KeyFiles files{fs::path(prefix.string() + ".key"), fs::path(prefix.string() + ".pub"), {}};
  EVP_PKEY* generated = nullptr;
  EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr);
  const bool made = context != nullptr && EVP_PKEY_keygen_init(context) == 1 &&
                    EVP_PKEY_keygen(context, &generated) == 1;
  EVP_PKEY_CTX_free(context);
  if (!made) throw ToolError("cannot generate an Ed25519 key");
  const PkeyPointer key(generated);
  files.public_key_base64 = EncodeBase64(RawPublicKey(key.get()));

  // The private key is created 0600 before a byte of it is written.
  std::FILE* stream = CreateExclusive(files.private_key, 0600);
  const bool written = PEM_write_PrivateKey(stream, key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
  if (std::fclose(stream) != 0 || !written) throw ToolError("cannot write " + files.private_key.string());

  std::FILE* public_stream = CreateExclusive(files.public_key, 0644);
  const std::string line = files.public_key_base64 + "\n";
  const bool public_written = std::fwrite(line.data(), 1, line.size(), public_stream) == line.size();
  if (std::fclose(public_stream) != 0 || !public_written) {
    throw ToolError("cannot write " + files.public_key.string());
  }
  return files;
}

std::string SignWithKeyFile(const fs::path& private_key_file, std::string_view message) {
  const PkeyPointer key = ReadPrivateKey(private_key_file);
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  std::string signature(kEd25519SignatureSize, '\0');
  size_t size = signature.size();
  const bool signed_ok =
      context != nullptr && EVP_DigestSignInit(context, nullptr, nullptr, nullptr, key.get()) == 1 &&
      EVP_DigestSign(context, reinterpret_cast<unsigned char*>(signature.data()), &size,
                     reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
  EVP_MD_CTX_free(context);
  if (!signed_ok || size != kEd25519SignatureSize) throw ToolError("signing failed");
  return signature;
}

std::string PublicKeyOf(const fs::path& private_key_file) {
  return EncodeBase64(RawPublicKey(ReadPrivateKey(private_key_file).get()));
}

std::string Sha256OfFile(const fs::path& file) {
  std::ifstream stream(file, std::ios::binary);
  if (!stream) throw ToolError("cannot read " + file.string());
  Sha256 digest;
  std::vector<char> buffer(1 << 16);
  while (stream.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || stream.gcount() > 0) {
    digest.Add(buffer.data(), static_cast<size_t>(stream.gcount()));
  }
  if (stream.bad()) throw ToolError("cannot read " + file.string());
  return digest.FinishHex();
}
