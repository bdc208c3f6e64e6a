// The signature line and the release statement: parsing, and what a verification accepts. Keys
// and signatures are made here with OpenSSL, as the release tool makes them.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "network/release_download.h"
#include "network/release_signature.h"

namespace {

struct KeyPair {
  std::string public_key;  // base64
  EVP_PKEY* key = nullptr;
  KeyPair() {
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr);
    EVP_PKEY_keygen_init(context);
    EVP_PKEY_keygen(context, &key);
    EVP_PKEY_CTX_free(context);
    std::string raw(32, '\0');
    size_t size = raw.size();
    EVP_PKEY_get_raw_public_key(key, reinterpret_cast<unsigned char*>(raw.data()), &size);
    public_key = EncodeBase64(raw);
  }
  ~KeyPair() { EVP_PKEY_free(key); }
  std::string Sign(const std::string& message) const {
    std::string signature(64, '\0');
    size_t size = signature.size();
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    EVP_DigestSignInit(context, nullptr, nullptr, nullptr, key);
    EVP_DigestSign(context, reinterpret_cast<unsigned char*>(signature.data()), &size,
                   reinterpret_cast<const unsigned char*>(message.data()), message.size());
    EVP_MD_CTX_free(context);
    return signature;
  }
};

std::string HexOf(const std::string& bytes) {
  Sha256 digest;
  digest.Add(bytes.data(), bytes.size());
  return digest.FinishHex();
}

TEST(ReleaseSignatureTest, Sha256AndStatement) {
  EXPECT_EQ(HexOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(ReleaseStatement("/core/ZelkRelease.txt", "2.0", "ab"),
            "Zelk release signature v1\n/core/ZelkRelease.txt\n2.0\nab\n");
}

TEST(ReleaseSignatureTest, ParsesOnlyTheExactLine) {
  const std::string hex(64, 'a');
  const std::string signature = EncodeBase64(std::string(64, '\x01'));
  const auto parsed = ParseSignatureLine("sha256=" + std::string(64, 'A') + " ed25519=" + signature);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->sha256_hex, hex) << "hex of either case, kept in lower case";
  EXPECT_EQ(parsed->signature, std::string(64, '\x01'));
  EXPECT_EQ(FormatSignatureLine(hex, std::string(64, '\x01')), "sha256=" + hex + " ed25519=" + signature);

  for (const std::string& line : std::vector<std::string>{
           "",
           "sha256=" + hex,
           "sha256=" + hex + "  ed25519=" + signature,
           "sha256=" + hex + " ed25519=" + signature + " ",
           "sha256=" + hex.substr(1) + " ed25519=" + signature,
           "sha256=" + hex + "0 ed25519=" + signature,
           "sha256=" + std::string(63, 'a') + "g ed25519=" + signature,
           "ed25519=" + signature + " sha256=" + hex,
           "sha256=" + hex + " ed25519=" + EncodeBase64(std::string(63, '\x01')),
           "sha256=" + hex + " ed25519=" + signature.substr(0, 86),
           "sha256=" + hex + " ed25519=" + signature.substr(0, 85) + "B==",  // stray bits
           "sha256=" + hex + " ed25519=" + signature.substr(0, 40) + "*" + signature.substr(41),
       }) {
    EXPECT_FALSE(ParseSignatureLine(line)) << line;
  }
}

TEST(ReleaseSignatureTest, HoldsOnlyForTheSignedFileVersionManifestAndKey) {
  const KeyPair publisher;
  const KeyPair other;
  const std::string file_hex = HexOf("archive bytes");
  const auto line_for = [&](const KeyPair& key, const std::string& manifest, const std::string& version) {
    return FormatSignatureLine(file_hex, key.Sign(ReleaseStatement(manifest, version, file_hex)));
  };
  const std::string good = line_for(publisher, "/core/ZelkRelease.txt", "2.0");

  const struct {
    const char* name;
    ExpectedRelease expected;
    std::string downloaded_hex;
    bool holds;
  } cases[] = {
      {"signed", {"/core/ZelkRelease.txt", "2.0", good}, file_hex, true},
      {"tampered file", {"/core/ZelkRelease.txt", "2.0", good}, HexOf("archive bytez"), false},
      {"another version's signature", {"/core/ZelkRelease.txt", "3.0", good}, file_hex, false},
      {"a launcher's signature", {"/core/LauncherRelease.txt", "2.0", good}, file_hex, false},
      {"another key", {"/core/ZelkRelease.txt", "2.0", line_for(other, "/core/ZelkRelease.txt", "2.0")},
       file_hex, false},
      {"no line", {"/core/ZelkRelease.txt", "2.0", ""}, file_hex, false},
  };
  for (const auto& c : cases) {
    std::string reason;
    EXPECT_EQ(ReleaseSignatureHolds(publisher.public_key, c.expected, c.downloaded_hex, reason), c.holds)
        << c.name;
    EXPECT_EQ(reason.empty(), c.holds) << c.name << ": " << reason;
  }
  std::string reason;
  EXPECT_FALSE(ReleaseSignatureHolds("not a key", cases[0].expected, file_hex, reason));
}

TEST(ReleaseSignatureTest, DefaultBuildHasNoKey) { EXPECT_EQ(BuiltInReleasePublicKey(), ""); }

}  // namespace
