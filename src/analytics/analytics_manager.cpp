#include "analytics/analytics_manager.h"

#include <ctime>

AnalyticsManager::AnalyticsManager() : logger_(CreateLogger("class AnalyticsManager")) {
  LoadOrCreateInstallationId();
  // Also when the identifier was just read: the value is written back on every reporting run.
  StoreInstallationId();
}

void AnalyticsManager::AddRecord(nlohmann::json record) {
  record["environment"] = "Zelk Go";
  // "2024-03-05T09:04:01Z": whole seconds, UTC.
  const std::time_t now = std::time(nullptr);
  char date[80] = {};
  if (const std::tm* utc = std::gmtime(&now)) std::strftime(date, sizeof date, "%FT%TZ", utc);
  record["date"] = date;
  record["installation_id"] = installation_id_;
  records_.push_back(std::move(record));
}

void SendStepRecords(const std::vector<std::unique_ptr<IStep>>& steps) {
  AnalyticsManager manager;
  for (const auto& step : steps) manager.AddRecord(step->GetAnalyticsRecord());
  manager.SendRecords();
}
