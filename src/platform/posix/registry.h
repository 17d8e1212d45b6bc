// The Linux registry backend: the Reg* semantics of the seam over one SQLite database file
// (ROOT/registry.db in the Linux build).
//
// Storage. Keys form a tree of rows (the five predefined roots are rows of their own, created
// with the database); values belong to one key. Key and value names keep the spelling they were
// created with and compare case-insensitively by ASCII folding (non-ASCII letters compare
// exactly). Enumerations come out in folded-name order, as the Windows backend sorts them.
// Value data are stored byte-exact with any type number.
//
// Durability and sharing. The database runs in WAL mode with synchronous=NORMAL: a committed
// change survives the process being killed at any point (only a crash of the whole machine can
// lose the last commits). Several processes may use the same file at once: every change is one
// BEGIN IMMEDIATE transaction, and a lock held by another process is waited for (SQLite's busy
// handler, then whole-transaction retries) for at most about ten seconds before the call
// answers ERROR_BUSY (170).
//
// Threads. One object may be used from any number of threads: it owns a single connection and
// runs each call under one mutex. Registry calls are short, rare and mostly small writes that
// SQLite serialises anyway (one writer per database), so a pool of reader connections would add
// file handles and WAL snapshots to reason about without a measurable gain.
//
// Key paths. Components are separated by backslashes; an empty path is the root itself; one
// trailing backslash is tolerated. A leading backslash or an empty component inside the path
// answers ERROR_BAD_PATHNAME (161), as RegOpenKeyExW does for a leading backslash. A component
// longer than 255 UTF-16 units, or a value name longer than 16383, answers
// ERROR_INVALID_PARAMETER (87). A root outside win::RegRoot answers ERROR_INVALID_HANDLE (6).
//
// Protection. A key can be marked protected (SetKeyProtected); the mark covers the key and
// everything beneath it and models keys the broker's account may read but not change, as a
// standard account meets HKEY_LOCAL_MACHINE on Windows:
//   - reads (GetValue, EnumSubkeys, EnumValues, OpenKey with read-only access) succeed;
//   - OpenKey/CreateKey asking for any write right on such a key, CreateKey or SetKeyValue
//     that would create a key or write a value there, DeleteKeyValue there, and DeleteTree of
//     a tree that holds a protected key anywhere answer ERROR_ACCESS_DENIED (5), and change
//     nothing (a refused DeleteTree deletes nothing, where Windows may delete part of the tree).
//
// SQLite failures are reported as Windows codes (see the .cpp's one mapping table): a database
// locked beyond the bound 170 (ERROR_BUSY), disk full 112, read-only or permission 5, I/O
// 1016 (ERROR_REGISTRY_IO_FAILED), anything else 1009 (ERROR_BADDB).
#pragma once
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

struct sqlite3;
struct sqlite3_stmt;

namespace platform::posix {

class SqliteRegistry : public platform::Registry {
 public:
  // Opens (creating when missing) the database at `db_path` and prepares its tables. The
  // directory must exist. Throws std::runtime_error when the file cannot be opened, is not a
  // registry database, or cannot be switched to WAL mode.
  explicit SqliteRegistry(std::string db_path);
  ~SqliteRegistry() override;
  SqliteRegistry(const SqliteRegistry&) = delete;
  SqliteRegistry& operator=(const SqliteRegistry&) = delete;

  // 0, 2, 5 as the seam says; any access mask is accepted.
  uint32_t OpenKey(win::RegRoot root, std::string_view subkey, uint32_t access) override;
  uint32_t CreateKey(win::RegRoot root, std::string_view subkey, uint32_t access) override;
  // 2 when the key is missing. An empty subkey deletes every key and value below the root
  // (the root's own values included) and keeps the root.
  uint32_t DeleteTree(win::RegRoot root, std::string_view subkey) override;
  // Null `data` with a non-zero size answers 87.
  uint32_t SetKeyValue(win::RegRoot root, std::string_view subkey, std::string_view value_name,
                       uint32_t type, const void* data, uint32_t size) override;
  // 2 when the key or the value is missing (the key is looked for first).
  uint32_t DeleteKeyValue(win::RegRoot root, std::string_view subkey,
                          std::string_view value_name) override;
  // RegGetValueW. Checks, in order: non-null `data` with null `size` → 87; no RRF_RT_* bit,
  // or RRF_RT_REG_EXPAND_SZ without RRF_NOEXPAND (unless all of RRF_RT_ANY is given) → 87;
  // bad path → 161; key or value missing → 2; type outside the restriction → 1630; a
  // REG_DWORD (or, under RRF_RT_DWORD, a REG_BINARY) that is not 4 bytes, a REG_QWORD (or,
  // under RRF_RT_QWORD, a REG_BINARY) that is not 8 bytes → 1629 (no size check under
  // RRF_RT_ANY); then the data: null `data` → size only, 0; buffer too small → 234.
  // `*type` and `*size` are set whenever the value was found (on 1629/1630/234 too); the
  // buffer is written only on success, or zero-filled (its whole *size on entry) on any
  // failure when RRF_ZEROONFAILURE is set.
  // Without RRF_NOEXPAND a REG_EXPAND_SZ value is reported as REG_SZ, as Windows does after
  // expanding it; this build does not expand environment references, so the text comes back
  // as stored. String data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) of odd length are padded to
  // whole UTF-16 units and get a terminating zero unit when the last unit is not zero; the
  // reported size counts what was added.
  uint32_t GetValue(win::RegRoot root, std::string_view subkey, std::string_view value_name,
                    uint32_t flags, uint32_t* type, void* data, uint32_t* size) override;
  // Names with their stored spelling; values with their stored (unterminated) bytes.
  uint32_t EnumSubkeys(win::RegRoot root, std::string_view subkey,
                       std::vector<std::string>* names) override;
  uint32_t EnumValues(win::RegRoot root, std::string_view subkey,
                      std::vector<RegValueInfo>* values) override;

  // Marks (or unmarks) a key as protected; the mark is stored in the database and seen by
  // every process using it. Protecting a missing key creates it (and its parents) first;
  // unprotecting a missing key answers 2. An empty subkey marks the root itself. Protection
  // does not apply to this call, which models an administrator's tool. Unmarking a key does
  // not lift a mark set on one of its parents.
  uint32_t SetKeyProtected(win::RegRoot root, std::string_view subkey, bool protected_);

  const std::string& path() const { return db_path_; }

 private:
  class Session;  // the key and value operations inside one transaction

  // Runs `body(Session&)` in one transaction under mutex_, retrying the whole transaction
  // while the database is locked by another connection, up to the bound. Answers the body's
  // result, or the Windows code of the SQLite failure.
  template <typename Body>
  uint32_t Run(bool write, Body&& body);
  sqlite3_stmt* Statement(const char* sql);  // prepared once, kept for the connection's life

  std::string db_path_;
  sqlite3* db_ = nullptr;
  std::mutex mutex_;  // guards db_, statements_ and last_failure_
  std::map<const char*, sqlite3_stmt*> statements_;  // keyed by the SQL text's address
  int last_failure_ = 0;                              // SQLite code of the last failed Run
};

}  // namespace platform::posix
