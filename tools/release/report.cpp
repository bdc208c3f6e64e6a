#include "report.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

namespace {

using nlohmann::json;

// Control characters (C0, DEL and the C1 range, which some terminals obey in UTF-8) become '?'.
std::string Printable(const std::string& text) {
  std::string clean;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7f) {
      clean += '?';
    } else if (c == 0xc2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
      clean += '?';
      ++i;
    } else {
      clean += text[i];
    }
  }
  return clean;
}

// Code points, for padding.
size_t Width(const std::string& text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xc0) != 0x80;
  }));
}

std::string Text(const json& record, const char* key, const std::string& missing = "-") {
  const auto it = record.find(key);
  if (it == record.end()) return missing;
  return Printable(it->is_string() ? it->get<std::string>() : it->dump());
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", seconds);
  return text;
}

void PrintTable(const std::vector<std::string>& header, const std::vector<std::vector<std::string>>& rows,
                std::ostream& out) {
  std::vector<size_t> widths(header.size());
  for (size_t c = 0; c < header.size(); ++c) widths[c] = Width(header[c]);
  for (const auto& row : rows) {
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], Width(row[c]));
  }
  auto print_row = [&](const std::vector<std::string>& row) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line += std::string(widths[c] - Width(row[c]) + 2, ' ');
    }
    out << line << '\n';
  };
  print_row(header);
  std::vector<std::string> rule;
  for (size_t width : widths) rule.push_back(std::string(width, '-'));
  print_row(rule);
  for (const auto& row : rows) print_row(row);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct StepSummary {
  int records = 0;
  int failures = 0;
  std::vector<double> durations;
};

}  // namespace

void PrintReport(const std::vector<StoredRecord>& records, std::ostream& out) {
  if (records.empty()) {
    out << "No analytics records stored yet.\n";
    return;
  }
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> step_order;
  std::map<std::string, StepSummary> summaries;
  for (const StoredRecord& stored : records) {
    const json record = json::parse(stored.record, nullptr, false);
    if (!record.is_object()) {
      rows.push_back({Printable(stored.received_at), "-", "(unreadable record)", "-", "-", "-"});
      continue;
    }
    std::string step = Text(record, "step_type");
    if (step.starts_with("class ")) step.erase(0, 6);
    const auto duration = record.find("step_duration");
    const bool has_duration = duration != record.end() && duration->is_number();
    rows.push_back({Text(record, "date", Printable(stored.received_at)),
                    Text(record, "installation_id"), step, Text(record, "final_state"),
                    Text(record, "result"),
                    has_duration ? Seconds(duration->get<double>()) : "-"});

    if (!summaries.contains(step)) step_order.push_back(step);
    StepSummary& summary = summaries[step];
    ++summary.records;
    const auto result = record.find("result");
    if (result != record.end() && *result != "succeeded") ++summary.failures;
    if (has_duration) summary.durations.push_back(duration->get<double>());
  }
  PrintTable({"Date", "Installation", "Step", "Final state", "Result", "Duration"}, rows, out);

  out << '\n';
  std::vector<std::vector<std::string>> summary_rows;
  for (const std::string& step : step_order) {
    const StepSummary& summary = summaries[step];
    summary_rows.push_back({step, std::to_string(summary.records), std::to_string(summary.failures),
                            summary.durations.empty() ? "-" : Seconds(Median(summary.durations))});
  }
  PrintTable({"Step", "Records", "Failures", "Median duration"}, summary_rows, out);
}
