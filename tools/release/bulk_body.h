// The analytics bulk body as the launcher sends it: one compact JSON object per line, each line
// ended by a line feed.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The body's lines, each a JSON object; nothing when the body is empty, holds an empty line, a
// line that is not JSON, or JSON that is not an object. A last line without its line feed is
// taken as a line. `error` says what was wrong.
std::optional<std::vector<std::string>> SplitBulkBody(std::string_view body, std::string& error);
