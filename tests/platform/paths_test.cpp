#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

// Sets (or, with nullopt, unsets) environment variables for one test.
class Environment {
 public:
  void Set(const char* name, std::optional<std::string> value) {
    if (!saved_.count(name)) {
      const char* old = std::getenv(name);
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ~Environment() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace

TEST(PathsTest, LauncherFolderIsTheFolderOfTheRunningExecutable) {
  const fs::path self = GetLauncherPath();
  ASSERT_TRUE(self.is_absolute());
  EXPECT_TRUE(fs::equivalent(self, "/proc/self/exe"));
  EXPECT_EQ(GetLauncherFolder(), self.parent_path());
  EXPECT_EQ(GetLauncherParentFolder(), self.parent_path().parent_path());
  // A launcher at the root keeps its root separator.
  EXPECT_EQ(fs::path("/ZelkLauncher.exe").parent_path(), fs::path("/"));
}

TEST(PathsTest, LocalAppDataFollowsXdgDataHomeAndIsCreated) {
  TempFolder home;
  Environment environment;
  environment.Set("HOME", home.path().string());
  const struct {
    std::optional<std::string> xdg_data_home;
    std::optional<fs::path> expected;
  } cases[] = {
      {(home / "data").string(), home / "data"},
      {std::nullopt, home / ".local/share"},
      {"relative/data", home / ".local/share"},
      {"", home / ".local/share"},
  };
  for (const auto& c : cases) {
    environment.Set("XDG_DATA_HOME", c.xdg_data_home);
    EXPECT_EQ(GetLocalAppDataFolder(), c.expected);
    EXPECT_TRUE(fs::is_directory(*c.expected));
  }
  environment.Set("XDG_DATA_HOME", std::nullopt);
  environment.Set("HOME", std::nullopt);
  EXPECT_EQ(GetLocalAppDataFolder(), std::nullopt);
  WriteFile(home / "file", "");
  environment.Set("XDG_DATA_HOME", (home / "file" / "data").string());
  EXPECT_EQ(GetLocalAppDataFolder(), std::nullopt);
}

TEST(PathsTest, DesktopComesFromUserDirsOrDefaultsToHomeDesktop) {
  TempFolder home;
  Environment environment;
  environment.Set("HOME", home.path().string());
  environment.Set("XDG_CONFIG_HOME", (home / "config").string());
  fs::create_directories(home / "config");
  fs::create_directories(home / "Desktop");
  fs::create_directories(home / "Schreibtisch mit \"Zeichen\"");
  fs::create_directories(home / "elsewhere");
  const struct {
    std::optional<std::string> user_dirs;  // nullopt: no user-dirs.dirs
    std::optional<fs::path> expected;
  } cases[] = {
      {std::nullopt, home / "Desktop"},
      {"XDG_DESKTOP_DIR=\"$HOME/Schreibtisch mit \\\"Zeichen\\\"\"\n",
       home / "Schreibtisch mit \"Zeichen\""},
      {"# comment\nXDG_DOWNLOAD_DIR=\"$HOME/x\"\nXDG_DESKTOP_DIR=\"" + (home / "elsewhere").string() +
           "\"\n",
       home / "elsewhere"},
      {"XDG_DESKTOP_DIR=\"$HOME/missing\"\n", std::nullopt},
      {"XDG_DESKTOP_DIR=relative\n", home / "Desktop"},
  };
  for (const auto& c : cases) {
    fs::remove(home / "config" / "user-dirs.dirs");
    if (c.user_dirs) WriteFile(home / "config" / "user-dirs.dirs", *c.user_dirs);
    EXPECT_EQ(GetDesktopFolder(), c.expected) << c.user_dirs.value_or("(none)");
  }
  fs::remove(home / "config" / "user-dirs.dirs");
  fs::remove(home / "Desktop");
  EXPECT_EQ(GetDesktopFolder(), std::nullopt);
}
