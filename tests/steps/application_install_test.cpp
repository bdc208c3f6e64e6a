#include "steps/application_install.h"

#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <unistd.h>

#include <set>
#include <sstream>

#include "support/run_command.h"
#include "support/temp_folder.h"
#include "support/zip_builder.h"

namespace fs = std::filesystem;

namespace {

// Every path under `root`, relative, folders with a trailing "/".
std::set<std::string> Tree(const fs::path& root) {
  std::set<std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(entry.path(), root).string();
    tree.insert(entry.is_directory() && !entry.is_symlink() ? relative + "/" : relative);
  }
  return tree;
}

class ArchiveTest : public ::testing::Test {
 protected:
  ArchiveTest()
      : logger_("class UpdateZelkStep", std::make_shared<spdlog::sinks::ostream_sink_mt>(log_)),
        context_{logger_, record_, percent_} {
    logger_.set_pattern("[%l] %v");
    record_["result"] = "succeeded";
  }

  fs::path Application() const { return folder_ / "launcher" / "Zelk"; }
  fs::path Archive() const { return folder_ / "launcher" / "Zelk.zip"; }
  bool Install() { return InstallApplication(Archive(), Application(), context_); }
  std::string Log() const { return log_.str(); }

  TempFolder folder_;
  std::ostringstream log_;
  spdlog::logger logger_;
  nlohmann::json record_;
  std::atomic<int32_t> percent_{0};
  ArchiveInstallContext context_;

  void SetUp() override { fs::create_directories(folder_ / "launcher"); }
};

}  // namespace

TEST(ArchiveEntryPathTest, NamesInsideTheFolderOnly) {
  const struct {
    const char* name;
    std::optional<fs::path> expected;
  } cases[] = {
      {"Zelk.exe", fs::path("Zelk.exe")},
      {"data/a.bin", fs::path("data/a.bin")},
      {"bin/", fs::path("bin/")},
      {"./bin//x.dll", fs::path("bin/x.dll")},
      {"a..b/c", fs::path("a..b/c")},
      {"../evil", std::nullopt},
      {"a/../../evil", std::nullopt},
      {"a/..", std::nullopt},
      {"/tmp/evil", std::nullopt},
      {"", std::nullopt},
      {"./", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ArchiveEntryPath(c.name), c.expected) << c.name;
}

TEST_F(ArchiveTest, UnpacksTreesAndReportsTheIndexPercentage) {
  const struct {
    const char* name;
    ZipBuilder archive;
    std::set<std::string> tree;
    int percent;
  } cases[] = {
      {"one entry", ZipBuilder().File("Zelk.exe", "exe", 0755), {"Zelk.exe"}, 0},
      {"folder entry", ZipBuilder().Folder("bin/").File("bin/x.dll", "dll"), {"bin/", "bin/x.dll"}, 50},
      {"implied folder", ZipBuilder().File("bin/x.dll", "dll"), {"bin/", "bin/x.dll"}, 0},
      {"three entries",
       ZipBuilder().File("version.txt", "7\r\n").File("Zelk.exe", "exe", 0755).File("a/b/c.txt", "c"),
       {"version.txt", "Zelk.exe", "a/", "a/b/", "a/b/c.txt"},
       66},
  };
  for (const auto& c : cases) {
    c.archive.Write(Archive());
    percent_ = 0;
    EXPECT_TRUE(Install()) << c.name;
    EXPECT_EQ(Tree(Application()), c.tree) << c.name;
    EXPECT_EQ(percent_.load(), c.percent) << c.name;
    EXPECT_FALSE(fs::exists(Archive())) << c.name;
  }
  EXPECT_EQ(ReadFile(Application() / "a/b/c.txt"), "c");
  EXPECT_EQ(ReadFile(Application() / "version.txt"), "7\r\n");
  EXPECT_EQ(record_["result"], "succeeded");
  EXPECT_EQ(Log(), "");
}

TEST_F(ArchiveTest, AHundredEntriesEndAtNinetyNine) {
  ZipBuilder archive;
  for (int i = 0; i < 100; ++i) archive.File("f" + std::to_string(i), "x");
  archive.Write(Archive());
  EXPECT_TRUE(Install());
  EXPECT_EQ(percent_.load(), 99);
}

TEST_F(ArchiveTest, ReplacesTheOldApplicationEntirely) {
  fs::create_directories(Application() / "old");
  WriteFile(Application() / "old" / "stale.dll", "old");
  WriteFile(Application() / "version.txt", "6");
  ZipBuilder().File("version.txt", "7").Write(Archive());
  EXPECT_TRUE(Install());
  EXPECT_EQ(Tree(Application()), (std::set<std::string>{"version.txt"}));
}

TEST_F(ArchiveTest, AnArchiveMadeWithZipKeepsModesAndTimes) {
  const auto source = folder_ / "source";
  fs::create_directories(source / "data");
  WriteFile(source / "Zelk.exe", "#!/bin/sh\n");
  WriteFile(source / "data" / "notes.txt", "n");
  fs::permissions(source / "Zelk.exe", fs::perms(0755));
  fs::permissions(source / "data" / "notes.txt", fs::perms(0640));
  const auto when = fs::file_time_type::clock::from_sys(std::chrono::sys_days{std::chrono::year{2024} / 3 / 5} +
                                                        std::chrono::hours{13} + std::chrono::minutes{7} +
                                                        std::chrono::seconds{10});
  fs::last_write_time(source / "Zelk.exe", when);
  ASSERT_EQ(RunCommand({"zip", "-q", "-r", Archive().string(), "Zelk.exe", "data"}, {}, 60, source).exit_code, 0);

  EXPECT_TRUE(Install());
  EXPECT_EQ(fs::status(Application() / "Zelk.exe").permissions(), fs::perms(0755));
  EXPECT_EQ(fs::status(Application() / "data" / "notes.txt").permissions(), fs::perms(0640));
  EXPECT_EQ(fs::last_write_time(Application() / "Zelk.exe"), when);
}

TEST_F(ArchiveTest, ModesNeverCarrySpecialBitsAndTheApplicationIsAlwaysStartable) {
  ZipBuilder()
      .File("Zelk.exe", "exe", std::nullopt)  // made where there are no Unix modes
      .File("setuid", "x", 06755)
      .File("sticky", "x", 01777)
      .Write(Archive());
  EXPECT_TRUE(Install());
  EXPECT_EQ(fs::status(Application() / "Zelk.exe").permissions(), fs::perms(0755));
  EXPECT_EQ(fs::status(Application() / "setuid").permissions(), fs::perms(0755));
  EXPECT_EQ(fs::status(Application() / "sticky").permissions(), fs::perms(0777));
}

TEST_F(ArchiveTest, EncryptedEntriesAreSkippedSilently) {
  const auto source = folder_ / "source";
  fs::create_directories(source);
  WriteFile(source / "secret.txt", "secret");
  WriteFile(source / "plain.txt", "plain");
  ASSERT_EQ(RunCommand({"zip", "-q", "-P", "password", Archive().string(), "secret.txt"}, {}, 60, source).exit_code, 0);
  ASSERT_EQ(RunCommand({"zip", "-q", Archive().string(), "plain.txt"}, {}, 60, source).exit_code, 0);
  EXPECT_TRUE(Install());
  EXPECT_EQ(Tree(Application()), (std::set<std::string>{"plain.txt"}));
  EXPECT_EQ(Log(), "");
}

TEST_F(ArchiveTest, ArchivesThatCannotBeUnpackedFail) {
  const struct {
    const char* name;
    std::function<void(const fs::path&)> make;
    std::string log;
    std::string result;
  } cases[] = {
      {"empty archive",  // only the end-of-central-directory record
       [](const fs::path& p) { WriteFile(p, std::string("PK\x05\x06", 4) + std::string(18, '\0')); },
       "[error] Downloaded zip contains no files\n", "Downloaded zip contains no files"},
      {"an HTML page", [](const fs::path& p) { WriteFile(p, "<html><body>404 Not Found</body></html>"); },
       "", "succeeded"},
      {"missing archive", [](const fs::path&) {}, "", "succeeded"},
  };
  for (const auto& c : cases) {
    log_.str("");
    record_["result"] = "succeeded";
    fs::remove(Archive());
    c.make(Archive());
    EXPECT_FALSE(Install()) << c.name;
    EXPECT_EQ(Log(), c.log) << c.name;
    EXPECT_EQ(record_["result"], c.result) << c.name;
    EXPECT_FALSE(fs::exists(Archive())) << c.name;
    EXPECT_TRUE(fs::is_directory(Application())) << c.name;
    EXPECT_TRUE(fs::is_empty(Application())) << c.name;
  }
}

TEST_F(ArchiveTest, HostileEntriesChangeNothingOutsideTheApplicationFolder) {
  const auto outside = folder_ / "outside";
  fs::create_directories(outside);
  ZipBuilder()
      .File("../evil", "x")
      .File("a/../../../evil", "x")
      .File((outside / "absolute").string(), "x")
      .Symlink("link", outside.string())
      .File("link/through-link", "x")
      .File("Zelk.exe", "exe", 0755)
      .Write(Archive());
  EXPECT_TRUE(Install());
  EXPECT_TRUE(fs::is_empty(outside));
  EXPECT_FALSE(fs::exists(folder_ / "launcher" / "evil"));
  EXPECT_FALSE(fs::exists(folder_ / "evil"));
  EXPECT_FALSE(fs::is_symlink(Application() / "link"));
  EXPECT_TRUE(fs::exists(Application() / "Zelk.exe"));
  const std::string log = Log();
  for (const char* name : {"../evil", "a/../../../evil", "link"}) {
    EXPECT_NE(log.find(std::string("[error] Skipping archive entry ") + name + ":"), std::string::npos) << log;
  }
}

TEST_F(ArchiveTest, AnEntryThatCannotBeCreatedFailsTheUnpackBeforeTheVersionFile) {
  // "a" is a file, so the folder for "a/b" cannot be made.
  ZipBuilder().File("version.txt", "7").File("a", "file").File("a/b", "x").File("z", "z").Write(Archive());
  EXPECT_FALSE(Install());
  EXPECT_FALSE(fs::exists(Application() / "version.txt"));
  EXPECT_FALSE(fs::exists(Application() / "z"));
  EXPECT_FALSE(fs::exists(Archive()));
  EXPECT_NE(Log().find("[error] Failed to create folder"), std::string::npos) << Log();
}

TEST_F(ArchiveTest, AnOldApplicationThatCannotBeRemovedStopsTheInstall) {
  fs::create_directories(Application() / "bin");
  WriteFile(Application() / "bin" / "in-use.dll", "busy");
  ZipBuilder().File("version.txt", "7").Write(Archive());
  // Root ignores permissions, so an immutable file stands for a file in use there.
  const bool root = geteuid() == 0;
  const auto pinned = Application() / "bin" / "in-use.dll";
  if (root) {
    if (RunCommand({"chattr", "+i", pinned.string()}).exit_code != 0) {
      GTEST_SKIP() << "this file system cannot mark a file immutable";
    }
  } else {
    fs::permissions(Application() / "bin", fs::perms(0555));
  }
  const bool installed = Install();
  if (root) {
    RunCommand({"chattr", "-i", pinned.string()});
  } else {
    fs::permissions(Application() / "bin", fs::perms(0755));
  }
  EXPECT_FALSE(installed);
  const std::string text = root ? "Operation not permitted" : "Permission denied";
  EXPECT_EQ(record_["result"], "Failed to delete old installation: " + text);
  EXPECT_EQ(Log(), "[error] Failed to delete old installation: " + text + "\n");
  EXPECT_TRUE(fs::exists(pinned));
  EXPECT_TRUE(fs::exists(Archive()));  // nothing is unpacked over it
}

// A flipped byte inside an entry's compressed data (a damaged download that still opens as a ZIP
// file): the unpack stops there instead of leaving a broken program behind a version file.
TEST_F(ArchiveTest, ADamagedEntryFailsTheUnpackBeforeTheVersionFile) {
  std::string program(200'000, '\0');
  uint32_t seed = 12345;
  for (char& byte : program) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<char>(seed >> 24);
  }
  ZipBuilder().File("version.txt", "7").File("Zelk.exe", program, 0755).Write(Archive());
  std::string bytes = ReadFile(Archive());
  bytes[bytes.size() / 2] ^= 0x5a;
  WriteFile(Archive(), bytes);

  EXPECT_FALSE(Install());
  EXPECT_FALSE(fs::exists(Application() / "version.txt"));
  EXPECT_FALSE(fs::exists(Archive()));
  EXPECT_NE(Log().find("[error] Failed to unpack Zelk.exe into " + (Application() / "Zelk.exe").string() +
                       ": cannot read it from the archive: "),
            std::string::npos)
      << Log();
}
