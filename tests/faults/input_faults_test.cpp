// Input faults: manifests that are huge or malformed, an archive with hostile entries, a
// registry-file stand-in holding binary junk, and a desktop folder that is a file.
#include "fault_matrix.h"

namespace fault_matrix {
namespace {

struct ManifestRow {
  std::string fault;
  std::string manifest;  // the application manifest; "@" stands for the archive's URL
  Outcome expected;
};
void PrintTo(const ManifestRow& row, std::ostream* out) { *out << row.fault; }

const Outcome kNoUpdate{"UpdateZelkStep", "CheckingForUpdate", "succeeded", "", 0, true, "1.0.0"};
const Outcome kInstalled{"UpdateZelkStep", "ExtractingNewVersion", "succeeded", "Extraction completed",
                         0, true, "2.0.0"};

std::string TenThousandLines() {
  std::string text = "2.0.0\n@\n";
  for (int i = 2; i < 10'000; ++i) text += "line " + std::to_string(i) + "\n";
  return text;
}

const ManifestRow kManifestRows[] = {
    {"application manifest with NUL bytes in its version", std::string("2.0.0\0\0\n@\n", 10),
     {"UpdateZelkStep", "ExtractingNewVersion", "succeeded", "Extraction completed", 0, true, "2.0.0"}},
    {"application manifest of NUL bytes only", std::string(64, '\0'),
     {"UpdateZelkStep", "CheckingForUpdate", "succeeded", "Update needed, url", 0, true, "1.0.0"}},
    {"application manifest with lone CR line ends", "2.0.0\r@\r",
     {"UpdateZelkStep", "CheckingForUpdate", "succeeded", "Update needed, url", 0, true, "1.0.0"}},
    {"application manifest without a line feed", "1.0.0",
     {"UpdateZelkStep", "CheckingForUpdate", "succeeded", "Update not needed", 0, true, "1.0.0"}},
    {"application manifest of 10,000 lines", TenThousandLines(), kInstalled},
};

class ManifestFaultTest : public FaultRowTest, public testing::WithParamInterface<ManifestRow> {};

TEST_P(ManifestFaultTest, Row) {
  const ManifestRow& row = GetParam();
  Row("input: " + row.fault, "");
  release_server.ServeFile(kArchivePath, PackRelease("2.0.0"));
  std::string manifest = row.manifest;
  if (const size_t at = manifest.find('@'); at != std::string::npos) {
    manifest.replace(at, 1, release_server.Url(kArchivePath));
  }
  release_server.SetZelkManifest(manifest);
  RunExpecting(row.expected);
}

INSTANTIATE_TEST_SUITE_P(Faults, ManifestFaultTest, testing::ValuesIn(kManifestRows));

class InputFaultTest : public FaultRowTest {};

// 1 GiB generated as it is sent, never stored: Fetch gives up after its cap.
TEST_F(InputFaultTest, OneGibibyteLauncherManifest) {
  Row("input: 1 GiB launcher manifest", "");
  auto server = MakeServer();
  server->server().Get("/core/LauncherRelease.txt", [](const httplib::Request&, httplib::Response& response) {
    constexpr size_t kSize = size_t{1} << 30;
    response.set_content_provider(kSize, "text/plain",
                                  [](size_t offset, size_t, httplib::DataSink& sink) {
                                    static const std::string block(64 * 1024, '5');
                                    return sink.write(block.data(), std::min(block.size(), kSize - offset));
                                  });
  });
  server->Start();
  auto launcher = RunExpecting({"SelfUpdateStep", "UpdateFailed", "Update Failed!",
                                "Update info for launcher not available", 0, false, "1.0.0"},
                               {{"ZELK_RELEASE_SERVER_URL", server->base_url()}});
  EXPECT_LT(launcher->PeakResidentKib(), 200 * 1024) << "memory stays bounded";
}

TEST_F(InputFaultTest, ArchiveWithHostileEntries) {
  Row("input: archive with hostile entries (.., absolute, symlink out)", "");
  const fs::path archive = scratch_ / "hostile.zip";
  ZipBuilder()
      .File("Zelk.exe", ReadFile(ZELK_FIXTURE_APP_EXE), 0755)
      .File("../escaped.txt", "out")
      .File("/tmp/zelk-fault-absolute.txt", "out")
      .File("data/../../escaped2.txt", "out")
      .Symlink("link", sandbox.root().string())
      .File("link/through-link.txt", "out")
      .File("version.txt", "2.0.0\n")
      .Write(archive);
  release_server.ServeFile(kArchivePath, archive);
  PublishManifest("2.0.0", release_server.Url(kArchivePath));
  RunExpecting({"UpdateZelkStep", "ExtractingNewVersion", "succeeded", "Skipping archive entry", 0,
                true, "2.0.0"});
  EXPECT_FALSE(fs::exists(sandbox.installed_folder() / "escaped.txt"));
  EXPECT_FALSE(fs::exists(sandbox.installed_folder() / "escaped2.txt"));
  EXPECT_FALSE(fs::exists("/tmp/zelk-fault-absolute.txt"));
  EXPECT_FALSE(fs::exists(sandbox.root() / "through-link.txt"));
  EXPECT_FALSE(fs::is_symlink(sandbox.application_folder() / "link"));
}

TEST_F(InputFaultTest, RegistryValueHoldingBinaryJunk) {
  Row("input: ZELK_MACHINE_GUID file holding binary junk", "");
  std::string junk;
  for (int i = 0; i < 256; ++i) junk += static_cast<char>(255 - i);
  const fs::path value = sandbox.config_home() / "Nuvak" / "Zelk" / "ZELK_MACHINE_GUID";
  WriteFile(value, junk);
  RunExpecting({"LaunchZelkStep", "", "succeeded", "", 0, true, "1.0.0"});
  const json record = LatestRecord("LaunchZelkStep");
  ASSERT_TRUE(record.is_object()) << "the report was sent";
  EXPECT_TRUE(record["installation_id"].is_string());
}

TEST_F(InputFaultTest, DesktopFolderThatIsAFile) {
  Row("input: desktop folder that is a file (silent install)", "");
  fs::remove_all(sandbox.desktop());
  WriteFile(sandbox.desktop(), "not a folder");
  fs::remove_all(sandbox.installed_folder());
  auto launcher = StartLauncher(sandbox.PlaceDownload(), {"-silent"}, {}, Environment());
  const int exit_code = launcher->WaitForExit();
  EXPECT_EQ(exit_code, 0);
  EXPECT_EQ(launcher->StandardOutput(), "Install success");
  EXPECT_EQ(ReadFile(sandbox.desktop()), "not a folder");
  EXPECT_TRUE(fs::exists(sandbox.installed_folder() / "installed_zelk"));
  EXPECT_TRUE(fs::exists(sandbox.installed_folder() / "Repair.desktop"));
  Row("input: desktop folder that is a file (silent install)",
      "exit 0; \"Install success\"; desktop file untouched; launcher folder entries written");
  Observed("exit " + std::to_string(exit_code) + "; \"" + launcher->StandardOutput() + "\"; desktop file " +
           (ReadFile(sandbox.desktop()) == "not a folder" ? "untouched" : "changed") +
           "; launcher folder entries " +
           (fs::exists(sandbox.installed_folder() / "Repair.desktop") ? "written" : "missing"));
}

}  // namespace
}  // namespace fault_matrix
