// Splitting a list answer over messages. Selection, order and paging are the
// store's (store_list_test.cc).
#include "listing.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace qlm::rqmgr {
namespace {

constexpr std::uint16_t kName = 105, kCity = 111;
using V = std::vector<std::string>;

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
      EXPECT_EQ(std::size_t{wire::getU16(msgs[i].data() + 2)}, msgs[i].size());     // rmilLen
      EXPECT_EQ(std::size_t{wire::getU16(msgs[i].data() + 4)}, 1 + m.segs.size());  // rmilNumSegs
      EXPECT_EQ(m.more, i + 1 < msgs.size()) << i;
      EXPECT_TRUE(m.responseId == 109 && m.reference == "4711" && m.rc == 0) << i;
      for (const auto &s : m.segs) got.push_back(s.items.at(kName));
    }
    EXPECT_EQ(got, V(names.begin(), names.begin() + n));
  }
}

}  // namespace
}  // namespace qlm::rqmgr
