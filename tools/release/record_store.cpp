#include "record_store.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <ctime>

#include "tool_error.h"

namespace {

constexpr const char* kSchema = R"(
  PRAGMA journal_mode = WAL;
  PRAGMA synchronous = FULL;
  CREATE TABLE IF NOT EXISTS records (
    id INTEGER PRIMARY KEY,
    upload INTEGER NOT NULL,
    received_at TEXT NOT NULL,
    record TEXT NOT NULL
  );
)";

// Finalises a statement whatever happens.
struct Statement {
  sqlite3_stmt* handle = nullptr;
  ~Statement() { sqlite3_finalize(handle); }
};

}  // namespace

std::string UtcNowText() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(milliseconds));
  return text;
}

RecordStore::RecordStore(const std::filesystem::path& file) {
  if (sqlite3_open_v2(file.c_str(), &database_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    const std::string message = database_ != nullptr ? sqlite3_errmsg(database_) : "out of memory";
    sqlite3_close(database_);
    throw ToolError("cannot open the database " + file.string() + ": " + message);
  }
  sqlite3_busy_timeout(database_, 5000);
  char* error = nullptr;
  if (sqlite3_exec(database_, kSchema, nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string message = error != nullptr ? error : "unknown error";
    sqlite3_free(error);
    sqlite3_close(database_);
    throw ToolError("cannot prepare the database " + file.string() + ": " + message);
  }
}

RecordStore::~RecordStore() { sqlite3_close(database_); }

bool RecordStore::StoreUpload(const std::vector<std::string>& records,
                              const std::string& received_at) {
  std::lock_guard lock(mutex_);
  // IMMEDIATE takes the write lock at once, so the upload number below stays ours.
  if (sqlite3_exec(database_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) return false;
  bool stored = false;
  {
    Statement next;
    Statement insert;
    if (sqlite3_prepare_v2(database_, "SELECT COALESCE(MAX(upload), 0) + 1 FROM records", -1,
                           &next.handle, nullptr) == SQLITE_OK &&
        sqlite3_step(next.handle) == SQLITE_ROW &&
        sqlite3_prepare_v2(database_,
                           "INSERT INTO records (upload, received_at, record) VALUES (?, ?, ?)", -1,
                           &insert.handle, nullptr) == SQLITE_OK) {
      const int64_t upload = sqlite3_column_int64(next.handle, 0);
      stored = true;
      for (const std::string& record : records) {
        stored = sqlite3_bind_int64(insert.handle, 1, upload) == SQLITE_OK &&
                 sqlite3_bind_text(insert.handle, 2, received_at.c_str(), -1, SQLITE_TRANSIENT) ==
                     SQLITE_OK &&
                 sqlite3_bind_text(insert.handle, 3, record.data(), static_cast<int>(record.size()),
                                   SQLITE_TRANSIENT) == SQLITE_OK &&
                 sqlite3_step(insert.handle) == SQLITE_DONE;
        sqlite3_reset(insert.handle);
        if (!stored) break;
      }
    }
  }
  if (stored && sqlite3_exec(database_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  sqlite3_exec(database_, "ROLLBACK", nullptr, nullptr, nullptr);
  return false;
}

std::vector<StoredRecord> RecordStore::ReadAll() {
  std::lock_guard lock(mutex_);
  std::vector<StoredRecord> records;
  Statement select;
  if (sqlite3_prepare_v2(database_, "SELECT id, upload, received_at, record FROM records ORDER BY id",
                         -1, &select.handle, nullptr) != SQLITE_OK) {
    throw ToolError(std::string("cannot read the records: ") + sqlite3_errmsg(database_));
  }
  int result;
  while ((result = sqlite3_step(select.handle)) == SQLITE_ROW) {
    StoredRecord record;
    record.id = sqlite3_column_int64(select.handle, 0);
    record.upload = sqlite3_column_int64(select.handle, 1);
    record.received_at = reinterpret_cast<const char*>(sqlite3_column_text(select.handle, 2));
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(select.handle, 3));
    record.record.assign(text, static_cast<size_t>(sqlite3_column_bytes(select.handle, 3)));
    records.push_back(std::move(record));
  }
  if (result != SQLITE_DONE) {
    throw ToolError(std::string("cannot read the records: ") + sqlite3_errmsg(database_));
  }
  return records;
}
