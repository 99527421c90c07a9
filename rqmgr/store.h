// The Request Manager's storage: one SQLite database per installation,
// <root>/data/quillmar.db, shared by every Request Manager process of the
// installation.
//
// Schema (user_version 1):
//   entries(id, scope, kind, key, created, changed)
//       every named entry of every family. scope 0 holds the installation's own
//       entries (projects, communication profiles); any other scope is the id of the
//       project entry the entry belongs to. kind is the name ID of the family's key
//       (451 project, 105 address, 1180 send order, ...). key is the key as sent
//       (trailing blanks removed, case counts), unique per (scope, kind).
//       created and changed are local times "YYYYMMDDhhmmss".
//   fields(entry, name_id, value)
//       the entry's other field values by name ID (values as sent, never blank).
//   assignments(id, container, member)
//       member entries assigned to container entries, in the order assigned.
//   opened(project, pid, handle)
//       projects held open by the clients of every Request Manager process; rows of
//       processes that no longer exist do not count and are removed at start-up.
// Deleting an entry deletes its fields, its assignments (either side), its open
// marks and, for a project, every entry scoped to it.
//
// Durability and sharing: WAL journal, synchronous=FULL, foreign keys on, a busy
// time-out of kBusyTimeoutMs. Every request runs in one transaction (begin/commit);
// a write transaction takes the write lock when it begins, so that concurrent
// processes wait for each other instead of failing. Any SQLite failure throws
// StoreError; the caller rolls back.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace qlm::rqmgr {

inline constexpr int kBusyTimeoutMs = 10000;
inline constexpr std::int64_t kInstallation = 0;  // the scope of installation-wide entries

class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using Fields = std::map<std::uint16_t, std::string>;

struct Entry {
  std::int64_t id = 0;
  std::int64_t scope = kInstallation;
  std::uint16_t kind = 0;
  std::string key;
  std::string created, changed;
  Fields fields;
};

class Store {
 public:
  // Opens the database, creating the file (mode 0600) and the schema on first use. A
  // transaction that waits longer than `busyTimeoutMs` for another process's lock fails.
  // A database this process cannot write (read-only, or a full disk at the start) is
  // opened for reading only: begin(true) then throws. begin throws too once the file at `path` is no longer the one opened.
  // ":memory:" is a database of this process alone, without a file.
  explicit Store(const std::string &path, int busyTimeoutMs = kBusyTimeoutMs);
  ~Store();
  Store(const Store &) = delete;
  Store &operator=(const Store &) = delete;

  // One transaction. `write`: take the write lock at once.
  void begin(bool write);
  void commit();
  void rollback();  // never throws; nothing when no transaction is open

  std::optional<Entry> find(std::int64_t scope, std::uint16_t kind, std::string_view key);
  std::optional<Entry> get(std::int64_t id);
  // All entries of a kind in a scope, in the order added.
  std::vector<Entry> entries(std::int64_t scope, std::uint16_t kind);
  // Adds an entry; the key must not exist (check with find first).
  std::int64_t add(std::int64_t scope, std::uint16_t kind, std::string_view key, const Fields &fields,
                   const std::string &stamp);
  // Sets the fields in `set`, deletes the values of the name IDs in `clear` that
  // `set` does not hold, and stamps the change.
  void change(std::int64_t id, const Fields &set, std::span<const std::uint16_t> clear, const std::string &stamp);
  void remove(std::int64_t id);
  // Removes every entry of a kind in a scope, as remove() does one.
  void removeAll(std::int64_t scope, std::uint16_t kind);
  // Entries of the given kinds in a scope.
  std::int64_t count(std::int64_t scope, std::span<const std::uint16_t> kinds);

  // false when the assignment exists already / did not exist.
  bool assign(std::int64_t container, std::int64_t member);
  bool unassign(std::int64_t container, std::int64_t member);
  // Members of a kind assigned to a container, in the order assigned.
  std::vector<Entry> members(std::int64_t container, std::uint16_t kind);
  // How many containers of a kind the member is assigned to.
  std::int64_t containerCount(std::int64_t member, std::uint16_t kind);
  // How many members of a kind are assigned to the container.
  std::int64_t memberCount(std::int64_t container, std::uint16_t kind);

  // Open marks of projects (this process's pid).
  void markOpen(std::int64_t project, const std::string &handle);
  void markClosed(const std::string &handle);
  // Whether a live Request Manager process holds the project open (this one only
  // when `countSelf`).
  bool isOpen(std::int64_t project, bool countSelf);
  // Removes the marks of processes that no longer exist and this pid's old marks.
  void pruneOpenMarks();

  // The current local time as "YYYYMMDDhhmmss".
  static std::string now();

 private:
  sqlite3_stmt *prepare(const char *sql);
  // count(*) of `sql` bound to (id, kind).
  std::int64_t countAssignments(const char *sql, std::int64_t id, std::uint16_t kind);
  void exec(const char *sql);
  [[noreturn]] void fail(const char *what);
  std::vector<Entry> readEntries(sqlite3_stmt *s);

  sqlite3 *db_ = nullptr;
  bool inTxn_ = false;
  // Opening: the path, whether only reading is possible, and the identity of the
  // file opened (checked by begin).
  void openConnection(int busyTimeoutMs);
  std::string path_;
  bool readOnly_ = false;
  std::string readOnlyWhy_;  // "is read-only", or why it cannot be written
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  std::unordered_map<const char *, sqlite3_stmt *> stmts_;
};

}  // namespace qlm::rqmgr
