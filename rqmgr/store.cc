#include "store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <ctime>

#include "process.h"
#include "store_sql.h"

namespace qlm::rqmgr {

namespace {

constexpr const char *kEntryColumns =
    "SELECT e.id, e.scope, e.kind, e.key, e.created, e.changed, f.name_id, f.value FROM entries e "
    "LEFT JOIN fields f ON f.entry = e.id ";

}  // namespace

Store::Store(const std::string &path, int busyTimeoutMs) : path_(path) {
  const bool inMemory = path == ":memory:";  // a database of this process alone, no file
  // A new database file is private to the user (SQLite gives its journal files the
  // same mode); never created through a link put in its place.
  const int made = inMemory ? -1 : ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (made >= 0) ::close(made);
  // A database that this process cannot write (its file or its directory) is opened
  // for reading: requests that read are served, those that write fail clearly.
  const std::string dir = path.find('/') == std::string::npos ? "." : path.substr(0, path.rfind('/') + 1);
  readOnly_ = !inMemory && (::access(path.c_str(), W_OK) != 0 || ::access(dir.c_str(), W_OK) != 0);
  if (readOnly_) readOnlyWhy_ = "is read-only";
  try {
    openConnection(busyTimeoutMs);
  } catch (const StoreError &e) {
    // Writable, but not now (a full disk): opened for reading as it stands.
    if (readOnly_) throw;
    readOnly_ = true;
    readOnlyWhy_ = std::string("cannot be written (") + e.what() + ")";
    openConnection(busyTimeoutMs);
  }
  struct stat st{};
  if (!inMemory && ::stat(path.c_str(), &st) == 0) {
    dev_ = st.st_dev;
    ino_ = st.st_ino;
  }
}

// Opens the connection (for reading only when readOnly_) and checks or makes the
// schema; throws StoreError with nothing left open.
void Store::openConnection(int busyTimeoutMs) {
  int rc = sqlite3_open_v2(path_.c_str(), &db_,
                           (readOnly_ ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
                               SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc == SQLITE_OK && readOnly_) {
    // Reading a WAL database needs its shared-memory file, which cannot be made in a
    // directory we cannot write or on a full disk: then nobody can write it either,
    // and it is read as it stands.
    sqlite3_stmt *probe = nullptr;
    rc = sqlite3_prepare_v2(db_, "SELECT count(*) FROM sqlite_master", -1, &probe, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_step(probe) == SQLITE_ROW ? SQLITE_OK : SQLITE_CANTOPEN;
    sqlite3_finalize(probe);
    if (rc != SQLITE_OK) {
      sqlite3_close(db_);
      db_ = nullptr;
      const std::string uri = "file:" + path_ + "?immutable=1";
      rc = sqlite3_open_v2(uri.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    }
  }
  if (rc != SQLITE_OK) {
    std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw StoreError("cannot open " + path_ + ": " + msg);
  }
  if (sqlite3_db_readonly(db_, "main") == 1 && !readOnly_) {
    readOnly_ = true;
    readOnlyWhy_ = "is read-only";
  }
  try {
    sqlite3_busy_timeout(db_, busyTimeoutMs);
    if (!readOnly_) exec("PRAGMA journal_mode=WAL");
    exec("PRAGMA synchronous=FULL");
    exec("PRAGMA foreign_keys=ON");
    // Read-only, a database of the current schema is served; one that needs its
    // schema made or upgraded fails in the first write transaction, saying why.
    migrate(path_);
  } catch (...) {
    rollback();
    for (auto &[sql, s] : stmts_) sqlite3_finalize(s);
    for (auto &[sql, s] : dynamic_) sqlite3_finalize(s);
    stmts_.clear();
    dynamic_.clear();
    sqlite3_close(db_);
    db_ = nullptr;
    throw;
  }
}

Store::~Store() {
  rollback();
  for (auto &[sql, s] : stmts_) sqlite3_finalize(s);
  for (auto &[sql, s] : dynamic_) sqlite3_finalize(s);
  sqlite3_close(db_);
}

void Store::fail(const char *what) {
  throw StoreError(std::string(what) + ": " + sqlite3_errmsg(db_));
}

void Store::exec(const char *sql) {
  char *err = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = err ? err : "failed";
    sqlite3_free(err);
    throw StoreError(std::string(sql).substr(0, 40) + ": " + msg);
  }
}

sqlite3_stmt *Store::prepare(const char *sql) {
  auto it = stmts_.find(sql);
  if (it != stmts_.end()) return it->second;
  sqlite3_stmt *s = nullptr;
  if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK) fail("prepare");
  stmts_.emplace(sql, s);
  return s;
}

void Store::begin(bool write) {
  // The file opened must still be the one at its path: one removed or replaced under
  // a running server would take changes that nobody can ever read.
  struct stat st{};
  if (ino_ != 0 && (::stat(path_.c_str(), &st) != 0 || st.st_dev != dev_ || st.st_ino != ino_))
    throw StoreError("the database file " + path_ + " was removed or replaced while the Request Manager ran");
  if (write && readOnly_) throw StoreError("the database " + path_ + " " + readOnlyWhy_);
  exec(write ? "BEGIN IMMEDIATE" : "BEGIN");
  inTxn_ = true;
}

void Store::commit() {
  exec("COMMIT");
  inTxn_ = false;
}

void Store::rollback() {
  if (!inTxn_ || db_ == nullptr) return;
  inTxn_ = false;
  sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

std::vector<Entry> Store::readEntries(sqlite3_stmt *s) {
  std::vector<Entry> out;
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    const std::int64_t id = sqlite3_column_int64(s, 0);
    if (out.empty() || out.back().id != id) {
      Entry e;
      e.id = id;
      e.scope = sqlite3_column_int64(s, 1);
      e.kind = static_cast<std::uint16_t>(sqlite3_column_int(s, 2));
      e.key = columnBytes(s, 3);
      e.created = columnBytes(s, 4);
      e.changed = columnBytes(s, 5);
      out.push_back(std::move(e));
    }
    if (sqlite3_column_type(s, 6) != SQLITE_NULL)
      out.back().fields[static_cast<std::uint16_t>(sqlite3_column_int(s, 6))] = columnBytes(s, 7);
  }
  if (rc != SQLITE_DONE) fail("read entries");
  return out;
}

std::optional<Entry> Store::find(std::int64_t scope, std::uint16_t kind, std::string_view key) {
  static const std::string sql = std::string(kEntryColumns) + "WHERE e.scope = ?1 AND e.kind = ?2 AND e.key = ?3";
  sqlite3_stmt *s = prepare(sql.c_str());
  Use u(s);
  sqlite3_bind_int64(s, 1, scope);
  sqlite3_bind_int(s, 2, kind);
  bindBlob(s, 3, key);
  auto v = readEntries(s);
  if (v.empty()) return std::nullopt;
  return std::move(v.front());
}

std::optional<Entry> Store::get(std::int64_t id) {
  static const std::string sql = std::string(kEntryColumns) + "WHERE e.id = ?1";
  sqlite3_stmt *s = prepare(sql.c_str());
  Use u(s);
  sqlite3_bind_int64(s, 1, id);
  auto v = readEntries(s);
  if (v.empty()) return std::nullopt;
  return std::move(v.front());
}

std::vector<Entry> Store::entries(std::int64_t scope, std::uint16_t kind) {
  static const std::string sql = std::string(kEntryColumns) + "WHERE e.scope = ?1 AND e.kind = ?2 ORDER BY e.id";
  sqlite3_stmt *s = prepare(sql.c_str());
  Use u(s);
  sqlite3_bind_int64(s, 1, scope);
  sqlite3_bind_int(s, 2, kind);
  return readEntries(s);
}

std::int64_t Store::add(std::int64_t scope, std::uint16_t kind, std::string_view key, const Fields &fields,
                        const std::string &stamp) {
  sqlite3_stmt *s = prepare("INSERT INTO entries(scope, kind, key, created, changed) VALUES(?1, ?2, ?3, ?4, ?4)");
  {
    Use u(s);
    sqlite3_bind_int64(s, 1, scope);
    sqlite3_bind_int(s, 2, kind);
    bindBlob(s, 3, key);
    bindText(s, 4, stamp);
    if (sqlite3_step(s) != SQLITE_DONE) fail("add entry");
  }
  const std::int64_t id = sqlite3_last_insert_rowid(db_);
  change(id, fields, {}, stamp);
  return id;
}

void Store::change(std::int64_t id, const Fields &set, std::span<const std::uint16_t> clear, const std::string &stamp) {
  sqlite3_stmt *del = prepare("DELETE FROM fields WHERE entry = ?1 AND name_id = ?2");
  for (std::uint16_t nameId : clear) {
    if (set.count(nameId)) continue;
    Use u(del);
    sqlite3_bind_int64(del, 1, id);
    sqlite3_bind_int(del, 2, nameId);
    if (sqlite3_step(del) != SQLITE_DONE) fail("clear field");
  }
  sqlite3_stmt *put = prepare("INSERT OR REPLACE INTO fields(entry, name_id, value) VALUES(?1, ?2, ?3)");
  for (const auto &[nameId, value] : set) {
    Use u(put);
    sqlite3_bind_int64(put, 1, id);
    sqlite3_bind_int(put, 2, nameId);
    bindBlob(put, 3, value);
    if (sqlite3_step(put) != SQLITE_DONE) fail("set field");
  }
  sqlite3_stmt *st = prepare("UPDATE entries SET changed = ?2 WHERE id = ?1");
  {
    Use u(st);
    sqlite3_bind_int64(st, 1, id);
    bindText(st, 2, stamp);
    if (sqlite3_step(st) != SQLITE_DONE) fail("stamp entry");
  }
  if (const auto e = get(id)) reindex(*e);
}

void Store::remove(std::int64_t id) {
  sqlite3_stmt *s = prepare("DELETE FROM entries WHERE scope = ?1 OR id = ?1");
  Use u(s);
  sqlite3_bind_int64(s, 1, id);
  if (sqlite3_step(s) != SQLITE_DONE) fail("delete entry");
}

void Store::removeAll(std::int64_t scope, std::uint16_t kind) {
  sqlite3_stmt *s = prepare(
      "DELETE FROM entries WHERE scope IN (SELECT id FROM entries WHERE scope = ?1 AND kind = ?2) "
      "OR (scope = ?1 AND kind = ?2)");
  Use u(s);
  sqlite3_bind_int64(s, 1, scope);
  sqlite3_bind_int(s, 2, kind);
  if (sqlite3_step(s) != SQLITE_DONE) fail("delete entries");
}

std::int64_t Store::count(std::int64_t scope, std::span<const std::uint16_t> kinds) {
  sqlite3_stmt *s = prepare("SELECT n FROM kind_counts WHERE scope = ?1 AND kind = ?2");
  std::int64_t n = 0;
  for (std::uint16_t kind : kinds) {
    Use u(s);
    sqlite3_bind_int64(s, 1, scope);
    sqlite3_bind_int(s, 2, kind);
    const int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) n += sqlite3_column_int64(s, 0);
    else if (rc != SQLITE_DONE) fail("count entries");
  }
  return n;
}

bool Store::assign(std::int64_t container, std::int64_t member) {
  sqlite3_stmt *s = prepare("INSERT OR IGNORE INTO assignments(container, member) VALUES(?1, ?2)");
  Use u(s);
  sqlite3_bind_int64(s, 1, container);
  sqlite3_bind_int64(s, 2, member);
  if (sqlite3_step(s) != SQLITE_DONE) fail("assign");
  return sqlite3_changes(db_) == 1;
}

bool Store::unassign(std::int64_t container, std::int64_t member) {
  sqlite3_stmt *s = prepare("DELETE FROM assignments WHERE container = ?1 AND member = ?2");
  Use u(s);
  sqlite3_bind_int64(s, 1, container);
  sqlite3_bind_int64(s, 2, member);
  if (sqlite3_step(s) != SQLITE_DONE) fail("unassign");
  return sqlite3_changes(db_) == 1;
}

std::vector<Entry> Store::members(std::int64_t container, std::uint16_t kind) {
  static const std::string sql = std::string(kEntryColumns) +
                                 "JOIN assignments a ON a.member = e.id WHERE a.container = ?1 AND e.kind = ?2 "
                                 "ORDER BY a.id";
  sqlite3_stmt *s = prepare(sql.c_str());
  Use u(s);
  sqlite3_bind_int64(s, 1, container);
  sqlite3_bind_int(s, 2, kind);
  return readEntries(s);
}

std::int64_t Store::countAssignments(const char *sql, std::int64_t id, std::uint16_t kind) {
  sqlite3_stmt *s = prepare(sql);
  Use u(s);
  sqlite3_bind_int64(s, 1, id);
  sqlite3_bind_int(s, 2, kind);
  if (sqlite3_step(s) != SQLITE_ROW) fail("count assignments");
  return sqlite3_column_int64(s, 0);
}

std::int64_t Store::containerCount(std::int64_t member, std::uint16_t kind) {
  return countAssignments(
      "SELECT count(*) FROM assignments a JOIN entries e ON e.id = a.container WHERE a.member = ?1 AND e.kind = ?2",
      member, kind);
}

std::int64_t Store::memberCount(std::int64_t container, std::uint16_t kind) {
  return countAssignments(
      "SELECT count(*) FROM assignments a JOIN entries e ON e.id = a.member WHERE a.container = ?1 AND e.kind = ?2",
      container, kind);
}

void Store::markOpen(std::int64_t project, const std::string &handle) {
  sqlite3_stmt *s = prepare("INSERT OR REPLACE INTO opened(project, pid, handle) VALUES(?1, ?2, ?3)");
  Use u(s);
  sqlite3_bind_int64(s, 1, project);
  sqlite3_bind_int64(s, 2, getpid());
  bindText(s, 3, handle);
  if (sqlite3_step(s) != SQLITE_DONE) fail("mark open");
}

void Store::markClosed(const std::string &handle) {
  sqlite3_stmt *s = prepare("DELETE FROM opened WHERE pid = ?1 AND handle = ?2");
  Use u(s);
  sqlite3_bind_int64(s, 1, getpid());
  bindText(s, 2, handle);
  if (sqlite3_step(s) != SQLITE_DONE) fail("mark closed");
}

bool Store::isOpen(std::int64_t project, bool countSelf) {
  sqlite3_stmt *s = prepare("SELECT DISTINCT pid FROM opened WHERE project = ?1");
  Use u(s);
  sqlite3_bind_int64(s, 1, project);
  int rc;
  bool found = false;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    const std::int64_t pid = sqlite3_column_int64(s, 0);
    found = found || (pid == getpid() ? countSelf : processAlive(pid));
  }
  if (rc != SQLITE_DONE) fail("read open marks");
  return found;
}

void Store::pruneOpenMarks() {
  begin(true);
  try {
    std::vector<std::int64_t> gone;
    {
      sqlite3_stmt *s = prepare("SELECT DISTINCT pid FROM opened");
      Use u(s);
      int rc;
      while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        const std::int64_t pid = sqlite3_column_int64(s, 0);
        if (pid == getpid() || !processAlive(pid)) gone.push_back(pid);
      }
      if (rc != SQLITE_DONE) fail("read open marks");
    }
    sqlite3_stmt *d = prepare("DELETE FROM opened WHERE pid = ?1");
    for (std::int64_t pid : gone) {
      Use u(d);
      sqlite3_bind_int64(d, 1, pid);
      if (sqlite3_step(d) != SQLITE_DONE) fail("prune open marks");
    }
    commit();
  } catch (...) {
    rollback();
    throw;
  }
}

std::string Store::now() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char text[16];
  std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &tm);
  return text;
}

}  // namespace qlm::rqmgr
