// Lists inside the store: selection, order and paging as users see them, and a
// differential test that runs random lists over random entries through the store
// and through a small model written from the rules (store.h, ListPlan).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>

#include "catalog.h"
#include "store.h"
#include "test_support.h"

namespace qlm::rqmgr {
namespace {

using V = std::vector<std::string>;
constexpr std::uint16_t kAddr = 105, kLastname = 107, kCity = 111, kZip = 115;

class StoreLists : public ::testing::Test {
 protected:
  StoreLists() : store_(dir_.path() + "/q.db", 50) {
    store_.begin(true);
    project_ = store_.add(kInstallation, 451, "P", {}, "20260101000000");
  }
  ~StoreLists() override { store_.rollback(); }

  V names(const ListPlan &plan) {
    V out;
    for (const Entry &e : store_.list(plan)) out.push_back(e.key);
    return out;
  }
  ListPlan plan(std::uint16_t sort = kKeyCode, bool desc = false) {
    ListPlan s;
    s.scope = project_;
    s.kind = kAddr;
    s.sortCode = sort;
    s.descending = desc;
    return s;
  }
  ListPlan where(std::uint16_t code, Cmp op, const char *value) {
    ListPlan s = plan();
    s.select.push_back({code, op, value});
    return s;
  }

  test::TempDir dir_;
  Store store_;
  std::int64_t project_ = 0;
};

TEST_F(StoreLists, SelectsOrdersAndPagesAsTheListRulesSay) {
  // DORA Bonn 900, ANNA Rome 80, CARL (no city) 1000, BERT Bonn 80, added in that order.
  for (const auto &[name, city, zip] : {std::tuple{"DORA", "Bonn", "900"}, {"ANNA", "Rome", "80"},
                                        {"CARL", "", "1000"}, {"BERT", "Bonn", "80"}}) {
    Fields f{{kZip, zip}};
    if (*city) f[kCity] = city;
    store_.add(project_, kAddr, name, f, "20260101000000");
  }
  auto paged = [&](ListPlan s, std::int64_t offset, std::int64_t limit) {
    s.offset = offset;
    s.limit = limit;
    return s;
  };
  ListPlan notBonnDown = where(kCity, Cmp::Ne, "Bonn");
  notBonnDown.descending = true;
  const struct {
    ListPlan plan;
    V want;
  } cases[] = {
      {plan(), {"ANNA", "BERT", "CARL", "DORA"}},                    // by key
      {plan(kCity), {"CARL", "BERT", "DORA", "ANNA"}},               // blank first, ties by key
      {plan(kCity, true), {"ANNA", "DORA", "BERT", "CARL"}},         // the whole order reversed
      {plan(kZip), {"ANNA", "BERT", "DORA", "CARL"}},                // numbers: 80 < 900 < 1000
      {where(kCity, Cmp::Gt, "Bonn"), {"ANNA"}}, {where(kCity, Cmp::Lt, "Bonn"), {"CARL"}},
      {where(kCity, Cmp::Eq, "Bonn"), {"BERT", "DORA"}}, {where(kCity, Cmp::Ne, "Bonn"), {"ANNA", "CARL"}},
      {where(kCity, Cmp::Ge, "Bonn"), {"ANNA", "BERT", "DORA"}},
      {where(kCity, Cmp::Le, "Bonn"), {"BERT", "CARL", "DORA"}},
      {where(kZip, Cmp::Gt, "100"), {"CARL", "DORA"}},               // as numbers, not text ("80" > "100")
      {where(kZip, Cmp::Eq, "0080"), {"ANNA", "BERT"}},              // equal as numbers
      {where(kZip, Cmp::Lt, "9a"), {"ANNA", "BERT", "CARL", "DORA"}},  // not all digits: as text
      {where(kCity, Cmp::Ne, ""), {"ANNA", "BERT", "DORA"}},         // compared with blank
      {where(kCity, Cmp::Eq, "bonn"), {}},                           // case counts
      {where(kKeyCode, Cmp::Eq, "CARL"), {"CARL"}}, {paged(plan(), 1, 2), {"BERT", "CARL"}},
      {paged(plan(), 3, 2), {"DORA"}}, {paged(plan(), 4, -1), {}},
      {paged(notBonnDown, 1, 1), {"ANNA"}},                          // paging after selection and order
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(names(cases[i].plan), cases[i].want) << i;
  // The next page after a change is the page at its offset, not where the last one ended.
  EXPECT_EQ(names(paged(plan(), 0, 2)), (V{"ANNA", "BERT"}));
  store_.add(project_, kAddr, "AARON", {}, "20260101000000");
  EXPECT_EQ(names(paged(plan(), 2, 2)), (V{"BERT", "CARL"}));
}

// ---------------------------------------------------------------------------
// The differential test

// The rules, written plainly: selection by the pairwise comparison, order by the
// classes of values (blank, numbers, other) and then by the key and the age.
struct Model {
  struct Item {
    std::int64_t id;
    std::uint16_t kind;
    std::string key;
    Fields fields;
    bool member;
  };
  std::vector<Item> items;

  static bool number(const std::string &v) {
    return !v.empty() && v.size() <= 18 && v.find_first_not_of("0123456789") == std::string::npos;
  }
  static int pairwise(const std::string &a, const std::string &b) {  // its sign
    if (!number(a) || !number(b)) return a.compare(b);
    const long long x = std::stoll(a), y = std::stoll(b);
    return x < y ? -1 : x > y;
  }
  static bool holds(int c, Cmp op) {
    switch (op) {
      case Cmp::Gt: return c > 0;
      case Cmp::Lt: return c < 0;
      case Cmp::Eq: return c == 0;
      case Cmp::Ne: return c != 0;
      case Cmp::Ge: return c >= 0;
      case Cmp::Le: return c <= 0;
    }
    return false;
  }
  static std::tuple<int, long long, std::string> order(const std::string &v) {
    return {v.empty() ? 0 : number(v) ? 1 : 2, number(v) ? std::stoll(v) : 0, v};
  }
  static std::string valueOf(const Item &i, std::uint16_t code) {
    if (code == kKeyCode) return i.key;
    const int field = code == 9981 ? (i.kind == 1180 ? 1181 : 688) : code;
    const auto v = i.fields.find(static_cast<std::uint16_t>(field));
    return v == i.fields.end() ? std::string() : v->second;
  }
  std::vector<std::int64_t> list(const ListPlan &s) const {
    std::vector<const Item *> rows;
    for (const Item &i : items) {
      if (s.group == 0 && i.kind != s.kind) continue;
      if (s.container != 0 && !i.member) continue;
      bool pass = true;
      for (const Selection &x : s.select) pass = pass && holds(pairwise(valueOf(i, x.code), x.value), x.op);
      if (pass) rows.push_back(&i);
    }
    std::sort(rows.begin(), rows.end(), [&](const Item *a, const Item *b) {
      const auto ka = std::tuple(order(valueOf(*a, s.sortCode)), order(a->key), a->id);
      const auto kb = std::tuple(order(valueOf(*b, s.sortCode)), order(b->key), b->id);
      return s.descending ? kb < ka : ka < kb;
    });
    std::vector<std::int64_t> out;
    for (std::size_t i = static_cast<std::size_t>(s.offset); i < rows.size(); ++i) {
      if (s.limit >= 0 && out.size() == static_cast<std::size_t>(s.limit)) break;
      out.push_back(rows[i]->id);
    }
    return out;
  }
};

TEST_F(StoreLists, RandomListsAnswerAsTheRulesSay) {
  std::mt19937 r(20261206);
  // Values that meet every rule: blanks, numbers with leading zeros, digits that are
  // too long to be numbers, digits followed by letters, signs, case, spaces.
  const V pool = {"",   "0",  "00", "7",   "007", "8",  "10", "100", "0099", "1234567890123456789",
                  "1a", "a1", "-5", "+5",  "5 ",  " 5", "A",  "a",   "ab",   "B",
                  "b",  "Z",  "zz", "a b", "\x7f", "9",  "90", "9a",  "1000", "01"};
  auto any = [&] { return pool[r() % pool.size()]; };
  const std::int64_t box = store_.add(project_, 652, "BOX", {}, "20260101000000");
  Model model;
  for (int i = 0; i < 300; ++i) {
    const std::uint16_t kind = i % 3 == 0 ? 687 : 1180;
    std::string key = any() + std::to_string(i % 7);  // some keys are numbers
    if (store_.find(project_, kind, key)) continue;
    Fields f;
    for (const std::uint16_t field : kind == 1180 ? std::vector<std::uint16_t>{1181, 773, 780}
                                                  : std::vector<std::uint16_t>{688, 690, 697, 698})
      if (const std::string v = any(); !v.empty()) f[field] = v;
    const std::int64_t id = store_.add(project_, kind, key, f, "20260101000000");
    const bool member = r() % 2 == 0;
    if (member) store_.assign(box, id);
    model.items.push_back({id, kind, key, f, member});
  }
  const Cmp ops[] = {Cmp::Gt, Cmp::Lt, Cmp::Eq, Cmp::Ne, Cmp::Ge, Cmp::Le};
  for (int q = 0; q < 10000; ++q) {
    ListPlan s;
    s.scope = project_;
    const int shape = static_cast<int>(r() % 3);  // send orders, receive orders, or both
    s.kind = shape == 1 ? 687 : 1180;
    s.group = shape == 2 ? codesOf(1180)->group : 0;
    const std::vector<std::uint16_t> codes = shape == 0   ? std::vector<std::uint16_t>{kKeyCode, 1181, 773, 780, 9981}
                                             : shape == 1 ? std::vector<std::uint16_t>{kKeyCode, 688, 690, 697, 698, 9981}
                                                          : std::vector<std::uint16_t>{kKeyCode, 9981};
    auto code = [&] { return codes[r() % codes.size()]; };
    s.sortCode = code();
    s.descending = r() % 2;
    for (int n = static_cast<int>(r() % 3); n > 0; --n) s.select.push_back({code(), ops[r() % 6], any()});
    s.container = r() % 4 == 0 ? box : 0;
    s.offset = r() % 4 == 0 ? static_cast<std::int64_t>(r() % 120) : 0;
    s.limit = r() % 3 == 0 ? -1 : static_cast<std::int64_t>(1 + r() % 60);
    // The page, and sometimes the pages that follow it (they go on where it ended).
    for (int page = r() % 4 == 0 && s.limit > 0 ? 3 : 1; page > 0; --page, s.offset += s.limit) {
      std::vector<std::int64_t> got;
      for (const Entry &e : store_.list(s)) got.push_back(e.id);
      ASSERT_EQ(got, model.list(s)) << "query " << q << ": sort " << s.sortCode << (s.descending ? " desc" : "")
                                    << ", " << s.select.size() << " selections, kind " << s.kind << " group "
                                    << s.group << " container " << s.container << " offset " << s.offset;
    }
  }
}

}  // namespace
}  // namespace qlm::rqmgr
