// Lists inside the database: the index rows of every entry (table sortkeys) and
// the queries that select, order and page over them. The rules are in store.h
// (ListSpec); what each kind indexes is in catalog.h.
#include <sqlite3.h>

#include <functional>
#include <unordered_map>

#include "catalog.h"
#include "store.h"
#include "store_sql.h"

namespace qlm::rqmgr {

SortKey sortKey(std::string_view value) {
  SortKey k;
  k.text = std::string(value);
  const bool digits = !value.empty() && value.size() <= 18 && value.find_first_not_of("0123456789") == std::string::npos;
  k.cls = value.empty() ? SortKey::kBlank : digits ? SortKey::kNumber : SortKey::kText;
  if (digits)
    for (char c : value) k.num = k.num * 10 + (c - '0');
  return k;
}

namespace {

void bindKey(sqlite3_stmt *s, int at, const SortKey &k) {
  sqlite3_bind_int(s, at, k.cls);
  if (k.cls == SortKey::kNumber) sqlite3_bind_int64(s, at + 1, k.num);
  else sqlite3_bind_null(s, at + 1);
  bindBlob(s, at + 2, k.text);
}

const char *sqlOp(Cmp op) {
  switch (op) {
    case Cmp::Gt: return ">";
    case Cmp::Lt: return "<";
    case Cmp::Eq: return "=";
    case Cmp::Ne: return "<>";
    case Cmp::Ge: return ">=";
    case Cmp::Le: return "<=";
  }
  return "=";
}

// A statement under construction: its text and what binds its parameters, in order.
struct Query {
  std::string sql;
  std::vector<std::function<void(sqlite3_stmt *, int)>> binds;
  Query &add(std::string_view text) {
    sql += text;
    return *this;
  }
  Query &value(std::int64_t v) {
    sql += "?";
    binds.push_back([v](sqlite3_stmt *s, int i) { sqlite3_bind_int64(s, i, v); });
    return *this;
  }
  Query &bytes(std::string v) {
    sql += "?";
    binds.push_back([v = std::move(v)](sqlite3_stmt *s, int i) { bindBlob(s, i, v); });
    return *this;
  }
  void bind(sqlite3_stmt *s) const {
    for (std::size_t i = 0; i < binds.size(); ++i) binds[i](s, static_cast<int>(i) + 1);
  }
};

// The selection `x` on the index row `alias`: values that are both runs of decimal
// digits compare as numbers, any others byte by byte.
void condition(Query &q, const std::string &alias, const Selection &x) {
  const SortKey v = sortKey(x.value);
  const std::string t = alias + ".text", n = alias + ".num", c = alias + ".class";
  if (x.op == Cmp::Eq || x.op == Cmp::Ne) {  // equal values have equal classes
    q.add(x.op == Cmp::Ne ? "NOT " : "").add("(").add(c).add(" = ").value(v.cls);
    if (v.cls == SortKey::kNumber) q.add(" AND ").add(n).add(" = ").value(v.num).add(")");
    else q.add(" AND ").add(n).add(" IS NULL AND ").add(t).add(" = ").bytes(v.text).add(")");
    return;
  }
  const char *op = sqlOp(x.op);
  if (v.cls != SortKey::kNumber) {
    q.add(t).add(" ").add(op).add(" ").bytes(v.text);
    return;
  }
  q.add("((").add(c).add(" = 1 AND ").add(n).add(" ").add(op).add(" ").value(v.num).add(") OR (");
  q.add(c).add(" <> 1 AND ").add(t).add(" ").add(op).add(" ").bytes(v.text).add("))");
}

// The ordered entry ids of a list, as one statement.
Query pageQuery(const ListSpec &l) {
  // Ordered by the key and held to one value of another field: that field's row
  // orders the entries by their key already.
  const Selection *equal = nullptr;
  if (l.sortCode == kKeyCode)
    for (const Selection &x : l.select)
      if (x.op == Cmp::Eq && x.code != kKeyCode) equal = &x;
  const std::uint16_t orderCode = equal ? equal->code : l.sortCode;

  Query q;
  q.add("SELECT o.entry FROM sortkeys o");
  if (l.container != 0) q.add(" JOIN assignments a ON a.member = o.entry AND a.container = ").value(l.container);
  std::vector<std::string> alias(l.select.size());
  for (std::size_t i = 0; i < l.select.size(); ++i) {
    if (l.select[i].code == orderCode) {
      alias[i] = "o";
      continue;
    }
    alias[i] = "s" + std::to_string(i);
    q.add(" JOIN sortkeys ").add(alias[i]).add(" ON ").add(alias[i]).add(".entry = o.entry AND ");
    q.add(alias[i]).add(".code = ").value(l.select[i].code);
  }
  q.add(" WHERE o.scope = ").value(l.scope);
  q.add(l.group != 0 ? " AND o.grp = " : " AND o.kind = ").value(l.group != 0 ? l.group : l.kind);
  q.add(" AND o.code = ").value(orderCode);
  for (std::size_t i = 0; i < l.select.size(); ++i) condition(q.add(" AND "), alias[i], l.select[i]);
  const char *dir = l.descending ? " DESC" : "";
  q.add(" ORDER BY ");
  const char *terms[] = {"o.class", "o.num", "o.text", "o.kclass", "o.knum", "o.ktext", "o.entry"};
  for (std::size_t i = equal ? 3 : 0; i < std::size(terms); ++i)
    q.add(terms[i]).add(dir).add(i + 1 < std::size(terms) ? ", " : "");
  q.add(" LIMIT ").value(l.limit).add(" OFFSET ").value(l.offset);
  return q;
}

}  // namespace

sqlite3_stmt *Store::prepareText(const std::string &sql) {
  auto it = dynamic_.find(sql);
  if (it != dynamic_.end()) return it->second;
  sqlite3_stmt *s = nullptr;
  if (sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK)
    fail("prepare a list");
  dynamic_.emplace(sql, s);
  return s;
}

std::vector<Entry> Store::list(const ListSpec &l) {
  // First the page's ids in their order, then the entries with their fields.
  const Query page = pageQuery(l);
  std::vector<std::int64_t> ids;
  {
    sqlite3_stmt *s = prepareText(page.sql);
    Use u(s);
    page.bind(s);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) ids.push_back(sqlite3_column_int64(s, 0));
    if (rc != SQLITE_DONE) fail("list entries");
  }
  std::vector<Entry> out(ids.size());
  std::unordered_map<std::int64_t, std::size_t> at;
  for (std::size_t i = 0; i < ids.size(); ++i) at.emplace(ids[i], i);
  Query rows;
  rows.add("SELECT e.id, e.scope, e.kind, e.key, e.created, e.changed, f.name_id, f.value FROM (");
  rows.sql += page.sql;
  rows.binds = page.binds;
  rows.add(") p JOIN entries e ON e.id = p.entry LEFT JOIN fields f ON f.entry = e.id");
  sqlite3_stmt *s = prepareText(rows.sql);
  Use u(s);
  rows.bind(s);
  for (Entry &e : readEntries(s)) {
    const auto it = at.find(e.id);
    if (it != at.end()) out[it->second] = std::move(e);
  }
  return out;
}

void Store::reindex(const Entry &e) {
  const KindCodes *k = codesOf(e.kind);
  if (k == nullptr) return;
  sqlite3_stmt *del = prepare("DELETE FROM sortkeys WHERE entry = ?1");
  {
    Use u(del);
    sqlite3_bind_int64(del, 1, e.id);
    if (sqlite3_step(del) != SQLITE_DONE) fail("index an entry");
  }
  sqlite3_stmt *put = prepare(
      "INSERT INTO sortkeys(entry, code, scope, kind, grp, class, num, text, kclass, knum, ktext) "
      "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)");
  const SortKey key = sortKey(e.key);
  for (const ListCode &c : k->codes) {
    if (c.code != kKeyCode && c.field == e.kind) continue;  // names the key: kKeyCode holds it
    const auto v = e.fields.find(c.field);
    Use u(put);
    sqlite3_bind_int64(put, 1, e.id);
    sqlite3_bind_int(put, 2, c.code);
    sqlite3_bind_int64(put, 3, e.scope);
    sqlite3_bind_int(put, 4, e.kind);
    sqlite3_bind_int(put, 5, k->group);
    bindKey(put, 6, c.code == kKeyCode ? key : sortKey(v == e.fields.end() ? std::string_view() : v->second));
    bindKey(put, 9, key);
    if (sqlite3_step(put) != SQLITE_DONE) fail("index an entry");
  }
}

void Store::reindexAll() {
  sqlite3_stmt *s = prepare("SELECT id FROM entries ORDER BY id");
  std::vector<std::int64_t> ids;
  {
    Use u(s);
    while (sqlite3_step(s) == SQLITE_ROW) ids.push_back(sqlite3_column_int64(s, 0));
  }
  exec("DELETE FROM sortkeys");
  for (const std::int64_t id : ids) reindex(*get(id));
}

}  // namespace qlm::rqmgr
