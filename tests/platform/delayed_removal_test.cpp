#include "platform/delayed_removal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

bool WaitUntilGone(const fs::path& path) {
  for (int i = 0; i < 300; ++i) {
    std::error_code error;
    if (!fs::exists(fs::symlink_status(path, error))) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// The folder's name is shell syntax on purpose: it must reach the removal as data.
TEST(StartDelayedTreeRemoval, RemovesTheWholeTreeAfterTheDelayAndNothingElse) {
  TempFolder temp;
  const fs::path outside = temp / "outside";
  fs::create_directories(outside);
  WriteFile(outside / "keep.txt", "keep");
  WriteFile(temp / "sibling.txt", "keep");

  const fs::path folder = temp / "Zelk \"go\" 'x' $(touch pwned) `touch pwned2`; rm -rf ..";
  fs::create_directories(folder / "Zelk" / "data");
  WriteFile(folder / "ZelkLauncher.exe", "x");
  WriteFile(folder / "Zelk" / "data" / "file", "x");
  fs::create_symlink(outside, folder / "link to outside");
  fs::create_symlink(outside / "keep.txt", folder / "Zelk" / "link to file");

  ASSERT_TRUE(StartDelayedTreeRemoval(folder, 3));
  EXPECT_TRUE(fs::exists(folder / "ZelkLauncher.exe"));  // 3 seconds to go

  EXPECT_TRUE(WaitUntilGone(folder));
  EXPECT_EQ(ReadFile(outside / "keep.txt"), "keep");
  EXPECT_EQ(ReadFile(temp / "sibling.txt"), "keep");
  EXPECT_FALSE(fs::exists(temp / "pwned"));
  EXPECT_FALSE(fs::exists(fs::path("/") / "pwned"));
  EXPECT_FALSE(fs::exists(temp / "pwned2"));
}

}  // namespace
