// Signed releases with the real launcher. The keyed launcher (built with the test public key)
// installs a release whose manifest signature verifies, and refuses a tampered file, a signature
// made with another key, a signature replayed from another version, and a missing or malformed
// signature line: the download fails with the step's own failure screen, the downloaded file is
// removed and the installed application or launcher stays as it was. The launcher built without
// a key ignores line 3 altogether.
#include <gtest/gtest.h>

#include "network/release_check.h"
#include "serve_process.h"
#include "support/launcher_test.h"
#include "support/wait_until.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kDownloadFailed = "Update failed Download of new version failed, try again later";

std::string Line(const std::string& manifest, int number) {
  if (number == 1) return std::string(TrimAsciiWhitespace(ManifestLine1(manifest)));
  if (number == 2) return std::string(TrimAsciiWhitespace(ManifestLine2(manifest)));
  return std::string(TrimAsciiWhitespace(ManifestLine3(manifest)));
}

class SignedReleaseTest : public LauncherTest {
 protected:
  // Publishes the fixture program as application `version` with `key` into `release`, and
  // returns the manifest text; the archive is served at its manifest URL.
  std::string PackSigned(const std::string& version, const fs::path& key) {
    const fs::path app = folder / ("app-" + version);
    CopyExecutable(ZELK_FIXTURE_APP_EXE, app / "Zelk.exe");
    WriteFile(app / "notes.txt", "version " + version);
    const ToolResult result =
        RunReleaseTool({"pack", "--app", app.string(), "--version", version, "--release", release.string(),
                        "--base-url", release_server.base_url(), "--key", key.string()});
    EXPECT_EQ(result.exit_code, 0) << result.output;
    const std::string relative = "/zelk/Zelk-" + version + ".zip";
    release_server.ServeFile(relative, release / fs::path(relative).relative_path());
    return ReadFile(release / "core" / "ZelkRelease.txt");
  }

  fs::path Archive(const std::string& version) const { return release / "zelk" / ("Zelk-" + version + ".zip"); }

  // The installed layout at version 1.0.0, with `launcher_exe` as the installed launcher.
  fs::path PlaceInstalled(const char* launcher_exe) {
    const fs::path launcher = sandbox.PlaceInstalled(kInstalledVersion);
    CopyExecutable(launcher_exe, launcher);
    return launcher;
  }

  fs::path OtherKey() {
    const fs::path prefix = folder / "other";
    EXPECT_EQ(RunReleaseTool({"keygen", "--out", prefix.string()}).exit_code, 0);
    return prefix.string() + ".key";
  }

  // Runs the installed launcher to the application update's failure screen, leaves it with Exit.
  void ExpectRefusedUpdate(const fs::path& launcher_path, const std::string& refusal) {
    const std::string zelk_before = ReadFile(sandbox.application_folder() / "Zelk.exe");
    auto launcher = StartLauncher(launcher_path);
    ASSERT_TRUE(launcher->WaitForLog(refusal));
    ASSERT_TRUE(launcher->WaitForLog("[class UpdateZelkStep] [info] Downloading new version"));
    ASSERT_TRUE(launcher->WaitForFirstFrame());
    // The failure screen's Exit button.
    ASSERT_TRUE(WaitUntil([&] {
      launcher->Click(250, 140);
      return launcher->Log().find(kDownloadFailed) != std::string::npos;
    }, std::chrono::seconds(30), std::chrono::milliseconds(300)));
    EXPECT_EQ(launcher->WaitForExit(), 0);
    EXPECT_FALSE(fs::exists(sandbox.installed_folder() / "Zelk.zip")) << "the refused file is removed";
    EXPECT_EQ(ReadFile(sandbox.application_folder() / "version.txt"), std::string(kInstalledVersion) + "\n");
    EXPECT_EQ(ReadFile(sandbox.application_folder() / "Zelk.exe"), zelk_before);
    EXPECT_TRUE(ReadFixtureRecord(sandbox.fixture_record()).empty()) << "nothing was launched";
  }

  TempFolder folder;
  fs::path release = folder / "release";
  fs::path key = ZELK_TEST_RELEASE_KEY;
};

TEST_F(SignedReleaseTest, KeyedLauncherInstallsAReleaseWhoseSignatureVerifies) {
  release_server.SetZelkManifest(PackSigned("2.0", key));
  auto launcher = StartLauncher(PlaceInstalled(ZELK_KEYED_LAUNCHER_EXE));
  ASSERT_EQ(launcher->WaitForExit(), 0) << launcher->Log();
  EXPECT_EQ(ReadFile(sandbox.application_folder() / "version.txt"), "2.0\n");
  EXPECT_EQ(ReadFile(sandbox.application_folder() / "notes.txt"), "version 2.0");
  EXPECT_NE(launcher->Log().find("Release signature verified for version 2.0"), std::string::npos);
}

struct RefusedCase {
  const char* name;
  const char* refusal;  // in the log
};

void PrintTo(const RefusedCase& c, std::ostream* out) { *out << c.name; }

class RefusedReleaseTest : public SignedReleaseTest,
                           public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedReleaseTest, KeyedLauncherRefusesTheDownloadAndKeepsTheApplication) {
  const std::string name = GetParam().name;
  std::string manifest = PackSigned("2.0", key);
  if (name == "tampered") {
    std::string bytes = ReadFile(Archive("2.0"));
    bytes[bytes.size() / 2] ^= 1;
    WriteFile(Archive("2.0"), bytes);
  } else if (name == "wrong_key") {
    manifest = PackSigned("2.0", OtherKey());
  } else if (name == "replayed") {
    // Version 2.0's archive and signature, announced as 3.0.
    manifest = "3.0\n" + Line(manifest, 2) + "\n" + Line(manifest, 3) + "\n";
  } else if (name == "missing_line") {
    manifest = Line(manifest, 1) + "\n" + Line(manifest, 2) + "\n";
  } else if (name == "malformed_line") {
    std::string line = Line(manifest, 3);
    line.replace(line.find(" ed25519="), 1, "  ");
    manifest = Line(manifest, 1) + "\n" + Line(manifest, 2) + "\n" + line + "\n";
  }
  release_server.SetZelkManifest(manifest);
  ExpectRefusedUpdate(PlaceInstalled(ZELK_KEYED_LAUNCHER_EXE), GetParam().refusal);
  if (name == "missing_line" || name == "malformed_line") {
    EXPECT_EQ(release_server.CountRequests("/zelk/Zelk-2.0.zip"), 0u) << "refused before the transfer";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Releases, RefusedReleaseTest,
    ::testing::Values(RefusedCase{"tampered", "is not the manifest's"},
                      RefusedCase{"wrong_key", "the signature does not verify for version 2.0"},
                      RefusedCase{"replayed", "the signature does not verify for version 3.0"},
                      RefusedCase{"missing_line", "the manifest has no signature line"},
                      RefusedCase{"malformed_line", "the manifest's signature line is malformed"}),
    [](const auto& info) { return std::string(info.param.name); });

// A tampered new launcher is refused too: ZelkLauncher.tmp is removed, no swap is started, and
// the installed launcher stays byte for byte.
TEST_F(SignedReleaseTest, KeyedLauncherRefusesATamperedLauncherUpdate) {
  const fs::path new_launcher = folder / "new" / "ZelkLauncher.exe";
  CopyExecutable(ZELK_FIXTURE_APP_EXE, new_launcher);
  const ToolResult result =
      RunReleaseTool({"launcher", "--exe", new_launcher.string(), "--version", "6", "--release",
                      release.string(), "--base-url", release_server.base_url(), "--key", key.string()});
  ASSERT_EQ(result.exit_code, 0) << result.output;
  const fs::path served = release / "launcher" / "ZelkLauncher-6.exe";
  WriteFile(served, ReadFile(served) + "appended");
  release_server.ServeFile("/launcher/ZelkLauncher-6.exe", served);
  release_server.SetLauncherManifest(ReadFile(release / "core" / "LauncherRelease.txt"));

  const fs::path launcher_path = PlaceInstalled(ZELK_KEYED_LAUNCHER_EXE);
  auto launcher = StartLauncher(launcher_path);
  ASSERT_TRUE(launcher->WaitForLog("Refusing downloaded release"));
  ASSERT_TRUE(launcher->WaitForFirstFrame());
  ASSERT_TRUE(WaitUntil([&] {
    launcher->Click(250, 140);
    return launcher->Log().find(kDownloadFailed) != std::string::npos;
  }, std::chrono::seconds(30), std::chrono::milliseconds(300)));
  EXPECT_EQ(launcher->WaitForExit(), 0);
  EXPECT_FALSE(fs::exists(sandbox.installed_folder() / "ZelkLauncher.tmp"));
  EXPECT_EQ(ReadFile(launcher_path), ReadFile(ZELK_KEYED_LAUNCHER_EXE));
  EXPECT_EQ(launcher->Log().find("Restarting after update"), std::string::npos);
}

// The default build never reads line 3: an archive that does not match its signature line
// installs as before.
TEST_F(SignedReleaseTest, LauncherWithoutKeyIgnoresTheSignatureLine) {
  const std::string manifest = PackSigned("2.0", key);
  PackSigned("2.1", key);
  fs::copy_file(Archive("2.1"), Archive("2.0"), fs::copy_options::overwrite_existing);
  release_server.SetZelkManifest(Line(manifest, 1) + "\n" + Line(manifest, 2) + "\nsha256=garbage\n");
  auto launcher = StartLauncher(PlaceInstalled(ZELK_LAUNCHER_EXE));
  ASSERT_EQ(launcher->WaitForExit(), 0) << launcher->Log();
  EXPECT_EQ(ReadFile(sandbox.application_folder() / "notes.txt"), "version 2.1");
  EXPECT_EQ(launcher->Log().find("signature"), std::string::npos);
}

}  // namespace
