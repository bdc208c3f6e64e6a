#include "platform/desktop_entry.h"

#include "platform/text.h"

namespace {

constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
constexpr std::string_view kEscapedInQuotes = "\"`$\\";

bool IsAcceptableText(std::string_view text) {
  if (SanitizeUtf8(text) != text) return false;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\n' && c != '\t') || byte == 0x7f) return false;
  }
  return true;
}

}  // namespace

std::string QuoteExecArgument(std::string_view argument) {
  std::string percent_doubled;
  for (const char c : argument) {
    percent_doubled += c;
    if (c == '%') percent_doubled += '%';
  }
  if (!argument.empty() && argument.find_first_of(kReserved) == std::string_view::npos) {
    return percent_doubled;
  }
  std::string quoted = "\"";
  for (const char c : percent_doubled) {
    if (kEscapedInQuotes.find(c) != std::string_view::npos) quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string EscapeStringValue(std::string_view value) {
  std::string escaped;
  for (size_t i = 0; i < value.size(); ++i) {
    switch (value[i]) {
      case '\\': escaped += "\\\\"; break;
      case '\n': escaped += "\\n"; break;
      case '\t': escaped += "\\t"; break;
      case '\r': escaped += "\\r"; break;
      case ' ': escaped += i == 0 ? "\\s" : " "; break;
      default: escaped += value[i];
    }
  }
  return escaped;
}

std::string FormatExecValue(const std::vector<std::string>& command) {
  std::string line;
  for (const auto& argument : command) {
    if (!line.empty()) line += ' ';
    line += QuoteExecArgument(argument);
  }
  return EscapeStringValue(line);
}

std::optional<std::string> FormatDesktopEntry(const DesktopEntry& entry) {
  for (const std::string_view text : {std::string_view(entry.name), std::string_view(entry.comment),
                                      std::string_view(entry.working_folder),
                                      std::string_view(entry.icon)}) {
    if (!IsAcceptableText(text)) return std::nullopt;
  }
  for (const auto& argument : entry.command) {
    if (!IsAcceptableText(argument)) return std::nullopt;
  }
  std::string file = "[Desktop Entry]\n";
  file += "Type=Application\n";
  file += "Name=" + EscapeStringValue(entry.name) + "\n";
  file += "Comment=" + EscapeStringValue(entry.comment) + "\n";
  file += "Exec=" + FormatExecValue(entry.command) + "\n";
  file += "Path=" + EscapeStringValue(entry.working_folder) + "\n";
  file += "Icon=" + EscapeStringValue(entry.icon) + "\n";
  file += "Terminal=false\n";
  return file;
}
