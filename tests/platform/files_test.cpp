#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

unsigned Mode(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

size_t EntryCount(const fs::path& folder) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(CopyFileReplacing, ReplacesTheTargetWithAnExecutableCopy) {
  TempFolder temp;
  WriteFile(temp / "source", "new launcher");
  fs::create_directory(temp / "target");
  WriteFile(temp / "target" / "ZelkLauncher.exe", "old launcher, somewhat longer");
  fs::permissions(temp / "target" / "ZelkLauncher.exe", fs::perms::owner_read);

  ASSERT_TRUE(CopyFileReplacing(temp / "source", temp / "target" / "ZelkLauncher.exe"));
  EXPECT_EQ(ReadFile(temp / "target" / "ZelkLauncher.exe"), "new launcher");
  EXPECT_EQ(Mode(temp / "target" / "ZelkLauncher.exe"), 0755u);
  EXPECT_EQ(EntryCount(temp / "target"), 1u);  // no temporary file left behind
}

TEST(CopyFileReplacing, CopiesAFileOntoItself) {
  TempFolder temp;
  WriteFile(temp / "ZelkLauncher.exe", "launcher");
  ASSERT_TRUE(CopyFileReplacing(temp / "ZelkLauncher.exe", temp / "ZelkLauncher.exe"));
  EXPECT_EQ(ReadFile(temp / "ZelkLauncher.exe"), "launcher");
}

TEST(CopyFileReplacing, FailureLeavesTheTargetAndNoTemporaryFile) {
  TempFolder temp;
  WriteFile(temp / "ZelkLauncher.exe", "old launcher");
  errno = 0;
  EXPECT_FALSE(CopyFileReplacing(temp / "missing", temp / "ZelkLauncher.exe"));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(ReadFile(temp / "ZelkLauncher.exe"), "old launcher");

  // The target's name is taken by a folder: the rename fails and the temporary file goes.
  WriteFile(temp / "source", "x");
  fs::create_directories(temp / "folder" / "ZelkLauncher.exe" / "inside");
  EXPECT_FALSE(CopyFileReplacing(temp / "source", temp / "folder" / "ZelkLauncher.exe"));
  EXPECT_EQ(EntryCount(temp / "folder"), 1u);

  EXPECT_FALSE(CopyFileReplacing(temp / "source", temp / "no such folder" / "ZelkLauncher.exe"));
}

TEST(WriteFileReplacing, WritesTheBytesWithTheMode) {
  TempFolder temp;
  const unsigned char bytes[] = {0x89, 'P', 'N', 'G', 0};
  ASSERT_TRUE(WriteFileReplacing(temp / "icon.png", bytes, 0644));
  EXPECT_EQ(ReadFile(temp / "icon.png"), std::string("\x89PNG\0", 5));
  EXPECT_EQ(Mode(temp / "icon.png"), 0644u);
}

TEST(CreateEmptyFile, EmptiesAnExistingFileAndRefusesAFolder) {
  TempFolder temp;
  WriteFile(temp / "installed_zelk", "left-over content");
  ASSERT_TRUE(CreateEmptyFile(temp / "installed_zelk"));
  EXPECT_EQ(fs::file_size(temp / "installed_zelk"), 0u);

  fs::create_directory(temp / "folder");
  EXPECT_FALSE(CreateEmptyFile(temp / "folder"));
  EXPECT_EQ(errno, EISDIR);
}

}  // namespace
