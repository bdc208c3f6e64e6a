// The self-update step as a user meets it: a current launcher goes on to start Zelk; a newer one
// is downloaded, and a few seconds after the run has gone it stands in the launcher's place and
// has been started with "-updated", also from a folder whose name a shell would misread. Every
// failure (a restarted run that is offered yet another version, no manifest, a broken download,
// a launcher folder that vanished) stops on the failure screen, whose "Exit" ends the run.
#include "steps/self_update_step.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>

#include "support/launcher_test.h"
#include "support/wait_until.h"

namespace fs = std::filesystem;
using nlohmann::json;
using std::chrono::seconds;
using testing::HasSubstr;
using testing::Not;

namespace {

constexpr Rgb kBackground{18, 18, 18};
constexpr Rgb kButton{35, 35, 35};
constexpr const char* kNewLauncherPath = "/files/new/ZelkLauncher.exe";
// A folder name that runs commands if it is ever spliced into shell text.
const std::string kHostileName = "a b\"c$(touch pwned)`touch pwned`\xC3\xA9";

// The self-update step's record in the one upload the run sent.
json SelfUpdateRecord(const ReleaseServer& server) {
  const auto bodies = server.AnalyticsBodies();
  EXPECT_EQ(bodies.size(), 1u);
  if (bodies.empty()) return {};
  size_t start = 0;
  for (size_t end; (end = bodies[0].find('\n', start)) != std::string::npos; start = end + 1) {
    json record = json::parse(bodies[0].substr(start, end - start));
    if (record["step_type"] == "class SelfUpdateStep") return record;
  }
  ADD_FAILURE() << "no self-update record in " << bodies[0];
  return {};
}

std::vector<fs::path> FindPwned(const fs::path& root) {
  std::vector<fs::path> found;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.path().filename() == "pwned") found.push_back(entry.path());
  }
  return found;
}

class SelfUpdateStepTest : public LauncherTest {
 protected:
  SelfUpdateStepTest() {
    // The "new launcher" is the fixture program with a few bytes of its own at the end.
    fs::create_directories(new_launcher_.parent_path());
    WriteFile(new_launcher_, ReadFile(ZELK_FIXTURE_APP_EXE) + "\nthe new launcher\n");
    release_server.ServeFile(kNewLauncherPath, new_launcher_);
  }

  void OfferVersion6() {
    release_server.SetLauncherManifest("6\n" + release_server.Url(kNewLauncherPath) + "\n");
  }

  // The failure screen: its "Exit" button, and a message above it.
  void ExpectFailureScreen(LauncherProcess& launcher) {
    ASSERT_TRUE(launcher.WaitForFirstFrame());
    ASSERT_TRUE(WaitUntil([&] { return launcher.TakeScreenshot().At(205, 130) == kButton; }));
    const Screenshot screen = launcher.TakeScreenshot();
    EXPECT_GT(screen.CountOtherThan(kBackground, 40, 55, 460, 85), 50) << "a message is shown";
    EXPECT_TRUE(launcher.Running()) << "the failure screen waits for the user";
  }

  // Clicks "Exit" on the failure screen; the run ends with code 0 and the log says why.
  void ExitFromFailureScreen(LauncherProcess& launcher, const std::string& message) {
    launcher.Click(250, 140);
    EXPECT_EQ(launcher.WaitForExit(), 0);
    EXPECT_THAT(launcher.Log(),
                HasSubstr("[class SelfUpdateStep] [error] Update failed " + message));
  }

  fs::path tmp_file() const { return sandbox.installed_folder() / "ZelkLauncher.tmp"; }

  const fs::path new_launcher_ = sandbox.root() / "served" / "ZelkLauncher.exe";
};

TEST_F(SelfUpdateStepTest, ACurrentLauncherGoesOnToStartZelk) {
  auto launcher = StartLauncher(sandbox.PlaceInstalled(kInstalledVersion));
  ASSERT_EQ(launcher->WaitForExit(), 0);

  const auto starts = ReadFixtureRecord(sandbox.fixture_record());
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].exe, (sandbox.application_folder() / "Zelk.exe").string());
  const json record = SelfUpdateRecord(release_server);
  EXPECT_EQ(record["final_state"], "CheckingForUpdate");
  EXPECT_EQ(record["old_version"], "5");
  EXPECT_EQ(record["new_version"], "5");
  EXPECT_EQ(record["allow_update"], true);
  EXPECT_EQ(record["download_time"], 0.0);
  EXPECT_EQ(record["result"], "succeeded");
  const std::string log = launcher->Log();
  EXPECT_THAT(log, HasSubstr("[class SelfUpdateStep] [debug] Update is allowed"));
  EXPECT_THAT(log, HasSubstr("[class SelfUpdateStep] [info] Update not needed"));
  EXPECT_EQ(release_server.CountRequests(kNewLauncherPath), 0u);
  EXPECT_FALSE(fs::exists(tmp_file()));
}

struct SwapCase {
  std::string name;
  std::vector<std::string> arguments;
  bool hostile_folder;
};

void PrintTo(const SwapCase& c, std::ostream* out) { *out << c.name; }

class SelfUpdateSwapTest : public SelfUpdateStepTest,
                           public testing::WithParamInterface<SwapCase> {};

// The run ends at once with code 0 and no report; the helper then puts the download in place
// and starts it, which here is the fixture program writing down how it was started.
TEST_P(SelfUpdateSwapTest, TheNewLauncherReplacesTheOldOneAndStartsWithUpdated) {
  const SwapCase& c = GetParam();
  fs::path data_home = sandbox.data_home();
  std::map<std::string, std::string> environment;
  if (c.hostile_folder) {
    data_home = sandbox.root() / kHostileName / "share";
    environment["XDG_DATA_HOME"] = data_home.string();
  }
  const fs::path folder = data_home / "Programs" / "ZelkGoLauncher";
  const fs::path installed = folder / "ZelkLauncher.exe";
  CopyExecutable(ZELK_LAUNCHER_EXE, installed);
  WriteFile(folder / "installed_zelk", "");
  CopyExecutable(ZELK_FIXTURE_APP_EXE, folder / "Zelk" / "Zelk.exe");
  WriteFile(folder / "Zelk" / "version.txt", std::string(kInstalledVersion) + "\n");
  OfferVersion6();

  auto launcher = StartLauncher(installed, c.arguments, {}, environment);
  ASSERT_EQ(launcher->WaitForExit(), 0);
  const std::string log = launcher->Log();
  const bool skip_auto_proxy = !c.arguments.empty();
  EXPECT_THAT(log, HasSubstr("[class SelfUpdateStep] [info] Downloading new version " +
                             release_server.Url(kNewLauncherPath)));
  EXPECT_THAT(log, HasSubstr("[class SelfUpdateStep] [info] Restarting after update " +
                             DescribeCommand(RestartCommand(folder / "ZelkLauncher.tmp", installed,
                                                            skip_auto_proxy))));
  EXPECT_EQ(release_server.CountRequests(kNewLauncherPath), 1u);

  ASSERT_TRUE(
      WaitUntil([&] { return !ReadFixtureRecord(sandbox.fixture_record()).empty(); }, seconds(15)))
      << "the new launcher was not started\n"
      << log;
  std::this_thread::sleep_for(
      std::chrono::milliseconds(200));  // a second start would follow at once
  const auto starts = ReadFixtureRecord(sandbox.fixture_record());
  ASSERT_EQ(starts.size(), 1u) << "only the new launcher starts, not Zelk";
  EXPECT_EQ(starts[0].exe, installed.string());
  EXPECT_EQ(starts[0].cwd, folder.string());
  std::vector<std::string> expected_arguments{"-updated"};
  if (skip_auto_proxy) expected_arguments.push_back("-skipautoproxy");
  EXPECT_EQ(starts[0].args, expected_arguments);

  EXPECT_TRUE(ReadFile(installed) == ReadFile(new_launcher_)) << "the served file is in place";
  EXPECT_EQ(fs::status(installed).permissions() & fs::perms::mask, static_cast<fs::perms>(0755));
  EXPECT_FALSE(fs::exists(folder / "ZelkLauncher.tmp"));
  EXPECT_TRUE(release_server.AnalyticsBodies().empty());
  EXPECT_FALSE(fs::exists(sandbox.config_home() / "Nuvak")) << "the identifier is not touched";
  EXPECT_EQ(FindPwned(sandbox.root()), std::vector<fs::path>{});
  EXPECT_EQ(FindPwned(fs::current_path()), std::vector<fs::path>{});
}

INSTANTIATE_TEST_SUITE_P(
    Runs, SelfUpdateSwapTest,
    testing::Values(SwapCase{"Plain", {}, false},
                    SwapCase{"SkipAutoProxy", {"-skipautoproxy"}, false},
                    SwapCase{"HostileFolder", {}, true},
                    SwapCase{"HostileFolderSkipAutoProxy", {"-skipautoproxy"}, true}),
    [](const auto& info) { return info.param.name; });

TEST_F(SelfUpdateStepTest, ARestartedLauncherOfferedAnotherVersionStopsWithoutDownloading) {
  OfferVersion6();
  auto launcher = StartLauncher(sandbox.PlaceInstalled(kInstalledVersion), {"-updated"});
  ASSERT_TRUE(launcher->WaitForLog("Update needed, url"));
  ExpectFailureScreen(*launcher);
  ExitFromFailureScreen(*launcher, "We should already be up to date!!");

  EXPECT_EQ(release_server.CountRequests(kNewLauncherPath), 0u);
  EXPECT_FALSE(fs::exists(tmp_file()));
  EXPECT_THAT(launcher->Log(), Not(HasSubstr("Update is allowed")));
  EXPECT_TRUE(ReadFixtureRecord(sandbox.fixture_record()).empty()) << "Zelk is not started";
  const json record = SelfUpdateRecord(release_server);
  EXPECT_EQ(record["final_state"], "UpdateFailed");
  EXPECT_EQ(record["allow_update"], false);
  EXPECT_EQ(record["new_version"], "6");
  EXPECT_EQ(record["result"], "Update Failed!");
}

// No manifest: the record says so until the user leaves with "Exit"; closing the window keeps
// that first text.
class SelfUpdateUnreachableTest : public SelfUpdateStepTest,
                                  public testing::WithParamInterface<bool> {};

TEST_P(SelfUpdateUnreachableTest, AnUnreachableServerStopsTheRunOnTheFailureScreen) {
  const bool exit_button = GetParam();
  auto launcher = StartLauncher(sandbox.PlaceInstalled(kInstalledVersion), {}, {},
                                {{"ZELK_RELEASE_SERVER_URL", "https://127.0.0.1:1"}});
  ASSERT_TRUE(launcher->WaitForLog(
      "[class SelfUpdateStep] [error] Update info for launcher not available"));
  ExpectFailureScreen(*launcher);
  if (exit_button) {
    ExitFromFailureScreen(*launcher, "Failed to update. Please try again later...");
  } else {
    launcher->RequestClose();  // as a task bar closes it
    EXPECT_EQ(launcher->WaitForExit(), 0);
  }
  EXPECT_TRUE(ReadFixtureRecord(sandbox.fixture_record()).empty()) << "Zelk is not started";
  const json record = SelfUpdateRecord(release_server);
  EXPECT_EQ(record["final_state"], "UpdateFailed");
  EXPECT_EQ(record["new_version"], "");
  EXPECT_EQ(record["result"],
            exit_button ? "Update Failed!" : "Update info for launcher not available");
}

INSTANTIATE_TEST_SUITE_P(Leaving, SelfUpdateUnreachableTest, testing::Bool(),
                         [](const auto& info) { return info.param ? "Exit" : "WindowClosed"; });

// The server drops the connection after a quarter of the file: what arrived stays in
// ZelkLauncher.tmp, and the launcher itself is untouched.
TEST_F(SelfUpdateStepTest, ABrokenDownloadLeavesWhatArrived) {
  // Shared with the handler, which may outlive a failed test's locals.
  const auto content =
      std::make_shared<const std::string>(ReadFile(new_launcher_) + std::string(1024 * 1024, 'x'));
  const size_t sent = 256 * 1024;
  release_server.ServeHandler(
      kNewLauncherPath, [content](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(content->size(), "application/octet-stream",
                                      [content](size_t offset, size_t, httplib::DataSink& sink) {
                                        if (offset >= sent) return false;  // closes the connection
                                        return sink.write(content->data() + offset, 64 * 1024);
                                      });
      });
  OfferVersion6();
  const fs::path installed = sandbox.PlaceInstalled(kInstalledVersion);
  auto launcher = StartLauncher(installed);

  ASSERT_TRUE(launcher->WaitForLog("libcurl result code: (18)"));
  ExpectFailureScreen(*launcher);
  ExitFromFailureScreen(*launcher, "Download of new version failed, try again later");

  EXPECT_TRUE(ReadFile(tmp_file()) == content->substr(0, sent));
  EXPECT_TRUE(ReadFile(installed) == ReadFile(ZELK_LAUNCHER_EXE));
  EXPECT_THAT(launcher->Log(), Not(HasSubstr("Restarting after update")));
  EXPECT_TRUE(ReadFixtureRecord(sandbox.fixture_record()).empty()) << "Zelk is not started";
  const json record = SelfUpdateRecord(release_server);
  EXPECT_EQ(record["final_state"], "UpdateFailed");
  EXPECT_GT(record["download_time"].get<double>(), 0.0);
  EXPECT_EQ(record["result"], "Update Failed!");
}

// A server that answers with status 200 and nothing in the body: the launcher stays as it is.
TEST_F(SelfUpdateStepTest, AnEmptyDownloadDoesNotReplaceTheLauncher) {
  WriteFile(new_launcher_, "");
  OfferVersion6();
  const fs::path installed = sandbox.PlaceInstalled(kInstalledVersion);
  auto launcher = StartLauncher(installed);

  ASSERT_TRUE(launcher->WaitForLog("[class SelfUpdateStep] [error] Downloaded launcher " +
                                   tmp_file().string() + " is empty"));
  ExpectFailureScreen(*launcher);
  ExitFromFailureScreen(*launcher, "Download of new version failed, try again later");

  EXPECT_EQ(release_server.CountRequests(kNewLauncherPath), 1u);
  EXPECT_TRUE(ReadFile(installed) == ReadFile(ZELK_LAUNCHER_EXE));
  EXPECT_THAT(launcher->Log(), Not(HasSubstr("Restarting after update")));
  EXPECT_EQ(SelfUpdateRecord(release_server)["result"], "Update Failed!");
}

// The launcher folder disappears while the new launcher is arriving (another run uninstalled
// it): the helper cannot start there, and the step says so instead of quitting.
TEST_F(SelfUpdateStepTest, AHelperThatCannotStartShowsTheFailureScreen) {
  // Shared with the handler, which holds the second half back until the test lets it go.
  struct Transfer {
    std::string content;
    std::atomic<bool> half_sent{false};
    std::atomic<bool> go_on{false};
  };
  const auto transfer = std::make_shared<Transfer>();
  transfer->content = ReadFile(new_launcher_);
  release_server.ServeHandler(
      kNewLauncherPath, [transfer](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(
            transfer->content.size(), "application/octet-stream",
            [transfer](size_t offset, size_t, httplib::DataSink& sink) {
              const size_t half = transfer->content.size() / 2;
              if (offset >= half) {
                transfer->half_sent = true;
                WaitUntil([&] { return transfer->go_on.load(); }, seconds(60));
              }
              const size_t end = offset < half ? half : transfer->content.size();
              return sink.write(transfer->content.data() + offset, end - offset);
            });
      });
  // Lets the handler go before the server stops, however the test ends.
  struct Opener {
    Transfer& transfer;
    ~Opener() { transfer.go_on = true; }
  } opener{*transfer};
  OfferVersion6();
  auto launcher = StartLauncher(sandbox.PlaceInstalled(kInstalledVersion));

  ASSERT_TRUE(WaitUntil([&] { return transfer->half_sent.load(); }));
  // The log lives in the folder that goes; a second name keeps it readable.
  const fs::path log = sandbox.root() / "kept_log.txt";
  fs::create_hard_link(launcher->log_file(), log);
  fs::remove_all(sandbox.installed_folder());
  transfer->go_on = true;

  ASSERT_TRUE(WaitUntil([&] {
    return ReadFile(log).find("Could not start the restart command") != std::string::npos;
  })) << ReadFile(log);
  ExpectFailureScreen(*launcher);
  launcher->Click(250, 140);
  EXPECT_EQ(launcher->WaitForExit(), 0);
  const std::string text = ReadFile(log);
  EXPECT_THAT(text, HasSubstr("[class SelfUpdateStep] [error] Could not start the restart command: "
                              "No such file or directory"));
  EXPECT_THAT(
      text,
      HasSubstr("[class SelfUpdateStep] [error] Update failed Could not start the application"));
  const json record = SelfUpdateRecord(release_server);
  EXPECT_EQ(record["final_state"], "UpdateFailed");
  EXPECT_EQ(record["result"], "Update Failed!");
}

}  // namespace
