// The real launcher against a real `zelk-release serve` instead of the test server: a release
// published with `pack` and `launcher` is checked, downloaded and installed, and the run's
// analytics records end up in the server's database and in its report.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "record_store.h"
#include "serve_process.h"
#include "support/launcher_process.h"
#include "support/launcher_sandbox.h"
#include "support/launcher_test.h"
#include "support/x_server.h"
#include "support/zelk_exe_lock.h"

namespace fs = std::filesystem;
using nlohmann::json;

TEST(ReleaseServerTest, LauncherInstallsAPackedReleaseAndItsRecordsAreStored) {
  // The update step must see no Zelk.exe that another test keeps running.
  const ZelkExeLock zelk_exe_lock(ZelkExeLock::Mode::Shared);
  TempFolder folder;
  const fs::path release = folder / "release";
  const fs::path data = folder / "data";
  fs::create_directories(release);
  ServeProcess server(release, data);
  ASSERT_TRUE(server.started());

  const fs::path app = folder / "app";
  CopyExecutable(ZELK_FIXTURE_APP_EXE, app / "Zelk.exe");
  fs::create_directories(app / "assets");
  WriteFile(app / "assets" / "readme.txt", "assets");
  ToolResult result = RunReleaseTool({"pack", "--app", app.string(), "--version", "2.0", "--release",
                                      release.string(), "--base-url", server.base_url()});
  ASSERT_EQ(result.exit_code, 0) << result.output;
  result = RunReleaseTool({"launcher", "--exe", ZELK_LAUNCHER_EXE, "--version", "5", "--release",
                           release.string(), "--base-url", server.base_url()});
  ASSERT_EQ(result.exit_code, 0) << result.output;

  LauncherSandbox sandbox;
  const fs::path launcher_path = sandbox.PlaceInstalled("1.0.0");
  std::map<std::string, std::string> environment = XServer::Shared().Environment();
  environment.merge(SanitizerEnvironment());
  environment.merge(sandbox.Environment());
  for (const auto& [name, value] : server.environment()) environment[name] = value;
  LauncherProcess launcher(launcher_path, {}, launcher_path.parent_path(), environment);
  ASSERT_EQ(launcher.WaitForExit(), 0) << launcher.Log();

  EXPECT_EQ(ReadFile(sandbox.application_folder() / "version.txt"), "2.0\n");
  EXPECT_EQ(ReadFile(sandbox.application_folder() / "assets" / "readme.txt"), "assets");
  EXPECT_EQ(ReadFixtureRecord(sandbox.fixture_record()).size(), 1u) << "the new Zelk.exe was started";
  const std::string log = launcher.Log();
  EXPECT_EQ(log.find("Could not send analytics data!"), std::string::npos) << log;

  RecordStore store(data / "analytics.sqlite3");
  const auto stored = store.ReadAll();
  ASSERT_EQ(stored.size(), 4u);
  std::vector<std::string> steps;
  for (const auto& record : stored) {
    const json parsed = json::parse(record.record);
    steps.push_back(parsed["step_type"]);
    EXPECT_EQ(parsed["installation_id"], ReadFile(sandbox.config_home() / "Nuvak" / "Zelk" / "ZELK_MACHINE_GUID"));
    EXPECT_EQ(record.upload, stored[0].upload) << "one request";
  }
  EXPECT_EQ(steps, (std::vector<std::string>{"class InstallStep", "class SelfUpdateStep",
                                             "class UpdateZelkStep", "class LaunchZelkStep"}));
  EXPECT_EQ(json::parse(stored[2].record)["new_version"], "2.0");

  const ToolResult report = RunReleaseTool({"report", "--data", data.string()});
  ASSERT_EQ(report.exit_code, 0);
  EXPECT_NE(report.output.find("UpdateZelkStep"), std::string::npos) << report.output;
  EXPECT_NE(report.output.find(json::parse(stored[0].record)["installation_id"].get<std::string>()),
            std::string::npos)
      << report.output;
  EXPECT_EQ(server.Stop(SIGTERM), 0) << server.Output();
  EXPECT_NE(server.Output().find("GET /zelk/Zelk-2.0.zip 200"), std::string::npos) << server.Output();
}
