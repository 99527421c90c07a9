// The PostgreSQL backend: a database that the Request Managers of several
// machines share.
//
// Statements are prepared once per connection; integers travel as text, bytes in
// binary, results come back in binary. Transactions see one snapshot (repeatable
// read): a write to a row that a concurrent transaction changed, or a unique key
// it took, fails it with a retryable StoreError, and the Request Manager runs the
// request again. What must stay unique is held by unique constraints (keys, the
// unique field values), so that no write skew can break it. A lost connection fails the request
// that met it; the next transaction connects anew (a request then finds the
// database again as soon as it is back).
//
// Marks of open projects and sessions carry the connection's backend process and
// its start time ("pg:<pid>:<start>"): the mark counts while that connection lives,
// whichever machine its Request Manager runs on, and ends with it.
#include <arpa/inet.h>
#include <libpq-fe.h>

#include <cstring>
#include <unordered_map>
#include <vector>

#include "db.h"

namespace qlm::rqmgr {

namespace {

constexpr Oid kBool = 16, kInt8 = 20, kInt2 = 21, kInt4 = 23;

// `?N` and `?` as PostgreSQL's `$N`, outside quoted text.
std::string dollars(const std::string &sql) {
  std::string out;
  int bare = 0;
  bool quoted = false;
  for (std::size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (c == '\'') quoted = !quoted;
    if (c != '?' || quoted) {
      out += c;
      continue;
    }
    out += '$';
    if (i + 1 < sql.size() && sql[i + 1] >= '0' && sql[i + 1] <= '9') continue;  // ?N: its digits follow
    out += std::to_string(++bare);
  }
  return out;
}

bool retryable(const PGresult *r) {
  const char *state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
  return state && (std::strcmp(state, "40001") == 0 || std::strcmp(state, "40P01") == 0 ||
                   std::strcmp(state, "23505") == 0);
}

class PgDb;

class PgStmt final : public Stmt {
 public:
  PgStmt(PgDb &db, std::string name, std::string sql) : db_(db), name_(std::move(name)), sql_(std::move(sql)) {}
  ~PgStmt() override { PQclear(res_); }
  void bind(int i, std::int64_t v) override { param(i, std::to_string(v), false); }
  void bindBytes(int i, std::string_view v) override { param(i, std::string(v), true); }
  void bindText(int i, std::string_view v) override { param(i, std::string(v), false); }
  void bindNull(int i) override {
    grow(i);
    null_[static_cast<std::size_t>(i - 1)] = true;
  }
  bool next() override;
  int columns() override { return res_ ? PQnfields(res_) : 0; }
  bool isInteger(int c) override {
    const Oid t = PQftype(res_, c);
    return !PQgetisnull(res_, row_, c) && (t == kInt8 || t == kInt4 || t == kInt2 || t == kBool);
  }
  std::int64_t integer(int c) override;
  std::string bytes(int c) override {
    if (PQgetisnull(res_, row_, c)) return {};
    if (isInteger(c)) return std::to_string(integer(c));
    return std::string(PQgetvalue(res_, row_, c), static_cast<std::size_t>(PQgetlength(res_, row_, c)));
  }
  std::int64_t changes() override { return changes_; }
  void reset() override {
    PQclear(res_);
    res_ = nullptr;
    row_ = -1;
    values_.clear();
    binary_.clear();
    null_.clear();
    changes_ = 0;
  }
  const std::string &sql() const { return sql_; }

 private:
  void grow(int i) {
    const std::size_t n = static_cast<std::size_t>(i);
    if (values_.size() < n) {
      values_.resize(n);
      binary_.resize(n, false);
      null_.resize(n, true);
    }
  }
  void param(int i, std::string v, bool binary) {
    grow(i);
    values_[static_cast<std::size_t>(i - 1)] = std::move(v);
    binary_[static_cast<std::size_t>(i - 1)] = binary;
    null_[static_cast<std::size_t>(i - 1)] = false;
  }

  PgDb &db_;
  std::string name_, sql_;
  PGresult *res_ = nullptr;
  int row_ = -1;
  std::vector<std::string> values_;
  std::vector<bool> binary_, null_;
  std::int64_t changes_ = 0;
};

class PgDb final : public Db {
 public:
  PgDb(const std::string &conninfo, int busyTimeoutMs) : conninfo_(conninfo), busyTimeoutMs_(busyTimeoutMs) {
    connect();
  }
  ~PgDb() override {
    literal_.clear();
    built_.clear();
    PQfinish(conn_);
  }

  Dialect dialect() const override { return Dialect::Postgres; }
  Stmt &prepare(const char *sql) override {
    auto &slot = literal_[sql];
    if (!slot) slot = std::make_unique<PgStmt>(*this, "s" + std::to_string(++names_), dollars(sql));
    return *slot;
  }
  Stmt &prepare(const std::string &sql) override {
    auto &slot = built_[sql];
    if (!slot) slot = std::make_unique<PgStmt>(*this, "s" + std::to_string(++names_), dollars(sql));
    return *slot;
  }
  void exec(const std::string &sql) override {
    PGresult *r = PQexec(conn_, sql.c_str());
    check(r, sql);
    PQclear(r);
  }
  void begin(bool write) override {
    if (PQstatus(conn_) != CONNECTION_OK) reconnect();
    exec(write ? "BEGIN ISOLATION LEVEL REPEATABLE READ" : "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
  }
  void commit() override { exec("COMMIT"); }
  void rollback() noexcept override {
    if (conn_ != nullptr && PQtransactionStatus(conn_) != PQTRANS_IDLE) PQclear(PQexec(conn_, "ROLLBACK"));
  }
  bool readOnly() const override { return false; }
  int schemaVersion() override {
    Stmt &known = prepare("SELECT to_regclass('meta') IS NOT NULL");
    {
      Use u(known);
      if (!known.next() || known.integer(0) == 0) return 0;
    }
    Stmt &s = prepare("SELECT value FROM meta WHERE key = 'version'");
    Use u(s);
    return s.next() ? std::stoi(s.bytes(0)) : 0;
  }
  void setSchemaVersion(int version) override {
    Stmt &s = prepare("INSERT INTO meta(key, value) VALUES('version', ?1) ON CONFLICT(key) DO UPDATE SET value = excluded.value");
    Use u(s);
    s.bindText(1, std::to_string(version));
    s.run();
  }
  std::pair<std::int64_t, std::int64_t> changeStamp() override { return {-1, ++stamps_}; }  // cannot tell
  const std::string &owner() override { return owner_; }
  bool alive(const std::string &owner) override {
    if (owner == owner_) return true;
    const std::size_t a = owner.find(':'), b = owner.rfind(':');
    if (owner.rfind("pg:", 0) != 0 || a == b) return false;
    Stmt &s = prepare(
        "SELECT count(*) FROM pg_stat_activity WHERE pid = ?1 AND "
        "CAST(extract(epoch FROM backend_start) * 1000000 AS bigint) = ?2");
    Use u(s);
    s.bind(1, std::stoll(owner.substr(a + 1, b - a - 1)));
    s.bind(2, std::stoll(owner.substr(b + 1)));
    return s.next() && s.integer(0) > 0;
  }
  void schemaLock(bool take) override { exec(take ? "SELECT pg_advisory_lock(7351)" : "SELECT pg_advisory_unlock(7351)"); }
  std::string describe() const override {
    std::string d = "PostgreSQL";
    if (conn_) d += std::string(" database ") + PQdb(conn_) + " at " + (PQhost(conn_) ? PQhost(conn_) : "?");
    return d;
  }

  PGconn *conn() { return conn_; }
  // Whether this connection has prepared the statement of that name.
  bool prepared(const std::string &name) const { return preparedNames_.count(name) != 0; }
  void markPrepared(const std::string &name) { preparedNames_[name] = true; }
  void check(PGresult *r, const std::string &what) {
    const ExecStatusType st = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
    if (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK) return;
    const std::string msg = r ? PQresultErrorMessage(r) : PQerrorMessage(conn_);
    const bool retry = retryable(r);
    PQclear(r);
    throw StoreError(trim(msg) + " (" + what.substr(0, 60) + ")", retry);
  }

 private:
  static std::string trim(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
  }
  void connect() {
    conn_ = PQconnectdb(conninfo_.c_str());
    if (PQstatus(conn_) != CONNECTION_OK) {
      const std::string msg = trim(PQerrorMessage(conn_));
      PQfinish(conn_);
      conn_ = nullptr;
      throw StoreError("cannot connect to PostgreSQL (" + msg + ")");
    }
    exec("SET lock_timeout = " + std::to_string(busyTimeoutMs_) + "; SET client_min_messages = warning");
    Stmt &me = prepare(
        "SELECT pid, CAST(extract(epoch FROM backend_start) * 1000000 AS bigint) FROM pg_stat_activity "
        "WHERE pid = pg_backend_pid()");
    Use u(me);
    if (!me.next()) throw StoreError("PostgreSQL does not show this connection");
    owner_ = "pg:" + std::to_string(me.integer(0)) + ":" + std::to_string(me.integer(1));
  }
  void reconnect() {
    literal_.clear();
    built_.clear();
    preparedNames_.clear();
    PQfinish(conn_);
    conn_ = nullptr;
    connect();
  }

  PGconn *conn_ = nullptr;
  std::string conninfo_, owner_;
  int busyTimeoutMs_;
  std::int64_t stamps_ = 0, names_ = 0;
  std::unordered_map<const char *, std::unique_ptr<PgStmt>> literal_;
  std::unordered_map<std::string, std::unique_ptr<PgStmt>> built_;
  std::unordered_map<std::string, bool> preparedNames_;
};

bool PgStmt::next() {
  if (res_ == nullptr) {
    PGconn *c = db_.conn();
    if (c == nullptr) throw StoreError("not connected to PostgreSQL");
    if (!db_.prepared(name_)) {
      PGresult *prepared = PQprepare(c, name_.c_str(), sql_.c_str(), 0, nullptr);
      db_.check(prepared, sql_);
      PQclear(prepared);
      db_.markPrepared(name_);
    }
    const int n = static_cast<int>(values_.size());
    std::vector<const char *> v(values_.size());
    std::vector<int> len(values_.size()), fmt(values_.size());
    for (std::size_t i = 0; i < values_.size(); ++i) {
      v[i] = null_[i] ? nullptr : values_[i].data();
      len[i] = static_cast<int>(values_[i].size());
      fmt[i] = binary_[i] ? 1 : 0;
    }
    PGresult *r = PQexecPrepared(c, name_.c_str(), n, v.data(), len.data(), fmt.data(), 1);
    db_.check(r, sql_);
    res_ = r;
    const char *tuples = PQcmdTuples(r);
    changes_ = tuples && *tuples ? std::atoll(tuples) : 0;
  }
  return ++row_ < PQntuples(res_);
}

std::int64_t PgStmt::integer(int c) {
  if (PQgetisnull(res_, row_, c)) return 0;
  const unsigned char *p = reinterpret_cast<const unsigned char *>(PQgetvalue(res_, row_, c));
  const int n = PQgetlength(res_, row_, c);
  std::uint64_t v = 0;
  for (int i = 0; i < n; ++i) v = v << 8 | p[i];
  if (n == 8) return static_cast<std::int64_t>(v);
  if (n == 4) return static_cast<std::int32_t>(v);
  if (n == 2) return static_cast<std::int16_t>(v);
  return static_cast<std::int64_t>(v);  // bool
}

}  // namespace

std::unique_ptr<Db> openPostgres(const std::string &conninfo, int busyTimeoutMs) {
  return std::make_unique<PgDb>(conninfo, busyTimeoutMs);
}

}  // namespace qlm::rqmgr
