// Lists inside the database: the index rows of every entry (table sortkeys) and
// the queries that select, order and page over them. The rules are in store.h
// (ListPlan); what each kind indexes is in catalog.h.
//
// A page is one scan of an index in list order, entered where the selection lets
// it, that skips `offset` rows and takes `limit`. Paging on through a list costs
// what the page holds, not what came before it: the store remembers where the
// last pages of the lists it answered ended (Cursor), and a request for the page
// that follows, with nothing written since, goes on from there in the index.
#include <algorithm>
#include <charconv>
#include <variant>

#include "catalog.h"
#include "store.h"

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

void bindKey(Stmt &s, int at, const SortKey &k) {
  s.bind(at, k.cls);
  s.bind(at + 1, k.num);
  s.bindBytes(at + 2, k.text);
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

using Bound = Store::Bound;
using Query = BuiltSql;

// The selection `x` on the index row `alias`: values that are both runs of decimal
// digits compare as numbers, any others byte by byte. Where the rows that can pass
// lie in one range of the index order, a bound that says so comes first, so that
// the index is entered there (blanks sort first, then numbers, then other values):
// a number can only pass "greater" where its own rows do from it on or any value
// follows; a value starting above '9' passes "greater" for other values alone.
void condition(Query &q, const std::string &alias, const Selection &x) {
  const SortKey v = sortKey(x.value);
  const std::string t = alias + ".text", n = alias + ".num", c = alias + ".class";
  if (x.op == Cmp::Eq || x.op == Cmp::Ne) {  // equal values have equal classes
    q.add(x.op == Cmp::Ne ? "NOT " : "").add("(").add(c).add(" = ").value(v.cls);
    if (v.cls == SortKey::kNumber) q.add(" AND ").add(n).add(" = ").value(v.num).add(")");
    else q.add(" AND ").add(n).add(" = 0 AND ").add(t).add(" = ").bytes(v.text).add(")");
    return;
  }
  const char *op = sqlOp(x.op);
  const bool greater = x.op == Cmp::Gt || x.op == Cmp::Ge;
  if (v.cls != SortKey::kNumber) {
    if (greater && !v.text.empty() && v.text[0] > '9')
      q.add(c).add(" = 2 AND ").add(n).add(" = 0 AND ");
    else if (greater && (x.op == Cmp::Gt || !v.text.empty()))
      q.add(c).add(" >= 1 AND ");
    q.add(t).add(" ").add(op).add(" ").bytes(v.text);
    return;
  }
  if (greater) q.add("(").add(c).add(", ").add(n).add(") ").add(op).add(" (1, ").value(v.num).add(") AND ");
  q.add("((").add(c).add(" = 1 AND ").add(n).add(" ").add(op).add(" ").value(v.num).add(") OR (");
  q.add(c).add(" <> 1 AND ").add(t).add(" ").add(op).add(" ").bytes(v.text).add("))");
}

constexpr const char *kTerms[] = {"o.class", "o.num", "o.text", "o.kclass", "o.knum", "o.ktext", "o.entry"};

// The page's scan into `q`: the entry ids and the order terms of each row. Rows
// after `after` (the order terms of the row a page ended with), when given, instead
// of the first `offset` ones.
void pageQuery(const ListPlan &l, const std::vector<Bound> *after, Dialect dialect, Query &q) {
  // Ordered by the key and held to one value of another field: that field's row
  // orders the entries by their key already.
  const Selection *equal = nullptr;
  if (l.sortCode == kKeyCode)
    for (const Selection &x : l.select)
      if (x.op == Cmp::Eq && x.code != kKeyCode) equal = &x;
  const std::uint16_t orderCode = equal ? equal->code : l.sortCode;
  const std::size_t first = equal ? 3 : 0;  // the order terms used

  q.clear();
  q.add("SELECT ");
  for (std::size_t i = first; i < std::size(kTerms); ++i) q.add(i > first ? ", " : "").add(kTerms[i]);
  q.add(" FROM sortkeys o");
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
  if (after != nullptr) {
    q.add(" AND (");
    for (std::size_t i = first; i < std::size(kTerms); ++i) q.add(i > first ? ", " : "").add(kTerms[i]);
    q.add(l.descending ? ") < (" : ") > (");
    for (std::size_t i = 0; i < after->size(); ++i) {
      q.add(i > 0 ? ", " : "");
      if (const auto *n = std::get_if<std::int64_t>(&(*after)[i])) q.value(*n);
      else q.bytes(std::get<std::string>((*after)[i]));
    }
    q.add(")");
  }
  q.add(" ORDER BY ");
  for (std::size_t i = first; i < std::size(kTerms); ++i)
    q.add(i > first ? ", " : "").add(kTerms[i]).add(l.descending ? " DESC" : "");
  if (l.limit >= 0) q.add(" LIMIT ").value(l.limit);
  else q.add(dialect == Dialect::Sqlite ? " LIMIT -1" : " LIMIT ALL");
  q.add(" OFFSET ").value(after != nullptr ? 0 : l.offset);
}

// The list without its paging, into `shape`: what makes two requests pages of one
// list. `q` is where it is built.
void shapeOf(const ListPlan &l, Query &q, std::string &shape) {
  ListPlan whole = l;
  whole.offset = whole.limit = 0;
  pageQuery(whole, nullptr, Dialect::Sqlite, q);
  shape = q.sql;
  for (const Bound &b : q.binds) {
    shape += '\x1f';
    if (const auto *n = std::get_if<std::int64_t>(&b)) {
      char digits[24];
      shape.append(digits, std::to_chars(digits, digits + sizeof digits, *n).ptr);
    } else {
      shape.append("'").append(std::get<std::string>(b));
    }
  }
}

// Sets `b` to the value of column `i` (a string's buffer is reused).
void setBound(Bound &b, Stmt &s, int i) {
  if (s.isInteger(i)) b = s.integer(i);
  else if (auto *text = std::get_if<std::string>(&b)) text->assign(s.view(i));
  else b.emplace<std::string>(s.view(i));
}

}  // namespace

void BuiltSql::bind(Stmt &s) const {
  for (std::size_t i = 0; i < binds.size(); ++i) {
    const int at = static_cast<int>(i) + 1;
    if (const auto *n = std::get_if<std::int64_t>(&binds[i])) s.bind(at, *n);
    else s.bindBytes(at, std::get<std::string>(binds[i]));
  }
}

const std::vector<Entry> &Store::list(const ListPlan &l) {
  // Where an earlier page of this list ended, when this one follows it unchanged.
  shapeOf(l, shapeSql_, shape_);
  // (one cursor per shape; the stamp is asked only when a page may follow one)
  const auto earlier = std::find_if(cursors_.begin(), cursors_.end(), [&](const Cursor &c) {
    return l.offset > 0 && c.shape == shape_ && c.next == l.offset;
  });
  const bool follows = earlier != cursors_.end();
  const auto stamp = follows ? db_->changeStamp() : std::pair<std::int64_t, std::int64_t>{};
  const Cursor *from = follows && earlier->stamp == stamp ? &*earlier : nullptr;

  // The page's ids in their order, and the order terms of its last row.
  pageQuery(l, from ? &from->after : nullptr, dialect(), page_);
  ids_.clear();
  {
    Stmt &s = db_->prepare(page_.sql);
    Use u(s);
    page_.bind(s);
    while (s.next()) {
      const int terms = s.columns();
      ids_.push_back(s.integer(terms - 1));
      last_.resize(static_cast<std::size_t>(terms));
      for (int i = 0; i < terms; ++i) setBound(last_[static_cast<std::size_t>(i)], s, i);
    }
  }
  if (!ids_.empty()) remember(l.offset + static_cast<std::int64_t>(ids_.size()), follows ? stamp : db_->changeStamp());

  // The entries with their fields, assembled in the order of the page: those of a
  // short page by their ids, those of a longer one by the same scan again, joined
  // with them (cheap now: its rows are in the cache).
  at_.clear();
  for (std::size_t i = 0; i < ids_.size(); ++i) at_.emplace_back(ids_[i], i);
  std::sort(at_.begin(), at_.end());
  rows_.clear();
  rows_.add("SELECT e.id, e.scope, e.kind, e.key, e.created, e.changed, f.name_id, f.value FROM ");
  if (ids_.size() <= kIdsByValue) {  // a short page: its entries by their ids, without the scan
    rows_.add("entries e LEFT JOIN fields f ON f.entry = e.id WHERE e.id IN (");
    for (std::size_t i = 0; i < ids_.size(); ++i) rows_.add(i > 0 ? ", " : "").value(ids_[i]);
    rows_.add(")");
  } else {
    // CROSS JOIN keeps the page the outer loop in SQLite: read as it is made, not
    // first copied into a temporary table.
    rows_.add("(");
    rows_.sql += page_.sql;
    rows_.binds = page_.binds;
    rows_.add(") p CROSS JOIN entries e LEFT JOIN fields f ON f.entry = e.id WHERE e.id = p.entry");
  }
  // The entries of the last list give their buffers (and their fields' nodes).
  for (Entry &e : listed_)
    while (!e.fields.empty() && spareFields_.size() < kSpareFields) spareFields_.push_back(e.fields.extract(e.fields.begin()));
  listed_.resize(ids_.size());
  if (ids_.empty()) return listed_;
  for (Entry &e : listed_) e.id = 0;
  Stmt &s = db_->prepare(rows_.sql);
  Use u(s);
  rows_.bind(s);
  while (s.next()) {
    const std::int64_t id = s.integer(0);
    const auto it = std::lower_bound(at_.begin(), at_.end(), std::pair<std::int64_t, std::size_t>(id, 0));
    if (it == at_.end() || it->first != id) continue;
    Entry &e = listed_[it->second];
    if (e.id != id) {
      e.id = id;
      e.scope = s.integer(1);
      e.kind = static_cast<std::uint16_t>(s.integer(2));
      e.key.assign(s.view(3));
      e.created.assign(s.view(4));
      e.changed.assign(s.view(5));
    }
    if (!s.isInteger(6)) continue;
    const auto nameId = static_cast<std::uint16_t>(s.integer(6));
    if (spareFields_.empty()) {
      e.fields[nameId] = s.view(7);
      continue;
    }
    Fields::node_type node = std::move(spareFields_.back());
    spareFields_.pop_back();
    node.key() = nameId;
    node.mapped().assign(s.view(7));
    const auto put = e.fields.insert(std::move(node));
    if (!put.inserted) put.position->second = put.node.mapped();
  }
  for (Entry &e : listed_)
    if (e.id == 0) e = Entry();  // none such in the database: as the entry of no row
  return listed_;
}

void Store::remember(std::int64_t next, const std::pair<std::int64_t, std::int64_t> &stamp) {
  Cursor *c = nullptr;
  for (Cursor &old : cursors_)
    if (old.shape == shape_) c = &old;
  if (c == nullptr) {
    if (cursors_.size() == kCursors) cursors_.erase(cursors_.begin());
    c = &cursors_.emplace_back();
    c->shape = shape_;
  }
  c->next = next;
  c->after = last_;
  c->stamp = stamp;
}

void Store::reindex(const Entry &e, bool fresh, bool firstWins) {
  // The unique values: a value another entry has already fails the transaction
  // (with PostgreSQL as a conflict that is run again), unless the first is to win.
  if (!fresh) {
    Stmt &drop = db_->prepare("DELETE FROM unique_values WHERE entry = ?1");
    Use u(drop);
    drop.bind(1, e.id);
    drop.run();
  }
  for (const UniqueField &f : uniqueFields()) {
    const auto v = e.fields.find(f.field);
    if (f.kind != e.kind || v == e.fields.end()) continue;
    Stmt &take = db_->prepare(firstWins ? "INSERT INTO unique_values(kind, name_id, value, entry) VALUES(?1, ?2, ?3, ?4) "
                                          "ON CONFLICT(kind, name_id, value) DO NOTHING"
                                        : "INSERT INTO unique_values(kind, name_id, value, entry) VALUES(?1, ?2, ?3, ?4)");
    Use u(take);
    take.bind(1, f.kind);
    take.bind(2, f.field);
    take.bindBytes(3, v->second);
    take.bind(4, e.id);
    take.run();
  }
  const KindCodes *k = codesOf(e.kind);
  if (k == nullptr) return;
  if (!fresh) {
    Stmt &del = db_->prepare("DELETE FROM sortkeys WHERE entry = ?1");
    Use u(del);
    del.bind(1, e.id);
    del.run();
  }
  // One statement for all the entry's rows.
  std::vector<const ListCode *> codes;
  for (const ListCode &c : k->codes)
    if (c.code == kKeyCode || c.field != e.kind) codes.push_back(&c);  // a code that names the key: kKeyCode holds it
  Stmt &put = db_->prepare(rowsSql("INSERT INTO sortkeys(entry, code, scope, kind, grp, class, num, text, kclass, knum, ktext)",
                                   11, codes.size(), ""));
  Use u(put);
  const SortKey key = sortKey(e.key);
  int at = 1;
  for (const ListCode *c : codes) {
    const auto v = e.fields.find(c->field);
    put.bind(at, e.id);
    put.bind(at + 1, c->code);
    put.bind(at + 2, e.scope);
    put.bind(at + 3, e.kind);
    put.bind(at + 4, k->group);
    bindKey(put, at + 5, c->code == kKeyCode ? key : sortKey(v == e.fields.end() ? std::string_view() : v->second));
    bindKey(put, at + 8, key);
    at += 11;
  }
  put.run();
}

void Store::reindexAll() {
  Stmt &s = db_->prepare("SELECT id FROM entries ORDER BY id");
  std::vector<std::int64_t> ids;
  {
    Use u(s);
    while (s.next()) ids.push_back(s.integer(0));
  }
  db_->exec("DELETE FROM sortkeys; DELETE FROM unique_values");
  for (const std::int64_t id : ids) reindex(*get(id), true, true);
}

}  // namespace qlm::rqmgr
