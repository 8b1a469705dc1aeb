// The recorded values of the reports: an SQLite database in switchd's data
// directory (write-ahead log, every commit synced), one row per record.
//
// Record numbers are positions: 1 is the oldest record a report keeps and the
// count is the newest.  Each report's rows carry contiguous sequence numbers,
// and the store keeps the first and next one of every report in memory, so
// that record n is the row (report, first + n - 1): one index lookup, never a
// scan.  Dropping the oldest records moves the first sequence number up.
//
//   std::string error;
//   auto store = RecordStore::Open(data_dir + "/records.db", &error);
//   NewRecord tick[] = {{"cpu", "2026-01-02 10:00:05 17 %", 1440}};
//   WriteOutcome outcome = store->Append(tick, &error);
//   std::optional<std::string> text = store->Text("cpu", 1);
//
// Thread safety: Append, Trim and Forget are called by one writer thread at a
// time; the readers may be called from any thread meanwhile.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/WinTypes.h"

struct sqlite3;
struct sqlite3_stmt;

namespace switchd {

// One record to append: the report, its text, and how many records of that
// report to keep at most (the oldest beyond are dropped in the same write).
struct NewRecord {
  std::string report;
  std::string text;
  DWORD keep = 1;
};

struct StoredRecord {
  DWORD number = 0;  // position, 1 the oldest kept
  std::string text;
};

enum class WriteOutcome {
  kWritten,
  kFull,    // the disk (or the database's size limit) is full: nothing was written
  kFailed,  // any other failure: nothing was written
};

class RecordStore {
 public:
  // Opens or creates the database; null with a reason when it cannot be used.
  static std::unique_ptr<RecordStore> Open(const std::string& path, std::string* error);
  ~RecordStore();
  RecordStore(const RecordStore&) = delete;
  RecordStore& operator=(const RecordStore&) = delete;

  const std::string& Path() const { return path_; }

  // Writes the records of one poll tick in one transaction, in order: all of
  // them or, on a failure, none (the reason in *error).
  WriteOutcome Append(std::span<const NewRecord> records, std::string* error);
  // Drops the oldest records of a report beyond `keep` (at least 1).
  WriteOutcome Trim(std::string_view report, DWORD keep, std::string* error);
  // Deletes a report and all its records.
  WriteOutcome Forget(std::string_view report, std::string* error);

  // The reports that have records, in name order.
  std::vector<std::string> Reports() const;
  // How many records a report keeps; 0 for an unknown report.
  DWORD Count(std::string_view report) const;
  // The text of record `number`; none outside 1..Count.
  std::optional<std::string> Text(std::string_view report, DWORD number) const;
  // Up to `count` records from number `first` on, in order.
  std::vector<StoredRecord> Range(std::string_view report, DWORD first, DWORD count) const;
  // The number of the first record whose text does not sort before `text`
  // (records are appended in time order, and their texts start with the
  // time), Count + 1 when there is none.  A binary search over lookups.
  DWORD FirstNotBefore(std::string_view report, std::string_view text) const;

  // The size of the database and its write-ahead log in bytes.
  int64_t FileBytes() const;
  // Moves what the write-ahead log holds into the database file and empties
  // the log (SQLite does so by itself as the log grows); for measurements
  // and copies of the file.  Writer thread only.
  void Checkpoint();
  // Limits the database to `pages` pages (0: no limit beyond SQLite's own),
  // as a full disk would: writes beyond fail with kFull.  For tests.
  void LimitPages(int64_t pages);

 private:
  struct Span {
    int64_t id = 0;     // the report's row id
    int64_t first = 1;  // sequence number of record 1
    int64_t next = 1;   // sequence number the next record gets
  };

  explicit RecordStore(std::string path) : path_(std::move(path)) {}
  bool Initialize(std::string* error);
  std::optional<Span> Find(std::string_view report) const;
  std::optional<std::string> TextAt(int64_t id, int64_t seq) const;

  const std::string path_;
  sqlite3* writer_ = nullptr;
  sqlite3* reader_ = nullptr;
  sqlite3_stmt* lookup_ = nullptr;  // record text by (report id, seq), on reader_
  mutable std::mutex reader_mutex_;
  mutable std::mutex spans_mutex_;
  std::map<std::string, Span, std::less<>> spans_;
};

}  // namespace switchd
