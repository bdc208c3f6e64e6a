// Process faults: the launcher killed with SIGKILL during the download and during the unpack,
// then started again: the next run repairs the application by itself and launches it.
#include <signal.h>

#include <atomic>
#include <thread>

#include "fault_matrix.h"

namespace fault_matrix {
namespace {

using namespace std::chrono_literals;

class ProcessFaultTest : public FaultRowTest {
 protected:
  ~ProcessFaultTest() override { stop_ = true; }

  // Kills the run at once; no exit code to wait for.
  void Kill(std::unique_ptr<LauncherProcess>& launcher) {
    ::kill(launcher->pid(), SIGKILL);
    launcher.reset();
  }

  std::atomic<bool> stop_{false};
  // Stopped after stop_ is set, so that a handler holding a connection lets go.
  std::unique_ptr<HttpsServer> server_;
};

TEST_F(ProcessFaultTest, KilledDuringTheDownloadThenRepairedOnTheNextRun) {
  Row("process: SIGKILL during the download, then a new run", "");
  const std::string content = ReadFile(PackRelease("2.0.0"));
  server_ = MakeServer();
  server_->server().Get(kArchivePath, [this, content](const httplib::Request&, httplib::Response& response) {
    response.set_content_provider(content.size(), "application/zip",
                                  [this, content](size_t offset, size_t, httplib::DataSink& sink) {
                                    if (offset == 0) return sink.write(content.data(), content.size() / 2);
                                    while (!stop_) std::this_thread::sleep_for(50ms);
                                    return false;
                                  });
  });
  server_->Start();
  PublishManifest("2.0.0", server_->base_url() + kArchivePath);
  auto first = StartLauncher(installed_launcher_, {}, {}, Environment());
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(sandbox.installed_folder() / "Zelk.zip") &&
                                     fs::file_size(sandbox.installed_folder() / "Zelk.zip") > 0; },
                        60s));
  Kill(first);
  EXPECT_EQ(InstalledVersion(), "1.0.0") << "a killed download leaves the application alone";

  Publish("2.0.0");
  RunExpecting({"UpdateZelkStep", "ExtractingNewVersion", "succeeded", "Extraction completed", 0, true,
                "2.0.0"});
}

// version.txt comes first in the archive, yet it is written last: a folder the kill left half
// unpacked never reads as the new version.
TEST_F(ProcessFaultTest, KilledDuringTheUnpackThenRepairedOnTheNextRun) {
  Row("process: SIGKILL during the unpack (version.txt first in the archive), then a new run", "");
  constexpr int kEntries = 4000;
  ZipBuilder builder;
  builder.File("version.txt", "2.0.0\n").File("Zelk.exe", ReadFile(ZELK_FIXTURE_APP_EXE), 0755);
  for (int i = 0; i < kEntries; ++i) builder.File("data/" + std::to_string(i) + ".bin", std::string(4096, 'a' + i % 26));
  const fs::path archive = scratch_ / "many.zip";
  builder.Write(archive);
  release_server.ServeFile(kArchivePath, archive);
  PublishManifest("2.0.0", release_server.Url(kArchivePath));

  auto first = StartLauncher(installed_launcher_, {}, {}, Environment());
  const fs::path data = sandbox.application_folder() / "data";
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(data / "10.bin"); }, 60s, 1ms));
  Kill(first);
  size_t unpacked = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(data)) ++unpacked;
  if (unpacked >= static_cast<size_t>(kEntries)) GTEST_SKIP() << "the unpack ended before the kill";
  EXPECT_EQ(InstalledVersion(), "-") << "a half-unpacked folder has no version.txt";

  RunExpecting({"UpdateZelkStep", "ExtractingNewVersion", "succeeded", "Extraction completed", 0, true,
                "2.0.0"});
  unpacked = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(data)) ++unpacked;
  EXPECT_EQ(unpacked, static_cast<size_t>(kEntries));
}

}  // namespace
}  // namespace fault_matrix
