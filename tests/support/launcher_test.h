// The base of every test that runs the real launcher: a private X server for the test process, a
// fresh user profile, and a release server that answers as a quiet day's release server does
// (the launcher is current, the application is at kInstalledVersion), so that every step but the
// one a test looks at passes through without work.
//
// Every such test holds the ZelkExeLock shared, since the update step finds any Zelk.exe of the
// machine; a test that keeps one running (RunningZelk) passes Mode::Exclusive to the constructor.
//
//   class MyTest : public LauncherTest {};
//   TEST_F(MyTest, Something) {
//     auto launcher = StartLauncher(sandbox.PlaceInstalled(kInstalledVersion));
//     launcher->WaitForFirstFrame();
//     launcher->Click(250, 140);
//     EXPECT_EQ(launcher->WaitForExit(), 0);
//   }
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "support/launcher_process.h"
#include "support/launcher_sandbox.h"
#include "support/release_server.h"
#include "support/x_server.h"
#include "support/zelk_exe_lock.h"

// The environment of a launcher run: the X server, the profile, the release server, then `extra`
// (which wins). Nothing else of the caller's environment, no proxy; only the sanitizer settings
// pass on, so that a sanitized launcher reports where the test run collects reports
// (ZELK_LAUNCHER_ASAN_OPTIONS, when set, is the launcher's ASAN_OPTIONS).
inline std::map<std::string, std::string> SanitizerEnvironment() {
  std::map<std::string, std::string> environment;
  for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name); value != nullptr) environment[name] = value;
  }
  if (const char* value = std::getenv("ZELK_LAUNCHER_ASAN_OPTIONS"); value != nullptr) {
    environment["ASAN_OPTIONS"] = value;
  }
  return environment;
}

inline std::map<std::string, std::string> MakeLauncherEnvironment(
    const XServer& x_server, const LauncherSandbox& sandbox, const ReleaseServer& release_server,
    const std::map<std::string, std::string>& extra = {}) {
  std::map<std::string, std::string> environment = x_server.Environment();
  environment.merge(SanitizerEnvironment());
  environment.merge(sandbox.Environment());
  environment.merge(release_server.Environment());
  for (const auto& [key, value] : extra) environment[key] = value;
  return environment;
}

class LauncherTest : public ::testing::Test {
 protected:
  explicit LauncherTest(ZelkExeLock::Mode zelk_exe = ZelkExeLock::Mode::Shared)
      : zelk_exe_lock_(zelk_exe) {}

  static constexpr const char* kInstalledVersion = "1.0.0";

  // The environment of a launcher started by this test (MakeLauncherEnvironment).
  std::map<std::string, std::string> LauncherEnvironment(
      const std::map<std::string, std::string>& extra = {}) const {
    return MakeLauncherEnvironment(XServer::Shared(), sandbox, release_server, extra);
  }

  // Starts `launcher` with `arguments`, by default in its own folder (as a desktop entry does).
  std::unique_ptr<LauncherProcess> StartLauncher(
      const std::filesystem::path& launcher, const std::vector<std::string>& arguments = {},
      const std::optional<std::filesystem::path>& working_folder = {},
      const std::map<std::string, std::string>& extra_environment = {}) const {
    return std::make_unique<LauncherProcess>(launcher, arguments,
                                             working_folder.value_or(launcher.parent_path()),
                                             LauncherEnvironment(extra_environment));
  }

 private:
  // Declared first, so it is held until everything below has gone.
  ZelkExeLock zelk_exe_lock_;

 protected:
  LauncherSandbox sandbox;
  ReleaseServer release_server{kInstalledVersion};
};
