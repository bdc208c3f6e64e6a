// The application update step as a user meets it, with the real launcher and a release server
// publishing a real ZIP archive of the stand-in application: a first install that the launch step
// then starts, an up-to-date run that downloads nothing, a repair, a download cut short, a
// damaged archive, and a Zelk.exe that is still running.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <signal.h>

#include <memory>
#include <thread>

#include "support/child_process.h"
#include "support/launcher_test.h"
#include "support/run_command.h"
#include "support/wait_until.h"
#include "support/zip_builder.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using nlohmann::json;
using testing::HasSubstr;
using testing::Not;

namespace {

constexpr Rgb kBackground{18, 18, 18};
constexpr Rgb kButton{35, 35, 35};
constexpr Rgb kProgressFill{0, 77, 64};
constexpr const char* kArchivePath = "/files/Zelk.zip";

// The right end of the bar's fill (the bar spans x 30..470 at y 125..140); -1 when no fill shows.
int FillEnd(const Screenshot& screen) {
  int end = -1;
  for (int x = 30; x < 470; ++x) {
    if (screen.At(x, 132) == kProgressFill) end = x;
  }
  return end;
}

class UpdateZelkStepTest : public LauncherTest {
 protected:
  ~UpdateZelkStepTest() override {
    if (zelk_ > 0) StopChild(zelk_, SIGKILL);
  }

  // Publishes `version` of the stand-in application as a release would be made: Zelk.exe and
  // version.txt packed by Info-ZIP's zip, served at kArchivePath and named by the manifest.
  void Publish(const std::string& version) {
    const fs::path release = sandbox.root() / "release";
    fs::remove_all(release);
    CopyExecutable(ZELK_FIXTURE_APP_EXE, release / "Zelk.exe");
    WriteFile(release / "version.txt", version + "\r\n");
    const fs::path archive = sandbox.root() / "Zelk.zip";
    fs::remove(archive);
    ASSERT_EQ(RunCommand({"zip", "-q", archive.string(), "Zelk.exe", "version.txt"}, {}, 60, release).exit_code, 0);
    release_server.ServeFile(kArchivePath, archive);
    release_server.SetZelkManifest(version + "\n" + release_server.Url(kArchivePath) + "\n");
  }

  // The installed launcher without its application.
  fs::path PlaceWithoutApplication() {
    const fs::path launcher = sandbox.PlaceInstalled("0");
    fs::remove_all(sandbox.application_folder());
    return launcher;
  }

  // The update step's record from the latest report.
  json LatestUpdateRecord() {
    const auto bodies = release_server.AnalyticsBodies();
    if (bodies.empty()) return {};
    std::istringstream lines(bodies.back());
    for (std::string line; std::getline(lines, line);) {
      json record = json::parse(line);
      if (record["step_type"] == "class UpdateZelkStep") return record;
    }
    return {};
  }

  // Waits for the centred "Exit" of the failure screen (x 200 to 300, y 125 to 155), looked at
  // below the bar's place and in either colour (the pointer may rest on it since a last click).
  bool WaitForFailureScreen(LauncherProcess& launcher) {
    return WaitUntil([&] { return launcher.TakeScreenshot().At(205, 150) != kBackground; });
  }

  // A Zelk.exe started by the user, from elsewhere, that keeps running until StopZelk.
  void StartZelk() {
    const fs::path zelk = sandbox.root() / "running" / "Zelk.exe";
    CopyExecutable(ZELK_FIXTURE_APP_EXE, zelk);
    ChildOptions options;
    options.environment = {{"ZELK_FIXTURE_RECORD", (sandbox.root() / "running" / "record.txt").string()},
                           {"ZELK_FIXTURE_SLEEP_MS", "120000"}};
    zelk_ = SpawnChild({zelk.string()}, options);
    ASSERT_GT(zelk_, 0);
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(sandbox.root() / "running" / "record.txt"); }));
  }
  void StopZelk() {
    StopChild(zelk_, SIGKILL);
    zelk_ = -1;
  }

  pid_t zelk_ = -1;
};

TEST_F(UpdateZelkStepTest, FirstInstallIsStartedAndAnUpToDateRunDownloadsNothing) {
  Publish("2.0.0");
  const fs::path launcher_path = PlaceWithoutApplication();

  // Started with the home folder as its working folder: the archive still goes to the launcher
  // folder, never over the user's own files.
  WriteFile(sandbox.home() / "Zelk.zip", "the user's own file");
  auto first = StartLauncher(launcher_path, {}, sandbox.home());
  ASSERT_EQ(first->WaitForExit(), 0);
  EXPECT_EQ(ReadFile(sandbox.home() / "Zelk.zip"), "the user's own file");
  const fs::path zelk = sandbox.application_folder() / "Zelk.exe";
  auto starts = ReadFixtureRecord(sandbox.fixture_record());
  ASSERT_EQ(starts.size(), 1u) << first->Log();
  EXPECT_EQ(starts[0].exe, zelk.string());
  EXPECT_EQ(fs::status(zelk).permissions(), fs::perms(0755));
  EXPECT_EQ(ReadFile(sandbox.application_folder() / "version.txt"), "2.0.0\r\n");
  EXPECT_FALSE(fs::exists(sandbox.installed_folder() / "Zelk.zip"));
  EXPECT_EQ(release_server.CountRequests(kArchivePath), 1u);
  const std::string log = first->Log();
  const std::vector<std::string> lines = {"[info] Checking for zelk update",
                                          "[info] Downloading new version " + release_server.Url(kArchivePath),
                                          "[info] Download completed", "[info] Extraction completed"};
  for (const auto& line : lines) {
    EXPECT_THAT(log, HasSubstr("[class UpdateZelkStep] " + line));
  }
  json record = LatestUpdateRecord();
  EXPECT_EQ(record["final_state"], "ExtractingNewVersion") << record;
  EXPECT_EQ(record["result"], "succeeded");
  EXPECT_EQ(record["old_version"], "");
  EXPECT_EQ(record["new_version"], "2.0.0");
  EXPECT_GT(record["download_time"].get<double>(), 0);

  const size_t first_log_size = log.size();
  auto second = StartLauncher(launcher_path);
  ASSERT_EQ(second->WaitForExit(), 0);
  EXPECT_EQ(release_server.CountRequests(kArchivePath), 1u) << "nothing downloaded";
  EXPECT_EQ(ReadFixtureRecord(sandbox.fixture_record()).size(), 2u);
  EXPECT_THAT(second->Log().substr(first_log_size), Not(HasSubstr("Downloading new version")));
  record = LatestUpdateRecord();
  EXPECT_EQ(record["final_state"], "CheckingForUpdate") << record;
  EXPECT_EQ(record["old_version"], "2.0.0");
  EXPECT_EQ(record["new_version"], "2.0.0");
  EXPECT_EQ(record["download_time"], 0.0);
}

TEST_F(UpdateZelkStepTest, RepairDeletesTheApplicationAndInstallsItAfresh) {
  Publish("2.0.0");
  const fs::path launcher_path = sandbox.PlaceInstalled("2.0.0");
  WriteFile(sandbox.application_folder() / "stale.dll", "left over");

  auto launcher = StartLauncher(launcher_path, {"-repair"});
  ASSERT_EQ(launcher->WaitForExit(), 0);
  EXPECT_FALSE(fs::exists(sandbox.application_folder() / "stale.dll"));
  EXPECT_EQ(ReadFile(sandbox.application_folder() / "version.txt"), "2.0.0\r\n");
  EXPECT_EQ(release_server.CountRequests(kArchivePath), 1u);
  EXPECT_EQ(ReadFixtureRecord(sandbox.fixture_record()).size(), 1u);
  EXPECT_THAT(launcher->Log(), HasSubstr("[class UpdateZelkStep] [info] Repairing Zelk"));
  const json record = LatestUpdateRecord();
  EXPECT_EQ(record["final_state"], "ExtractingNewVersion") << record;
  EXPECT_EQ(record["old_version"], "");
  EXPECT_EQ(record["new_version"], "2.0.0");
}

// The server announces the whole archive, sends 40 % of it, waits, and drops the connection: the
// bar settles at a fifth of its length and stays there, then the failure screen replaces it.
TEST_F(UpdateZelkStepTest, ADownloadCutShortShowsTheFailureScreenAndExitEndsTheRun) {
  const fs::path launcher_path = sandbox.PlaceInstalled(kInstalledVersion);
  const fs::path archive = sandbox.root() / "big.zip";
  WriteFile(archive, std::string(4'000'000, 'z'));
  // The whole size is announced, 40 % is sent, the connection is held for a while, then dropped.
  const auto content = std::make_shared<const std::string>(ReadFile(archive));
  release_server.ServeHandler(kArchivePath, [content](const httplib::Request&, httplib::Response& response) {
    response.set_content_provider(content->size(), "application/zip",
                                  [content](size_t offset, size_t, httplib::DataSink& sink) {
                                    constexpr size_t kSent = 1'600'000;
                                    if (offset >= kSent) return false;
                                    sink.write(content->data() + offset, kSent - offset);
                                    std::this_thread::sleep_for(6s);
                                    return true;
                                  });
  });
  release_server.SetZelkManifest("2.0.0\n" + release_server.Url(kArchivePath) + "\n");

  auto launcher = StartLauncher(launcher_path);
  ASSERT_TRUE(launcher->WaitForLog("Downloading new version"));
  // The smoothed fill moves toward 20 % of the bar (x 118) and stops there.
  int previous = -1, settled = -1;
  ASSERT_TRUE(WaitUntil(
      [&] {
        const int end = FillEnd(launcher->TakeScreenshot());
        if (end > 30 && end == previous) settled = end;
        previous = end;
        return settled > 0;
      },
      10s, 300ms))
      << "last fill end " << previous;
  EXPECT_NEAR(settled, 30 + 0.2 * 440, 6);
  EXPECT_LT(settled, 250) << "well below the half";

  ASSERT_TRUE(WaitForFailureScreen(*launcher));
  const Screenshot screen = launcher->TakeScreenshot();
  EXPECT_EQ(FillEnd(screen), -1) << "the failure screen has no bar";
  EXPECT_GT(screen.CountOtherThan(kBackground, 60, 60, 440, 84), 100) << "the failure text";
  EXPECT_TRUE(launcher->Running()) << "the failure screen waits for the user";

  launcher->Click(250, 140);
  EXPECT_EQ(launcher->WaitForExit(), 0);
  EXPECT_TRUE(ReadFixtureRecord(sandbox.fixture_record()).empty()) << "no launch step";
  const std::string log = launcher->Log();
  EXPECT_THAT(log, HasSubstr("[class UpdateZelkStep] [error] Update failed Download of new version failed, "
                             "try again later"));
  EXPECT_THAT(log, Not(HasSubstr("Download completed")));
  const json record = LatestUpdateRecord();
  EXPECT_EQ(record["result"], "Update failed: Download of new version failed, try again later") << record;
  EXPECT_EQ(record["final_state"], "UpdateFailed");
  EXPECT_EQ(ReadFile(sandbox.application_folder() / "version.txt"), std::string(kInstalledVersion) + "\n")
      << "a failed download leaves the application alone";
}

// An error page saved as the archive, and an archive damaged inside an entry.
TEST_F(UpdateZelkStepTest, ADamagedArchiveShowsTheExtractionFailure) {
  Publish("2.0.0");
  std::string damaged = ReadFile(sandbox.root() / "Zelk.zip");
  damaged[damaged.size() / 3] ^= 0x5a;  // inside Zelk.exe's compressed data
  const struct {
    const char* name;
    std::string content;
  } cases[] = {{"an HTML page", "<html><body>502 Bad Gateway</body></html>"}, {"a damaged entry", damaged}};
  const fs::path launcher_path = sandbox.PlaceInstalled(kInstalledVersion);
  for (const auto& c : cases) {
    WriteFile(sandbox.root() / "Zelk.zip", c.content);
    const fs::path log_file = sandbox.installed_folder() / "zelk_launcher.txt";
    const size_t earlier_log = fs::exists(log_file) ? fs::file_size(log_file) : 0;
    auto launcher = StartLauncher(launcher_path);
    ASSERT_TRUE(WaitForFailureScreen(*launcher)) << c.name;
    launcher->Click(250, 140);
    EXPECT_EQ(launcher->WaitForExit(), 0) << c.name;
    const std::string log = launcher->Log().substr(earlier_log);
    EXPECT_THAT(log, HasSubstr("[class UpdateZelkStep] [error] Update failed Failed extracting new zelk version"))
        << c.name;
    EXPECT_THAT(log, Not(HasSubstr("Extraction completed"))) << c.name;
    EXPECT_EQ(LatestUpdateRecord()["result"], "Update failed: Failed extracting new zelk version") << c.name;
    EXPECT_FALSE(fs::exists(sandbox.installed_folder() / "Zelk.zip")) << c.name;
    EXPECT_FALSE(fs::exists(sandbox.application_folder() / "version.txt")) << c.name;
    EXPECT_TRUE(ReadFixtureRecord(sandbox.fixture_record()).empty()) << c.name;
  }
}

// "-repair" while the user's Zelk.exe runs: Retry while it runs changes nothing; Retry after it
// has ended repairs at once, and the run goes on to start the fresh install.
TEST_F(UpdateZelkStepTest, RunningZelkWaitsForRetryThenRepairs) {
  Publish("2.0.0");
  const fs::path launcher_path = sandbox.PlaceInstalled("2.0.0");
  StartZelk();

  auto launcher = StartLauncher(launcher_path, {"-repair"});
  ASSERT_TRUE(launcher->WaitForFirstFrame());
  ASSERT_TRUE(WaitUntil([&] { return launcher->TakeScreenshot().At(305, 130) == kButton; }));
  EXPECT_EQ(launcher->TakeScreenshot().At(105, 130), kButton) << "Retry";

  launcher->Click(150, 140);
  ASSERT_TRUE(launcher->WaitForLog("[class UpdateZelkStep] [debug] Zelk running cant update"));
  std::string log = launcher->Log();
  EXPECT_LT(log.find("[class UpdateZelkStep] [debug] User retries update"),
            log.find("[class UpdateZelkStep] [debug] Zelk running cant update"));
  EXPECT_NE(launcher->TakeScreenshot().At(105, 150), kBackground) << "the screen stays";
  EXPECT_EQ(launcher->TakeScreenshot().At(305, 130), kButton);
  EXPECT_TRUE(fs::exists(sandbox.application_folder() / "version.txt"));
  EXPECT_EQ(release_server.CountRequests(ReleaseServer::kZelkManifestPath), 0u);

  StopZelk();
  launcher->Click(150, 140);
  EXPECT_EQ(launcher->WaitForExit(), 0);
  log = launcher->Log();
  const size_t second_retry = log.rfind("[class UpdateZelkStep] [debug] User retries update");
  const size_t repair = log.find("[class UpdateZelkStep] [info] Repairing Zelk");
  ASSERT_NE(repair, std::string::npos) << log;
  EXPECT_LT(second_retry, repair);
  EXPECT_LT(repair, log.find("[class UpdateZelkStep] [info] Checking for zelk update"));
  EXPECT_EQ(release_server.CountRequests(kArchivePath), 1u);
  EXPECT_EQ(ReadFixtureRecord(sandbox.fixture_record()).size(), 1u) << "the launch step starts it";
}

TEST_F(UpdateZelkStepTest, RunningZelkAndExitEndsTheRunWithoutTouchingIt) {
  const fs::path launcher_path = sandbox.PlaceInstalled(kInstalledVersion);
  StartZelk();

  auto launcher = StartLauncher(launcher_path);
  ASSERT_TRUE(launcher->WaitForFirstFrame());
  ASSERT_TRUE(WaitUntil([&] { return launcher->TakeScreenshot().At(305, 130) == kButton; }));
  launcher->Click(350, 140);
  EXPECT_EQ(launcher->WaitForExit(), 0);
  EXPECT_THAT(launcher->Log(), HasSubstr("[class UpdateZelkStep] [debug] User exits update"));
  EXPECT_TRUE(ReadFixtureRecord(sandbox.fixture_record()).empty()) << "no launch step";
  EXPECT_EQ(release_server.CountRequests(ReleaseServer::kZelkManifestPath), 0u);
  const json record = LatestUpdateRecord();
  EXPECT_EQ(record["final_state"], "ZelkIsRunning") << record;
  EXPECT_EQ(record["result"], "succeeded");
}

}  // namespace
