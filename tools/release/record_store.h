// The analytics records received by `zelk-release serve`, in an SQLite database
// (<data>/analytics.sqlite3). Each upload is one transaction, committed before the server
// answers, so a record that was acknowledged is on disk, and a rejected or interrupted upload
// leaves nothing behind.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

struct sqlite3;

struct StoredRecord {
  int64_t id = 0;
  int64_t upload = 0;        // records of one request share it
  std::string received_at;   // UTC, "2024-05-01T12:00:00.123Z"
  std::string record;        // the JSON line as it arrived
};

class RecordStore {
 public:
  // Opens or creates the database; throws ToolError when it cannot.
  explicit RecordStore(const std::filesystem::path& file);
  ~RecordStore();
  RecordStore(const RecordStore&) = delete;
  RecordStore& operator=(const RecordStore&) = delete;

  // Stores every line of one upload with the receive time `received_at`, all or nothing; false
  // (and nothing stored) when the database refuses. Safe from several threads.
  bool StoreUpload(const std::vector<std::string>& records, const std::string& received_at);
  // Every record in the order they arrived.
  std::vector<StoredRecord> ReadAll();

 private:
  std::mutex mutex_;
  sqlite3* database_ = nullptr;
};

// The current time as StoredRecord::received_at writes it.
std::string UtcNowText();
