#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <set>

#include "analytics/analytics_manager.h"
#include "analytics_test_env.h"
#include "network/installation_id.h"

namespace fs = std::filesystem;

namespace {

const std::regex kGeneratedId("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");

fs::perms Mode(const fs::path& path) { return fs::status(path).permissions() & fs::perms::mask; }

}  // namespace

TEST(CreateInstallationIdTest, UpperCaseHexGroupsWithoutBraces) {
  LogCapture log;
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    const std::string id = CreateInstallationId();
    EXPECT_TRUE(std::regex_match(id, kGeneratedId)) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 200u);
  EXPECT_NE(log.Find("[utility(CreateInstallationId())] [debug] Generated GUID: " + *seen.begin()), -1);
}

// This run's identifier goes into the records that the receiver gets.
class InstallationIdentityTest : public AnalyticsTest {
 protected:
  std::string RunReport() {
    AnalyticsManager manager;
    manager.AddRecord(nlohmann::json::object());
    manager.SendRecords();
    const auto records = LastUpload();
    EXPECT_EQ(records.size(), 1u);
    EXPECT_EQ(records.empty() ? "" : records[0]["installation_id"], manager.installation_id());
    return manager.installation_id();
  }
};

TEST_F(InstallationIdentityTest, CleanProfileGeneratesStoresAndSendsAnIdentifier) {
  const std::string id = RunReport();

  EXPECT_TRUE(std::regex_match(id, kGeneratedId)) << id;
  const int warning = log_.Find(
      "[class AnalyticsManager] [warning] Could not fetch machine guid from registry, generating "
      "guid instead. Error code: 2, Text: No such file or directory");
  ASSERT_NE(warning, -1);
  const int generated =
      log_.Find("[utility(CreateInstallationId())] [debug] Generated GUID: " + id, warning);
  ASSERT_NE(generated, -1);
  EXPECT_NE(log_.Find("[class AnalyticsManager] [info] Writing machine guid to registry", generated),
            -1);
  EXPECT_EQ(log_.Find("[error]"), -1);

  EXPECT_EQ(ReadFile(value_file()), id);  // no line break
  EXPECT_EQ(Mode(value_file()), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(Mode(value_file().parent_path()), fs::perms::owner_all);
  EXPECT_EQ(Mode(config_folder()), fs::perms::owner_all);
  // Only the value: the temporary file it was written through is gone.
  EXPECT_EQ(std::distance(fs::directory_iterator(value_file().parent_path()),
                          fs::directory_iterator()),
            1);
}

TEST_F(InstallationIdentityTest, LaterRunsSendTheStoredIdentifier) {
  const std::string first = RunReport();
  const int second_run = static_cast<int>(log_.lines().size());
  EXPECT_EQ(RunReport(), first);

  const int found = log_.Find("[class AnalyticsManager] [info] Found machine guid in registry", second_run);
  ASSERT_NE(found, -1);
  EXPECT_NE(log_.Find("[class AnalyticsManager] [info] Writing machine guid to registry", found), -1);
  EXPECT_EQ(log_.Find("Could not fetch machine guid", second_run), -1);
  EXPECT_EQ(log_.Find("Generated GUID", second_run), -1);
  EXPECT_EQ(ReadFile(value_file()), first);
}

TEST_F(InstallationIdentityTest, StoredTextIsUsedUnchanged) {
  for (const std::string stored : {"", "not a guid {at all}", "3f2504e0-4f89-11d3-9a0c-0305e82c3301\n",
                                   "J\xC3\xBCrgens Rechner"}) {
    SCOPED_TRACE(stored);
    fs::create_directories(value_file().parent_path());
    WriteFile(value_file(), stored);
    EXPECT_EQ(RunReport(), stored);
    EXPECT_EQ(ReadFile(value_file()), stored);
  }
  EXPECT_EQ(log_.Find("Could not fetch machine guid"), -1);
  EXPECT_EQ(log_.Find("[error]"), -1);
}

// Something other than a readable text file in the value's place: a new identifier is made and
// sent, and written where that is possible.
TEST_F(InstallationIdentityTest, UnreadableValueIsReplacedByANewIdentifier) {
  const struct {
    std::string name;
    std::function<void(const fs::path&)> arrange;
    int read_code;
    const char* read_text;
    int write_code;  // 0 when the new identifier replaces what was there
    const char* write_text;
    bool needs_permissions;  // the superuser reads and writes regardless of modes
  } cases[] = {
      {"folder", [](const fs::path& value) { fs::create_directories(value / "inner"); },
       21, "Is a directory", 21, "Is a directory", false},
      {"symbolic link loop", [](const fs::path& value) { fs::create_symlink(value.filename(), value); },
       40, "Too many levels of symbolic links", 0, "", false},
      {"named pipe", [](const fs::path& value) { ASSERT_EQ(mkfifo(value.c_str(), 0600), 0); },
       22, "Invalid argument", 0, "", false},
      {"file without read permission",
       [](const fs::path& value) {
         WriteFile(value, "0D3A1F7E-0000-4000-8000-000000000000");
         fs::permissions(value, fs::perms::none);
       },
       13, "Permission denied", 0, "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needs_permissions && geteuid() == 0) continue;
    fs::remove_all(config_folder());
    fs::create_directories(value_file().parent_path());
    c.arrange(value_file());
    const int first_line = static_cast<int>(log_.lines().size());

    const std::string id = RunReport();

    EXPECT_TRUE(std::regex_match(id, kGeneratedId)) << id;
    EXPECT_NE(log_.Find("Could not fetch machine guid from registry, generating guid instead. Error code: " +
                            std::to_string(c.read_code) + ", Text: " + c.read_text,
                        first_line),
              -1);
    const int write_error = log_.Find("[class AnalyticsManager] [error] Could not set machine guid in registry",
                                      first_line);
    if (c.write_code == 0) {
      EXPECT_EQ(write_error, -1);
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(value_file())));
      EXPECT_EQ(ReadFile(value_file()), id);
    } else {
      ASSERT_NE(write_error, -1);
      EXPECT_NE(log_.lines()[write_error].Text().find("Error code: " + std::to_string(c.write_code) +
                                               ", Text: " + c.write_text),
                std::string::npos)
          << log_.lines()[write_error];
    }
    // No temporary file is left behind.
    for (const auto& entry : fs::directory_iterator(value_file().parent_path())) {
      EXPECT_EQ(entry.path().filename(), "ZELK_MACHINE_GUID");
    }
  }
}

// The value cannot be stored: this run's records carry the new identifier all the same.
TEST_F(InstallationIdentityTest, UnwritableConfigurationFolderStillSendsThisRunsIdentifier) {
  const struct {
    std::string name;
    std::function<void()> arrange;
    int read_code;
    int write_code;
    const char* write_text;
    bool needs_permissions;
  } cases[] = {
      {"configuration folder is a file", [&] { WriteFile(config_folder(), "x"); }, 20, 20,
       "Not a directory", false},
      {"read-only configuration folder",
       [&] {
         fs::create_directories(config_folder());
         fs::permissions(config_folder(), fs::perms::owner_read | fs::perms::owner_exec);
       },
       2, 13, "Permission denied", true},
      {"read-only key folder",
       [&] {
         fs::create_directories(value_file().parent_path());
         fs::permissions(value_file().parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
       },
       2, 13, "Permission denied", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needs_permissions && geteuid() == 0) continue;
    fs::permissions(home_.path(), fs::perms::owner_all);
    if (fs::is_directory(config_folder())) {
      fs::permissions(config_folder(), fs::perms::owner_all);
      if (fs::is_directory(value_file().parent_path())) {
        fs::permissions(value_file().parent_path(), fs::perms::owner_all);
      }
    }
    fs::remove_all(config_folder());
    c.arrange();
    const int first_line = static_cast<int>(log_.lines().size());

    const std::string id = RunReport();

    EXPECT_TRUE(std::regex_match(id, kGeneratedId)) << id;
    EXPECT_NE(log_.Find("generating guid instead. Error code: " + std::to_string(c.read_code), first_line),
              -1);
    EXPECT_NE(log_.Find("[class AnalyticsManager] [error] Could not set machine guid in registry. "
                        "Error code: " + std::to_string(c.write_code) + ", Text: " + c.write_text,
                        first_line),
              -1);
    EXPECT_EQ(log_.Find("Could not send analytics data!"), -1);
  }
}
