// The desktop entry text: each value read back the way a desktop reads it (string escapes, then
// the Exec quoting and field codes) gives the launcher's text back, and the file holds no raw
// control character and no line break inside a value.
#include <fuzzer/FuzzedDataProvider.h>

#include <optional>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform/desktop_entry.h"

namespace {

constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";

// The string escapes of a value: \s \n \t \r \\. Nothing for an unknown escape or a lone "\".
std::optional<std::string> UnescapeStringValue(std::string_view value) {
  std::string text;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\') {
      text += value[i];
      continue;
    }
    if (++i == value.size()) return std::nullopt;
    switch (value[i]) {
      case 's': text += ' '; break;
      case 'n': text += '\n'; break;
      case 't': text += '\t'; break;
      case 'r': text += '\r'; break;
      case '\\': text += '\\'; break;
      default: return std::nullopt;
    }
  }
  return text;
}

// "%%" stands for "%"; any other "%" would be a field code, which the launcher never writes.
std::optional<std::string> ResolveFieldCodes(std::string_view argument) {
  std::string text;
  for (size_t i = 0; i < argument.size(); ++i) {
    if (argument[i] == '%') {
      if (i + 1 == argument.size() || argument[i + 1] != '%') return std::nullopt;
      ++i;
    }
    text += argument[i];
  }
  return text;
}

// The arguments of an Exec value whose string escapes are already resolved: separated by spaces,
// a quoted argument between double quotes with \" \` \$ \\ inside, an unquoted one without any
// reserved character. Nothing for a value that breaks these rules.
std::optional<std::vector<std::string>> SplitExec(std::string_view exec) {
  std::vector<std::string> arguments;
  size_t i = 0;
  while (i < exec.size()) {
    std::string raw;
    if (exec[i] == '"') {
      ++i;
      for (;;) {
        if (i == exec.size()) return std::nullopt;  // no closing quote
        const char c = exec[i++];
        if (c == '"') break;
        if (c == '\\') {
          if (i == exec.size() || std::string_view("\"`$\\").find(exec[i]) == std::string_view::npos) {
            return std::nullopt;
          }
          raw += exec[i++];
        } else {
          raw += c;
        }
      }
    } else {
      while (i < exec.size() && exec[i] != ' ') {
        if (kReserved.find(exec[i]) != std::string_view::npos) return std::nullopt;
        raw += exec[i++];
      }
    }
    auto argument = ResolveFieldCodes(raw);
    if (!argument) return std::nullopt;
    arguments.push_back(std::move(*argument));
    if (i == exec.size()) break;
    if (exec[i] != ' ' || i + 1 == exec.size()) return std::nullopt;  // one space between arguments
    ++i;
  }
  return arguments;
}

bool IsAcceptable(std::string_view text) {
  if (!IsValidUtf8(text)) return false;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\n' && c != '\t') || byte == 0x7f) return false;
  }
  return true;
}

void CheckValue(std::string_view escaped, std::string_view expected) {
  for (const char c : escaped) {
    const auto byte = static_cast<unsigned char>(c);
    FUZZ_CHECK(byte >= 0x20 && byte != 0x7f);  // no raw control character, no line break
  }
  FUZZ_CHECK(!escaped.starts_with(' '));  // a desktop drops spaces after "="
  const auto value = UnescapeStringValue(escaped);
  FUZZ_CHECK(value && *value == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  DesktopEntry entry;
  entry.name = input.ConsumeRandomLengthString(64);
  entry.comment = input.ConsumeRandomLengthString(64);
  entry.working_folder = input.ConsumeRandomLengthString(128);
  entry.icon = input.ConsumeRandomLengthString(128);
  while (input.remaining_bytes() > 0 && entry.command.size() < 8) {
    entry.command.push_back(input.ConsumeRandomLengthString(128));
  }

  for (const auto& argument : entry.command) {
    const auto split = SplitExec(QuoteExecArgument(argument));
    FUZZ_CHECK(split && split->size() == 1 && split->front() == argument);
  }
  for (const auto& text : {entry.name, entry.comment, entry.working_folder}) {
    const auto value = UnescapeStringValue(EscapeStringValue(text));
    FUZZ_CHECK(value && *value == text);
  }
  {
    const auto exec = UnescapeStringValue(FormatExecValue(entry.command));
    FUZZ_CHECK(exec);
    const auto split = SplitExec(*exec);
    FUZZ_CHECK(split && *split == entry.command);
  }

  bool acceptable = IsAcceptable(entry.name) && IsAcceptable(entry.comment) &&
                    IsAcceptable(entry.working_folder) && IsAcceptable(entry.icon);
  for (const auto& argument : entry.command) acceptable = acceptable && IsAcceptable(argument);

  const std::optional<std::string> file = FormatDesktopEntry(entry);
  FUZZ_CHECK(file.has_value() == acceptable);
  if (!file) return 0;

  // Line by line: the group header, then one "Key=value" per line in this order.
  const char* keys[] = {"Type", "Name", "Comment", "Exec", "Path", "Icon", "Terminal"};
  std::string_view rest = *file;
  FUZZ_CHECK(rest.starts_with("[Desktop Entry]\n"));
  rest.remove_prefix(16);
  for (const char* key : keys) {
    const size_t end = rest.find('\n');
    FUZZ_CHECK(end != std::string_view::npos);
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    FUZZ_CHECK(line.starts_with(std::string(key) + "="));
    const std::string_view value = line.substr(std::string_view(key).size() + 1);
    const std::string_view k(key);
    if (k == "Type") FUZZ_CHECK(value == "Application");
    if (k == "Terminal") FUZZ_CHECK(value == "false");
    if (k == "Name") CheckValue(value, entry.name);
    if (k == "Comment") CheckValue(value, entry.comment);
    if (k == "Path") CheckValue(value, entry.working_folder);
    if (k == "Icon") CheckValue(value, entry.icon);
    if (k == "Exec") {
      const auto exec = UnescapeStringValue(value);
      FUZZ_CHECK(exec);
      CheckValue(value, *exec);
      FUZZ_CHECK(SplitExec(*exec) == entry.command);
    }
  }
  FUZZ_CHECK(rest.empty());
  return 0;
}
