// The end-of-run report as the analytics service sees it from the real launcher: one line per
// step, the common fields, and the installation identifier kept in the user's profile across runs.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <regex>

#include "support/launcher_test.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const std::regex kGeneratedId("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
const std::regex kUtcDate("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z");

std::vector<json> Lines(const std::string& body) {
  std::vector<json> records;
  size_t start = 0;
  for (size_t end; (end = body.find('\n', start)) != std::string::npos; start = end + 1) {
    records.push_back(json::parse(body.substr(start, end - start)));
  }
  EXPECT_EQ(start, body.size()) << "the body ends with a line feed";
  return records;
}

class AnalyticsReportTest : public LauncherTest {
 protected:
  fs::path value_file() const { return sandbox.config_home() / "Nuvak" / "Zelk" / "ZELK_MACHINE_GUID"; }
};

// A first run on a clean profile makes the identifier, stores it and sends it; a second run,
// whose window the user closes on the failure screen, sends the same one. Each run reports its
// launch step last.
TEST_F(AnalyticsReportTest, RunsReportEveryStepWithTheStoredIdentifier) {
  const fs::path installed = sandbox.PlaceInstalled(kInstalledVersion);
  auto first = StartLauncher(installed);
  ASSERT_EQ(first->WaitForExit(), 0);

  auto bodies = release_server.AnalyticsBodies();
  ASSERT_EQ(bodies.size(), 1u);
  const std::string id = ReadFile(value_file());
  EXPECT_TRUE(std::regex_match(id, kGeneratedId)) << id;
  auto records = Lines(bodies[0]);
  ASSERT_FALSE(records.empty());
  for (const auto& record : records) {
    EXPECT_EQ(record["environment"], "Zelk Go");
    EXPECT_EQ(record["installation_id"], id);
    EXPECT_TRUE(std::regex_match(record["date"].get<std::string>(), kUtcDate)) << record;
  }
  EXPECT_EQ(records.back()["step_type"], "class LaunchZelkStep");
  EXPECT_EQ(records.back()["launch_failed"], false);
  EXPECT_EQ(records.back()["result"], "succeeded");
  std::string log = first->Log();
  EXPECT_NE(log.find("[class AnalyticsManager] [warning] Could not fetch machine guid from registry, "
                     "generating guid instead. Error code: 2, Text: No such file or directory"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("[utility(CreateInstallationId())] [debug] Generated GUID: " + id), std::string::npos)
      << log;
  EXPECT_EQ(log.find("Could not send analytics data!"), std::string::npos) << log;

  fs::remove(sandbox.application_folder() / "Zelk.exe");
  auto second = StartLauncher(installed);
  ASSERT_TRUE(second->WaitForLog("Could not start Zelk"));
  ASSERT_TRUE(second->WaitForFirstFrame());
  second->PressAltF4();
  ASSERT_EQ(second->WaitForExit(), 0);

  bodies = release_server.AnalyticsBodies();
  ASSERT_EQ(bodies.size(), 2u);
  const auto again = Lines(bodies[1]);
  ASSERT_EQ(again.size(), records.size()) << "one record per step, whichever step was current";
  for (const auto& record : again) EXPECT_EQ(record["installation_id"], id);
  EXPECT_EQ(again.back()["launch_failed"], true);
  EXPECT_EQ(again.back()["result"], "Could not start Zelk");
  EXPECT_EQ(ReadFile(value_file()), id);
  log = second->Log();
  EXPECT_NE(log.find("[class AnalyticsManager] [info] Found machine guid in registry"), std::string::npos)
      << log;
  EXPECT_NE(log.find("[class AnalyticsManager] [info] Writing machine guid to registry"), std::string::npos)
      << log;

  const auto uploads = release_server.requests();
  const auto& upload = uploads.back();
  EXPECT_EQ(upload.method, "POST");
  EXPECT_EQ(upload.path, ReleaseServer::kAnalyticsPath);
  bool key_sent = false;
  for (const auto& [name, value] : upload.headers) key_sent |= name == "ApiKey" && value == "test-key";
  EXPECT_TRUE(key_sent);
}

// The install step ends the run (the user leaves the install screen): the steps after it were
// never started, and their records say so.
TEST_F(AnalyticsReportTest, StepsThatNeverStartedReportWithoutAResult) {
  auto launcher = StartLauncher(sandbox.PlaceDownload());
  ASSERT_TRUE(launcher->WaitForFirstFrame());
  launcher->Click(350, 140);  // "Exit"
  ASSERT_EQ(launcher->WaitForExit(), 0);

  const auto bodies = release_server.AnalyticsBodies();
  ASSERT_EQ(bodies.size(), 1u);
  const auto records = Lines(bodies[0]);
  ASSERT_GE(records.size(), 2u);
  EXPECT_EQ(records.front()["step_type"], "class InstallStep");
  EXPECT_TRUE(records.front().contains("result"));
  EXPECT_GT(records.front()["step_duration"].get<double>(), 0.0);
  for (size_t i = 1; i < records.size(); ++i) {
    SCOPED_TRACE(records[i].dump());
    EXPECT_FALSE(records[i].contains("result"));
    EXPECT_EQ(records[i]["step_duration"], 0.0);
  }
  EXPECT_EQ(records.back()["step_type"], "class LaunchZelkStep");
  // Unstarted steps' durations go out as 0.0.
  size_t zero_durations = 0;
  for (size_t at = 0; (at = bodies[0].find("\"step_duration\":0.0,", at)) != std::string::npos; ++at) {
    ++zero_durations;
  }
  EXPECT_EQ(zero_durations, records.size() - 1);
}

// "-uninstall" runs the uninstall step alone, and reports it alone.
TEST_F(AnalyticsReportTest, UninstallRunSendsOneRecord) {
  auto launcher = StartLauncher(sandbox.PlaceInstalled(kInstalledVersion), {"-uninstall"});
  ASSERT_TRUE(launcher->WaitForFirstFrame());
  launcher->Click(350, 140);  // "Cancel"
  ASSERT_EQ(launcher->WaitForExit(), 0);

  const auto bodies = release_server.AnalyticsBodies();
  ASSERT_EQ(bodies.size(), 1u);
  const auto records = Lines(bodies[0]);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]["step_type"], "class UninstallZelkStep");
  EXPECT_EQ(records[0]["installation_id"], ReadFile(value_file()));
}

// The service is down: the run ends as it would have, with its usual exit code.
TEST_F(AnalyticsReportTest, AnUnreachableServiceLeavesTheExitCodeAlone) {
  auto launcher = StartLauncher(sandbox.PlaceInstalled(kInstalledVersion), {}, {},
                                {{"ZELK_ANALYTICS_PROXY_URL", "https://127.0.0.1:1"}});
  EXPECT_EQ(launcher->WaitForExit(), 0);
  const std::string log = launcher->Log();
  EXPECT_NE(log.find("[class AnalyticsManager] [error] libcurl result code: (7)"), std::string::npos) << log;
  EXPECT_NE(log.find("[class AnalyticsManager] [error] Could not send analytics data!"), std::string::npos)
      << log;
  EXPECT_TRUE(release_server.AnalyticsBodies().empty());
}

}  // namespace
