// The self-update step in-process: what it does in the frame in which the version check answers,
// and the swap-and-restart helper run for real, in folders whose names a shell would misread.
#include "steps/self_update_step.h"

#include <gtest/gtest.h>

#include "shell/options.h"
#include "steps/step_frame.h"
#include "support/launcher_process.h"
#include "support/launcher_sandbox.h"
#include "support/log_capture.h"
#include "support/release_server.h"
#include "support/run_command.h"
#include "support/scoped_environment.h"
#include "support/temp_folder.h"
#include "support/wait_until.h"

namespace fs = std::filesystem;

namespace {

// A folder name that runs commands if it is ever spliced into shell text.
const std::string kHostileName = "a b\"c$(touch pwned)`touch pwned`\xC3\xA9";

// Every file named "pwned" under `root`.
std::vector<fs::path> FindPwned(const fs::path& root) {
  std::vector<fs::path> found;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.path().filename() == "pwned") found.push_back(entry.path());
  }
  return found;
}

// --- The version check's answer, frame by frame ----------------------------------------------

class SelfUpdateCheckTest : public ::testing::Test {
 protected:
  SelfUpdateCheckTest() {
    for (const char* name : kProxyEnvironmentVariables) environment_.Unset(name);
    for (const auto& [name, value] : release_server_.Environment()) environment_.Set(name, value);
    SkipAutoProxy = true;  // no proxy discovery in-process
  }
  ~SelfUpdateCheckTest() override { SkipAutoProxy = false; }

  ReleaseServer release_server_;
  ScopedEnvironment environment_;
  ProgressBar progress_bar_{500, 200};
  StepFrames frames_;
  LogCapture log_;
};

// Each case: the manifest (or an unreachable server), whether the step may update, and what the
// first frame after the answer returns and the record then says. No case downloads anything.
TEST_F(SelfUpdateCheckTest, TheFrameInWhichTheAnswerArrivesDecides) {
  const std::string url = release_server_.Url("/files/ZelkLauncher.exe");
  const struct {
    std::string name;
    std::optional<std::string> manifest;  // nothing: the server is unreachable
    bool allow_update;
    int status;
    std::string final_state;
    std::string new_version;
    std::string result;
  } cases[] = {
      {"current", "5\n" + url + "\n", true, Done, "CheckingForUpdate", "5", "succeeded"},
      {"current, not allowed", "5\n" + url + "\n", false, Done, "CheckingForUpdate", "5",
       "succeeded"},
      {"newer without a URL", "6\n", true, Done, "CheckingForUpdate", "6", "succeeded"},
      {"newer, not allowed", "6\n" + url + "\n", false, Running, "UpdateFailed", "6", "succeeded"},
      {"unreachable", std::nullopt, true, Running, "UpdateFailed", "",
       "Update info for launcher not available"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnvironment server;
    if (c.manifest) {
      release_server_.SetLauncherManifest(*c.manifest);
    } else {
      server.Set("ZELK_RELEASE_SERVER_URL", "https://127.0.0.1:1");
    }
    SelfUpdateStep step(c.allow_update, progress_bar_);
    step.Start();
    step.GetAnalyticsRecord();  // waits for the check: its answer is there for the next frame

    EXPECT_EQ(frames_.Run(step, 0.5f), c.status);
    if (c.status == Running) {
      EXPECT_EQ(frames_.Run(step, 0.5f), Running) << "the failure screen stays";
    }

    const auto record = step.GetAnalyticsRecord();
    EXPECT_EQ(record["step_type"], "class SelfUpdateStep");
    EXPECT_EQ(record["final_state"], c.final_state);
    EXPECT_EQ(record["old_version"], "5");
    EXPECT_EQ(record["new_version"], c.new_version);
    EXPECT_EQ(record["allow_update"], c.allow_update);
    EXPECT_EQ(record["download_time"], 0.0);
    EXPECT_EQ(record["result"], c.result);
    EXPECT_DOUBLE_EQ(record["step_duration"].get<double>(), c.status == Running ? 1.0 : 0.5);
  }
  EXPECT_EQ(release_server_.CountRequests("/files/ZelkLauncher.exe"), 0u);
  EXPECT_FALSE(log_.Contains("Downloading new version"));
  EXPECT_FALSE(log_.Contains("Restarting after update"));
}

TEST_F(SelfUpdateCheckTest, StartLogsAndChecksWhetherOrNotUpdatesAreAllowed) {
  for (const bool allow_update : {true, false}) {
    log_.Clear();
    SelfUpdateStep step(allow_update, progress_bar_);
    step.Start();
    step.GetAnalyticsRecord();
    std::vector<LogLine> own = log_.lines("class SelfUpdateStep");
    std::vector<LogLine> expected{
        {"class SelfUpdateStep", "debug", "Starting self update step"},
        {"class SelfUpdateStep", "info", "Checking for updated launcher"}};
    if (allow_update) expected.push_back({"class SelfUpdateStep", "debug", "Update is allowed"});
    own.resize(std::min(own.size(), expected.size()));
    EXPECT_EQ(own, expected);
  }
  EXPECT_EQ(release_server_.CountRequests(ReleaseServer::kLauncherManifestPath), 2u);
}

TEST_F(SelfUpdateCheckTest, AnUnstartedStepReportsItsInitialValues) {
  SelfUpdateStep step(false, progress_bar_);
  const auto record = step.GetAnalyticsRecord();
  EXPECT_EQ(record, (nlohmann::json{{"step_type", "class SelfUpdateStep"},
                                    {"step_duration", 0.0},
                                    {"final_state", "CheckingForUpdate"},
                                    {"old_version", "5"},
                                    {"new_version", ""},
                                    {"allow_update", false},
                                    {"download_time", 0.0}}));
}

// --- The restart command ---------------------------------------------------------------------

TEST(RestartCommandTest, PathsAndOptionsTravelAsArgumentsOfAConstantScript) {
  const fs::path download = "/home/u/" + kHostileName + "/ZelkLauncher.tmp";
  const fs::path launcher = "/home/u/" + kHostileName + "/ZelkLauncher.exe";
  const auto plain = RestartCommand(download, launcher, false);
  const auto skipping = RestartCommand(download, launcher, true);

  ASSERT_EQ(plain.size(), 6u);
  EXPECT_EQ(plain[0], "/bin/sh");
  EXPECT_EQ(plain[1], "-c");
  EXPECT_EQ(plain[3], "sh");  // $0
  EXPECT_EQ(plain[4], download.string());
  EXPECT_EQ(plain[5], launcher.string());
  EXPECT_EQ(plain[2].find("/home/u"), std::string::npos) << "no path inside the script";
  EXPECT_EQ(RestartCommand("/x/ZelkLauncher.tmp", "/x/ZelkLauncher.exe", false)[2], plain[2]);

  std::vector<std::string> expected = plain;
  expected.push_back("-skipautoproxy");
  EXPECT_EQ(skipping, expected);
}

// The logged text, read back by a POSIX shell, gives exactly the arguments that run.
TEST(RestartCommandTest, TheLoggedCommandReadsBackAsTheArgumentsThatRun) {
  const auto command = RestartCommand("/t/it's " + kHostileName + "\n/ZelkLauncher.tmp",
                                      "/t/''\\ZelkLauncher.exe", true);
  const std::string described = DescribeCommand(command);
  const CommandResult echoed =
      RunCommand({"/bin/sh", "-c", "eval \"set -- $1\"; printf '%s\\0' \"$@\"", "sh", described});
  ASSERT_EQ(echoed.exit_code, 0) << echoed.output;
  std::vector<std::string> read_back;
  for (size_t start = 0, end; (end = echoed.output.find('\0', start)) != std::string::npos;
       start = end + 1) {
    read_back.push_back(echoed.output.substr(start, end - start));
  }
  EXPECT_EQ(read_back, command);
}

// --- The helper, run for real ----------------------------------------------------------------

class RestartHelperTest : public ::testing::Test {
 protected:
  RestartHelperTest() {
    fs::create_directories(launcher_folder_);
    environment_.Set("ZELK_FIXTURE_RECORD", record_.string());
    // The old launcher and the new one are the fixture program; the new one carries trailing
    // bytes so that the two files can be told apart.
    CopyExecutable(ZELK_FIXTURE_APP_EXE, launcher_);
    old_bytes_ = ReadFile(launcher_);
    new_bytes_ = old_bytes_ + "\nthe new launcher\n";
  }

  std::vector<FixtureStart> WaitForStart() const {
    EXPECT_TRUE(
        WaitUntil([&] { return !ReadFixtureRecord(record_).empty(); }, std::chrono::seconds(20)))
        << "the launcher was not started again";
    // A second start would come at once after the first.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return ReadFixtureRecord(record_);
  }

  TempFolder root_;
  const fs::path launcher_folder_ = root_ / kHostileName / "ZelkGoLauncher";
  const fs::path launcher_ = launcher_folder_ / "ZelkLauncher.exe";
  const fs::path download_ = launcher_folder_ / "ZelkLauncher.tmp";
  const fs::path record_ = root_ / "record.txt";
  std::string old_bytes_;
  std::string new_bytes_;
  ScopedEnvironment environment_;
  LogCapture log_;
  Logger logger_ = CreateLogger("class SelfUpdateStep");
};

class RestartHelperSwapTest : public RestartHelperTest, public testing::WithParamInterface<bool> {};

TEST_P(RestartHelperSwapTest, SwapsTheDownloadInAfterFourSecondsAndRestartsWithUpdated) {
  const bool skip_auto_proxy = GetParam();
  {
    WriteFile(download_, new_bytes_);
    fs::permissions(download_, fs::perms::owner_read | fs::perms::owner_write);

    ASSERT_TRUE(
        RestartAfterUpdate(download_, launcher_, launcher_folder_, skip_auto_proxy, *logger_));
    EXPECT_EQ(ReadFile(launcher_), old_bytes_) << "the swap waits for this process to go";
    EXPECT_TRUE(fs::exists(download_));

    const auto starts = WaitForStart();
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].exe, launcher_.string());
    EXPECT_EQ(starts[0].cwd, launcher_folder_.string());
    const std::vector<std::string> expected_arguments =
        skip_auto_proxy ? std::vector<std::string>{"-updated", "-skipautoproxy"}
                        : std::vector<std::string>{"-updated"};
    EXPECT_EQ(starts[0].args, expected_arguments);
    EXPECT_TRUE(ReadFile(launcher_) == new_bytes_) << "the new launcher is in place";
    EXPECT_EQ(fs::status(launcher_).permissions() & fs::perms::mask, static_cast<fs::perms>(0755));
    EXPECT_FALSE(fs::exists(download_));
  }
  EXPECT_EQ(FindPwned(root_.path()), std::vector<fs::path>{});
  EXPECT_EQ(FindPwned(fs::current_path()), std::vector<fs::path>{});
  const LogLine restarting{
      "class SelfUpdateStep", "info",
      "Restarting after update " +
          DescribeCommand(RestartCommand(download_, launcher_, skip_auto_proxy))};
  EXPECT_EQ(log_.lines("class SelfUpdateStep"), std::vector<LogLine>{restarting});
}
INSTANTIATE_TEST_SUITE_P(Options, RestartHelperSwapTest, testing::Bool(),
                         [](const auto& info) { return info.param ? "SkipAutoProxy" : "None"; });

// A download that cannot be renamed over the launcher (here a folder, which no user can rename
// onto a file): the old launcher still comes back, and the download stays.
TEST_F(RestartHelperTest, AFailedRenameStillRestartsTheOldLauncher) {
  fs::create_directories(download_);
  WriteFile(download_ / "part", "received");

  ASSERT_TRUE(RestartAfterUpdate(download_, launcher_, launcher_folder_, false, *logger_));

  const auto starts = WaitForStart();
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].exe, launcher_.string());
  EXPECT_EQ(starts[0].cwd, launcher_folder_.string());
  EXPECT_EQ(starts[0].args, std::vector<std::string>{"-updated"});
  EXPECT_TRUE(ReadFile(launcher_) == old_bytes_);
  EXPECT_EQ(ReadFile(download_ / "part"), "received");
}

TEST_F(RestartHelperTest, AHelperThatCannotStartGivesFalse) {
  const struct {
    std::string name;
    fs::path launcher;
    fs::path working_folder;
    std::string error;
  } cases[] = {
      {"missing launcher folder", launcher_, root_ / "gone",
       "Could not start the restart command: No such file or directory"},
      {"unknown own path", fs::path(), launcher_folder_, "Could not read the launcher's own path"},
  };
  WriteFile(download_, new_bytes_);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    log_.Clear();
    EXPECT_FALSE(RestartAfterUpdate(download_, c.launcher, c.working_folder, false, *logger_));
    const auto lines = log_.lines("class SelfUpdateStep");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), (LogLine{"class SelfUpdateStep", "error", c.error}));
  }
}

}  // namespace
