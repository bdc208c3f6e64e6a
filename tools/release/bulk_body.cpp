#include "bulk_body.h"

#include <nlohmann/json.hpp>

std::optional<std::vector<std::string>> SplitBulkBody(std::string_view body, std::string& error) {
  if (body.empty()) {
    error = "empty body";
    return std::nullopt;
  }
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < body.size()) {
    size_t end = body.find('\n', start);
    if (end == std::string_view::npos) end = body.size();
    const std::string_view line = body.substr(start, end - start);
    const size_t number = lines.size() + 1;
    if (line.empty() || line == "\r") {
      error = "line " + std::to_string(number) + " is empty";
      return std::nullopt;
    }
    const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
    if (record.is_discarded()) {
      error = "line " + std::to_string(number) + " is not JSON";
      return std::nullopt;
    }
    if (!record.is_object()) {
      error = "line " + std::to_string(number) + " is not a JSON object";
      return std::nullopt;
    }
    lines.emplace_back(line);
    start = end + 1;
  }
  return lines;
}
