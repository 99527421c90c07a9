// The SQLite backend: the installation's database file.
//
// Opening: a new file is made private to the user (mode 0600; SQLite gives its
// journal files the same mode) and never through a link put in its place. A file
// this process cannot write (the file or its directory) is opened for reading: the
// requests that read are served, those that write fail saying why; so is one that
// cannot be written now (a full disk). WAL journal, synchronous=FULL, foreign keys,
// a busy time-out. Every transaction first checks that the file at the path is
// still the one opened: changes to a file removed or replaced under a running
// server could never be read. On Linux an inotify watch of the file (its links, its
// moves) and of its directory (its move, its removal) says when the path must be
// looked at again, so that a transaction costs no path lookup while nothing moved;
// elsewhere, or when the watch cannot be made, every transaction looks.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/inotify.h>
#endif

#include <cerrno>

#include <unordered_map>

#include "db.h"
#include "platform/files.h"
#include "platform/unique_fd.h"
#include "process.h"

namespace qlm::rqmgr {

namespace {

class SqliteStmt final : public Stmt {
 public:
  SqliteStmt(sqlite3 *db, sqlite3_stmt *s) : db_(db), s_(s) {}
  ~SqliteStmt() override { sqlite3_finalize(s_); }
  void bind(int i, std::int64_t v) override { sqlite3_bind_int64(s_, i, v); }
  void bindBytes(int i, std::string_view v) override {
    sqlite3_bind_blob(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
  void bindText(int i, std::string_view v) override {
    sqlite3_bind_text(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
  void bindNull(int i) override { sqlite3_bind_null(s_, i); }
  bool next() override {
    if (done_) return false;
    const int rc = sqlite3_step(s_);
    if (rc == SQLITE_ROW) return true;
    done_ = true;
    changes_ = sqlite3_changes64(db_);
    if (rc == SQLITE_DONE) return false;
    throw StoreError(std::string(sqlite3_errmsg(db_)) + " (" + sqlite3_sql(s_) + ")", rc == SQLITE_BUSY);
  }
  int columns() override { return sqlite3_column_count(s_); }
  bool isInteger(int c) override { return sqlite3_column_type(s_, c) == SQLITE_INTEGER; }
  std::int64_t integer(int c) override { return sqlite3_column_int64(s_, c); }
  std::string bytes(int c) override {
    const void *p = sqlite3_column_blob(s_, c);
    const int n = sqlite3_column_bytes(s_, c);
    return p ? std::string(static_cast<const char *>(p), static_cast<std::size_t>(n)) : std::string();
  }
  std::string_view view(int c) override {
    const void *p = sqlite3_column_blob(s_, c);
    const int n = sqlite3_column_bytes(s_, c);
    return p ? std::string_view(static_cast<const char *>(p), static_cast<std::size_t>(n)) : std::string_view();
  }
  std::int64_t changes() override { return changes_; }
  void reset() override {
    sqlite3_reset(s_);
    sqlite3_clear_bindings(s_);
    done_ = false;
    changes_ = 0;
  }

 private:
  sqlite3 *db_;
  sqlite3_stmt *s_;
  bool done_ = false;
  std::int64_t changes_ = 0;
};

class SqliteDb final : public Db {
 public:
  SqliteDb(const std::string &path, int busyTimeoutMs);
  ~SqliteDb() override;

  Dialect dialect() const override { return Dialect::Sqlite; }
  Stmt &prepare(const char *sql) override {
    auto &slot = literal_[sql];
    if (!slot) slot = make(sql);
    return *slot;
  }
  Stmt &prepare(const std::string &sql) override {
    auto &slot = built_[sql];
    if (!slot) slot = make(sql.c_str());
    return *slot;
  }
  void exec(const std::string &sql) override;
  void begin(bool write) override;
  void commit() override { runPrepared("COMMIT"); }
  void rollback() noexcept override {
    if (db_ == nullptr || sqlite3_get_autocommit(db_)) return;
    try {
      runPrepared("ROLLBACK");
    } catch (const StoreError &) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);  // the last resort, as before
    }
  }
  bool readOnly() const override { return readOnly_; }
  int schemaVersion() override {
    Stmt &s = prepare("PRAGMA user_version");
    Use u(s);
    return s.next() ? static_cast<int>(s.integer(0)) : 0;
  }
  void setSchemaVersion(int version) override { exec("PRAGMA user_version = " + std::to_string(version)); }
  // This connection's changes so far (counted as they are made) and the pager's data
  // version, which moves with every commit of another connection (and this one's);
  // read without a statement once the transaction has read the database (before
  // that it is the version of the last transaction: a statement reads it first).
  std::pair<std::int64_t, std::int64_t> changeStamp() override {
    if (sqlite3_txn_state(db_, "main") == SQLITE_TXN_NONE) {
      Stmt &s = prepare("PRAGMA data_version");
      Use u(s);
      s.next();
    }
    unsigned version = 0;
    if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_DATA_VERSION, &version) != SQLITE_OK)
      return {-1, --unknownStamps_};  // cannot tell: every call differs
    return {sqlite3_total_changes64(db_), version};
  }
  const std::string &owner() override { return processToken(); }
  bool alive(const std::string &owner) override { return tokenAlive(owner); }
  void schemaLock(bool) override {}
  void idle() override {
    if (walPages_ == 0 || !sqlite3_get_autocommit(db_)) return;
    walPages_ = 0;
    sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  }
  std::string describe() const override { return path_; }

 private:
  // A statement without parameters or rows, prepared once (the transaction's own
  // statements: parsing them for every request cost more than running them).
  void runPrepared(const char *sql) {
    Stmt &s = prepare(sql);
    Use u(s);
    s.run();
  }
  std::unique_ptr<Stmt> make(const char *sql) {
    sqlite3_stmt *s = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK)
      throw StoreError(std::string("prepare: ") + sqlite3_errmsg(db_) + " (" + sql + ")");
    return std::make_unique<SqliteStmt>(db_, s);
  }
  void open(int busyTimeoutMs);
  void close() noexcept;
  void watchFile(const std::string &dir);
  bool lookAgain();

  sqlite3 *db_ = nullptr;
  std::string path_;
  bool readOnly_ = false;
  std::string readOnlyWhy_;
  int walPages_ = 0;  // pages in the journal since the last copy (idle())
  std::int64_t unknownStamps_ = 0;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  UniqueFd watch_;  // inotify: events of the file or its directory since the last look
  std::unordered_map<const char *, std::unique_ptr<Stmt>> literal_;
  std::unordered_map<std::string, std::unique_ptr<Stmt>> built_;
};

SqliteDb::SqliteDb(const std::string &path, int busyTimeoutMs) : path_(path) {
  const bool inMemory = path == ":memory:";  // a database of this process alone, no file
  const int made = inMemory ? -1 : ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (made >= 0) ::close(made);
  const std::string dir = path.find('/') == std::string::npos ? "." : path.substr(0, path.rfind('/') + 1);
  readOnly_ = !inMemory && (::access(path.c_str(), W_OK) != 0 || ::access(dir.c_str(), W_OK) != 0);
  if (readOnly_) readOnlyWhy_ = "is read-only";
  try {
    open(busyTimeoutMs);
  } catch (const StoreError &e) {
    if (readOnly_) throw;
    readOnly_ = true;  // writable, but not now (a full disk): read as it stands
    readOnlyWhy_ = std::string("cannot be written (") + e.what() + ")";
    open(busyTimeoutMs);
  }
  if (inMemory) return;
  watchFile(dir);  // before the file is looked at: nothing that happens after is missed
  struct stat st{};
  if (::stat(path.c_str(), &st) == 0) {
    dev_ = st.st_dev;
    ino_ = st.st_ino;
  }
}

void SqliteDb::watchFile(const std::string &dir) {
#ifdef __linux__
  watch_.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (watch_.valid() && (::inotify_add_watch(watch_.get(), path_.c_str(),
                                             IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF | IN_DONT_FOLLOW) < 0 ||
                         ::inotify_add_watch(watch_.get(), dir.c_str(), IN_MOVE_SELF | IN_DELETE_SELF | IN_ONLYDIR) < 0))
    watch_.reset();
#else
  (void)dir;
#endif
}

// Whether the file at the path may not be the one opened any more: something happened
// to it or its directory since the last look (a change of its links is one), or there
// is no watch.
bool SqliteDb::lookAgain() {
#ifdef __linux__
  if (!watch_.valid()) return true;
  alignas(inotify_event) char events[4096];
  if (::read(watch_.get(), events, sizeof events) < 0 && errno == EAGAIN) return false;
  while (::read(watch_.get(), events, sizeof events) > 0) {
  }
#endif
  return true;
}

SqliteDb::~SqliteDb() { close(); }

void SqliteDb::close() noexcept {
  rollback();
  literal_.clear();
  built_.clear();
  sqlite3_close(db_);
  db_ = nullptr;
}

void SqliteDb::open(int busyTimeoutMs) {
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
    const std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
    close();
    throw StoreError("cannot open " + path_ + ": " + msg);
  }
  if (sqlite3_db_readonly(db_, "main") == 1 && !readOnly_) {
    readOnly_ = true;
    readOnlyWhy_ = "is read-only";
  }
  try {
    sqlite3_busy_timeout(db_, busyTimeoutMs);
    if (!readOnly_) exec("PRAGMA journal_mode=WAL");
    // The journal is copied into the database when the server is idle, not by the
    // commit that fills it (which would flush the file twice more for that request).
    sqlite3_wal_hook(
        db_,
        [](void *self, sqlite3 *, const char *, int pages) {
          static_cast<SqliteDb *>(self)->walPages_ = pages;
          return SQLITE_OK;
        },
        this);
    exec("PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON");
  } catch (...) {
    close();
    throw;
  }
}

void SqliteDb::exec(const std::string &sql) {
  char *err = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = err ? err : "failed";
    sqlite3_free(err);
    throw StoreError(sql.substr(0, 40) + ": " + msg, sqlite3_errcode(db_) == SQLITE_BUSY);
  }
}

void SqliteDb::begin(bool write) {
  struct stat st{};
  if (ino_ != 0 && lookAgain() && (::stat(path_.c_str(), &st) != 0 || st.st_dev != dev_ || st.st_ino != ino_)) {
    watch_.reset();  // from now on every transaction looks (the file may come back)
    throw StoreError("the database file " + path_ + " was removed or replaced while the Request Manager ran");
  }
  if (write && readOnly_) throw StoreError("the database " + path_ + " " + readOnlyWhy_);
  runPrepared(write ? "BEGIN IMMEDIATE" : "BEGIN");
}

}  // namespace

std::unique_ptr<Db> openSqlite(const std::string &path, int busyTimeoutMs) {
  return std::make_unique<SqliteDb>(path, busyTimeoutMs);
}

std::unique_ptr<Db> openDb(const std::string &location, int busyTimeoutMs) {
  if (location.rfind(kPostgresPrefix, 0) == 0) return openPostgres(location.substr(kPostgresPrefix.size()), busyTimeoutMs);
  return openSqlite(location, busyTimeoutMs);
}

}  // namespace qlm::rqmgr
