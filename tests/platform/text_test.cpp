#include "platform/text.h"

#include <gtest/gtest.h>

#include <cerrno>

TEST(TextTest, Utf8RoundTripsThroughWideText) {
  const std::string text = "Benutzer/Jürgen/日本/😀";
  EXPECT_EQ(ToUtf8(FromUtf8(text)), text);
  EXPECT_EQ(FromUtf8(text).size(), 20u);
  EXPECT_EQ(ToUtf8(L""), "");
  EXPECT_EQ(ToUtf8OrEmpty(nullptr), "");
  EXPECT_EQ(ToUtf8OrEmpty(L"proxy:8080"), "proxy:8080");
}

TEST(TextTest, InvalidInputBecomesReplacementCharacter) {
  const struct {
    std::string input;
    std::string expected;
  } cases[] = {
      {"a\xff" "b", "a\xEF\xBF\xBD" "b"},                        // stray byte
      {"\xC3", "\xEF\xBF\xBD"},                                  // cut sequence at the end
      {"\xE2\x82" "x", "\xEF\xBF\xBD" "x"},                      // cut sequence in the middle
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                  // overlong form
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // encoded surrogate
      {"ok \xE2\x82\xAC", "ok \xE2\x82\xAC"},                    // valid text unchanged
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SanitizeUtf8(c.input), c.expected) << c.input;
    EXPECT_EQ(ToUtf8(FromUtf8(c.input)), c.expected) << c.input;
  }
  EXPECT_EQ(ToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(ToUtf8(std::wstring(1, static_cast<wchar_t>(0x110000))), "\xEF\xBF\xBD");
}

TEST(TextTest, ErrorTexts) {
  EXPECT_EQ(GetErrorText(0), "");
  EXPECT_EQ(GetErrorText(ENOENT), "No such file or directory");
  EXPECT_EQ(GetErrorText(99999), "");
  errno = EACCES;
  EXPECT_EQ(GetLastErrorText(), "Permission denied");
  errno = 0;
  EXPECT_EQ(GetLastErrorText(), "");
}

TEST(TextTest, FormatWide) {
  EXPECT_EQ(FormatWide(L"%ls/zelk_launcher.txt", L"/home/jürgen"), L"/home/jürgen/zelk_launcher.txt");
  EXPECT_EQ(FormatWide(L"%d%%", 42), L"42%");
  const std::wstring long_text(5000, L'x');
  EXPECT_EQ(FormatWide(L"[%ls]", long_text.c_str()).size(), 5002u);
}
