#include "listing.h"

#include <algorithm>

namespace qlm::rqmgr {

const std::string &Row::value(std::uint16_t id) const {
  static const std::string kEmpty;
  for (const Value &v : record)
    if (v.id == id) return v.text;
  return kEmpty;
}

namespace {

bool numeric(const std::string &s) {
  return !s.empty() && s.size() <= 18 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The field `code` names in rows of kind `segType`; 0 when the list does not know it.
std::uint16_t resolve(const ListFields &known, std::uint16_t code, std::uint16_t segType) {
  for (const Alias &a : known.aliases)
    if (a.code == code && a.segType == segType) return a.field;
  return std::find(known.fields.begin(), known.fields.end(), code) != known.fields.end() ? code : 0;
}

bool knows(const ListFields &known, std::uint16_t code) {
  return std::find(known.fields.begin(), known.fields.end(), code) != known.fields.end() ||
         std::any_of(known.aliases.begin(), known.aliases.end(), [code](const Alias &a) { return a.code == code; });
}

const std::string &fieldOf(const ListFields &known, const Row &r, std::uint16_t code) {
  return r.value(resolve(known, code, r.segType));
}

bool matches(int cmp, Op op) {
  switch (op) {
    case Op::Gt: return cmp > 0;
    case Op::Lt: return cmp < 0;
    case Op::Eq: return cmp == 0;
    case Op::Ne: return cmp != 0;
    case Op::Ge: return cmp >= 0;
    case Op::Le: return cmp <= 0;
  }
  return false;
}

}  // namespace

int compareValues(const std::string &a, const std::string &b) {
  if (numeric(a) && numeric(b)) {
    const long long x = std::stoll(a), y = std::stoll(b);
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

Err applyQuery(std::vector<Row> &rows, const ListQuery &q, const ListFields &known) {
  if ((q.selectField != 0 && !knows(known, q.selectField)) || (q.sortField != 0 && !knows(known, q.sortField)))
    return Err::UnknownField;
  if (q.selects()) {
    std::erase_if(rows, [&](const Row &r) {
      return !matches(compareValues(fieldOf(known, r, q.selectField), q.value), q.op);
    });
  }
  std::stable_sort(rows.begin(), rows.end(), [&](const Row &a, const Row &b) {
    int c = q.sortField != 0 ? compareValues(fieldOf(known, a, q.sortField), fieldOf(known, b, q.sortField)) : 0;
    if (c == 0) c = compareValues(a.value(a.segType), b.value(b.segType));
    if (c == 0) c = a.seq < b.seq ? -1 : (a.seq > b.seq ? 1 : 0);
    return q.descending ? c > 0 : c < 0;
  });
  const std::size_t skip = std::min<std::size_t>(rows.size(), static_cast<std::size_t>(q.start - 1));
  rows.erase(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(skip));
  if (rows.size() > static_cast<std::size_t>(q.count)) rows.resize(static_cast<std::size_t>(q.count));
  return Err::None;
}

bool writeRows(Reply &reply, const std::vector<Row> &rows) {
  for (const Row &r : rows)
    if (!reply.record(r.segType, r.record)) return false;
  return true;
}

}  // namespace qlm::rqmgr
