#include "platform/posix/registry.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "base/registry_roots.h"
#include "base/text.h"
#include "platform/clock.h"
#include "platform/posix/os_error.h"

namespace platform::posix {
namespace {

// SQLite's own busy handler waits this long for another connection's lock; Run() then retries
// the whole transaction until kBusyBound has passed since the call began.
constexpr int kBusyTimeoutMs = 2000;
constexpr auto kBusyBound = std::chrono::seconds(10);

constexpr size_t kMaxKeyNameUnits = 255;
constexpr size_t kMaxValueNameUnits = 16383;
constexpr int kSchemaVersion = 1;

// Rights that change a key or what lies beneath it; asking for any of them on a protected key
// is refused. MAXIMUM_ALLOWED and the read rights are granted.
constexpr uint32_t kWriteRights = win::kKeySetValue | win::kKeyCreateSubKey |
                                  win::kKeyCreateLink | win::kDelete | win::kWriteDac |
                                  win::kWriteOwner | win::kGenericWrite | win::kGenericAll;

// A failed SQLite call inside a transaction; Run() turns it into a retry or a Windows code.
struct SqlError {
  int rc;
};

// One use of a cached prepared statement: bindings and state are cleared when it ends.
class Query {
 public:
  explicit Query(sqlite3_stmt* stmt) : stmt_(stmt) {}
  ~Query() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  Query& Bind(int index, int64_t value) {
    return Checked(sqlite3_bind_int64(stmt_, index, value));
  }
  Query& Bind(int index, std::string_view value) {
    return Checked(sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()),
                                     SQLITE_TRANSIENT));
  }
  Query& BindBlob(int index, const void* data, uint32_t size) {
    // A null pointer would bind SQL NULL; an empty value is a zero-length blob.
    if (size == 0) return Checked(sqlite3_bind_zeroblob(stmt_, index, 0));
    return Checked(sqlite3_bind_blob64(stmt_, index, data, size, SQLITE_TRANSIENT));
  }

  // True while rows come; false when done.
  bool Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw SqlError{rc};
  }
  int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
  std::string Text(int column) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    return p != nullptr ? std::string(p, sqlite3_column_bytes(stmt_, column)) : std::string();
  }
  std::vector<uint8_t> Blob(int column) const {
    const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, column));
    const int n = sqlite3_column_bytes(stmt_, column);
    return p != nullptr ? std::vector<uint8_t>(p, p + n) : std::vector<uint8_t>();
  }

 private:
  Query& Checked(int rc) {
    if (rc != SQLITE_OK) throw SqlError{rc};
    return *this;
  }
  sqlite3_stmt* stmt_;
};

size_t Utf16Units(std::string_view utf8) { return text::Utf8ToUtf16(utf8).size(); }

// Splits a key path into its components (see the header for the rules). 0, 161 or 87.
uint32_t SplitPath(std::string_view subkey, std::vector<std::string_view>* parts) {
  parts->clear();
  if (subkey.empty()) return win::kErrorSuccess;
  if (subkey.front() == '\\') return win::kErrorBadPathname;
  if (subkey.back() == '\\') subkey.remove_suffix(1);
  size_t start = 0;
  for (;;) {
    const size_t end = subkey.find('\\', start);
    const std::string_view part =
        subkey.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (part.empty()) return win::kErrorBadPathname;
    if (part.size() > kMaxKeyNameUnits && Utf16Units(part) > kMaxKeyNameUnits) {
      return win::kErrorInvalidParameter;
    }
    parts->push_back(part);
    if (end == std::string_view::npos) return win::kErrorSuccess;
    start = end + 1;
  }
}

uint32_t CheckValueName(std::string_view name) {
  if (name.size() > kMaxValueNameUnits && Utf16Units(name) > kMaxValueNameUnits) {
    return win::kErrorInvalidParameter;
  }
  return win::kErrorSuccess;
}

// The RRF_RT_* bit that admits a value type; 0 for types only RRF_RT_ANY admits.
uint32_t RestrictionBit(uint32_t type) {
  switch (type) {
    case win::kRegNone: return win::kRrfRtRegNone;
    case win::kRegSz: return win::kRrfRtRegSz;
    case win::kRegExpandSz: return win::kRrfRtRegExpandSz;
    case win::kRegBinary: return win::kRrfRtRegBinary;
    case win::kRegDword: return win::kRrfRtRegDword;
    case win::kRegMultiSz: return win::kRrfRtRegMultiSz;
    case win::kRegQword: return win::kRrfRtRegQword;
    default: return 0;
  }
}

bool IsStringType(uint32_t type) {
  return type == win::kRegSz || type == win::kRegExpandSz || type == win::kRegMultiSz;
}

// RegGetValueW's type and size rules for a value of `type` holding `size` bytes (after any
// REG_EXPAND_SZ → REG_SZ conversion). 0, 1630 or 1629.
uint32_t CheckRestriction(uint32_t flags, uint32_t type, size_t size) {
  const uint32_t restriction = flags & win::kRrfRtAny;
  if (restriction == win::kRrfRtAny) return win::kErrorSuccess;
  if ((restriction & RestrictionBit(type)) == 0) return win::kErrorUnsupportedType;
  switch (type) {
    case win::kRegDword:
      return size == 4 ? win::kErrorSuccess : win::kErrorDatatypeMismatch;
    case win::kRegQword:
      return size == 8 ? win::kErrorSuccess : win::kErrorDatatypeMismatch;
    case win::kRegBinary: {
      // Binary data pass as a DWORD or QWORD only with the matching width; plain
      // RRF_RT_REG_BINARY takes any size.
      const bool as_dword = (restriction & win::kRrfRtDword) == win::kRrfRtDword;
      const bool as_qword = (restriction & win::kRrfRtQword) == win::kRrfRtQword;
      if (!as_dword && !as_qword) return win::kErrorSuccess;
      if ((as_dword && size == 4) || (as_qword && size == 8)) return win::kErrorSuccess;
      return win::kErrorDatatypeMismatch;
    }
    default:
      return win::kErrorSuccess;
  }
}

// Where a key path leads: the key itself when `found`, else the deepest existing ancestor
// (`depth` components of the path exist below the root).
struct KeyLookup {
  bool found = false;
  int64_t id = 0;
  size_t depth = 0;
  bool protected_ = false;  // the key or one of its ancestors (root included) is protected
};

constexpr const char* kSqlBegin = "BEGIN";
constexpr const char* kSqlBeginImmediate = "BEGIN IMMEDIATE";
constexpr const char* kSqlCommit = "COMMIT";
constexpr const char* kSqlUserVersion = "PRAGMA user_version";
constexpr const char* kSqlCreateKeys =
    "CREATE TABLE IF NOT EXISTS reg_keys("
    " id INTEGER PRIMARY KEY,"
    " parent INTEGER NOT NULL,"  // 0 for the predefined roots
    " name TEXT NOT NULL,"       // as created
    " folded TEXT NOT NULL,"     // ASCII upper case, for lookups and ordering
    " protected INTEGER NOT NULL DEFAULT 0)";
constexpr const char* kSqlCreateKeyIndex =
    "CREATE UNIQUE INDEX IF NOT EXISTS reg_keys_child ON reg_keys(parent, folded)";
constexpr const char* kSqlCreateValues =
    "CREATE TABLE IF NOT EXISTS reg_values("
    " key_id INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " folded TEXT NOT NULL,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " PRIMARY KEY(key_id, folded)) WITHOUT ROWID";
constexpr const char* kSqlInsertRoot =
    "INSERT OR IGNORE INTO reg_keys(parent, name, folded) VALUES(0, ?1, ?1)";
constexpr const char* kSqlFindChild =
    "SELECT id, protected FROM reg_keys WHERE parent = ?1 AND folded = ?2";
constexpr const char* kSqlInsertKey =
    "INSERT INTO reg_keys(parent, name, folded) VALUES(?1, ?2, ?3)";
constexpr const char* kSqlSetProtected = "UPDATE reg_keys SET protected = ?2 WHERE id = ?1";
constexpr const char* kSqlSubtreeProtected =
    "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL"
    " SELECT k.id FROM reg_keys k JOIN sub ON k.parent = sub.id)"
    " SELECT EXISTS(SELECT 1 FROM reg_keys WHERE id IN sub AND protected <> 0)";
constexpr const char* kSqlDeleteSubtreeValues =
    "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL"
    " SELECT k.id FROM reg_keys k JOIN sub ON k.parent = sub.id)"
    " DELETE FROM reg_values WHERE key_id IN sub";
constexpr const char* kSqlDeleteSubtreeKeys =
    "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL"
    " SELECT k.id FROM reg_keys k JOIN sub ON k.parent = sub.id)"
    " DELETE FROM reg_keys WHERE id IN sub AND id <> ?2";
constexpr const char* kSqlUpsertValue =
    "INSERT INTO reg_values(key_id, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"
    " ON CONFLICT(key_id, folded) DO UPDATE SET type = excluded.type, data = excluded.data";
constexpr const char* kSqlGetValue =
    "SELECT type, data FROM reg_values WHERE key_id = ?1 AND folded = ?2";
constexpr const char* kSqlDeleteValue =
    "DELETE FROM reg_values WHERE key_id = ?1 AND folded = ?2";
constexpr const char* kSqlListKeys =
    "SELECT name FROM reg_keys WHERE parent = ?1 ORDER BY folded, name";
constexpr const char* kSqlListValues =
    "SELECT name, type, data FROM reg_values WHERE key_id = ?1 ORDER BY folded, name";

}  // namespace

class SqliteRegistry::Session {
 public:
  explicit Session(SqliteRegistry& registry) : registry_(registry) {}

  Query Sql(const char* sql) { return Query(registry_.Statement(sql)); }

  KeyLookup Find(win::RegRoot root, const std::vector<std::string_view>& parts) {
    KeyLookup at;
    {
      Query q = Sql(kSqlFindChild);
      q.Bind(1, int64_t{0}).Bind(2, std::string_view(win::RegRootFullName(root)));
      if (!q.Step()) throw SqlError{SQLITE_CORRUPT};  // the roots are made with the file
      at.id = q.Int(0);
      at.protected_ = q.Int(1) != 0;
    }
    for (const std::string_view part : parts) {
      Query q = Sql(kSqlFindChild);
      q.Bind(1, at.id).Bind(2, text::AsciiUpper(part));
      if (!q.Step()) return at;
      at.id = q.Int(0);
      at.protected_ = at.protected_ || q.Int(1) != 0;
      ++at.depth;
    }
    at.found = true;
    return at;
  }

  // Creates the components of `parts` that `at` did not find; answers the key's id.
  int64_t CreateRest(const KeyLookup& at, const std::vector<std::string_view>& parts) {
    int64_t id = at.id;
    for (size_t i = at.depth; i < parts.size(); ++i) {
      Query q = Sql(kSqlInsertKey);
      q.Bind(1, id).Bind(2, parts[i]).Bind(3, text::AsciiUpper(parts[i]));
      q.Step();
      id = sqlite3_last_insert_rowid(registry_.db_);
    }
    return id;
  }

  bool SubtreeProtected(int64_t id) {
    Query q = Sql(kSqlSubtreeProtected);
    q.Bind(1, id);
    return q.Step() && q.Int(0) != 0;
  }

  // Deletes the key `id` with everything beneath it; `keep` (the key itself, or -1) survives
  // with its values gone.
  void DeleteSubtree(int64_t id, int64_t keep) {
    {
      Query q = Sql(kSqlDeleteSubtreeValues);
      q.Bind(1, id);
      q.Step();
    }
    Query q = Sql(kSqlDeleteSubtreeKeys);
    q.Bind(1, id).Bind(2, keep);
    q.Step();
  }

  void Exec(const char* sql) {
    Query q = Sql(sql);
    while (q.Step()) {
    }
  }

 private:
  SqliteRegistry& registry_;
};

sqlite3_stmt* SqliteRegistry::Statement(const char* sql) {
  const auto it = statements_.find(sql);
  if (it != statements_.end()) return it->second;
  sqlite3_stmt* stmt = nullptr;
  const int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
  if (rc != SQLITE_OK) throw SqlError{rc};
  statements_.emplace(sql, stmt);
  return stmt;
}

template <typename Body>
uint32_t SqliteRegistry::Run(bool write, Body&& body) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Another process holds the database: that wait runs in real time whatever clock is installed.
  platform::Clock& clock = platform::SteadyClock();
  const auto deadline = clock.Now() + kBusyBound;
  auto roll_back = [this] {
    if (sqlite3_get_autocommit(db_) == 0) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
  };
  for (int attempt = 0;; ++attempt) {
    int failure = SQLITE_OK;
    try {
      Session session(*this);
      session.Exec(write ? kSqlBeginImmediate : kSqlBegin);
      const uint32_t result = body(session);
      if (result == win::kErrorSuccess || !write) {
        session.Exec(kSqlCommit);
      } else {
        // Bodies check before they change anything; the rollback is a second line of defence.
        roll_back();
      }
      return result;
    } catch (const SqlError& e) {
      failure = e.rc;
    } catch (const std::bad_alloc&) {
      roll_back();
      return win::kErrorNotEnoughMemory;
    }
    roll_back();
    last_failure_ = failure;
    const int primary = failure & 0xFF;
    // SQLite does not call the busy handler where waiting could deadlock (and SQLITE_LOCKED
    // never waits), so a whole-transaction retry covers what its own timeout does not.
    if ((primary == SQLITE_BUSY || primary == SQLITE_LOCKED) &&
        clock.Now() < deadline) {
      clock.SleepFor(std::chrono::milliseconds(1 << std::min(attempt, 6)));
      continue;
    }
    return WinErrorFromSqlite(failure);
  }
}

SqliteRegistry::SqliteRegistry(std::string db_path) : db_path_(std::move(db_path)) {
  auto fail = [this](const std::string& what, int rc) {
    std::string message = "registry database " + db_path_ + ": " + what + ": " +
                          (db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
    for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
    statements_.clear();
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw std::runtime_error(message);
  };

  int rc = sqlite3_open_v2(db_path_.c_str(), &db_,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) fail("cannot open", rc);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);

  // Switching to WAL needs a moment of exclusive access, which another process opening the
  // file at the same time may hold.
  platform::Clock& clock = platform::SteadyClock();
  const auto deadline = clock.Now() + kBusyBound;
  for (;;) {
    sqlite3_stmt* stmt = nullptr;
    rc = sqlite3_prepare_v2(db_, "PRAGMA journal_mode=WAL", -1, &stmt, nullptr);
    std::string mode;
    if (rc == SQLITE_OK) {
      rc = sqlite3_step(stmt);
      if (rc == SQLITE_ROW) {
        mode = text::AsciiLower(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
        rc = SQLITE_OK;
      }
    }
    sqlite3_finalize(stmt);
    if (rc == SQLITE_OK) {
      if (mode != "wal") fail("cannot switch to WAL mode (mode is '" + mode + "')", rc);
      break;
    }
    if ((rc & 0xFF) != SQLITE_BUSY || clock.Now() >= deadline) {
      fail("cannot switch to WAL mode", rc);
    }
    clock.SleepFor(std::chrono::milliseconds(5));
  }
  // In WAL mode NORMAL syncs at checkpoints only: a commit is in the WAL file (the OS's page
  // cache) when it returns, which a killed process cannot undo.
  rc = sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail("cannot set synchronous=NORMAL", rc);

  int version = 0;
  const uint32_t result = Run(true, [&](Session& s) -> uint32_t {
    {
      Query q = s.Sql(kSqlUserVersion);
      version = q.Step() ? static_cast<int>(q.Int(0)) : 0;
    }
    if (version > kSchemaVersion) return win::kErrorBadDb;
    s.Exec(kSqlCreateKeys);
    s.Exec(kSqlCreateKeyIndex);
    s.Exec(kSqlCreateValues);
    for (const win::RegRootName& root : win::kRegRootNames) {
      Query q = s.Sql(kSqlInsertRoot);
      q.Bind(1, std::string_view(root.name));
      q.Step();
    }
    if (version < kSchemaVersion) {
      s.Exec("PRAGMA user_version = 1");
    }
    return win::kErrorSuccess;
  });
  if (version > kSchemaVersion) {
    fail("written by a newer version (schema " + std::to_string(version) + ")", SQLITE_OK);
  }
  if (result != win::kErrorSuccess) {
    fail("cannot prepare the tables (error " + std::to_string(result) + ")", last_failure_);
  }
}

SqliteRegistry::~SqliteRegistry() {
  for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
  sqlite3_close_v2(db_);
}

uint32_t SqliteRegistry::OpenKey(win::RegRoot root, std::string_view subkey, uint32_t access) {
  if (win::RegRootFullName(root) == nullptr) return win::kErrorInvalidHandle;
  std::vector<std::string_view> parts;
  if (const uint32_t rc = SplitPath(subkey, &parts); rc != 0) return rc;
  return Run(false, [&](Session& s) -> uint32_t {
    const KeyLookup at = s.Find(root, parts);
    if (!at.found) return win::kErrorFileNotFound;
    if (at.protected_ && (access & kWriteRights) != 0) return win::kErrorAccessDenied;
    return win::kErrorSuccess;
  });
}

uint32_t SqliteRegistry::CreateKey(win::RegRoot root, std::string_view subkey,
                                   uint32_t access) {
  if (win::RegRootFullName(root) == nullptr) return win::kErrorInvalidHandle;
  std::vector<std::string_view> parts;
  if (const uint32_t rc = SplitPath(subkey, &parts); rc != 0) return rc;
  return Run(true, [&](Session& s) -> uint32_t {
    const KeyLookup at = s.Find(root, parts);
    if (at.found) {
      return at.protected_ && (access & kWriteRights) != 0 ? win::kErrorAccessDenied
                                                           : win::kErrorSuccess;
    }
    // Creating a subkey needs KEY_CREATE_SUB_KEY on the deepest existing key.
    if (at.protected_) return win::kErrorAccessDenied;
    s.CreateRest(at, parts);
    return win::kErrorSuccess;
  });
}

uint32_t SqliteRegistry::DeleteTree(win::RegRoot root, std::string_view subkey) {
  if (win::RegRootFullName(root) == nullptr) return win::kErrorInvalidHandle;
  std::vector<std::string_view> parts;
  if (const uint32_t rc = SplitPath(subkey, &parts); rc != 0) return rc;
  return Run(true, [&](Session& s) -> uint32_t {
    const KeyLookup at = s.Find(root, parts);
    if (!at.found) return win::kErrorFileNotFound;
    if (at.protected_ || s.SubtreeProtected(at.id)) return win::kErrorAccessDenied;
    s.DeleteSubtree(at.id, parts.empty() ? at.id : -1);
    return win::kErrorSuccess;
  });
}

uint32_t SqliteRegistry::SetKeyValue(win::RegRoot root, std::string_view subkey,
                                     std::string_view value_name, uint32_t type,
                                     const void* data, uint32_t size) {
  if (win::RegRootFullName(root) == nullptr) return win::kErrorInvalidHandle;
  if (data == nullptr && size != 0) return win::kErrorInvalidParameter;
  if (const uint32_t rc = CheckValueName(value_name); rc != 0) return rc;
  std::vector<std::string_view> parts;
  if (const uint32_t rc = SplitPath(subkey, &parts); rc != 0) return rc;
  return Run(true, [&](Session& s) -> uint32_t {
    const KeyLookup at = s.Find(root, parts);
    if (at.protected_) return win::kErrorAccessDenied;
    const int64_t key = s.CreateRest(at, parts);
    Query q = s.Sql(kSqlUpsertValue);
    q.Bind(1, key).Bind(2, value_name).Bind(3, text::AsciiUpper(value_name));
    q.Bind(4, static_cast<int64_t>(type)).BindBlob(5, data, size);
    q.Step();
    return win::kErrorSuccess;
  });
}

uint32_t SqliteRegistry::DeleteKeyValue(win::RegRoot root, std::string_view subkey,
                                        std::string_view value_name) {
  if (win::RegRootFullName(root) == nullptr) return win::kErrorInvalidHandle;
  if (const uint32_t rc = CheckValueName(value_name); rc != 0) return rc;
  std::vector<std::string_view> parts;
  if (const uint32_t rc = SplitPath(subkey, &parts); rc != 0) return rc;
  return Run(true, [&](Session& s) -> uint32_t {
    const KeyLookup at = s.Find(root, parts);
    if (!at.found) return win::kErrorFileNotFound;
    if (at.protected_) return win::kErrorAccessDenied;
    Query q = s.Sql(kSqlDeleteValue);
    q.Bind(1, at.id).Bind(2, text::AsciiUpper(value_name));
    q.Step();
    return sqlite3_changes(db_) > 0 ? win::kErrorSuccess : win::kErrorFileNotFound;
  });
}

uint32_t SqliteRegistry::GetValue(win::RegRoot root, std::string_view subkey,
                                  std::string_view value_name, uint32_t flags, uint32_t* type,
                                  void* data, uint32_t* size) {
  if (data != nullptr && size == nullptr) return win::kErrorInvalidParameter;
  const uint32_t restriction = flags & win::kRrfRtAny;
  if (restriction == 0) return win::kErrorInvalidParameter;
  // Expanding is the default, and a value that is expanded is no longer REG_EXPAND_SZ.
  if ((restriction & win::kRrfRtRegExpandSz) != 0 && (flags & win::kRrfNoExpand) == 0 &&
      restriction != win::kRrfRtAny) {
    return win::kErrorInvalidParameter;
  }

  const uint32_t capacity = data != nullptr ? *size : 0;
  auto fail = [&](uint32_t rc) {
    if (data != nullptr && (flags & win::kRrfZeroOnFailure) != 0) {
      std::memset(data, 0, capacity);
    }
    return rc;
  };

  if (win::RegRootFullName(root) == nullptr) return fail(win::kErrorInvalidHandle);
  if (const uint32_t rc = CheckValueName(value_name); rc != 0) return fail(rc);
  std::vector<std::string_view> parts;
  if (const uint32_t rc = SplitPath(subkey, &parts); rc != 0) return fail(rc);

  uint32_t stored_type = 0;
  std::vector<uint8_t> bytes;
  const uint32_t found = Run(false, [&](Session& s) -> uint32_t {
    const KeyLookup at = s.Find(root, parts);
    if (!at.found) return win::kErrorFileNotFound;
    Query q = s.Sql(kSqlGetValue);
    q.Bind(1, at.id).Bind(2, text::AsciiUpper(value_name));
    if (!q.Step()) return win::kErrorFileNotFound;
    stored_type = static_cast<uint32_t>(q.Int(0));
    bytes = q.Blob(1);
    return win::kErrorSuccess;
  });
  if (found != win::kErrorSuccess) return fail(found);

  uint32_t reported_type = stored_type;
  if (stored_type == win::kRegExpandSz && (flags & win::kRrfNoExpand) == 0) {
    reported_type = win::kRegSz;
  }
  if (IsStringType(reported_type)) {
    if (bytes.size() % 2 != 0) bytes.push_back(0);
    if (bytes.size() < 2 || bytes[bytes.size() - 1] != 0 || bytes[bytes.size() - 2] != 0) {
      bytes.insert(bytes.end(), {0, 0});
    }
  }
  const auto needed = static_cast<uint32_t>(bytes.size());
  if (type != nullptr) *type = reported_type;
  if (size != nullptr) *size = needed;

  if (const uint32_t rc = CheckRestriction(flags, reported_type, bytes.size()); rc != 0) {
    return fail(rc);
  }
  if (data == nullptr) return win::kErrorSuccess;
  if (capacity < needed) return fail(win::kErrorMoreData);
  if (needed != 0) std::memcpy(data, bytes.data(), needed);
  return win::kErrorSuccess;
}

uint32_t SqliteRegistry::EnumSubkeys(win::RegRoot root, std::string_view subkey,
                                     std::vector<std::string>* names) {
  names->clear();
  if (win::RegRootFullName(root) == nullptr) return win::kErrorInvalidHandle;
  std::vector<std::string_view> parts;
  if (const uint32_t rc = SplitPath(subkey, &parts); rc != 0) return rc;
  std::vector<std::string> found;
  const uint32_t rc = Run(false, [&](Session& s) -> uint32_t {
    found.clear();
    const KeyLookup at = s.Find(root, parts);
    if (!at.found) return win::kErrorFileNotFound;
    Query q = s.Sql(kSqlListKeys);
    q.Bind(1, at.id);
    while (q.Step()) found.push_back(q.Text(0));
    return win::kErrorSuccess;
  });
  if (rc == win::kErrorSuccess) names->swap(found);
  return rc;
}

uint32_t SqliteRegistry::EnumValues(win::RegRoot root, std::string_view subkey,
                                    std::vector<RegValueInfo>* values) {
  values->clear();
  if (win::RegRootFullName(root) == nullptr) return win::kErrorInvalidHandle;
  std::vector<std::string_view> parts;
  if (const uint32_t rc = SplitPath(subkey, &parts); rc != 0) return rc;
  std::vector<RegValueInfo> found;
  const uint32_t rc = Run(false, [&](Session& s) -> uint32_t {
    found.clear();
    const KeyLookup at = s.Find(root, parts);
    if (!at.found) return win::kErrorFileNotFound;
    Query q = s.Sql(kSqlListValues);
    q.Bind(1, at.id);
    while (q.Step()) {
      RegValueInfo info;
      info.name = q.Text(0);
      info.type = static_cast<uint32_t>(q.Int(1));
      info.data = q.Blob(2);
      found.push_back(std::move(info));
    }
    return win::kErrorSuccess;
  });
  if (rc == win::kErrorSuccess) values->swap(found);
  return rc;
}

uint32_t SqliteRegistry::SetKeyProtected(win::RegRoot root, std::string_view subkey,
                                         bool protected_) {
  if (win::RegRootFullName(root) == nullptr) return win::kErrorInvalidHandle;
  std::vector<std::string_view> parts;
  if (const uint32_t rc = SplitPath(subkey, &parts); rc != 0) return rc;
  return Run(true, [&](Session& s) -> uint32_t {
    const KeyLookup at = s.Find(root, parts);
    if (!at.found && !protected_) return win::kErrorFileNotFound;
    const int64_t key = at.found ? at.id : s.CreateRest(at, parts);
    Query q = s.Sql(kSqlSetProtected);
    q.Bind(1, key).Bind(2, int64_t{protected_ ? 1 : 0});
    q.Step();
    return win::kErrorSuccess;
  });
}

}  // namespace platform::posix
