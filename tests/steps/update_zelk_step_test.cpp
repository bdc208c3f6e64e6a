// The application update step in-process, frame by frame, against a real HTTPS release server:
// what each frame draws and returns (the bar's percentage, the frame in which the step goes on
// or ends) and the record. The launcher folder is this test program's own folder, so the tests
// of this program take turns (a resource lock) and run in a process-ID namespace of their own,
// where the only Zelk.exe is the one a test starts.
#include "steps/update_zelk_step.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

#include "platform/paths.h"
#include "platform/process.h"
#include "steps/step_frame.h"
#include "support/child_process.h"
#include "support/https_server.h"
#include "support/launcher_sandbox.h"
#include "support/log_capture.h"
#include "support/run_command.h"
#include "support/scoped_environment.h"
#include "support/temp_folder.h"
#include "support/wait_until.h"
#include "support/zip_builder.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ElementsAre;

namespace {

class UpdateZelkStepTest : public testing::Test {
 protected:
  UpdateZelkStepTest() : server_(ca_.Issue()) {
    server_.server().Get("/core/ZelkRelease.txt", [this](const httplib::Request&, httplib::Response& response) {
      std::this_thread::sleep_for(manifest_delay_);
      std::lock_guard lock(mutex_);
      response.set_content(manifest_, "text/plain");
    });
    server_.server().Get("/files/Zelk.zip", [this](const httplib::Request&, httplib::Response& response) {
      const std::string archive = ReadFile(archive_source_);
      const size_t sent = cut_after_ ? *cut_after_ : archive.size();
      // The full size is announced; a transfer cut short sends `sent` bytes, holds the connection
      // a moment, then drops it.
      response.set_content_provider(
          archive.size(), "application/zip",
          [archive, sent](size_t offset, size_t, httplib::DataSink& sink) {
            if (offset >= sent) return false;
            sink.write(archive.data() + offset, sent - offset);
            if (sent < archive.size()) std::this_thread::sleep_for(300ms);
            return true;
          });
    });
    server_.Start();
    environment_.Set("ZELK_RELEASE_SERVER_URL", server_.base_url());
    environment_.Set("CURL_CA_BUNDLE", ca_.ca_file().string());
    for (const char* name : kProxyEnvironmentVariables) environment_.Unset(name);
    fs::remove_all(application_);
    fs::remove(archive_);
  }
  ~UpdateZelkStepTest() override {
    if (zelk_ > 0) StopChild(zelk_, SIGKILL);
    fs::remove_all(application_);
    fs::remove(archive_);
  }

  void SetManifest(const std::string& version) {
    std::lock_guard lock(mutex_);
    manifest_ = version + "\n" + server_.base_url() + "/files/Zelk.zip\n";
  }
  void InstallOld(const std::string& version) {
    fs::create_directories(application_ / "old");
    WriteFile(application_ / "old" / "stale.dll", "old");
    WriteFile(application_ / "version.txt", version);
  }
  size_t ArchiveRequests() const {
    size_t count = 0;
    for (const auto& request : server_.requests()) count += request.path == "/files/Zelk.zip";
    return count;
  }
  // The percentage the bar was last drawn at.
  int DrawnPercent() const {
    return static_cast<int>(std::lround((bar_.previous_target - bar_.x) / bar_.width * 100));
  }
  // One frame, after giving the background tasks a moment.
  int Frame() {
    std::this_thread::sleep_for(2ms);
    return frames_.Run(*step_);
  }
  // A Zelk.exe that runs until the test stops it.
  void StartZelk() {
    const fs::path zelk = scratch_ / "running" / "Zelk.exe";
    CopyExecutable(ZELK_FIXTURE_APP_EXE, zelk);
    ChildOptions options;
    options.environment = {{"ZELK_FIXTURE_SLEEP_MS", "120000"}};
    zelk_ = SpawnChild({zelk.string()}, options);
    ASSERT_GT(zelk_, 0);
    ASSERT_TRUE(WaitUntil([] { return CountRunningInstances("Zelk.exe", false) > 0; }));
  }

  TempFolder scratch_;
  TestCa ca_;
  HttpsServer server_;
  ScopedEnvironment environment_;
  std::mutex mutex_;
  std::string manifest_;
  std::chrono::milliseconds manifest_delay_{0};
  fs::path archive_source_ = scratch_ / "release.zip";
  std::optional<size_t> cut_after_;
  const fs::path application_ = GetLauncherFolder() / "Zelk";
  const fs::path archive_ = GetLauncherFolder() / "Zelk.zip";
  LogCapture log_;
  StepFrames frames_;
  ProgressBar bar_{500, 200};
  std::unique_ptr<UpdateZelkStep> step_;
  pid_t zelk_ = -1;
};

// Download 0..50, unpack 50..100, and the frame that ends the step draws no bar.
TEST_F(UpdateZelkStepTest, InstallDrawsTheBarFromDownloadToUnpackAndNotInItsLastFrame) {
  InstallOld("1.0");
  SetManifest("2.0");
  ZipBuilder release;
  release.File("Zelk.exe", "exe", 0755);
  for (int i = 0; i < 400; ++i) release.File("data/" + std::to_string(i) + ".bin", std::string(2000, 'x'));
  release.File("version.txt", "2.0");
  release.Write(archive_source_);

  step_ = std::make_unique<UpdateZelkStep>(bar_, false);
  step_->Start();
  std::vector<int> drawn;
  int status = Running;
  for (int frame = 0; frame < 3000 && status == Running; ++frame) {
    const float elapsed = bar_.elapsed;
    status = Frame();
    if (status == Running && bar_.elapsed != elapsed) drawn.push_back(DrawnPercent());
    if (status == Done) {
      EXPECT_EQ(bar_.elapsed, elapsed) << "no bar in the last frame";
    }
  }
  ASSERT_EQ(status, Done);
  ASSERT_FALSE(drawn.empty());
  EXPECT_TRUE(std::is_sorted(drawn.begin(), drawn.end())) << testing::PrintToString(drawn);
  EXPECT_LT(drawn.back(), 100);
  EXPECT_GE(drawn.back(), 50);
  // The frame that sees the download complete still draws half of 100.
  EXPECT_NE(std::find(drawn.begin(), drawn.end(), 50), drawn.end()) << testing::PrintToString(drawn);

  EXPECT_EQ(ReadFile(application_ / "version.txt"), "2.0");
  EXPECT_FALSE(fs::exists(application_ / "old"));
  EXPECT_FALSE(fs::exists(archive_));
  const auto record = step_->GetAnalyticsRecord();
  EXPECT_EQ(record["final_state"], "ExtractingNewVersion");
  EXPECT_EQ(record["result"], "succeeded");
  EXPECT_EQ(record["old_version"], "1.0");
  EXPECT_EQ(record["new_version"], "2.0");
  EXPECT_GT(record["download_time"].get<double>(), 0);
  EXPECT_GT(record["extraction_time"].get<double>(), 0);
  std::vector<std::string> lines;
  for (const auto& line : log_.lines("class UpdateZelkStep")) {
    if (line.level == "info") lines.push_back(line.message);
  }
  EXPECT_THAT(lines, testing::IsSupersetOf(std::vector<std::string>{"Checking for zelk update",
                                            "Downloading new version " + server_.base_url() + "/files/Zelk.zip",
                                            "Download completed", "Extraction completed"}));
}

// A transfer dropped after 40 %: the bar was last drawn at exactly 20, the failure screen draws
// none, and its Exit ends the run with the message as the record's result.
TEST_F(UpdateZelkStepTest, ADownloadCutAtFortyPercentLastDrawsTwentyThenExitQuits) {
  InstallOld("1.0");
  SetManifest("2.0");
  WriteFile(archive_source_, std::string(1'000'000, 'z'));
  cut_after_ = 400'000;

  step_ = std::make_unique<UpdateZelkStep>(bar_, false);
  step_->Start();
  ASSERT_TRUE(WaitUntil([&] {
    Frame();
    return log_.Find("[download(Download())] [error]") >= 0;
  })) << testing::PrintToString(log_.lines());
  // The failure reaches the step within a few frames; from then on no bar is drawn.
  float elapsed = -1;
  for (int frame = 0; frame < 200 && bar_.elapsed != elapsed; ++frame) {
    elapsed = bar_.elapsed;
    Frame();
  }
  EXPECT_EQ(bar_.elapsed, elapsed);
  EXPECT_EQ(DrawnPercent(), 20);
  EXPECT_TRUE(fs::exists(application_ / "old")) << "a failed download leaves the application alone";

  EXPECT_EQ(frames_.Click(*step_, 250, 140), Quit);
  const auto record = step_->GetAnalyticsRecord();
  EXPECT_EQ(record["result"], "Update failed: Download of new version failed, try again later");
  EXPECT_EQ(record["final_state"], "UpdateFailed");
  EXPECT_EQ(record["extraction_time"], 0.0);
  EXPECT_GE(log_.Find("[class UpdateZelkStep] [error] Update failed Download of new version failed, try again later"), 0);
}

// "-repair" while Zelk.exe runs: Retry while it runs logs two lines and changes nothing; Retry
// once it has ended deletes the application and starts the version check in that same frame.
TEST_F(UpdateZelkStepTest, RetryWaitsForZelkThenRepairsAndChecksInTheSameFrame) {
  InstallOld("2.0");
  SetManifest("2.0");
  ZipBuilder().File("Zelk.exe", "exe", 0755).File("version.txt", "2.0").Write(archive_source_);
  StartZelk();

  step_ = std::make_unique<UpdateZelkStep>(bar_, true);
  step_->Start();
  EXPECT_EQ(Frame(), Running);
  log_.Clear();
  EXPECT_EQ(frames_.Click(*step_, 150, 140), Running);
  std::vector<std::string> texts;
  for (const auto& line : log_.lines()) texts.push_back(line.Text());
  EXPECT_THAT(texts, ElementsAre("[class UpdateZelkStep] [debug] User retries update",
                                 "[class UpdateZelkStep] [debug] Zelk running cant update"));
  EXPECT_TRUE(fs::exists(application_ / "old"));
  EXPECT_EQ(server_.request_count(), 0u);

  StopChild(zelk_, SIGKILL);
  zelk_ = -1;
  log_.Clear();
  EXPECT_EQ(frames_.Click(*step_, 150, 140), Running);
  // The version check task logs through the same logger once it runs, after these three.
  texts.clear();
  for (const auto& line : log_.lines("class UpdateZelkStep")) texts.push_back(line.Text());
  texts.resize(std::min<size_t>(texts.size(), 3));
  EXPECT_THAT(texts, ElementsAre("[class UpdateZelkStep] [debug] User retries update",
                                 "[class UpdateZelkStep] [info] Repairing Zelk",
                                 "[class UpdateZelkStep] [info] Checking for zelk update"));
  EXPECT_FALSE(fs::exists(application_));

  int status = Running;
  for (int frame = 0; frame < 3000 && status == Running; ++frame) status = Frame();
  EXPECT_EQ(status, Done);
  EXPECT_EQ(ReadFile(application_ / "version.txt"), "2.0");
  EXPECT_EQ(ArchiveRequests(), 1u);
  const auto record = step_->GetAnalyticsRecord();
  EXPECT_EQ(record["old_version"], "");
  EXPECT_EQ(record["new_version"], "2.0");
}

TEST_F(UpdateZelkStepTest, ARepairThatCannotDeleteTheApplicationEndsOnTheFailureScreen) {
  InstallOld("2.0");
  SetManifest("2.0");
  const fs::path pinned = application_ / "old" / "stale.dll";
  const bool root = geteuid() == 0;
  if (root) {
    if (RunCommand({"chattr", "+i", pinned.string()}).exit_code != 0) {
      GTEST_SKIP() << "this file system cannot mark a file immutable";
    }
  } else {
    fs::permissions(application_ / "old", fs::perms(0555));
  }
  step_ = std::make_unique<UpdateZelkStep>(bar_, true);
  step_->Start();
  const int first = Frame();
  const auto after_repair = step_->GetAnalyticsRecord();
  const int exit_status = frames_.Click(*step_, 250, 140);
  if (root) {
    RunCommand({"chattr", "-i", pinned.string()});
  } else {
    fs::permissions(application_ / "old", fs::perms(0755));
  }

  EXPECT_EQ(first, Running);
  const std::string text = root ? "Operation not permitted" : "Permission denied";
  EXPECT_EQ(after_repair["result"], "Failed to repair by deleting old installation: " + text);
  EXPECT_EQ(after_repair["final_state"], "UpdateFailed");
  EXPECT_GE(log_.Find("[error] Failed to repair by deleting old installation: " + text), 0);
  EXPECT_EQ(exit_status, Quit);
  EXPECT_EQ(step_->GetAnalyticsRecord()["result"], "Update failed: Repair failed! Please try again later");
  EXPECT_EQ(server_.request_count(), 0u);
}

// The window closed while the version check still runs: the record waits for its answer instead
// of reading versions the task is still writing.
TEST_F(UpdateZelkStepTest, TheRecordWaitsForATaskThatStillRuns) {
  InstallOld("1.0");
  SetManifest("2.0");
  manifest_delay_ = 500ms;
  step_ = std::make_unique<UpdateZelkStep>(bar_, false);
  step_->Start();
  EXPECT_EQ(Frame(), Running);
  const auto record = step_->GetAnalyticsRecord();
  EXPECT_EQ(record["final_state"], "CheckingForUpdate");
  EXPECT_EQ(record["old_version"], "1.0");
  EXPECT_EQ(record["new_version"], "2.0");
}

}  // namespace
