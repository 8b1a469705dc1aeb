// The SQLite side of the registry: one connection per process holding the
// persistent file as "main" and the volatile file attached as "vol", and the
// row operations that the Windows-style functions are built from.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/WinTypes.h"

struct sqlite3;
struct sqlite3_stmt;

namespace platform::detail {

enum class StoreKind { kPersistent, kVolatile };

// A key as stored.  The root (HKEY_LOCAL_MACHINE itself) has id 0 and an
// empty path; it is not a row.
struct KeyRow {
  StoreKind store = StoreKind::kPersistent;
  int64_t id = 0;
  std::string path;      // as first written
  std::string path_key;  // lower-case, the comparison form
  std::string key_class;
  int64_t last_write = 0;  // FILETIME units
};

struct ValueRow {
  std::string name;
  DWORD type = 0;
  std::vector<BYTE> data;
};

// The comparison form of a key path or value name: ASCII letters lowered.
std::string FoldCase(std::string_view text);

// Prepared statements of one connection, kept for reuse by their text.
class StatementCache {
 public:
  explicit StatementCache(sqlite3* db) : db_(db) {}
  ~StatementCache();
  StatementCache(const StatementCache&) = delete;
  StatementCache& operator=(const StatementCache&) = delete;

  // The statement, prepared on first use; rc receives the preparation result.
  sqlite3_stmt* Get(const std::string& sql, int* rc);
  sqlite3* db() const { return db_; }

 private:
  sqlite3* db_;
  std::vector<std::pair<std::string, sqlite3_stmt*>> statements_;
};

// One transaction.  Every operation returns a Windows error code; the first
// failure makes the caller give up, and the transaction is rolled back.
class Session {
 public:
  explicit Session(StatementCache* cache) : cache_(cache), db_(cache->db()) {}

  // Either store; ERROR_FILE_NOT_FOUND if absent.  "" is the root.
  LONG FindKey(std::string_view path_key, KeyRow* row);
  // The key a handle was opened on; ERROR_KEY_DELETED if it is gone.
  LONG KeyById(StoreKind store, int64_t id, std::string_view path_key, KeyRow* row);
  LONG InsertKey(StoreKind store, const std::string& path, std::string_view key_class, KeyRow* row);
  LONG TouchKey(const KeyRow& key);
  LONG CountSubKeys(std::string_view path_key, int64_t* count);
  LONG SubKeyAt(std::string_view path_key, int64_t index, KeyRow* row);
  // The key's subkeys, and with include_self the key and its values too.
  LONG DeleteTree(const KeyRow& key, bool include_self);

  LONG GetValue(const KeyRow& key, std::string_view name, ValueRow* value);
  LONG SetValue(const KeyRow& key, std::string_view name, DWORD type, const BYTE* data, DWORD size);
  LONG DeleteValue(const KeyRow& key, std::string_view name);
  LONG ValueAt(const KeyRow& key, int64_t index, ValueRow* value);

 private:
  StatementCache* cache_;
  sqlite3* db_;
};

// Runs body in one transaction on the store named by the current environment
// (write: BEGIN IMMEDIATE, so writers of all processes queue up instead of
// failing).  Serialises the calls of this process.  Store failures come back as
// ERROR_BADDB, ERROR_ACCESS_DENIED or ERROR_TIMEOUT.
LONG RunInStore(bool write, const std::function<LONG(Session&)>& body);

// Closes the connection of this process (one inherited across fork is only
// forgotten); RunInStore opens it again when next called.
void CloseStore();

// Thread-local text of the last store failure.
void SetStoreProblem(const std::string& text);
std::string StoreProblem();

}  // namespace platform::detail
