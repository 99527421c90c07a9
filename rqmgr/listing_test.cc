// The list machinery: selection, order, paging, unknown fields, and splitting a
// list over messages. Aliases per kind are checked with the order shelf
// (mailbox_test.cc).
#include "listing.h"

#include <gtest/gtest.h>

#include "test_support.h"

// Queries are written with designated initializers; what they leave out is the default.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace qlm::rqmgr {
namespace {

constexpr std::uint16_t kName = 105, kCity = 111, kZip = 115;
constexpr std::uint16_t kFields[] = {kName, kCity, kZip};
using V = std::vector<std::string>;

// DORA Bonn 900, ANNA Rome 80, CARL (no city) 1000, BERT Bonn 80, added in that order.
std::vector<Row> sample() {
  std::vector<Row> rows;
  for (const auto &[name, city, zip] : {std::tuple{"DORA", "Bonn", "900"}, {"ANNA", "Rome", "80"},
                                        {"CARL", "", "1000"}, {"BERT", "Bonn", "80"}}) {
    rows.push_back({kName, {{kName, name}, {kZip, zip}}, static_cast<std::int64_t>(rows.size())});
    if (*city) rows.back().record.push_back({kCity, city});
  }
  return rows;
}

ListQuery where(std::uint16_t field, Op op, const char *value) {
  return {.selectField = field, .op = op, .hasOp = true, .value = value, .hasValue = *value != 0};
}

TEST(Listing, SelectsOrdersAndPages) {
  const struct {
    ListQuery q;
    V want;
  } cases[] = {
      {{}, {"ANNA", "BERT", "CARL", "DORA"}},                                  // by key
      {{.sortField = kCity}, {"CARL", "BERT", "DORA", "ANNA"}},                // blank first, ties by key
      {{.sortField = kCity, .descending = true}, {"ANNA", "DORA", "BERT", "CARL"}},  // the whole order reversed
      {{.sortField = kZip}, {"ANNA", "BERT", "DORA", "CARL"}},                 // numbers: 80 < 900 < 1000
      {{.selectField = kCity, .value = "Bonn", .hasValue = true}, {"BERT", "DORA"}},  // "=" by default
      {where(kCity, Op::Gt, "Bonn"), {"ANNA"}},
      {where(kCity, Op::Lt, "Bonn"), {"CARL"}},
      {where(kCity, Op::Eq, "Bonn"), {"BERT", "DORA"}},
      {where(kCity, Op::Ne, "Bonn"), {"ANNA", "CARL"}},
      {where(kCity, Op::Ge, "Bonn"), {"ANNA", "BERT", "DORA"}},
      {where(kCity, Op::Le, "Bonn"), {"BERT", "CARL", "DORA"}},
      {where(kZip, Op::Gt, "100"), {"CARL", "DORA"}},        // as numbers, not text ("80" > "100")
      {where(kZip, Op::Lt, "9a"), {"ANNA", "BERT", "CARL", "DORA"}},  // not all digits: as text
      {where(kCity, Op::Ne, ""), {"ANNA", "BERT", "DORA"}},  // an operator alone compares with blank
      {{.selectField = kCity}, {"ANNA", "BERT", "CARL", "DORA"}},  // a field alone selects nothing away
      {{.selectField = kCity, .value = "bonn", .hasValue = true}, {}},  // case counts
      {{.start = 2, .count = 2}, {"BERT", "CARL"}},
      {{.start = 4, .count = 2}, {"DORA"}},
      {{.start = 5}, {}},
      {{.start = 65535, .count = 65535}, {}},
      // Paging after selection and order.
      {{.start = 2, .count = 1, .selectField = kCity, .op = Op::Ne, .hasOp = true, .descending = true}, {"BERT"}},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    auto rows = sample();
    ASSERT_EQ(applyQuery(rows, cases[i].q, ListFields{kFields}), Err::None) << i;
    V names;
    for (const Row &r : rows) names.push_back(r.value(kName));
    EXPECT_EQ(names, cases[i].want) << i;
  }
}

TEST(Listing, RefusesFieldsTheListDoesNotKnowAndChangesNothing) {
  auto rows = sample();
  EXPECT_EQ(applyQuery(rows, {.sortField = 107}, ListFields{kFields}), Err::UnknownField);
  EXPECT_EQ(applyQuery(rows, {.selectField = 9}, ListFields{kFields}), Err::UnknownField);
  EXPECT_EQ(rows.size(), 4u);
}

TEST(Listing, SplitsAListOverMessagesOfAtMost3072Bytes) {
  std::vector<Row> rows;
  V names;
  for (int i = 0; i < 100; ++i) {
    names.push_back("N" + std::to_string(1000 + i));
    rows.push_back({kName, {{kName, names.back()}, {kCity, std::string(60, 'c')}}, i});
  }
  for (const std::size_t n : {std::size_t{100}, std::size_t{0}}) {
    Reply reply(109, "4711", 0);
    ASSERT_TRUE(writeRows(reply, std::vector<Row>(rows.begin(), rows.begin() + n)));
    const auto msgs = reply.finish();
    ASSERT_EQ(msgs.size(), n == 0 ? 1u : 3u);  // a record takes 84 bytes
    V got;
    for (std::size_t i = 0; i < msgs.size(); ++i) {
      const test::Msg m = test::read(msgs[i]);
      EXPECT_LE(msgs[i].size(), 3072u);
      EXPECT_EQ(std::size_t{rmil::getU16(msgs[i].data() + 2)}, msgs[i].size());     // rmilLen
      EXPECT_EQ(std::size_t{rmil::getU16(msgs[i].data() + 4)}, 1 + m.segs.size());  // rmilNumSegs
      EXPECT_EQ(m.more, i + 1 < msgs.size()) << i;
      EXPECT_TRUE(m.responseId == 109 && m.reference == "4711" && m.rc == 0) << i;
      for (const auto &s : m.segs) got.push_back(s.items.at(kName));
    }
    EXPECT_EQ(got, V(names.begin(), names.begin() + n));
  }
}

}  // namespace
}  // namespace qlm::rqmgr
