#include "platform/desktop_entry.h"

#include <gtest/gtest.h>

namespace {

struct QuoteCase {
  std::string argument;
  std::string expected;
};

TEST(QuoteExecArgument, QuotesReservedCharactersAndDoublesPercent) {
  const QuoteCase cases[] = {
      {"/opt/zelk/ZelkLauncher.exe", "/opt/zelk/ZelkLauncher.exe"},
      {"-repair", "-repair"},
      {"", "\"\""},
      {"/home/a b/x", "\"/home/a b/x\""},
      {"/home/$(id)/x", "\"/home/\\$(id)/x\""},
      {"/home/`id`/x", "\"/home/\\`id\\`/x\""},
      {"/home/a\"b/x", "\"/home/a\\\"b/x\""},
      {"/home/a\\b/x", "\"/home/a\\\\b/x\""},
      {"/home/o'neil/x", "\"/home/o'neil/x\""},
      {"/home/a\tb", "\"/home/a\tb\""},
      {"/home/a\nb", "\"/home/a\nb\""},
      {"50%", "50%%"},
      {"/home/50% off/x", "\"/home/50%% off/x\""},
      {"a;b&c|d<e>f~g*h?i#j", "\"a;b&c|d<e>f~g*h?i#j\""},
      {"a=b,c:d@e+f", "a=b,c:d@e+f"},
      {"/home/zoë/x", "/home/zoë/x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(QuoteExecArgument(c.argument), c.expected) << c.argument;
  }
}

TEST(EscapeStringValue, EscapesBackslashControlsAndALeadingSpace) {
  const QuoteCase cases[] = {
      {"plain text", "plain text"},
      {"a\\b", "a\\\\b"},
      {"a\nb\tc\rd", "a\\nb\\tc\\rd"},
      {" leading", "\\sleading"},
      {"trailing ", "trailing "},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EscapeStringValue(c.argument), c.expected) << c.argument;
  }
}

TEST(FormatExecValue, QuotesEachArgumentThenEscapesTheWholeValue) {
  EXPECT_EQ(FormatExecValue({"/opt/z/ZelkLauncher.exe"}), "/opt/z/ZelkLauncher.exe");
  EXPECT_EQ(FormatExecValue({"/opt/z/ZelkLauncher.exe", "-repair"}),
            "/opt/z/ZelkLauncher.exe -repair");
  // A literal backslash in a quoted argument takes four backslashes in the file, and a "$" two.
  EXPECT_EQ(FormatExecValue({"/home/a\\b $x/ZelkLauncher.exe", "-uninstall"}),
            "\"/home/a\\\\\\\\b \\\\$x/ZelkLauncher.exe\" -uninstall");
  EXPECT_EQ(FormatExecValue({"/home/a\nb/x"}), "\"/home/a\\nb/x\"");
}

TEST(FormatDesktopEntry, WritesTheApplicationGroup) {
  const auto text = FormatDesktopEntry({"Repair", "Repair shortcut for Zelk",
                                        {"/home/u/ZelkGoLauncher/ZelkLauncher.exe", "-repair"},
                                        "/home/u/ZelkGoLauncher",
                                        "/home/u/ZelkGoLauncher/ZelkLauncher.png"});
  ASSERT_TRUE(text);
  EXPECT_EQ(*text,
            "[Desktop Entry]\n"
            "Type=Application\n"
            "Name=Repair\n"
            "Comment=Repair shortcut for Zelk\n"
            "Exec=/home/u/ZelkGoLauncher/ZelkLauncher.exe -repair\n"
            "Path=/home/u/ZelkGoLauncher\n"
            "Icon=/home/u/ZelkGoLauncher/ZelkLauncher.png\n"
            "Terminal=false\n");
}

TEST(FormatDesktopEntry, RefusesTextsTheFormatCannotHold) {
  const DesktopEntry good{"Zelk Go", "Shortcut to Zelk", {"/h/ZelkLauncher.exe"}, "/h", "/h/i.png"};
  ASSERT_TRUE(FormatDesktopEntry(good));

  DesktopEntry invalid_utf8 = good;
  invalid_utf8.working_folder = "/home/\xff\xfe";
  EXPECT_FALSE(FormatDesktopEntry(invalid_utf8));

  DesktopEntry control_character = good;
  control_character.command[0] = "/home/a\x01/ZelkLauncher.exe";
  EXPECT_FALSE(FormatDesktopEntry(control_character));
}

}  // namespace
