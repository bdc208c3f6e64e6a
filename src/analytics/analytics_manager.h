// The end-of-run report: one analytics record per step, each with the common fields
// "environment", "date" and "installation_id", posted to the analytics service in one bulk
// request. The installation identifier lives in the current user's registry (or what stands in
// for it) and is read, or generated, and written back whenever a report is made.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "shell/log.h"
#include "shell/step.h"

// A failed registry call: the message names the call site, code is the call's status.
class RegistryError : public std::runtime_error {
 public:
  RegistryError(const char* message, int32_t code) : std::runtime_error(message), code_(code) {}
  int32_t code() const { return code_; }

 private:
  int32_t code_;
};

// The text value `value_name` under `key_path`; throws RegistryError "Cannot read string from
// registry" when it is missing, unreadable or not text.
std::wstring ReadRegistryString(RegistryHive hive, const std::wstring& key_path,
                                const std::wstring& value_name);

// Serialised records for the bulk request: each record as compact JSON (keys in byte order,
// whole-number doubles with ".0", text bytes that are not UTF-8 replaced by U+FFFD) followed by a
// line feed.
std::string SerializeBulkBody(const std::vector<nlohmann::json>& records);

// Used in this order: construct, AddRecord once per step, SendRecords once, destroy.
class AnalyticsManager {
 public:
  // Loads the installation identifier, or generates one, and writes it back. Registry trouble is
  // logged, never thrown.
  AnalyticsManager();

  // Adds the common fields (overwriting keys of the same names) and keeps the record.
  void AddRecord(nlohmann::json record);
  // Posts every record in one request; a failure is logged, and the records are lost.
  void SendRecords();

  const std::vector<nlohmann::json>& records() const { return records_; }
  const std::string& installation_id() const { return installation_id_; }

 private:
  void LoadOrCreateInstallationId();
  void StoreInstallationId();
  // True when the service answered 200 or 201.
  bool PostBulk(const std::string& body);

  std::vector<nlohmann::json> records_;
  Logger logger_;
  std::string index_name_ = "zelklauncher-session";
  std::string installation_id_;
  std::wstring registry_key_path_ = L"Software\\Nuvak\\Zelk";
  std::wstring registry_value_name_ = L"ZELK_MACHINE_GUID";
};

// The end of a reporting run: a manager for this run gets every step's record in list order,
// started or not, sends them and is gone.
void SendStepRecords(const std::vector<std::unique_ptr<IStep>>& steps);
