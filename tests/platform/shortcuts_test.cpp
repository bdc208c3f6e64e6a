// Desktop entries as written on disk, checked by the desktop's own tools: desktop-file-validate,
// and gio, which starts an entry the way a GLib-based desktop does.
#include "platform/shortcuts.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "platform/desktop_entry.h"
#include "support/run_command.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

unsigned Mode(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

// Folder names a home folder may really have, and that break a naively quoted Exec line.
const char* const kAwkwardFolders[] = {
    "plain",
    "with space",
    "o'neil \"quoted\"",
    "$(touch pwned) `touch pwned2` $HOME",
    "back\\slash; a&b|c",
    "zoë #1 (copy) ~ * ?",
};

TEST(CreateShortcutFile, WritesAValidEntryWithMode0755) {
  for (const char* name : kAwkwardFolders) {
    TempFolder temp;
    const fs::path folder = temp / name;
    fs::create_directories(folder);
    const fs::path target = folder / "ZelkLauncher.exe";
    const fs::path shortcut = folder / ShortcutFileName("Repair");

    ASSERT_GE(CreateShortcutFile(target, shortcut, "Repair shortcut for Zelk", folder, {"-repair"}),
              0)
        << name;
    EXPECT_EQ(Mode(shortcut), 0755u) << name;
    const std::string text = ReadFile(shortcut);
    EXPECT_THAT(text, testing::HasSubstr("\nName=Repair\n"));
    EXPECT_THAT(text, testing::HasSubstr("\nComment=Repair shortcut for Zelk\n"));
    EXPECT_THAT(text, testing::HasSubstr("\nIcon=" +
                                         EscapeStringValue((folder / "ZelkLauncher.png").string())));
    const CommandResult validation = RunCommand({"desktop-file-validate", shortcut.string()});
    EXPECT_EQ(validation.exit_code, 0) << name << "\n" << validation.output << "\n" << text;
  }
}

TEST(CreateShortcutFile, NeverReplacesWhatIsThere) {
  TempFolder temp;
  const fs::path target = temp / "ZelkLauncher.exe";

  const fs::path file = temp / "file.desktop";
  WriteFile(file, "the user's own entry");
  EXPECT_EQ(CreateShortcutFile(target, file, "d", temp.path(), {}), kShortcutExists);
  EXPECT_EQ(ReadFile(file), "the user's own entry");

  const fs::path folder = temp / "folder.desktop";
  fs::create_directory(folder);
  EXPECT_EQ(CreateShortcutFile(target, folder, "d", temp.path(), {}), kShortcutExists);
  EXPECT_TRUE(fs::is_directory(folder));

  // A dangling link is not followed: nothing appears where it points.
  const fs::path link = temp / "link.desktop";
  fs::create_symlink(temp / "elsewhere", link);
  EXPECT_EQ(CreateShortcutFile(target, link, "d", temp.path(), {}), kShortcutExists);
  EXPECT_FALSE(fs::exists(temp / "elsewhere"));
}

TEST(CreateShortcutFile, FailsWithoutLeavingAFile) {
  TempFolder temp;
  const fs::path target = temp / "ZelkLauncher.exe";

  const int32_t missing_folder =
      CreateShortcutFile(target, temp / "missing" / "a.desktop", "d", temp.path(), {});
  EXPECT_LT(missing_folder, 0);
  EXPECT_NE(missing_folder, kShortcutExists);

  // A path that is not UTF-8 cannot be written into a desktop entry.
  const fs::path shortcut = temp / "b.desktop";
  EXPECT_LT(CreateShortcutFile(temp / "\xff" / "ZelkLauncher.exe", shortcut, "d", temp.path(), {}),
            0);
  EXPECT_FALSE(fs::exists(shortcut));
}

// gio parses the entry as every GLib-based desktop does (string escapes, then the quoting) and
// starts it: the program must receive exactly the path, working folder and arguments we meant.
TEST(CreateShortcutFile, DesktopStartsTheTargetWithItsArguments) {
  for (const char* name : kAwkwardFolders) {
    TempFolder temp;
    const fs::path folder = temp / name;
    fs::create_directories(folder);
    const fs::path target = folder / "ZelkLauncher.exe";
    fs::copy_file(ZELK_FIXTURE_APP_EXE, target);
    const fs::path shortcut = temp / "Uninstall.desktop";
    const std::vector<std::string> arguments = {"-uninstall", "50% of $HOME", ""};
    ASSERT_GE(CreateShortcutFile(target, shortcut, "Uninstall shortcut for Zelk", folder, arguments),
              0);

    const fs::path record = temp / "record.txt";
    const CommandResult launch =
        RunCommand({"gio", "launch", shortcut.string()}, {{"ZELK_FIXTURE_RECORD", record.string()}});
    ASSERT_EQ(launch.exit_code, 0) << name << "\n" << launch.output << ReadFile(shortcut);
    for (int i = 0; i < 200 && ReadFile(record).find("end\n") == std::string::npos; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(ReadFile(record), "exe=" + target.string() + "\ncwd=" + folder.string() +
                                    "\nargs=3\narg=-uninstall\narg=50% of $HOME\narg=\nend\n")
        << name;
    EXPECT_FALSE(fs::exists(folder / "pwned"));
    EXPECT_FALSE(fs::exists(folder / "pwned2"));
  }
}

}  // namespace
