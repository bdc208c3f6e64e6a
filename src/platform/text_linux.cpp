// Linux text utilities: UTF-8 <-> UTF-32 by hand (no locale dependence), errno texts from
// strerror_r, wide formatting with vswprintf.
#include "platform/text.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <vector>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one code point at `pos`, advancing it. A maximal invalid subsequence (as the Unicode
// standard defines it) yields U+FFFD and advances past that subsequence only.
char32_t DecodeUtf8(std::string_view s, size_t& pos) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  int length = 0;
  char32_t cp = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    ++pos;
    return kReplacement;
  }
  size_t i = pos + 1;
  for (int n = 1; n < length; ++n, ++i) {
    if (i >= s.size()) {
      pos = i;
      return kReplacement;
    }
    const unsigned char c = byte(i);
    const unsigned char lo = n == 1 ? low : 0x80;
    const unsigned char hi = n == 1 ? high : 0xBF;
    if (c < lo || c > hi) {
      pos = i;
      return kReplacement;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  pos = i;
  return cp;
}

}  // namespace

std::string ToUtf8(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (wchar_t c : wide) AppendUtf8(out, static_cast<char32_t>(c));
  return out;
}

std::string ToUtf8OrEmpty(const wchar_t* wide) {
  return wide == nullptr ? std::string() : ToUtf8(wide);
}

std::wstring FromUtf8(std::string_view narrow) {
  std::wstring out;
  out.reserve(narrow.size());
  for (size_t pos = 0; pos < narrow.size();) out += static_cast<wchar_t>(DecodeUtf8(narrow, pos));
  return out;
}

std::string SanitizeUtf8(std::string_view narrow) {
  std::string out;
  out.reserve(narrow.size());
  for (size_t pos = 0; pos < narrow.size();) AppendUtf8(out, DecodeUtf8(narrow, pos));
  return out;
}

std::string GetLastErrorText() { return GetErrorText(errno); }

std::string GetErrorText(int code) {
  if (code == 0 || strerrorname_np(code) == nullptr) return {};
  char buffer[256];
  // GNU strerror_r: returns a pointer to the text, which may or may not be `buffer`.
  return strerror_r(code, buffer, sizeof buffer);
}

std::wstring FormatWide(const wchar_t* format, ...) {
  // vswprintf cannot measure (it fails on a short buffer instead), so the buffer grows until the
  // text fits; a result that still fails at 1 MiB is a format error.
  for (size_t capacity = 256; capacity <= (1u << 20); capacity *= 4) {
    std::vector<wchar_t> buffer(capacity);
    va_list args;
    va_start(args, format);
    const int written = std::vswprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    if (written >= 0) return std::wstring(buffer.data(), static_cast<size_t>(written));
  }
  return {};
}
