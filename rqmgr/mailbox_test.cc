// The mailbox routes driven through Service::handle as the ICC layer drives it:
// what each request stores, answers and refuses, the computed drop box fields, the
// shelves, and selection, order and paging over the lists. A duplicate key, deleting
// twice and a member of the wrong kind are refused in tests/e2e/families_test.cc,
// with their texts.
#include <gtest/gtest.h>

#include "service.h"
#include "test_support.h"

namespace qlm::rqmgr {
namespace {

using test::Msg;
using test::Req;
using Items = std::initializer_list<std::pair<std::uint16_t, std::string>>;
using Keys = std::vector<std::pair<long, std::string>>;
using Record = std::map<std::uint16_t, std::string>;

class MailboxService : public ::testing::Test {
 protected:
  MailboxService() : store_(dir_.path() + "/q.db", 50) {
    project_ = one(Req(254).item(104, "10000").end().seg(451).item(451, "P1").end()).handle;
    Msg m = one(Req(350).item(101, project_).item(104, "10000").end());
    EXPECT_EQ(m.rc, 0);
    mbox_ = m.handle;
  }

  std::vector<Msg> send(const Req &r) {
    const Bytes b = r.bytes();
    std::vector<Msg> out;
    for (const Bytes &m : service_.handle(1, b.data(), b.size()).messages) out.push_back(test::read(m));
    return out;
  }
  Msg one(const Req &r) {
    auto v = send(r);
    EXPECT_EQ(v.size(), 1u);
    return v.empty() ? Msg{} : v.front();
  }
  // A mailbox request (handle, return-record flag, further header items) with one data
  // segment of type `type`: the key, then the items.
  Msg keyed(int id, bool want, Items header, int type, const std::string &key, Items items = {}) {
    Req r(id);
    r.item(102, mbox_).item(104, want ? "10001" : "10000");
    for (const auto &[n, v] : header) r.item(n, v);
    r.end().seg(type).item(static_cast<std::uint16_t>(type), key);
    for (const auto &[n, v] : items) r.item(n, v);
    return one(r.end());
  }
  Msg add(int id, int type, const std::string &key, Items items = {}) { return keyed(id, true, {}, type, key, items); }
  Msg del(int id, int type, const std::string &key) { return keyed(id, false, {}, type, key); }
  Msg delShelf(int id, int type, const std::string &name = "$Default$") {
    return keyed(id, false, {{134, "10001"}}, type, name);
  }
  Msg relate(int id, const std::string &box, int memberType, const std::string &member) {
    return keyed(id, false, {{134, "652"}, {133, box}}, memberType, member);
  }
  // A list request's messages: its header items (paging from 1, unbounded, unless given).
  std::vector<Msg> list(int id, Items header = {}) {
    Req r(id);
    r.item(102, mbox_).item(104, "10001");
    for (const auto &[n, v] : header) r.item(n, v);
    return send(r.end());
  }
  // The orders of a drop box: request 366 with the drop box in a data segment.
  std::vector<Msg> on(const std::string &box) {
    return send(Req(366).item(102, mbox_).item(104, "10001").item(134, "10001").end().seg(652).item(652, box).end());
  }
  // The record of a one-record answer with its segment type as item 9983 (else item 0: rc and record count).
  static Record rec(const Msg &m) {
    if (m.rc != 0 || m.segs.size() != 1) return {{0, std::to_string(m.rc) + "/" + std::to_string(m.segs.size())}};
    Record r = m.segs[0].items;
    r[9983] = std::to_string(m.segs[0].type);
    return r;
  }
  // An answer's error number; 0 for success (the return code when a failure names none).
  static int outcome(const Msg &m) { return m.error() != 0 ? m.error() : m.rc; }
  // The (segment type, key) pairs of a list.
  static Keys keys(const std::vector<Msg> &msgs) {
    Keys out;
    for (const Msg &m : msgs)
      for (const Msg::Seg &s : m.segs) out.emplace_back(s.type, s.items.count(s.type) ? s.items.at(s.type) : "?");
    return out;
  }

  test::TempDir dir_;
  Store store_;
  ErrorTexts texts_;
  Service service_{store_, texts_, "errortxt.fil", [](const std::string &) {}};
  std::string project_, mbox_;
};

TEST_F(MailboxService, OrdersAreAddedReplacedListedAndDeletedPerKind) {
  // The answer holds the kind's own fields only.
  EXPECT_EQ(rec(add(398, 1180, "ORD1", {{1181, "first"}, {773, "MBX1"}, {787, "not a field"}, {653, "x"}})),
            (Record{{9983, "1180"}, {1180, "ORD1"}, {1181, "first"}, {773, "MBX1"}}));
  EXPECT_EQ(add(398, 1180, "").error(), 30008);
  // The same name as a receive order is another entry; a value is cut at its width.
  EXPECT_EQ(rec(add(380, 687, "ORD1", {{698, std::string(70, 'f')}, {714, "AB"}})),
            (Record{{9983, "687"}, {687, "ORD1"}, {698, std::string(65, 'f')}, {714, "AB"}}));
  ASSERT_EQ(add(398, 1180, "ORD2", {{1181, "second"}, {780, "B"}}).rc, 0);
  ASSERT_EQ(add(398, 1180, "ORD3", {{1181, "third"}, {780, "A"}}).rc, 0);

  // Replace sets what it carries and blanks the rest; the key must exist in that kind.
  EXPECT_EQ(rec(add(406, 1180, "ORD1", {{780, "C"}, {1181, "changed"}})),
            (Record{{9983, "1180"}, {1180, "ORD1"}, {1181, "changed"}, {780, "C"}}));
  EXPECT_EQ(del(406, 1180, "NONE").error(), 30006);
  EXPECT_EQ(del(388, 687, "ORD2").error(), 30006);
  EXPECT_TRUE(del(388, 687, "ORD1").segs.empty());  // no record asked for

  // Lists of one kind: by class descending, selected by class; a field of the kind only.
  EXPECT_EQ(keys(list(402, {{130, "780"}, {129, "10018"}})), (Keys{{1180, "ORD1"}, {1180, "ORD2"}, {1180, "ORD3"}}));
  EXPECT_EQ(keys(list(402, {{128, "780"}, {126, "B"}, {127, "10012"}})), (Keys{{1180, "ORD3"}}));
  EXPECT_EQ(list(402, {{128, "698"}})[0].error(), 30015);
  EXPECT_EQ(list(384, {{128, "698"}, {126, "x"}})[0].rc, 0);

  // Delete: the entry of that kind goes, the other stays.
  EXPECT_EQ(del(400, 1180, "ORD1").rc, 0);
  EXPECT_EQ(keys(list(384)), (Keys{{687, "ORD1"}}));

  // Mailbox requests need the mailbox handle; the project counts the entries.
  EXPECT_EQ(one(Req(402).item(102, project_).item(131, "1").item(132, "9").end()).error(), 30003);
  Msg info = one(Req(262).item(102, project_).item(104, "10001").end().seg(451).item(451, "P1").end());
  EXPECT_EQ(info.segs[0].items.at(463), "0 address book entries, 3 mailbox entries");
}

TEST_F(MailboxService, ReceiptsCarryTheirReadersFieldsAndNameTheirOrder) {
  ASSERT_EQ(add(398, 1180, "SO1").rc, 0);
  ASSERT_EQ(add(398, 1180, "SO2").rc, 0);
  // A send receipt without a start date gets the time of the add.
  Record a = rec(add(410, 1802, "SR1", {{1806, "SO1"}, {9969, "shared"}}));
  EXPECT_EQ(a[1804].size(), 14u);
  a.erase(1804);
  EXPECT_EQ(a, (Record{{9983, "1802"}, {1802, "SR1"}, {1806, "SO1"}, {9969, "shared"}}));
  ASSERT_EQ(add(410, 1802, "SR2", {{1806, "SO2"}, {1804, "20240102030405"}}).rc, 0);
  ASSERT_EQ(add(410, 1802, "SR3", {{1806, "SO1"}, {1804, "20230102030405"}}).rc, 0);
  // A receive receipt: its add answer carries 754 and 770, its lists do not.
  const Record rr{{9983, "721"}, {721, "RR1"}, {725, "RO1"}, {723, "20220101000000"}};
  Record added = rr;
  added.insert({{754, "ADDONLY"}, {770, "XY"}});
  EXPECT_EQ(rec(add(392, 721, "RR1", {{754, "ADDONLY"}, {770, "XY"}, {725, "RO1"}, {723, "20220101000000"}})), added);
  EXPECT_EQ(rec(list(394).at(0)), rr);

  // By start date; the receipts of one send order (relation 1180) name it.
  EXPECT_EQ(keys(list(412, {{130, "1804"}})), (Keys{{1802, "SR3"}, {1802, "SR2"}, {1802, "SR1"}}));
  EXPECT_EQ(keys(list(412, {{134, "1180"}, {133, "SO1"}})), (Keys{{1802, "SR1"}, {1802, "SR3"}}));
  EXPECT_EQ(list(412, {{134, "1180"}, {133, "NOPE"}})[0].error(), 30006);
  EXPECT_EQ(list(412, {{134, "1180"}, {133, "  "}})[0].error(), 30008);
  EXPECT_EQ(list(412, {{134, "687"}, {133, "SO1"}})[0].error(), 30001);

  // The receipt shelf: both kinds side by side, by name.
  EXPECT_EQ(keys(list(356, {{134, "10001"}})), (Keys{{721, "RR1"}, {1802, "SR1"}, {1802, "SR2"}, {1802, "SR3"}}));
  EXPECT_EQ(keys(list(356, {{134, "10001"}, {131, "2"}, {132, "2"}})), (Keys{{1802, "SR1"}, {1802, "SR2"}}));

  // Deleting the order shelf leaves the receipts; only "$Default$" empties the receipt shelf.
  EXPECT_EQ(delShelf(358, 650).rc, 0);
  EXPECT_EQ(keys(list(356, {{134, "10001"}})).size(), 4u);
  EXPECT_EQ(delShelf(360, 651, "Other").error(), 30006);
  EXPECT_EQ(delShelf(360, 651, " ").error(), 30008);
  EXPECT_EQ(delShelf(360, 651).rc, 0);
  EXPECT_TRUE(list(356, {{134, "10001"}})[0].segs.empty());
}

TEST_F(MailboxService, OrderShelfIsAMixedListWithItsOwnFieldCodes) {
  ASSERT_EQ(add(398, 1180, "B-send", {{1181, "zulu"}}).rc, 0);
  ASSERT_EQ(add(380, 687, "A-recv", {{688, "mike"}, {698, "file"}}).rc, 0);
  ASSERT_EQ(add(398, 1180, "C-send", {{1181, "alpha"}}).rc, 0);
  ASSERT_EQ(add(380, 687, "D-recv").rc, 0);
  ASSERT_EQ(add(362, 652, "BOX").rc, 0);  // not an order
  ASSERT_EQ(relate(404, "BOX", 1180, "B-send").rc, 0);

  auto all = list(354, {{134, "10001"}});
  EXPECT_EQ(keys(all), (Keys{{687, "A-recv"}, {1180, "B-send"}, {1180, "C-send"}, {687, "D-recv"}}));
  EXPECT_EQ(all[0].segs[0].items.at(698), "file");
  // 9981 is each kind's description (blank first), 9982 its name; the kinds' own codes are unknown.
  EXPECT_EQ(keys(list(354, {{134, "10001"}, {130, "9981"}})),
            (Keys{{687, "D-recv"}, {1180, "C-send"}, {687, "A-recv"}, {1180, "B-send"}}));
  EXPECT_EQ(keys(list(354, {{134, "10001"}, {128, "9982"}, {127, "10015"}, {126, "C"}, {129, "10018"}})),
            (Keys{{687, "D-recv"}, {1180, "C-send"}}));
  EXPECT_EQ(list(354, {{134, "10001"}, {128, "1181"}, {126, "x"}})[0].error(), 30015);
  EXPECT_EQ(keys(list(354)).size(), 4u);  // without item 134 the same request

  // Deleting the shelf deletes every order and ends their assignments; the drop box
  // stays, the names are free again, and an empty shelf can be deleted again.
  EXPECT_EQ(delShelf(358, 650).rc, 0);
  EXPECT_TRUE(list(354, {{134, "10001"}})[0].segs.empty());
  EXPECT_TRUE(list(402)[0].segs.empty() && list(384)[0].segs.empty());
  auto boxes = list(366);
  ASSERT_EQ(boxes[0].segs.size(), 1u);
  EXPECT_EQ(boxes[0].segs[0].items.at(672), "0 orders assigned");
  EXPECT_EQ(add(398, 1180, "B-send").rc, 0);
  EXPECT_EQ(delShelf(358, 650).rc, 0);
}

TEST_F(MailboxService, DropBoxesHoldOrdersOfBothKinds) {
  // 653 and 672 are computed, whatever the request sends.
  EXPECT_EQ(rec(add(362, 652, "BOX", {{654, "ten chars."}, {653, "Z"}, {672, "not mine"}})),
            (Record{{9983, "652"}, {652, "BOX"}, {653, "N"}, {654, "ten chars."}, {672, "0 orders assigned"}}));
  for (const auto &[id, type, key] :
       {std::tuple{362, 652, "EMPTY"}, {398, 1180, "S1"}, {398, 1180, "S2"}, {380, 687, "R1"}})
    ASSERT_EQ(add(id, type, key).rc, 0) << key;

  // R1 is unassigned and assigned again; then: assigned already, no such member, box or assignment.
  for (const auto &[id, box, type, member, error] :
       {std::tuple{404, "BOX", 1180, "S2", 0}, {404, "BOX", 1180, "S1", 0}, {386, "BOX", 687, "R1", 0},
        {390, "BOX", 687, "R1", 0}, {386, "BOX", 687, "R1", 0}, {404, "BOX", 1180, "S1", 30010},
        {386, "BOX", 687, "GONE", 30009}, {404, "NOBOX", 1180, "S1", 30006}, {408, "EMPTY", 1180, "S1", 30011}})
    EXPECT_EQ(outcome(relate(id, box, type, member)), error) << id << " " << member;

  // The drop box list computes 653 and 672; the orders of a drop box are a mixed list.
  auto boxes = list(366, {{130, "652"}, {129, "10018"}});
  ASSERT_EQ(boxes[0].segs.size(), 2u);
  EXPECT_EQ(boxes[0].segs[1].items,
            (Record{{652, "BOX"}, {653, "B"}, {654, "ten chars."}, {672, "3 orders assigned"}}));
  EXPECT_EQ(boxes[0].segs[0].items.at(653), "N");
  EXPECT_EQ(keys(on("BOX")), (Keys{{687, "R1"}, {1180, "S1"}, {1180, "S2"}}));
  EXPECT_TRUE(on("EMPTY")[0].segs.empty());
  EXPECT_EQ(on("NOBOX")[0].error(), 30006);
  EXPECT_EQ(on("")[0].error(), 30008);
  EXPECT_EQ(list(366, {{134, "10001"}})[0].error(), 30001);  // no data segment naming the drop box

  // Unassigning and deleting an order end assignments; replace keeps them.
  EXPECT_EQ(relate(408, "BOX", 1180, "S2").rc, 0);
  EXPECT_EQ(del(382, 687, "R1").rc, 0);
  EXPECT_EQ(keys(on("BOX")), (Keys{{1180, "S1"}}));
  EXPECT_EQ(rec(add(368, 652, "BOX", {{671, "abc"}})),
            (Record{{9983, "652"}, {652, "BOX"}, {653, "S"}, {671, "abc"}, {672, "1 order assigned"}}));
  // Deleting the drop box leaves its orders.
  EXPECT_EQ(del(364, 652, "BOX").rc, 0);
  EXPECT_EQ(on("BOX")[0].error(), 30006);
  EXPECT_EQ(keys(list(402)), (Keys{{1180, "S1"}, {1180, "S2"}}));
}

}  // namespace
}  // namespace qlm::rqmgr
