// The report record database: schema, the tick transaction, pruning and the
// indexed reads.
#include "services/switchd/RecordStore.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include "platform/system/Paths.h"

namespace switchd {

namespace {

// Readers never wait long for the writer: in write-ahead-log mode they only
// wait while the log is being reset.
constexpr int kBusyTimeoutMs = 10000;

// WITHOUT ROWID keeps the rows in (report, seq) order inside the primary key,
// so that one record is one B-tree lookup and a report's records are adjacent.
constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS reports("
    "  id INTEGER PRIMARY KEY,"
    "  name TEXT NOT NULL UNIQUE);"
    "CREATE TABLE IF NOT EXISTS records("
    "  report INTEGER NOT NULL,"
    "  seq INTEGER NOT NULL,"
    "  text TEXT NOT NULL,"
    "  PRIMARY KEY(report, seq)) WITHOUT ROWID;";

// A prepared statement, reset after each use.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) : db_(db) {
    rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, int64_t value) {
    if (rc_ == SQLITE_OK) rc_ = sqlite3_bind_int64(stmt_, index, value);
    return *this;
  }
  Statement& Bind(int index, std::string_view text) {
    if (rc_ == SQLITE_OK) {
      rc_ = sqlite3_bind_text(stmt_, index, text.empty() ? "" : text.data(),
                              static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() {
    if (rc_ != SQLITE_OK && rc_ != SQLITE_ROW) return rc_;
    rc_ = sqlite3_step(stmt_);
    return rc_;
  }
  // Runs a statement without rows and makes it ready for the next use.
  int Run() {
    const int rc = Step();
    Reset();
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
  }
  void Reset() {
    if (stmt_ == nullptr) return;
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    rc_ = SQLITE_OK;
  }
  int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
  bool IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
  std::string Text(int column) const {
    const auto* text = sqlite3_column_text(stmt_, column);
    if (text == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<size_t>(sqlite3_column_bytes(stmt_, column)));
  }
  std::string Error() const { return sqlite3_errmsg(db_); }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
  int rc_ = SQLITE_OK;
};

int Exec(sqlite3* db, const char* sql, std::string* error) {
  char* message = nullptr;
  const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &message);
  if (rc != SQLITE_OK && error != nullptr) {
    *error = message != nullptr ? message : sqlite3_errstr(rc);
  }
  sqlite3_free(message);
  return rc;
}

WriteOutcome Outcome(int rc) {
  return (rc & 0xFF) == SQLITE_FULL ? WriteOutcome::kFull : WriteOutcome::kFailed;
}

// Ends a write transaction: committed by Commit, rolled back otherwise.
class Transaction {
 public:
  explicit Transaction(sqlite3* db) : db_(db) {}
  ~Transaction() {
    if (open_) Exec(db_, "ROLLBACK", nullptr);
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  int Begin(std::string* error) {
    const int rc = Exec(db_, "BEGIN IMMEDIATE", error);
    open_ = rc == SQLITE_OK;
    return rc;
  }
  int Commit(std::string* error) {
    const int rc = Exec(db_, "COMMIT", error);
    // A failed COMMIT may leave the transaction open: the destructor rolls it back.
    open_ = rc != SQLITE_OK && sqlite3_get_autocommit(db_) == 0;
    return rc;
  }

 private:
  sqlite3* db_;
  bool open_ = false;
};

}  // namespace

std::unique_ptr<RecordStore> RecordStore::Open(const std::string& path, std::string* error) {
  std::unique_ptr<RecordStore> store(new RecordStore(path));
  if (!store->Initialize(error)) {
    *error = path + ": " + *error;
    return nullptr;
  }
  return store;
}

RecordStore::~RecordStore() {
  sqlite3_finalize(lookup_);
  sqlite3_close_v2(reader_);
  sqlite3_close_v2(writer_);
}

bool RecordStore::Initialize(std::string* error) {
  constexpr int kFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
  // A file that cannot be made here fails the open below with the reason.
  static_cast<void>(platform::CreateStateFile(path_));
  if (sqlite3_open_v2(path_.c_str(), &writer_, kFlags, nullptr) != SQLITE_OK) {
    *error = writer_ != nullptr ? sqlite3_errmsg(writer_) : "cannot open";
    return false;
  }
  sqlite3_busy_timeout(writer_, kBusyTimeoutMs);
  // FULL syncs the log at every commit: a commit that returned is on the disk.
  if (Exec(writer_, "PRAGMA journal_mode=WAL", error) != SQLITE_OK ||
      Exec(writer_, "PRAGMA synchronous=FULL", error) != SQLITE_OK ||
      Exec(writer_, kSchema, error) != SQLITE_OK) {
    return false;
  }
  if (sqlite3_open_v2(path_.c_str(), &reader_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK) {
    *error = reader_ != nullptr ? sqlite3_errmsg(reader_) : "cannot open for reading";
    return false;
  }
  sqlite3_busy_timeout(reader_, kBusyTimeoutMs);
  // Kept prepared: this is the lookup behind every record an SNMP walk reads.
  if (sqlite3_prepare_v2(reader_, "SELECT text FROM records WHERE report = ? AND seq = ?", -1,
                         &lookup_, nullptr) != SQLITE_OK) {
    *error = sqlite3_errmsg(reader_);
    return false;
  }

  std::vector<std::pair<int64_t, std::string>> reports;
  {
    Statement list(writer_, "SELECT id, name FROM reports");
    int rc;
    while ((rc = list.Step()) == SQLITE_ROW) reports.emplace_back(list.Int(0), list.Text(1));
    if (rc != SQLITE_DONE) {
      *error = list.Error();
      return false;
    }
  }
  // Each bound is one index lookup; a report's sequence numbers are contiguous
  // because every change to them is one transaction.
  Statement low(writer_, "SELECT MIN(seq) FROM records WHERE report = ?");
  Statement high(writer_, "SELECT MAX(seq) FROM records WHERE report = ?");
  for (const auto& [id, name] : reports) {
    Span span{.id = id};
    if (low.Bind(1, id).Step() == SQLITE_ROW && !low.IsNull(0)) span.first = low.Int(0);
    if (high.Bind(1, id).Step() == SQLITE_ROW && !high.IsNull(0)) span.next = high.Int(0) + 1;
    low.Reset();
    high.Reset();
    if (span.next < span.first) span.next = span.first;
    spans_[name] = span;
  }
  return true;
}

std::optional<RecordStore::Span> RecordStore::Find(std::string_view report) const {
  std::lock_guard lock(spans_mutex_);
  const auto it = spans_.find(report);
  if (it == spans_.end()) return std::nullopt;
  return it->second;
}

WriteOutcome RecordStore::Append(std::span<const NewRecord> records, std::string* error) {
  if (records.empty()) return WriteOutcome::kWritten;
  // The spans change only when the transaction commits.
  std::map<std::string, Span, std::less<>> changed;
  Transaction transaction(writer_);
  int rc = transaction.Begin(error);
  if (rc != SQLITE_OK) return Outcome(rc);
  Statement add_report(writer_, "INSERT INTO reports(name) VALUES(?)");
  Statement insert(writer_, "INSERT INTO records(report, seq, text) VALUES(?, ?, ?)");
  Statement prune(writer_, "DELETE FROM records WHERE report = ? AND seq < ?");
  for (const NewRecord& record : records) {
    auto it = changed.find(record.report);
    if (it == changed.end()) {
      std::optional<Span> known = Find(record.report);
      if (!known) {
        rc = add_report.Bind(1, record.report).Run();
        if (rc != SQLITE_OK) {
          *error = add_report.Error();
          return Outcome(rc);
        }
        known = Span{.id = sqlite3_last_insert_rowid(writer_)};
      }
      it = changed.emplace(record.report, *known).first;
    }
    Span& span = it->second;
    rc = insert.Bind(1, span.id).Bind(2, span.next).Bind(3, record.text).Run();
    if (rc != SQLITE_OK) {
      *error = insert.Error();
      return Outcome(rc);
    }
    ++span.next;
    const int64_t keep = std::max<int64_t>(record.keep, 1);
    if (span.next - span.first > keep) {
      span.first = span.next - keep;
      rc = prune.Bind(1, span.id).Bind(2, span.first).Run();
      if (rc != SQLITE_OK) {
        *error = prune.Error();
        return Outcome(rc);
      }
    }
  }
  rc = transaction.Commit(error);
  if (rc != SQLITE_OK) return Outcome(rc);
  std::lock_guard lock(spans_mutex_);
  for (auto& [name, span] : changed) spans_[name] = span;
  return WriteOutcome::kWritten;
}

WriteOutcome RecordStore::Trim(std::string_view report, DWORD keep, std::string* error) {
  std::optional<Span> span = Find(report);
  const int64_t kept = std::max<int64_t>(keep, 1);
  if (!span || span->next - span->first <= kept) return WriteOutcome::kWritten;
  span->first = span->next - kept;
  Statement prune(writer_, "DELETE FROM records WHERE report = ? AND seq < ?");
  const int rc = prune.Bind(1, span->id).Bind(2, span->first).Run();
  if (rc != SQLITE_OK) {
    *error = prune.Error();
    return Outcome(rc);
  }
  std::lock_guard lock(spans_mutex_);
  spans_[std::string(report)] = *span;
  return WriteOutcome::kWritten;
}

WriteOutcome RecordStore::Forget(std::string_view report, std::string* error) {
  const std::optional<Span> span = Find(report);
  if (!span) return WriteOutcome::kWritten;
  Transaction transaction(writer_);
  int rc = transaction.Begin(error);
  if (rc != SQLITE_OK) return Outcome(rc);
  Statement records(writer_, "DELETE FROM records WHERE report = ?");
  Statement row(writer_, "DELETE FROM reports WHERE id = ?");
  if ((rc = records.Bind(1, span->id).Run()) != SQLITE_OK) {
    *error = records.Error();
    return Outcome(rc);
  }
  if ((rc = row.Bind(1, span->id).Run()) != SQLITE_OK) {
    *error = row.Error();
    return Outcome(rc);
  }
  rc = transaction.Commit(error);
  if (rc != SQLITE_OK) return Outcome(rc);
  std::lock_guard lock(spans_mutex_);
  spans_.erase(spans_.find(report));
  return WriteOutcome::kWritten;
}

std::vector<std::string> RecordStore::Reports() const {
  std::lock_guard lock(spans_mutex_);
  std::vector<std::string> names;
  for (const auto& [name, span] : spans_) {
    if (span.next > span.first) names.push_back(name);
  }
  return names;
}

DWORD RecordStore::Count(std::string_view report) const {
  const std::optional<Span> span = Find(report);
  return span ? static_cast<DWORD>(span->next - span->first) : 0;
}

std::optional<std::string> RecordStore::TextAt(int64_t id, int64_t seq) const {
  std::lock_guard lock(reader_mutex_);
  std::optional<std::string> text;
  sqlite3_bind_int64(lookup_, 1, id);
  sqlite3_bind_int64(lookup_, 2, seq);
  if (sqlite3_step(lookup_) == SQLITE_ROW) {
    const auto* bytes = sqlite3_column_text(lookup_, 0);
    text.emplace(bytes != nullptr ? reinterpret_cast<const char*>(bytes) : "",
                 static_cast<size_t>(sqlite3_column_bytes(lookup_, 0)));
  }
  sqlite3_reset(lookup_);
  return text;
}

std::optional<std::string> RecordStore::Text(std::string_view report, DWORD number) const {
  const std::optional<Span> span = Find(report);
  if (!span || number == 0 || number > span->next - span->first) return std::nullopt;
  return TextAt(span->id, span->first + number - 1);
}

std::vector<StoredRecord> RecordStore::Range(std::string_view report, DWORD first,
                                             DWORD count) const {
  std::vector<StoredRecord> records;
  const std::optional<Span> span = Find(report);
  if (!span || first == 0 || count == 0) return records;
  const int64_t from = span->first + first - 1;
  const int64_t to = std::min<int64_t>(from + count, span->next);
  std::lock_guard lock(reader_mutex_);
  Statement select(reader_,
                   "SELECT seq, text FROM records WHERE report = ? AND seq >= ? AND seq < ? "
                   "ORDER BY seq");
  select.Bind(1, span->id).Bind(2, from).Bind(3, to);
  while (select.Step() == SQLITE_ROW) {
    records.push_back({static_cast<DWORD>(select.Int(0) - span->first + 1), select.Text(1)});
  }
  return records;
}

DWORD RecordStore::FirstNotBefore(std::string_view report, std::string_view text) const {
  const std::optional<Span> span = Find(report);
  if (!span) return 1;
  int64_t low = span->first;
  int64_t high = span->next;
  while (low < high) {
    const int64_t middle = low + (high - low) / 2;
    const std::optional<std::string> found = TextAt(span->id, middle);
    // A record pruned meanwhile counts as older than anything asked for.
    if (!found || std::string_view(*found).substr(0, text.size()) < text) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return static_cast<DWORD>(low - span->first + 1);
}

int64_t RecordStore::FileBytes() const {
  int64_t bytes = 0;
  for (const char* suffix : {"", "-wal"}) {
    struct stat info {};
    if (::stat((path_ + suffix).c_str(), &info) == 0) bytes += info.st_size;
  }
  return bytes;
}

void RecordStore::Checkpoint() { Exec(writer_, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr); }

void RecordStore::LimitPages(int64_t pages) {
  const std::string sql = "PRAGMA max_page_count=" + std::to_string(pages > 0 ? pages : 1073741823);
  Exec(writer_, sql.c_str(), nullptr);
}

}  // namespace switchd
