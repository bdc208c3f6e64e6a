// Text conversion, system error texts and printf-style wide formatting.
// Narrow text is UTF-8. Wide text is std::wstring (UTF-32 on Linux); it survives for the few
// places that format messages the way the launcher always has.
#pragma once

#include <string>
#include <string_view>

// Invalid code points (surrogates, values above U+10FFFF) become U+FFFD.
std::string ToUtf8(std::wstring_view wide);
// Empty for a null pointer.
std::string ToUtf8OrEmpty(const wchar_t* wide);
// Each maximal invalid UTF-8 subsequence becomes one U+FFFD.
std::wstring FromUtf8(std::string_view narrow);
// Valid UTF-8 with each invalid subsequence replaced by U+FFFD; valid input comes back unchanged.
std::string SanitizeUtf8(std::string_view narrow);

// The system's text for the calling thread's errno; empty when errno is 0. Call it straight
// after the failed call, before anything else can change errno.
std::string GetLastErrorText();
// The system's text for `code`; empty for 0 and for a code the system has no text for.
std::string GetErrorText(int code);

// vswprintf in two passes ("%ls" takes wide text); empty when the formatter reports an error.
std::wstring FormatWide(const wchar_t* format, ...);
