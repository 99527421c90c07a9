// One connection to the store's database engine, as the store uses it: prepared
// statements with numbered parameters, transactions, and the few things the
// engines do differently. Two backends stand behind it:
//   SQLite      the installation's file <root>/data/quillmar.db (db_sqlite.cc);
//   PostgreSQL  a database that Request Managers of several machines share
//               (db_postgres.cc).
// The store's SQL is written once, in the part of the language both engines
// speak: parameters as ?1, ?2 ... (or ? in order), INSERT ... ON CONFLICT for
// upserts, RETURNING for ids. What differs (the schema's DDL, where the schema's
// version is kept, transaction modes, telling whether the process that wrote a
// mark still runs) is a member of Db.
#pragma once
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace qlm::rqmgr {

// A failure of the database. `retry`: a conflict with a concurrent transaction
// (serialization failure, deadlock, unique key taken meanwhile): the transaction
// rolled back and may be run again.
class StoreError : public std::runtime_error {
 public:
  explicit StoreError(const std::string &what, bool retry = false) : std::runtime_error(what), retry_(retry) {}
  bool retry() const { return retry_; }

 private:
  bool retry_;
};

enum class Dialect { Sqlite, Postgres };

// A prepared statement. Parameters are numbered from 1; a use binds them, steps
// through the rows and ends with reset() (the Use guard below does).
class Stmt {
 public:
  virtual ~Stmt() = default;
  virtual void bind(int i, std::int64_t v) = 0;
  virtual void bindBytes(int i, std::string_view v) = 0;  // BLOB, bytea
  virtual void bindText(int i, std::string_view v) = 0;
  virtual void bindNull(int i) = 0;
  // Runs the statement on its first call; the next row each call, false after the
  // last. Throws StoreError.
  virtual bool next() = 0;
  virtual int columns() = 0;
  virtual bool isInteger(int column) = 0;
  virtual std::int64_t integer(int column) = 0;
  virtual std::string bytes(int column) = 0;  // any column's value as bytes
  // The same without a copy where the engine allows; valid until the next row.
  virtual std::string_view view(int column) {
    held_ = bytes(column);
    return held_;
  }
  // Rows the statement changed (INSERT, UPDATE, DELETE).
  virtual std::int64_t changes() = 0;
  virtual void reset() = 0;

  // Runs a statement whose rows do not matter; the rows it changed.
  std::int64_t run() {
    while (next()) {
    }
    return changes();
  }

 private:
  std::string held_;
};

// Resets a statement when its use ends.
class Use {
 public:
  explicit Use(Stmt &s) : s_(s) {}
  ~Use() { s_.reset(); }
  Use(const Use &) = delete;
  Use &operator=(const Use &) = delete;
  Stmt *operator->() { return &s_; }

 private:
  Stmt &s_;
};

class Db {
 public:
  virtual ~Db() = default;
  virtual Dialect dialect() const = 0;
  // The statement of this text, prepared once: the same object for the same text
  // (the pointer for a literal, the text for one that is built).
  virtual Stmt &prepare(const char *sql) = 0;
  virtual Stmt &prepare(const std::string &sql) = 0;
  // Statements without parameters, separated by semicolons.
  virtual void exec(const std::string &sql) = 0;
  // A transaction. `write`: it may write; SQLite takes the installation's write lock
  // at once, PostgreSQL runs it on one snapshot (a conflict fails it with retry()).
  virtual void begin(bool write) = 0;
  virtual void commit() = 0;
  virtual void rollback() noexcept = 0;
  virtual bool readOnly() const = 0;
  // The schema's version (0: no schema yet) and setting it in a transaction.
  virtual int schemaVersion() = 0;
  virtual void setSchemaVersion(int version) = 0;
  // Changes since the last call would show, or nothing when the engine cannot say
  // (then every call differs).
  virtual std::pair<std::int64_t, std::int64_t> changeStamp() = 0;
  // The mark this process writes to say it holds something (an open project, a
  // session), and whether the process that wrote a mark still runs.
  virtual const std::string &owner() = 0;
  virtual bool alive(const std::string &owner) = 0;
  // Held while the schema is made or upgraded, so that Request Managers starting
  // together do it once (outside transactions; SQLite's write lock does it alone).
  virtual void schemaLock(bool take) = 0;
  // Work put off from the requests, done when the server has time (its timer): SQLite
  // copies the journal's committed pages into the database file here, so that a
  // request that writes flushes the journal once and never waits for that copy.
  virtual void idle() {}
  // Where the engine keeps the data, for the log.
  virtual std::string describe() const = 0;
};

// Opens a database: "postgresql:<connection string>" for PostgreSQL, any other
// text the path of an SQLite file (created when missing, mode 0600). Throws
// StoreError with nothing left open.
std::unique_ptr<Db> openDb(const std::string &location, int busyTimeoutMs);
std::unique_ptr<Db> openSqlite(const std::string &path, int busyTimeoutMs);
std::unique_ptr<Db> openPostgres(const std::string &conninfo, int busyTimeoutMs);

inline constexpr std::string_view kPostgresPrefix = "postgresql:";

}  // namespace qlm::rqmgr
