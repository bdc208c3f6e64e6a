#include "shell/options.h"

#include <gtest/gtest.h>

namespace {

struct Case {
  std::vector<std::string> arguments;  // after the launcher's own path
  LaunchOptions expected;
};

bool operator==(const LaunchOptions& a, const LaunchOptions& b) {
  return a.silent == b.silent && a.skip_auto_proxy == b.skip_auto_proxy &&
         a.uninstall == b.uninstall && a.updated == b.updated && a.repair == b.repair;
}

}  // namespace

TEST(OptionsTest, ExactCaseSensitiveMatchesOnly) {
  const Case cases[] = {
      {{}, {}},
      {{"-silent"}, {.silent = true}},
      {{"-skipautoproxy"}, {.skip_auto_proxy = true}},
      {{"-uninstall", "-repair"}, {.uninstall = true, .repair = true}},
      {{"-updated", "2.3.1"}, {.updated = true}},
      {{"-repair", "-repair", "-updated", "-skipautoproxy"},
       {.skip_auto_proxy = true, .updated = true, .repair = true}},
      {{"-Silent", "--silent", "/silent", "-silent=1", "silent", "-silen", "-silent "}, {}},
      {{"", "-UNINSTALL", "-updatedx"}, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> arguments{"/opt/ZelkLauncher.exe"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    LaunchOptions options;
    ASSERT_TRUE(ParseCommandLine(arguments, options));
    EXPECT_TRUE(options == c.expected) << ::testing::PrintToString(c.arguments);
  }
}

TEST(OptionsTest, OwnPathIsNeverAnOption) {
  LaunchOptions options;
  ASSERT_TRUE(ParseCommandLine({"-silent"}, options));
  EXPECT_FALSE(options.silent);
}

TEST(OptionsTest, NoArgumentListFailsAndLeavesOptionsAlone) {
  LaunchOptions options{.repair = true};
  EXPECT_FALSE(ParseCommandLine({}, options));
  EXPECT_TRUE(options.repair);
}
