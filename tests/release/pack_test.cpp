// zelk-release pack and launcher, run as a publisher runs them: the archive goes back through the
// launcher's own unpack into the same tree with the same modes, the manifests read as the
// launcher reads them, a signature line verifies, and folders that are not releases are refused.
#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>

#include <atomic>
#include <functional>
#include <map>
#include <sstream>

#include "network/release_check.h"
#include "network/release_signature.h"
#include "serve_process.h"
#include "steps/application_install.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

struct TreeEntry {
  std::string content;  // empty for a folder
  bool folder = false;
  fs::perms mode{};
  bool operator==(const TreeEntry&) const = default;
};
std::ostream& operator<<(std::ostream& out, const TreeEntry& entry) {
  return out << (entry.folder ? "folder" : "file \"" + entry.content + "\"") << " mode " << std::oct
             << static_cast<unsigned>(entry.mode) << std::dec;
}

// Every file and folder under `root` by relative path; folder modes are left out, as the unpack
// creates folders with the process's defaults.
std::map<std::string, TreeEntry> ReadTree(const fs::path& root) {
  std::map<std::string, TreeEntry> tree;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    TreeEntry entry;
    entry.folder = item.is_directory();
    if (!entry.folder) {
      entry.content = ReadFile(item.path());
      entry.mode = item.status().permissions() & fs::perms::mask;
    }
    tree[fs::relative(item.path(), root).generic_string()] = entry;
  }
  return tree;
}

void WriteWithMode(const fs::path& file, const std::string& content, unsigned mode) {
  fs::create_directories(file.parent_path());
  WriteFile(file, content);
  fs::permissions(file, static_cast<fs::perms>(mode));
}

class PackTest : public ::testing::Test {
 protected:
  PackTest() {
    WriteWithMode(app / "Zelk.exe", "#!/bin/sh\necho zelk\n", 0755);
    WriteWithMode(app / "data" / "levels" / "one.bin", std::string("\0\1\2\3", 4), 0644);
    WriteWithMode(app / "data" / "secret.cfg", "key=value\n", 0600);
    WriteWithMode(app / "bin" / "tool", "tool", 0750);
    fs::create_directories(app / "empty");
  }

  ToolResult Pack(const std::string& version, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> arguments{"pack", "--app", app.string(), "--version", version,
                                       "--release", release.string(), "--base-url",
                                       "https://127.0.0.1:8443/"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return RunReleaseTool(arguments);
  }

  // Unpacks with the launcher's own ExtractArchive.
  bool Unpack(const fs::path& archive, const fs::path& destination) {
    std::ostringstream log;
    spdlog::logger logger("class UpdateZelkStep", std::make_shared<spdlog::sinks::ostream_sink_mt>(log));
    nlohmann::json record = nlohmann::json::object();
    std::atomic<int32_t> percent{0};
    fs::create_directories(destination);
    const bool unpacked = ExtractArchive(archive, destination, {logger, record, percent});
    EXPECT_EQ(log.str(), "") << "nothing skipped or refused";
    return unpacked;
  }

  TempFolder folder;
  fs::path app = folder / "app";
  fs::path release = folder / "release";
};

TEST_F(PackTest, ArchiveUnpacksIntoTheSameTreeWithTheSameModes) {
  WriteWithMode(app / "version.txt", "2.1.0\r\n", 0644);
  const ToolResult result = Pack("2.1.0");
  ASSERT_EQ(result.exit_code, 0) << result.output;

  const std::string manifest = ReadFile(release / "core" / "ZelkRelease.txt");
  EXPECT_EQ(manifest, "2.1.0\nhttps://127.0.0.1:8443/zelk/Zelk-2.1.0.zip\n");
  EXPECT_EQ(TrimAsciiWhitespace(ManifestLine3(manifest)), "") << "unsigned: no third line";

  const fs::path installed = folder / "installed";
  ASSERT_TRUE(Unpack(release / "zelk" / "Zelk-2.1.0.zip", installed));
  EXPECT_EQ(ReadTree(installed), ReadTree(app));
  EXPECT_FALSE(fs::exists(release / "zelk" / "Zelk-2.1.0.zip.partial"));
}

TEST_F(PackTest, FolderWithoutVersionFileGetsOneWhoseFirstLineIsTheVersion) {
  ASSERT_EQ(Pack("7").exit_code, 0);
  const fs::path installed = folder / "installed";
  ASSERT_TRUE(Unpack(release / "zelk" / "Zelk-7.zip", installed));
  EXPECT_EQ(FirstTextLine(ReadFile(installed / "version.txt")), "7");
  auto tree = ReadTree(installed);
  tree.erase("version.txt");
  EXPECT_EQ(tree, ReadTree(app));
}

TEST_F(PackTest, RefusesWhatIsNotAReleaseAndWritesNothing) {
  struct Case {
    std::string name;
    std::function<void(const fs::path&)> prepare;
    std::string version;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"no Zelk.exe", [](const fs::path& a) { fs::remove(a / "Zelk.exe"); }, "1", "holds no Zelk.exe"},
      {"Zelk.exe is a folder", [](const fs::path& a) {
         fs::remove(a / "Zelk.exe");
         fs::create_directories(a / "Zelk.exe");
       }, "1", "holds no Zelk.exe"},
      {"version.txt disagrees", [](const fs::path& a) { WriteFile(a / "version.txt", "1.0.1\n"); },
       "1.0.0", "says \"1.0.1\", not \"1.0.0\""},
      {"version.txt has a trailing space", [](const fs::path& a) { WriteFile(a / "version.txt", "1 \n"); },
       "1", "not \"1\""},
      {"symbolic link", [](const fs::path& a) { fs::create_symlink("/etc/passwd", a / "link"); }, "1",
       "symbolic link"},
      {"version with a space", [](const fs::path&) {}, "1 0", "not publishable"},
      {"version with a line feed", [](const fs::path&) {}, "1\n2", "not publishable"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(app);
    fs::remove_all(release);
    WriteWithMode(app / "Zelk.exe", "x", 0755);
    c.prepare(app);
    const ToolResult result = Pack(c.version);
    EXPECT_EQ(result.exit_code, 1) << result.output;
    EXPECT_NE(result.output.find(c.message), std::string::npos) << result.output;
    EXPECT_FALSE(fs::exists(release / "core" / "ZelkRelease.txt"));
  }
}

TEST_F(PackTest, SignedManifestsCarryALineThatVerifiesForTheirOwnVersionAndFile) {
  const fs::path key = folder / "publisher";
  const ToolResult keygen = RunReleaseTool({"keygen", "--out", key.string()});
  ASSERT_EQ(keygen.exit_code, 0) << keygen.output;
  EXPECT_EQ(fs::status(key.string() + ".key").permissions() & fs::perms::mask, fs::perms::owner_read | fs::perms::owner_write);
  const std::string public_key(TrimAsciiWhitespace(ReadFile(key.string() + ".pub")));
  EXPECT_NE(keygen.output.find("-DZELK_RELEASE_PUBLIC_KEY=" + public_key), std::string::npos);
  EXPECT_EQ(RunReleaseTool({"keygen", "--out", key.string()}).exit_code, 1) << "never replaces a key";

  ASSERT_EQ(Pack("3.0", {"--key", key.string() + ".key"}).exit_code, 0);
  const fs::path launcher_exe = folder / "ZelkLauncher.exe";
  WriteFile(launcher_exe, "launcher bytes");
  const ToolResult launcher =
      RunReleaseTool({"launcher", "--exe", launcher_exe.string(), "--version", "6", "--release",
                      release.string(), "--base-url", "https://127.0.0.1:8443", "--key",
                      key.string() + ".key"});
  ASSERT_EQ(launcher.exit_code, 0) << launcher.output;

  struct Published {
    std::string manifest_path;
    fs::path manifest;
    fs::path file;
    std::string url;
  };
  for (const Published& p : std::vector<Published>{
           {"/core/ZelkRelease.txt", release / "core" / "ZelkRelease.txt",
            release / "zelk" / "Zelk-3.0.zip", "https://127.0.0.1:8443/zelk/Zelk-3.0.zip"},
           {"/core/LauncherRelease.txt", release / "core" / "LauncherRelease.txt",
            release / "launcher" / "ZelkLauncher-6.exe",
            "https://127.0.0.1:8443/launcher/ZelkLauncher-6.exe"}}) {
    SCOPED_TRACE(p.manifest_path);
    const std::string manifest = ReadFile(p.manifest);
    const std::string version(TrimAsciiWhitespace(ManifestLine1(manifest)));
    EXPECT_EQ(TrimAsciiWhitespace(ManifestLine2(manifest)), p.url);
    const auto line = ParseSignatureLine(TrimAsciiWhitespace(ManifestLine3(manifest)));
    ASSERT_TRUE(line) << manifest;
    Sha256 digest;
    const std::string bytes = ReadFile(p.file);
    digest.Add(bytes.data(), bytes.size());
    EXPECT_EQ(line->sha256_hex, digest.FinishHex());
    EXPECT_TRUE(VerifyReleaseSignature(public_key, ReleaseStatement(p.manifest_path, version, line->sha256_hex),
                                       line->signature));
  }
  EXPECT_EQ(ReadFile(release / "launcher" / "ZelkLauncher-6.exe"), "launcher bytes");
  EXPECT_EQ(fs::status(release / "launcher" / "ZelkLauncher-6.exe").permissions() & fs::perms::mask,
            static_cast<fs::perms>(0755));
}

TEST_F(PackTest, UnknownOptionsAndMissingValuesAreRefused) {
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
           {"pack", "--app", app.string(), "--version", "1", "--release", release.string()},
           {"pack", "--app", app.string(), "--version", "1", "--release", release.string(),
            "--base-url", "ftp://host"},
           {"pack", "--bogus", "x"},
           {"launcher", "--exe"},
           {"unknown-command"}}) {
    EXPECT_EQ(RunReleaseTool(arguments).exit_code, 1) << arguments[0];
  }
}

}  // namespace
