#include "store.h"

#include <algorithm>
#include <ctime>

namespace qlm::rqmgr {

namespace {

constexpr const char *kEntryColumns =
    "SELECT e.id, e.scope, e.kind, e.key, e.created, e.changed, f.name_id, f.value FROM entries e "
    "LEFT JOIN fields f ON f.entry = e.id ";

}  // namespace

Store::Store(const std::string &location, int busyTimeoutMs) : Store(openDb(location, busyTimeoutMs), location) {}

Store::Store(std::unique_ptr<Db> db, std::string location)
    : db_(std::move(db)), location_(std::move(location)), markedAs_(db_->owner()) {
  // Read-only, a database of the current schema is served; one that needs its
  // schema made or upgraded fails in the first write transaction, saying why.
  migrate();
}

Store::~Store() {
  rollback();
  settle();
}

void Store::begin(bool write) {
  settle();
  db_->begin(write);
  inTxn_ = true;
  write_ = write;
  if (db_->owner() == markedAs_) return;
  // The connection was made anew (a database server that restarted): the open
  // marks and sessions of this Request Manager carry the old connection's mark,
  // which no longer counts. Take them over first, in a transaction of their own.
  rollback();
  db_->begin(true);
  inTxn_ = write_ = true;
  adoptMarks(markedAs_);
  commit();
  markedAs_ = db_->owner();
  begin(write);
}

// Marks of `old` become this connection's. A session whose logon another live
// Request Manager has started anew meanwhile is ended instead (one per logon).
void Store::adoptMarks(const std::string &old) {
  Stmt &o = db_->prepare("UPDATE opened SET owner = ?1 WHERE owner = ?2");
  {
    Use u(o);
    o.bindText(1, db_->owner());
    o.bindText(2, old);
    o.run();
  }
  std::vector<std::pair<std::int64_t, std::int64_t>> held;  // receipt, logon
  {
    Stmt &s = db_->prepare("SELECT receipt, logon FROM sessions WHERE owner = ?1");
    Use u(s);
    s.bindText(1, old);
    while (s.next()) held.emplace_back(s.integer(0), s.integer(1));
  }
  for (auto [receipt, logon] : held) {
    if (liveSessions(logon) > 0) {
      removeSession(receipt);
      continue;
    }
    Stmt &u1 = db_->prepare("UPDATE sessions SET owner = ?1 WHERE receipt = ?2");
    Use u(u1);
    u1.bindText(1, db_->owner());
    u1.bind(2, receipt);
    u1.run();
  }
}

void Store::commit() {
  if (!write_ && lingerReads_) {
    lingering_ = true;
    inTxn_ = false;
    return;
  }
  db_->commit();
  inTxn_ = false;
}

void Store::settle() noexcept {
  if (!lingering_) return;
  lingering_ = false;
  try {
    db_->commit();
  } catch (const StoreError &) {
    db_->rollback();
  }
}

void Store::idle() noexcept {
  if (inTxn_ || lingering_) return;
  try {
    db_->idle();
  } catch (const StoreError &) {
  }
}

void Store::rollback() {
  if (!inTxn_) return;
  inTxn_ = false;
  db_->rollback();
}

// Rows of kEntryColumns as entries, in the order of their first rows.
std::vector<Entry> Store::readEntries(Stmt &s) {
  std::vector<Entry> out;
  std::map<std::int64_t, std::size_t> at;
  while (s.next()) {
    const std::int64_t id = s.integer(0);
    auto [it, added] = at.emplace(id, out.size());
    if (added) {
      Entry e;
      e.id = id;
      e.scope = s.integer(1);
      e.kind = static_cast<std::uint16_t>(s.integer(2));
      e.key = s.bytes(3);
      e.created = s.bytes(4);
      e.changed = s.bytes(5);
      out.push_back(std::move(e));
    }
    if (s.isInteger(6)) out[it->second].fields[static_cast<std::uint16_t>(s.integer(6))] = s.bytes(7);
  }
  return out;
}

std::optional<Entry> Store::find(std::int64_t scope, std::uint16_t kind, std::string_view key) {
  static const std::string sql = std::string(kEntryColumns) + "WHERE e.scope = ?1 AND e.kind = ?2 AND e.key = ?3";
  Stmt &s = db_->prepare(sql.c_str());
  Use u(s);
  s.bind(1, scope);
  s.bind(2, kind);
  s.bindBytes(3, key);
  auto v = readEntries(s);
  if (v.empty()) return std::nullopt;
  return std::move(v.front());
}

std::optional<Entry> Store::get(std::int64_t id) {
  static const std::string sql = std::string(kEntryColumns) + "WHERE e.id = ?1";
  Stmt &s = db_->prepare(sql.c_str());
  Use u(s);
  s.bind(1, id);
  auto v = readEntries(s);
  if (v.empty()) return std::nullopt;
  return std::move(v.front());
}

std::vector<Entry> Store::entries(std::int64_t scope, std::uint16_t kind) {
  static const std::string sql =
      std::string(kEntryColumns) + "WHERE e.scope = ?1 AND e.kind = ?2 ORDER BY e.id, f.name_id";
  Stmt &s = db_->prepare(sql.c_str());
  Use u(s);
  s.bind(1, scope);
  s.bind(2, kind);
  return readEntries(s);
}

const std::string &Store::rowsSql(const char *head, int columns, std::size_t rows, const char *tail) {
  static std::map<std::pair<const char *, std::size_t>, std::string> made;
  std::string &sql = made[{head, rows}];
  if (sql.empty()) {
    std::string tuple = "(";
    for (int c = 0; c < columns; ++c) tuple += c ? ", ?" : "?";
    tuple += ")";
    sql = std::string(head) + " VALUES ";
    for (std::size_t r = 0; r < rows; ++r) sql += (r ? ", " : "") + tuple;
    sql += tail;
  }
  return sql;
}

void Store::putFields(std::int64_t id, const Fields &set) {
  if (set.empty()) return;
  Stmt &put = db_->prepare(rowsSql("INSERT INTO fields(entry, name_id, value)", 3, set.size(),
                                   " ON CONFLICT(entry, name_id) DO UPDATE SET value = excluded.value"));
  Use u(put);
  int at = 1;
  for (const auto &[nameId, value] : set) {
    put.bind(at, id);
    put.bind(at + 1, nameId);
    put.bindBytes(at + 2, value);
    at += 3;
  }
  put.run();
}

std::int64_t Store::add(std::int64_t scope, std::uint16_t kind, std::string_view key, const Fields &fields,
                        const std::string &stamp) {
  Stmt &s = db_->prepare(
      "INSERT INTO entries(scope, kind, key, created, changed) VALUES(?1, ?2, ?3, ?4, ?4) RETURNING id");
  Entry e{0, scope, kind, std::string(key), stamp, stamp, fields};
  {
    Use u(s);
    s.bind(1, scope);
    s.bind(2, kind);
    s.bindBytes(3, key);
    s.bindText(4, stamp);
    if (!s.next()) throw StoreError("add entry: no id");
    e.id = s.integer(0);
    s.run();
  }
  putFields(e.id, fields);
  reindex(e, true);
  return e.id;
}

void Store::change(std::int64_t id, const Fields &set, std::span<const std::uint16_t> clear, const std::string &stamp) {
  Stmt &del = db_->prepare("DELETE FROM fields WHERE entry = ?1 AND name_id = ?2");
  for (std::uint16_t nameId : clear) {
    if (set.count(nameId)) continue;
    Use u(del);
    del.bind(1, id);
    del.bind(2, nameId);
    del.run();
  }
  putFields(id, set);
  Stmt &st = db_->prepare("UPDATE entries SET changed = ?2 WHERE id = ?1");
  {
    Use u(st);
    st.bind(1, id);
    st.bindText(2, stamp);
    st.run();
  }
  if (const auto e = get(id)) reindex(*e);
}

void Store::remove(std::int64_t id) {
  Stmt &s = db_->prepare("DELETE FROM entries WHERE scope = ?1 OR id = ?1");
  Use u(s);
  s.bind(1, id);
  s.run();
}

void Store::removeAll(std::int64_t scope, std::uint16_t kind) {
  Stmt &s = db_->prepare(
      "DELETE FROM entries WHERE scope IN (SELECT id FROM entries WHERE scope = ?1 AND kind = ?2) "
      "OR (scope = ?1 AND kind = ?2)");
  Use u(s);
  s.bind(1, scope);
  s.bind(2, kind);
  s.run();
}

// Counted on the index of keys (scope, kind, key): no row of an entry is read.
std::int64_t Store::count(std::int64_t scope, std::span<const std::uint16_t> kinds) {
  // One statement for any number of kinds (one per kind cost a project's row nine).
  Stmt &s = db_->prepare("SELECT kind, count(*) FROM entries WHERE scope = ?1 GROUP BY kind");
  Use u(s);
  s.bind(1, scope);
  std::int64_t n = 0;
  while (s.next())
    if (std::find(kinds.begin(), kinds.end(), static_cast<std::uint16_t>(s.integer(0))) != kinds.end())
      n += s.integer(1);
  return n;
}

bool Store::assign(std::int64_t container, std::int64_t member) {
  Stmt &s = db_->prepare(
      "INSERT INTO assignments(container, member) VALUES(?1, ?2) ON CONFLICT(container, member) DO NOTHING");
  Use u(s);
  s.bind(1, container);
  s.bind(2, member);
  return s.run() == 1;
}

bool Store::unassign(std::int64_t container, std::int64_t member) {
  Stmt &s = db_->prepare("DELETE FROM assignments WHERE container = ?1 AND member = ?2");
  Use u(s);
  s.bind(1, container);
  s.bind(2, member);
  return s.run() == 1;
}

std::vector<Entry> Store::members(std::int64_t container, std::uint16_t kind) {
  static const std::string sql = std::string(kEntryColumns) +
                                 "JOIN assignments a ON a.member = e.id WHERE a.container = ?1 AND e.kind = ?2 "
                                 "ORDER BY a.id, f.name_id";
  Stmt &s = db_->prepare(sql.c_str());
  Use u(s);
  s.bind(1, container);
  s.bind(2, kind);
  return readEntries(s);
}

std::int64_t Store::countAssignments(const char *sql, std::int64_t id, std::uint16_t kind) {
  Stmt &s = db_->prepare(sql);
  Use u(s);
  s.bind(1, id);
  s.bind(2, kind);
  return s.next() ? s.integer(0) : 0;
}

Store::ProjectFacts Store::projectFacts(std::int64_t project, std::span<const std::uint16_t> a,
                                       std::span<const std::uint16_t> b, std::uint16_t container) {
  // Each part's rows say which part they are in the first column.
  Stmt &s = db_->prepare(
      "SELECT 0, kind, count(*), NULL FROM entries WHERE scope = ?1 GROUP BY kind "
      "UNION ALL SELECT 1, 0, count(*), NULL FROM assignments a JOIN entries e ON e.id = a.container "
      "WHERE a.member = ?1 AND e.kind = ?2 "
      "UNION ALL SELECT 2, 0, 0, owner FROM opened WHERE project = ?1");
  ProjectFacts f;
  std::vector<std::string> others;
  {
    Use u(s);
    s.bind(1, project);
    s.bind(2, container);
    while (s.next()) {
      const std::int64_t part = s.integer(0), n = s.integer(2);
      const auto kind = static_cast<std::uint16_t>(s.integer(1));
      if (part == 0 && std::find(a.begin(), a.end(), kind) != a.end()) f.inA += n;
      if (part == 0 && std::find(b.begin(), b.end(), kind) != b.end()) f.inB += n;
      if (part == 1) f.assigned = n > 0;
      if (part == 2 && ownMark(s.view(3), true, others)) f.open = true;
    }
  }
  f.open = f.open || holdsAny(others);
  return f;
}

std::int64_t Store::memberCount(std::int64_t container, std::uint16_t kind) {
  return countAssignments(
      "SELECT count(*) FROM assignments a JOIN entries e ON e.id = a.member WHERE a.container = ?1 AND e.kind = ?2",
      container, kind);
}

void Store::markOpen(std::int64_t project, const std::string &handle) {
  Stmt &s = db_->prepare(
      "INSERT INTO opened(project, owner, handle) VALUES(?1, ?2, ?3) "
      "ON CONFLICT(owner, handle) DO UPDATE SET project = excluded.project");
  Use u(s);
  s.bind(1, project);
  s.bindText(2, db_->owner());
  s.bindText(3, handle);
  s.run();
}

void Store::markClosed(const std::string &handle) {
  Stmt &s = db_->prepare("DELETE FROM opened WHERE owner = ?1 AND handle = ?2");
  Use u(s);
  s.bindText(1, db_->owner());
  s.bindText(2, handle);
  s.run();
}

bool Store::isOpen(std::int64_t project, bool countSelf) {
  // Without DISTINCT: SQLite would build a temporary table for it on every request.
  Stmt &s = db_->prepare("SELECT owner FROM opened WHERE project = ?1");
  std::vector<std::string> others;
  {
    Use u(s);
    s.bind(1, project);
    while (s.next())
      if (ownMark(s.view(0), countSelf, others)) return true;
  }
  return holdsAny(others);
}

bool Store::ownMark(std::string_view owner, bool countSelf, std::vector<std::string> &others) {
  if (owner == db_->owner()) return countSelf;
  if (std::find(others.begin(), others.end(), owner) == others.end()) others.emplace_back(owner);
  return false;
}

// Asked after the statement that read the marks: alive() may use the database.
bool Store::holdsAny(const std::vector<std::string> &owners) {
  for (const std::string &o : owners)
    if (db_->alive(o)) return true;
  return false;
}

void Store::pruneOpenMarks() {
  Transaction t(*this, true);
  std::vector<std::string> gone;
  {
    Stmt &s = db_->prepare("SELECT DISTINCT owner FROM opened");
    Use u(s);
    while (s.next()) gone.push_back(s.bytes(0));
  }
  std::erase_if(gone, [&](const std::string &o) { return o != db_->owner() && db_->alive(o); });
  Stmt &d = db_->prepare("DELETE FROM opened WHERE owner = ?1");
  for (const std::string &o : gone) {
    Use u(d);
    d.bindText(1, o);
    d.run();
  }
  t.commit();
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
