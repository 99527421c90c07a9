// The list machinery: selection, order, paging, and splitting a list over messages.
#include "listing.h"

#include <gtest/gtest.h>

#include "rmil/message.h"

namespace qlm::rqmgr {
namespace {

constexpr std::uint16_t kName = 105, kCity = 111, kZip = 115;
constexpr std::uint16_t kFields[] = {kName, kCity, kZip};

Row row(const std::string &name, const std::string &city, const std::string &zip, std::int64_t seq) {
  Row r{kName, {{kName, name}}, seq};
  if (!city.empty()) r.record.push_back({kCity, city});
  if (!zip.empty()) r.record.push_back({kZip, zip});
  return r;
}

std::vector<Row> sample() {
  return {row("DORA", "Bonn", "900", 1), row("ANNA", "Rome", "80", 2), row("CARL", "", "1000", 3),
          row("BERT", "Bonn", "80", 4)};
}

std::vector<std::string> names(const std::vector<Row> &rows) {
  std::vector<std::string> out;
  for (const Row &r : rows) out.push_back(r.value(kName));
  return out;
}

std::vector<std::string> query(ListQuery q) {
  auto rows = sample();
  EXPECT_EQ(applyQuery(rows, q, ListFields{kFields}), Err::None);
  return names(rows);
}

using V = std::vector<std::string>;

TEST(Listing, OrdersByKeyOrFieldAndReverses) {
  EXPECT_EQ(query({}), (V{"ANNA", "BERT", "CARL", "DORA"}));
  ListQuery q;
  q.sortField = kCity;  // blank first, ties by key
  EXPECT_EQ(query(q), (V{"CARL", "BERT", "DORA", "ANNA"}));
  q.descending = true;
  EXPECT_EQ(query(q), (V{"ANNA", "DORA", "BERT", "CARL"}));
  q = {};
  q.sortField = kZip;  // digits compare as numbers: 80 < 900 < 1000
  EXPECT_EQ(query(q), (V{"ANNA", "BERT", "DORA", "CARL"}));
}

TEST(Listing, SelectsWithEveryOperator) {
  ListQuery q;
  q.selectField = kCity;
  q.value = "Bonn";
  q.hasValue = true;
  EXPECT_EQ(query(q), (V{"BERT", "DORA"}));  // "=" when no operator is given
  const std::pair<Op, V> cases[] = {
      {Op::Gt, {"ANNA"}},          {Op::Lt, {"CARL"}}, {Op::Eq, {"BERT", "DORA"}},
      {Op::Ne, {"ANNA", "CARL"}},  {Op::Ge, {"ANNA", "BERT", "DORA"}},
      {Op::Le, {"BERT", "CARL", "DORA"}},
  };
  for (const auto &[op, want] : cases) {
    q.op = op;
    q.hasOp = true;
    EXPECT_EQ(query(q), want) << static_cast<int>(op);
  }
  // Numbers: zip > 100 is 900 and 1000, not "80".
  q = {};
  q.selectField = kZip;
  q.op = Op::Gt;
  q.hasOp = true;
  q.value = "100";
  q.hasValue = true;
  EXPECT_EQ(query(q), (V{"CARL", "DORA"}));
  // An operator with a blank value selects against blank: the entries with a city.
  q = {};
  q.selectField = kCity;
  q.op = Op::Ne;
  q.hasOp = true;
  EXPECT_EQ(query(q), (V{"ANNA", "BERT", "DORA"}));
  // A field alone selects nothing away; case counts in comparisons.
  q = {};
  q.selectField = kCity;
  EXPECT_EQ(query(q).size(), 4u);
  q.value = "bonn";
  q.hasValue = true;
  EXPECT_TRUE(query(q).empty());
}

TEST(Listing, PagesAfterSelectionAndOrder) {
  ListQuery q;
  q.start = 2;
  q.count = 2;
  EXPECT_EQ(query(q), (V{"BERT", "CARL"}));
  q.start = 4;
  EXPECT_EQ(query(q), (V{"DORA"}));
  q.start = 5;
  EXPECT_TRUE(query(q).empty());
  q.start = 65535;
  q.count = 65535;
  EXPECT_TRUE(query(q).empty());
}

TEST(Listing, RefusesFieldsTheListDoesNotKnow) {
  auto rows = sample();
  ListQuery q;
  q.sortField = 107;
  EXPECT_EQ(applyQuery(rows, q, ListFields{kFields}), Err::UnknownField);
  q = {};
  q.selectField = 9;
  EXPECT_EQ(applyQuery(rows, q, ListFields{kFields}), Err::UnknownField);
  EXPECT_EQ(rows.size(), 4u);
}

TEST(Listing, AliasesNameAFieldPerKind) {
  // A mixed list: code 9982 names 1180 in rows of kind 1180 and 687 in rows of kind 687.
  constexpr Alias kAliases[] = {{9982, 1180, 1180}, {9982, 687, 687}};
  std::vector<Row> rows = {{1180, {{1180, "S2"}}, 1}, {687, {{687, "R1"}}, 2}, {1180, {{1180, "S1"}}, 3}};
  ListQuery q;
  q.sortField = 9982;
  q.descending = true;
  ASSERT_EQ(applyQuery(rows, q, ListFields{{}, kAliases}), Err::None);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].value(1180), "S2");
  EXPECT_EQ(rows[1].value(1180), "S1");
  EXPECT_EQ(rows[2].value(687), "R1");
}

// Reads back the records of one reply message: (segment type, item count) per record.
struct Parsed {
  int length, numSegs;
  bool more;
  std::string reference;
  int records = 0;
};

Parsed parse(Bytes bytes) {
  std::array<std::uint8_t, rmil::kBufSize> buf{};
  std::copy(bytes.begin(), bytes.end(), buf.begin());
  rmil::Message m(buf.data());
  m.received(static_cast<int>(bytes.size()));
  Parsed p{m.length(), m.numSegs(), m.moreData(), {}};
  char v[rmil::kValueArea] = {};
  int len = 0;
  if (m.getItem(hdr::kReference, v, &len) == rmil::Read::Item) p.reference.assign(v, len);
  while (m.moveToNextSeg() == 0) {
    long type = 0;
    if (m.segType(&type) && type == kName) ++p.records;
  }
  return p;
}

TEST(Listing, SplitsALongListOverMessagesOfAtMost3072Bytes) {
  std::vector<Row> rows;
  for (int i = 0; i < 100; ++i) rows.push_back({kName, {{kName, "N" + std::to_string(1000 + i)}, {kCity, std::string(60, 'c')}}, i});
  Reply reply(109, "4711", 0);
  ASSERT_TRUE(writeRows(reply, rows));
  const auto msgs = reply.finish();
  ASSERT_GT(msgs.size(), 2u);
  int total = 0;
  for (std::size_t i = 0; i < msgs.size(); ++i) {
    const Parsed p = parse(msgs[i]);
    EXPECT_LE(msgs[i].size(), 3072u);
    EXPECT_EQ(p.length, static_cast<int>(msgs[i].size()));
    EXPECT_EQ(p.more, i + 1 < msgs.size()) << i;
    EXPECT_EQ(p.reference, "4711");
    EXPECT_EQ(p.numSegs, 1 + p.records);
    EXPECT_GT(p.records, 0);
    total += p.records;
  }
  EXPECT_EQ(total, 100);
}

TEST(Listing, EmptyListIsTheHeaderAlone) {
  Reply reply(109, "1", 0);
  ASSERT_TRUE(writeRows(reply, {}));
  const auto msgs = reply.finish();
  ASSERT_EQ(msgs.size(), 1u);
  const Parsed p = parse(msgs[0]);
  EXPECT_EQ(p.numSegs, 1);
  EXPECT_FALSE(p.more);
}

}  // namespace
}  // namespace qlm::rqmgr
