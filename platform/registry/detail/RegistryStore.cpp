// The registry's SQLite files: opening (and reopening when the environment
// names other directories or a file was replaced), the schema, transactions
// and the row operations.
#include "platform/registry/detail/RegistryStore.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/system/Paths.h"

namespace platform::detail {

namespace {

// How long a writer waits for the writers of other processes before the call
// fails with ERROR_TIMEOUT.  Registry transactions last microseconds, so only
// a stuck process can exhaust this.
constexpr int kBusyTimeoutMs = 15000;

// Once a call has waited the whole timeout, another process holds the store
// and may go on holding it: later calls wait only this long until one gets
// through, so that a reader (the agent reading its settings at start) falls
// back to its defaults in moments instead of waiting out each read in turn.
constexpr int kBusyWhileHeldMs = 250;
// The wait of the next call; read and written under StoreMutex().
int g_busy_wait_ms = kBusyTimeoutMs;

constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS %1.reg_keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  path TEXT NOT NULL,"
    "  path_key TEXT NOT NULL UNIQUE,"
    "  parent_key TEXT NOT NULL,"
    "  name_key TEXT NOT NULL,"
    "  class TEXT NOT NULL DEFAULT '',"
    "  last_write INTEGER NOT NULL);"
    "CREATE INDEX IF NOT EXISTS %1.reg_keys_by_parent ON reg_keys(parent_key, name_key);"
    "CREATE TABLE IF NOT EXISTS %1.reg_values("
    "  key_id INTEGER NOT NULL,"
    "  name TEXT NOT NULL,"
    "  name_key TEXT NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key_id, name_key));";

const char* SchemaOf(StoreKind store) { return store == StoreKind::kVolatile ? "vol" : "main"; }

// Replaces every "%1" of a statement with the schema name.
std::string WithSchema(std::string_view sql, const char* schema) {
  std::string out;
  for (size_t i = 0; i < sql.size(); ++i) {
    if (sql[i] == '%' && i + 1 < sql.size() && sql[i + 1] == '1') {
      out += schema;
      ++i;
    } else {
      out += sql[i];
    }
  }
  return out;
}

LONG MapSqliteError(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return ERROR_SUCCESS;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ERROR_TIMEOUT;
    case SQLITE_NOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return ERROR_ACCESS_DENIED;
    default:
      return ERROR_BADDB;
  }
}

LONG Fail(sqlite3* db, int rc, std::string_view what) {
  SetStoreProblem(std::string(what) + ": " + (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
  return MapSqliteError(rc);
}

int64_t FileTimeNow() {
  // FILETIME counts 100 ns intervals since 1 January 1601.
  constexpr int64_t kEpochDifference = 116444736000000000LL;
  const auto since_1970 = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::nanoseconds>(since_1970).count() / 100 +
         kEpochDifference;
}

// A cached statement in use: bound, stepped, and reset when it goes out of scope.
class Statement {
 public:
  Statement(StatementCache* cache, const std::string& sql) : db_(cache->db()) {
    stmt_ = cache->Get(sql, &rc_);
  }
  ~Statement() {
    if (stmt_ != nullptr) {
      sqlite3_reset(stmt_);
      sqlite3_clear_bindings(stmt_);
    }
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, std::string_view text) {
    // An empty view may carry a null pointer, which SQLite would store as NULL.
    if (rc_ == SQLITE_OK) {
      rc_ = sqlite3_bind_text(stmt_, index, text.empty() ? "" : text.data(),
                              static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    return *this;
  }
  Statement& Bind(int index, int64_t number) {
    if (rc_ == SQLITE_OK) rc_ = sqlite3_bind_int64(stmt_, index, number);
    return *this;
  }
  Statement& BindBlob(int index, const BYTE* data, DWORD size) {
    static const BYTE kEmpty = 0;
    if (rc_ == SQLITE_OK) {
      rc_ = sqlite3_bind_blob(stmt_, index, size == 0 ? &kEmpty : data, static_cast<int>(size),
                              SQLITE_TRANSIENT);
    }
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() {
    if (rc_ != SQLITE_OK && rc_ != SQLITE_ROW) return rc_;
    rc_ = sqlite3_step(stmt_);
    return rc_;
  }
  std::string Text(int column) const {
    const auto* text = sqlite3_column_text(stmt_, column);
    return text != nullptr ? std::string(reinterpret_cast<const char*>(text),
                                         static_cast<size_t>(sqlite3_column_bytes(stmt_, column)))
                           : std::string();
  }
  int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
  std::vector<BYTE> Blob(int column) const {
    const auto* data = static_cast<const BYTE*>(sqlite3_column_blob(stmt_, column));
    const int size = sqlite3_column_bytes(stmt_, column);
    return data != nullptr ? std::vector<BYTE>(data, data + size) : std::vector<BYTE>();
  }
  sqlite3* db() const { return db_; }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
  int rc_ = SQLITE_OK;
};

// Runs a statement that returns no rows.
LONG Execute(Statement& statement, std::string_view what) {
  const int rc = statement.Step();
  return rc == SQLITE_DONE ? ERROR_SUCCESS : Fail(statement.db(), rc, what);
}

struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

bool Identify(const std::string& path, FileIdentity* identity) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return false;
  *identity = {info.st_dev, info.st_ino};
  return true;
}

// A database file that is gone leaves its write-ahead log and shared-memory
// index orphaned; SQLite would replay that log into a new, empty file.
void RemoveOrphans(const std::string& path) {
  if (access(path.c_str(), F_OK) == 0) return;
  unlink((path + "-wal").c_str());
  unlink((path + "-shm").c_str());
}

class Connection {
 public:
  ~Connection() { Close(); }

  // Makes sure the connection is open on the files the environment names now.
  LONG Ensure() {
    const std::string state_dir = StateDirectory();
    const std::string runtime_dir = RuntimeDirectory();
    const std::string main_path = state_dir + "/registry.db";
    const std::string volatile_path = runtime_dir + "/registry-volatile.db";
    ForgetInherited();
    if (db_ != nullptr) {
      FileIdentity main_now;
      FileIdentity volatile_now;
      if (main_path == main_path_ && volatile_path == volatile_path_ &&
          Identify(main_path, &main_now) && main_now == main_id_ &&
          Identify(volatile_path, &volatile_now) && volatile_now == volatile_id_) {
        return ERROR_SUCCESS;
      }
      Close();
    }
    for (const std::string* dir : {&state_dir, &runtime_dir}) {
      if (!MakeDirectories(*dir)) {
        SetStoreProblem("cannot create directory " + *dir + ": " + std::strerror(errno));
        return errno == EACCES || errno == EPERM || errno == EROFS ? ERROR_ACCESS_DENIED
                                                                   : ERROR_BADDB;
      }
    }
    RemoveOrphans(main_path);
    RemoveOrphans(volatile_path);
    const LONG result = Open(main_path, volatile_path);
    if (result != ERROR_SUCCESS) {
      Close();
      return result;
    }
    main_path_ = main_path;
    volatile_path_ = volatile_path;
    owner_ = getpid();
    cache_ = std::make_unique<StatementCache>(db_);
    return ERROR_SUCCESS;
  }

  void Close() {
    cache_.reset();
    if (db_ != nullptr) sqlite3_close_v2(db_);
    db_ = nullptr;
  }

  void ForgetInherited() {
    if (db_ != nullptr && owner_ != getpid()) {
      // Inherited across fork: the parent still uses this connection, so it
      // must be neither used nor closed here.
      static_cast<void>(cache_.release());
      db_ = nullptr;
    }
  }

  sqlite3* db() const { return db_; }
  StatementCache* cache() const { return cache_.get(); }

 private:
  LONG Open(const std::string& main_path, const std::string& volatile_path) {
    // A file that cannot be made here fails the open below with the reason.
    for (const std::string* path : {&main_path, &volatile_path}) {
      static_cast<void>(CreateStateFile(*path));
    }
    int rc =
        sqlite3_open_v2(main_path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) return Fail(db_, rc, main_path);
    sqlite3_busy_timeout(db_, g_busy_wait_ms);
    sqlite3_extended_result_codes(db_, 0);
    rc = ExecRetryingBusy("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
    if (rc != SQLITE_OK) return Fail(db_, rc, main_path);
    {
      StatementCache once(db_);
      Statement attach(&once, "ATTACH DATABASE ?1 AS vol");
      attach.Bind(1, volatile_path);
      if (const LONG result = Execute(attach, volatile_path); result != ERROR_SUCCESS) {
        return result;
      }
    }
    rc = ExecRetryingBusy("PRAGMA vol.journal_mode=WAL; PRAGMA vol.synchronous=NORMAL;");
    if (rc != SQLITE_OK) return Fail(db_, rc, volatile_path);
    const std::string schema =
        "BEGIN IMMEDIATE;" + WithSchema(kSchema, "main") + WithSchema(kSchema, "vol") + "COMMIT;";
    rc = ExecRetryingBusy(schema.c_str());
    if (rc != SQLITE_OK) {
      const LONG result = Fail(db_, rc, main_path + " / " + volatile_path);
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      return result;
    }
    if (!Identify(main_path, &main_id_) || !Identify(volatile_path, &volatile_id_)) {
      SetStoreProblem("registry files vanished while opening them");
      return ERROR_BADDB;
    }
    return ERROR_SUCCESS;
  }

  // Two processes opening a new store at the same moment both switch it to WAL
  // and create its tables; SQLite may answer one of them "busy" at once, without
  // consulting the busy handler, so setup steps are retried within the timeout.
  int ExecRetryingBusy(const char* sql) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(g_busy_wait_ms);
    for (;;) {
      const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
      if ((rc != SQLITE_BUSY && rc != SQLITE_LOCKED) ||
          std::chrono::steady_clock::now() >= deadline) {
        return rc;
      }
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  sqlite3* db_ = nullptr;
  std::unique_ptr<StatementCache> cache_;
  std::string main_path_;
  std::string volatile_path_;
  FileIdentity main_id_;
  FileIdentity volatile_id_;
  pid_t owner_ = 0;
};

std::mutex& StoreMutex() {
  static std::mutex mutex;
  return mutex;
}

Connection& TheConnection() {
  // Never destroyed: other static destructors may still read the registry.
  static Connection* connection = new Connection;
  return *connection;
}

void ReadKey(const Statement& row, StoreKind store, KeyRow* key) {
  key->store = store;
  key->id = row.Int(0);
  key->path = row.Text(1);
  key->path_key = FoldCase(key->path);
  key->key_class = row.Text(2);
  key->last_write = row.Int(3);
}

void ReadValue(const Statement& row, ValueRow* value) {
  value->name = row.Text(0);
  value->type = static_cast<DWORD>(row.Int(1));
  value->data = row.Blob(2);
}

}  // namespace

StatementCache::~StatementCache() {
  for (auto& entry : statements_) sqlite3_finalize(entry.second);
}

sqlite3_stmt* StatementCache::Get(const std::string& sql, int* rc) {
  for (auto& entry : statements_) {
    if (entry.first == sql) {
      *rc = SQLITE_OK;
      return entry.second;
    }
  }
  sqlite3_stmt* statement = nullptr;
  *rc = sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
  if (*rc != SQLITE_OK) return nullptr;
  statements_.emplace_back(sql, statement);
  return statement;
}

std::string FoldCase(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

namespace {
// A plain array keeps the thread-local trivially destructible, so a thread that
// met a store problem does not pin the library that holds this code.
thread_local char t_store_problem[512];
}  // namespace

void SetStoreProblem(const std::string& text) {
  std::snprintf(t_store_problem, sizeof t_store_problem, "%s", text.c_str());
}

std::string StoreProblem() { return t_store_problem; }

LONG Session::FindKey(std::string_view path_key, KeyRow* row) {
  if (path_key.empty()) {
    *row = KeyRow{};
    return ERROR_SUCCESS;
  }
  for (StoreKind store : {StoreKind::kPersistent, StoreKind::kVolatile}) {
    Statement find(cache_, WithSchema("SELECT id, path, class, last_write FROM %1.reg_keys "
                                      "WHERE path_key = ?1",
                                      SchemaOf(store)));
    find.Bind(1, path_key);
    const int rc = find.Step();
    if (rc == SQLITE_ROW) {
      ReadKey(find, store, row);
      return ERROR_SUCCESS;
    }
    if (rc != SQLITE_DONE) return Fail(db_, rc, "looking up a key");
  }
  return ERROR_FILE_NOT_FOUND;
}

LONG Session::KeyById(StoreKind store, int64_t id, std::string_view path_key, KeyRow* row) {
  if (id == 0) return FindKey("", row);
  Statement find(cache_, WithSchema("SELECT id, path, class, last_write FROM %1.reg_keys "
                                    "WHERE id = ?1 AND path_key = ?2",
                                    SchemaOf(store)));
  find.Bind(1, id).Bind(2, path_key);
  const int rc = find.Step();
  if (rc == SQLITE_ROW) {
    ReadKey(find, store, row);
    return ERROR_SUCCESS;
  }
  return rc == SQLITE_DONE ? ERROR_KEY_DELETED : Fail(db_, rc, "looking up an open key");
}

LONG Session::InsertKey(StoreKind store, const std::string& path, std::string_view key_class,
                        KeyRow* row) {
  const std::string path_key = FoldCase(path);
  const size_t slash = path_key.rfind('\\');
  const std::string parent_key = slash == std::string::npos ? "" : path_key.substr(0, slash);
  const std::string name_key = slash == std::string::npos ? path_key : path_key.substr(slash + 1);
  const int64_t now = FileTimeNow();
  Statement insert(cache_,
                   WithSchema("INSERT INTO %1.reg_keys(path, path_key, parent_key, name_key, "
                              "class, last_write) VALUES(?1, ?2, ?3, ?4, ?5, ?6)",
                              SchemaOf(store)));
  insert.Bind(1, path).Bind(2, path_key).Bind(3, parent_key).Bind(4, name_key);
  insert.Bind(5, key_class).Bind(6, now);
  if (const LONG result = Execute(insert, "creating a key"); result != ERROR_SUCCESS) {
    return result;
  }
  row->store = store;
  row->id = sqlite3_last_insert_rowid(db_);
  row->path = path;
  row->path_key = path_key;
  row->key_class = std::string(key_class);
  row->last_write = now;
  return ERROR_SUCCESS;
}

LONG Session::TouchKey(const KeyRow& key) {
  if (key.id == 0) return ERROR_SUCCESS;
  Statement touch(cache_, WithSchema("UPDATE %1.reg_keys SET last_write = ?2 WHERE id = ?1",
                                     SchemaOf(key.store)));
  touch.Bind(1, key.id).Bind(2, FileTimeNow());
  return Execute(touch, "updating a key");
}

LONG Session::CountSubKeys(std::string_view path_key, int64_t* count) {
  Statement query(cache_,
                  "SELECT (SELECT count(*) FROM main.reg_keys WHERE parent_key = ?1) + "
                  "(SELECT count(*) FROM vol.reg_keys WHERE parent_key = ?1)");
  query.Bind(1, path_key);
  const int rc = query.Step();
  if (rc != SQLITE_ROW) return Fail(db_, rc, "counting subkeys");
  *count = query.Int(0);
  return ERROR_SUCCESS;
}

LONG Session::SubKeyAt(std::string_view path_key, int64_t index, KeyRow* row) {
  // A compound ORDER BY lets SQLite merge the two index scans instead of
  // sorting the subkeys on every call.
  Statement query(cache_,
                  "SELECT id, path, class, last_write, 0, name_key FROM main.reg_keys"
                  " WHERE parent_key = ?1"
                  " UNION ALL"
                  " SELECT id, path, class, last_write, 1, name_key FROM vol.reg_keys"
                  " WHERE parent_key = ?1"
                  " ORDER BY 6 LIMIT 1 OFFSET ?2");
  query.Bind(1, path_key).Bind(2, index);
  const int rc = query.Step();
  if (rc == SQLITE_ROW) {
    ReadKey(query, query.Int(4) != 0 ? StoreKind::kVolatile : StoreKind::kPersistent, row);
    return ERROR_SUCCESS;
  }
  return rc == SQLITE_DONE ? ERROR_NO_MORE_ITEMS : Fail(db_, rc, "enumerating subkeys");
}

LONG Session::DeleteTree(const KeyRow& key, bool include_self) {
  // The subtree of P is every path in the range (P "\", P "]"): "]" is the
  // character after "\", and the folded form keeps that order.
  const std::string low = key.path_key.empty() ? "" : key.path_key + "\\";
  const std::string high = key.path_key.empty() ? "\x7f\x7f" : key.path_key + "]";
  const std::string_view self = include_self ? std::string_view(key.path_key) : "\x01";
  for (StoreKind store : {StoreKind::kPersistent, StoreKind::kVolatile}) {
    const char* schema = SchemaOf(store);
    const std::string in_tree =
        "(path_key = ?3 OR (path_key > ?1 AND path_key < ?2 AND ?1 <> '') OR "
        "(?1 = '' AND path_key <> ''))";
    Statement values(cache_, WithSchema("DELETE FROM %1.reg_values WHERE key_id IN "
                                        "(SELECT id FROM %1.reg_keys WHERE " +
                                            in_tree + ")",
                                        schema));
    values.Bind(1, low).Bind(2, high).Bind(3, self);
    if (const LONG result = Execute(values, "deleting values"); result != ERROR_SUCCESS) {
      return result;
    }
    Statement keys(cache_, WithSchema("DELETE FROM %1.reg_keys WHERE " + in_tree, schema));
    keys.Bind(1, low).Bind(2, high).Bind(3, self);
    if (const LONG result = Execute(keys, "deleting keys"); result != ERROR_SUCCESS) {
      return result;
    }
  }
  if (!include_self) {
    Statement values(
        cache_, WithSchema("DELETE FROM %1.reg_values WHERE key_id = ?1", SchemaOf(key.store)));
    values.Bind(1, key.id);
    if (const LONG result = Execute(values, "deleting values"); result != ERROR_SUCCESS) {
      return result;
    }
    return TouchKey(key);
  }
  return ERROR_SUCCESS;
}

LONG Session::GetValue(const KeyRow& key, std::string_view name, ValueRow* value) {
  Statement query(cache_, WithSchema("SELECT name, type, data FROM %1.reg_values "
                                     "WHERE key_id = ?1 AND name_key = ?2",
                                     SchemaOf(key.store)));
  query.Bind(1, key.id).Bind(2, FoldCase(name));
  const int rc = query.Step();
  if (rc == SQLITE_ROW) {
    ReadValue(query, value);
    return ERROR_SUCCESS;
  }
  return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : Fail(db_, rc, "reading a value");
}

LONG Session::SetValue(const KeyRow& key, std::string_view name, DWORD type, const BYTE* data,
                       DWORD size) {
  // An update in place keeps the value's position in the enumeration order.
  Statement upsert(cache_,
                   WithSchema("INSERT INTO %1.reg_values(key_id, name, name_key, type, data) "
                              "VALUES(?1, ?2, ?3, ?4, ?5) ON CONFLICT(key_id, name_key) "
                              "DO UPDATE SET type = excluded.type, data = excluded.data",
                              SchemaOf(key.store)));
  upsert.Bind(1, key.id).Bind(2, name).Bind(3, FoldCase(name)).Bind(4, int64_t{type});
  upsert.BindBlob(5, data, size);
  if (const LONG result = Execute(upsert, "writing a value"); result != ERROR_SUCCESS) {
    return result;
  }
  return TouchKey(key);
}

LONG Session::DeleteValue(const KeyRow& key, std::string_view name) {
  Statement remove(cache_,
                   WithSchema("DELETE FROM %1.reg_values WHERE key_id = ?1 AND name_key = ?2",
                              SchemaOf(key.store)));
  remove.Bind(1, key.id).Bind(2, FoldCase(name));
  if (const LONG result = Execute(remove, "deleting a value"); result != ERROR_SUCCESS) {
    return result;
  }
  if (sqlite3_changes(db_) == 0) return ERROR_FILE_NOT_FOUND;
  return TouchKey(key);
}

LONG Session::ValueAt(const KeyRow& key, int64_t index, ValueRow* value) {
  Statement query(cache_, WithSchema("SELECT name, type, data FROM %1.reg_values WHERE key_id = ?1 "
                                     "ORDER BY rowid LIMIT 1 OFFSET ?2",
                                     SchemaOf(key.store)));
  query.Bind(1, key.id).Bind(2, index);
  const int rc = query.Step();
  if (rc == SQLITE_ROW) {
    ReadValue(query, value);
    return ERROR_SUCCESS;
  }
  return rc == SQLITE_DONE ? ERROR_NO_MORE_ITEMS : Fail(db_, rc, "enumerating values");
}

void CloseStore() {
  const std::lock_guard<std::mutex> lock(StoreMutex());
  Connection& connection = TheConnection();
  connection.ForgetInherited();
  connection.Close();
}

namespace {

LONG RunInStoreLocked(bool write, const std::function<LONG(Session&)>& body) {
  Connection& connection = TheConnection();
  if (const LONG result = connection.Ensure(); result != ERROR_SUCCESS) return result;
  sqlite3* db = connection.db();
  const int rc = sqlite3_exec(db, write ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    const LONG result = Fail(db, rc, "starting a transaction");
    if (result == ERROR_BADDB) connection.Close();
    return result;
  }
  Session session(connection.cache());
  LONG result = body(session);
  if (result == ERROR_SUCCESS) {
    const int commit = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (commit != SQLITE_OK) result = Fail(db, commit, "committing");
  }
  if (result != ERROR_SUCCESS && !sqlite3_get_autocommit(db)) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  // A damaged file may be repaired or replaced before the next call.
  if (result == ERROR_BADDB) connection.Close();
  return result;
}

}  // namespace

LONG RunInStore(bool write, const std::function<LONG(Session&)>& body) {
  const std::lock_guard<std::mutex> lock(StoreMutex());
  const LONG result = RunInStoreLocked(write, body);
  const int wait_ms = result == ERROR_TIMEOUT ? kBusyWhileHeldMs : kBusyTimeoutMs;
  if (wait_ms != g_busy_wait_ms) {
    g_busy_wait_ms = wait_ms;
    if (sqlite3* db = TheConnection().db()) sqlite3_busy_timeout(db, wait_ms);
  }
  return result;
}

}  // namespace platform::detail
