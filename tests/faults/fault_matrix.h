// The fault matrix: every row runs the real launcher into one fault (a network, disk, process or
// input failure) and checks how the run ends: the screen text (through the step's record and its
// log line), the exit code and the files left behind. Each row prints one machine-readable line,
//   FAULT-ROW|<fault>|<expected>|<observed>|PASS or FAIL or SKIP
// which scripts/reliability-report collects into a table.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "support/https_server.h"
#include "support/launcher_test.h"
#include "support/run_command.h"
#include "support/test_ca.h"
#include "support/wait_until.h"
#include "support/zip_builder.h"

namespace fault_matrix {

namespace fs = std::filesystem;
using nlohmann::json;

inline constexpr Rgb kBackground{18, 18, 18};
inline constexpr const char* kArchivePath = "/files/Zelk.zip";

// How a run ends, as far as a user and the release server can tell. Empty texts are not checked.
struct Outcome {
  std::string step;         // the step that ends the run, e.g. "UpdateZelkStep"
  std::string final_state;  // its record's "final_state"
  std::string result;       // its record's "result"
  std::string log;          // a text of the launcher's log (or its standard error)
  int exit_code = 0;
  bool launched = false;    // Zelk.exe was started
  std::string version;      // the first line of Zelk/version.txt afterwards; "-" when missing
};

inline std::string Describe(const Outcome& outcome) {
  std::ostringstream text;
  text << "exit " << outcome.exit_code << "; " << outcome.step << " " << outcome.final_state;
  if (!outcome.result.empty()) text << " \"" << outcome.result << "\"";
  text << "; " << (outcome.launched ? "launched" : "not launched") << "; version.txt "
       << outcome.version;
  return text.str();
}

// A row's report line: one line, no field separator inside a field.
inline std::string RowField(std::string text) {
  for (char& c : text) {
    if (c == '|' || c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

// The fixture of every row: the installed launcher at 1.0.0 with a current launcher manifest (as
// LauncherTest sets up), a second CA whose certificates the launcher also trusts, and helpers to
// publish releases and to see how a run ended.
class FaultRowTest : public LauncherTest {
 protected:
  FaultRowTest() {
    // The launcher trusts the release server's CA and this test's own.
    trust_bundle_ = scratch_ / "trusted.pem";
    WriteFile(trust_bundle_, ReadFile(release_server.ca_file()) + ReadFile(own_ca_.ca_file()));
  }

  void TearDown() override {
    const char* verdict = IsSkipped() ? "SKIP" : HasFailure() ? "FAIL" : "PASS";
    std::cout << "FAULT-ROW|" << RowField(fault_) << "|" << RowField(expected_) << "|"
              << RowField(observed_) << "|" << verdict << std::endl;
  }

  // The row's names, for its report line.
  void Row(std::string fault, std::string expected) {
    fault_ = std::move(fault);
    expected_ = std::move(expected);
  }
  void Observed(std::string observed) { observed_ = std::move(observed); }

  // A server of this test (trusted, for 127.0.0.1) that a row makes misbehave; handlers go on
  // its server() before Start().
  std::unique_ptr<HttpsServer> MakeServer(const std::vector<std::string>& names = {"IP:127.0.0.1"}) {
    return std::make_unique<HttpsServer>(own_ca_.Issue(names));
  }

  // The environment with both CAs trusted, and `extra`.
  std::map<std::string, std::string> Environment(std::map<std::string, std::string> extra = {}) {
    extra.emplace("CURL_CA_BUNDLE", trust_bundle_.string());
    return extra;
  }

  // Publishes application `version` (Zelk.exe and version.txt, packed by Info-ZIP's zip) into
  // `archive` and returns its path; the manifest names `url` (by default the release server's).
  fs::path PackRelease(const std::string& version) {
    const fs::path release = scratch_ / ("release-" + version);
    fs::remove_all(release);
    CopyExecutable(ZELK_FIXTURE_APP_EXE, release / "Zelk.exe");
    WriteFile(release / "version.txt", version + "\n");
    const fs::path archive = scratch_ / ("Zelk-" + version + ".zip");
    fs::remove(archive);
    EXPECT_EQ(RunCommand({"zip", "-q", archive.string(), "Zelk.exe", "version.txt"}, {}, 60, release)
                  .exit_code,
              0);
    return archive;
  }
  void PublishManifest(const std::string& version, const std::string& url) {
    release_server.SetZelkManifest(version + "\n" + url + "\n");
  }
  void Publish(const std::string& version) {
    release_server.ServeFile(kArchivePath, PackRelease(version));
    PublishManifest(version, release_server.Url(kArchivePath));
  }

  // The record of class `step` in the latest upload; null when there is none.
  json LatestRecord(const std::string& step) const {
    const auto bodies = release_server.AnalyticsBodies();
    if (bodies.empty()) return {};
    std::istringstream lines(bodies.back());
    for (std::string line; std::getline(lines, line);) {
      const json record = json::parse(line, nullptr, false);
      if (record.is_object() && record.value("step_type", "") == "class " + step) return record;
    }
    return {};
  }

  // Waits for the centred "Exit" of a failure screen and clicks it, again if a click was lost.
  // A window that has not drawn yet is black, not the background: the first frame comes first.
  bool LeaveFailureScreen(LauncherProcess& launcher) {
    if (!launcher.WaitForFirstFrame()) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(40);
    while (std::chrono::steady_clock::now() < deadline) {
      if (!launcher.Running()) return false;
      const Rgb pixel = launcher.TakeScreenshot().At(205, 150);
      if (pixel != kBackground && pixel != Rgb{0, 0, 0}) {
        launcher.Click(250, 140);
        if (WaitUntil([&] { return !launcher.Running(); }, std::chrono::seconds(5))) return true;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
    return false;
  }

  std::string InstalledVersion() const {
    const fs::path file = sandbox.application_folder() / "version.txt";
    if (!fs::exists(file)) return "-";
    const std::string text = ReadFile(file);
    return text.substr(0, text.find('\n'));
  }

  // Runs the installed launcher (or `launcher_path`) into the row's fault and checks the end
  // against `expected`; a failure screen (expected when the result starts "Update failed") is
  // left with its Exit button. Returns the run for further checks.
  std::unique_ptr<LauncherProcess> RunExpecting(const Outcome& expected,
                                                std::map<std::string, std::string> environment = {},
                                                std::optional<fs::path> launcher_path = {},
                                                std::vector<std::string> arguments = {}) {
    if (!launcher_path) launcher_path = installed_launcher_;
    auto launcher = StartLauncher(*launcher_path, arguments, {}, Environment(std::move(environment)));
    const bool failure_screen = expected.result.rfind("Update failed", 0) == 0 ||
                                expected.result == "Update Failed!";
    if (failure_screen) EXPECT_TRUE(LeaveFailureScreen(*launcher)) << "no failure screen";
    Outcome observed;
    observed.exit_code = launcher->WaitForExit(std::chrono::seconds(90));
    observed.step = expected.step;
    const json record = LatestRecord(expected.step);
    observed.final_state = record.is_object() ? record.value("final_state", "") : "(no record)";
    observed.result = record.is_object() ? record.value("result", "") : "";
    observed.launched = !ReadFixtureRecord(sandbox.fixture_record()).empty();
    observed.version = InstalledVersion();
    const std::string log = launcher->Log() + launcher->StandardError();
    if (!expected.log.empty()) {
      observed.log = log.find(expected.log) != std::string::npos ? expected.log : "(line missing)";
    }

    EXPECT_EQ(observed.exit_code, expected.exit_code);
    if (!expected.final_state.empty()) EXPECT_EQ(observed.final_state, expected.final_state);
    if (!expected.result.empty()) EXPECT_EQ(observed.result, expected.result);
    EXPECT_EQ(observed.launched, expected.launched);
    if (!expected.version.empty()) EXPECT_EQ(observed.version, expected.version);
    EXPECT_EQ(observed.log, expected.log) << log;
    Row(fault_, Describe(expected) + (expected.log.empty() ? "" : "; log \"" + expected.log + "\""));
    Observed(Describe(observed) + (expected.log.empty() ? "" : "; log \"" + observed.log + "\""));
    return launcher;
  }

  TempFolder scratch_;
  TestCa own_ca_;
  fs::path trust_bundle_;
  fs::path installed_launcher_ = sandbox.PlaceInstalled(kInstalledVersion);

 private:
  std::string fault_;
  std::string expected_;
  std::string observed_ = "(not run)";
};

// gtest case names from a row's fault: letters and digits, the rest as "_".
inline std::string CaseName(const std::string& fault) {
  std::string name;
  for (char c : fault) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

}  // namespace fault_matrix
