// The mailbox requests: orders, receipts, the shelves with their mixed lists, and
// drop boxes with their orders, driven through Service::handle as the ICC layer
// drives it.
#include <gtest/gtest.h>

#include <fstream>

#include "service.h"
#include "test_support.h"

namespace qlm::rqmgr {
namespace {

using test::Msg;
using test::Req;

constexpr int kA = 1;

class MailboxService : public ::testing::Test {
 protected:
  MailboxService() : store_(dir_.path() + "/q.db", 50) {
    std::ofstream(dir_.path() + "/errortxt.fil") << "30009-M The member is not in the address book or mailbox\n";
    texts_.load(dir_.path() + "/errortxt.fil");
    Msg p = one(Req(254).item(104, "10000").end().seg(451).item(451, "P1").end());
    project_ = p.handle;
    Msg m = one(Req(350).item(101, project_).item(104, "10000").end());
    EXPECT_EQ(m.rc, 0);
    mbox_ = m.handle;
  }

  std::vector<Msg> send(const Req &r) {
    const Bytes b = r.bytes();
    Answer a = service_.handle(kA, b.data(), b.size());
    std::vector<Msg> out;
    for (const Bytes &m : a.messages) {
      EXPECT_LE(m.size(), 3072u);
      out.push_back(test::read(m));
    }
    return out;
  }
  Msg one(const Req &r) {
    auto v = send(r);
    EXPECT_EQ(v.size(), 1u);
    return v.empty() ? Msg{} : v.front();
  }
  // A mailbox request header: identifier, handle, return-record flag.
  Req mreq(int id, bool want = true) {
    Req r(id);
    r.item(102, mbox_).item(104, want ? "10001" : "10000");
    return r;
  }
  // Adds an entry of segment type `type` with the key and the further items.
  Msg add(int id, int type, const std::string &key, std::initializer_list<std::pair<std::uint16_t, std::string>> items = {}) {
    Req r = mreq(id);
    r.end().seg(type).item(static_cast<std::uint16_t>(type), key);
    for (const auto &[n, v] : items) r.item(n, v);
    return one(r.end());
  }
  Msg relate(int id, const std::string &box, int memberType, const std::string &member) {
    return one(mreq(id, false).item(134, "652").item(133, box).end().seg(memberType)
                   .item(static_cast<std::uint16_t>(memberType), member).end());
  }
  // A list request's messages: its header items (paging 1 and 100 unless given).
  std::vector<Msg> list(int id, std::initializer_list<std::pair<std::uint16_t, std::string>> header = {}) {
    Req r(id);
    r.item(102, mbox_).item(104, "10001");
    bool paged = false;
    for (const auto &[n, v] : header) {
      r.item(n, v);
      paged = paged || n == 131 || n == 132;
    }
    if (!paged) r.item(131, "1").item(132, "100");
    return send(r.end());
  }
  // The (segment type, key) pairs of a one-message list.
  static std::vector<std::pair<long, std::string>> keys(const std::vector<Msg> &msgs) {
    std::vector<std::pair<long, std::string>> out;
    for (const Msg &m : msgs)
      for (const Msg::Seg &s : m.segs) out.emplace_back(s.type, s.items.count(static_cast<std::uint16_t>(s.type))
                                                                     ? s.items.at(static_cast<std::uint16_t>(s.type))
                                                                     : "?");
    return out;
  }

  test::TempDir dir_;
  Store store_;
  ErrorTexts texts_;
  Service service_{store_, texts_, "errortxt.fil", [](const std::string &) {}};
  std::string project_, mbox_;
};

using Keys = std::vector<std::pair<long, std::string>>;

TEST_F(MailboxService, OrdersAreAddedReplacedListedAndDeletedPerKind) {
  Msg s = add(398, 1180, "ORD1", {{1181, "first"}, {773, "MBX1"}, {787, "not a field"}, {653, "x"}});
  ASSERT_EQ(s.rc, 0);
  ASSERT_EQ(s.segs.size(), 1u);
  EXPECT_EQ(s.segs[0].type, 1180);
  EXPECT_EQ(s.segs[0].items, (std::map<std::uint16_t, std::string>{{1180, "ORD1"}, {1181, "first"}, {773, "MBX1"}}));
  EXPECT_EQ(add(398, 1180, "ORD1").error(), 30007);
  EXPECT_EQ(add(398, 1180, "").error(), 30008);
  // The same name as a receive order is another entry; a value is cut at its width.
  Msg r = add(380, 687, "ORD1", {{698, std::string(70, 'f')}, {714, "AB"}});
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(r.segs[0].type, 687);
  EXPECT_EQ(r.segs[0].items.at(698), std::string(65, 'f'));
  EXPECT_EQ(r.segs[0].items.at(714), "AB");
  ASSERT_EQ(add(398, 1180, "ORD2", {{1181, "second"}, {780, "B"}}).rc, 0);
  ASSERT_EQ(add(398, 1180, "ORD3", {{1181, "third"}, {780, "A"}}).rc, 0);

  // Replace sets what it carries and blanks the rest; the key must exist.
  Msg rep = one(mreq(406).end().seg(1180).item(1180, "ORD1").item(780, "C").item(1181, "changed").end());
  ASSERT_EQ(rep.rc, 0);
  EXPECT_EQ(rep.segs[0].items, (std::map<std::uint16_t, std::string>{{1180, "ORD1"}, {1181, "changed"}, {780, "C"}}));
  EXPECT_EQ(one(mreq(406, false).end().seg(1180).item(1180, "NONE").end()).error(), 30006);
  EXPECT_EQ(one(mreq(388, false).end().seg(687).item(687, "ORD2").end()).error(), 30006);  // a send order only
  EXPECT_TRUE(one(mreq(388, false).end().seg(687).item(687, "ORD1").end()).segs.empty());

  // Lists: one kind each, by class descending, selection by class.
  EXPECT_EQ(keys(list(402, {{130, "780"}, {129, "10018"}})), (Keys{{1180, "ORD1"}, {1180, "ORD2"}, {1180, "ORD3"}}));
  EXPECT_EQ(keys(list(402, {{128, "780"}, {126, "B"}, {127, "10012"}})), (Keys{{1180, "ORD3"}}));
  EXPECT_EQ(keys(list(384)), (Keys{{687, "ORD1"}}));
  EXPECT_EQ(list(384)[0].segs[0].items.count(698), 0u);  // replaced: fileid blanked
  EXPECT_EQ(list(402, {{128, "698"}})[0].error(), 30015);   // fileid is no send order field
  EXPECT_EQ(list(384, {{128, "698"}, {126, "x"}})[0].rc, 0);

  // Delete: the entry of that kind goes, the other stays.
  EXPECT_EQ(one(mreq(400, false).end().seg(1180).item(1180, "ORD1").end()).rc, 0);
  EXPECT_EQ(one(mreq(400, false).end().seg(1180).item(1180, "ORD1").end()).error(), 30006);
  EXPECT_EQ(keys(list(384)), (Keys{{687, "ORD1"}}));
  EXPECT_EQ(one(mreq(382, false).end().seg(687).item(687, "ORD1").end()).rc, 0);

  // Mailbox requests need the mailbox handle; the project counts the entries.
  EXPECT_EQ(one(Req(402).item(102, project_).item(131, "1").item(132, "9").end()).error(), 30003);
  Msg info = one(Req(262).item(102, project_).item(104, "10001").end().seg(451).item(451, "P1").end());
  EXPECT_EQ(info.segs[0].items.at(463), "0 address book entries, 2 mailbox entries");
}

TEST_F(MailboxService, ReceiptsCarryTheirReadersFieldsAndNameTheirOrder) {
  ASSERT_EQ(add(398, 1180, "SO1").rc, 0);
  ASSERT_EQ(add(398, 1180, "SO2").rc, 0);
  // A send receipt without a start date gets the time of the add.
  Msg a = add(410, 1802, "SR1", {{1806, "SO1"}, {9969, "shared"}});
  ASSERT_EQ(a.rc, 0);
  EXPECT_EQ(a.segs[0].type, 1802);
  EXPECT_EQ(a.segs[0].items.at(1804).size(), 14u);
  EXPECT_EQ(a.segs[0].items.at(9969), "shared");
  ASSERT_EQ(add(410, 1802, "SR2", {{1806, "SO2"}, {1804, "20240102030405"}}).rc, 0);
  ASSERT_EQ(add(410, 1802, "SR3", {{1806, "SO1"}, {1804, "20230102030405"}}).rc, 0);
  EXPECT_EQ(add(410, 1802, "SR3").error(), 30007);
  // A receive receipt: its add answer carries 754 and 770, its lists do not.
  Msg rr = add(392, 721, "RR1", {{754, "ADDONLY"}, {770, "XY"}, {725, "RO1"}, {723, "20220101000000"}});
  ASSERT_EQ(rr.rc, 0);
  EXPECT_EQ(rr.segs[0].items.at(754), "ADDONLY");
  EXPECT_EQ(rr.segs[0].items.at(770), "XY");
  auto rl = list(394);
  ASSERT_EQ(rl[0].segs.size(), 1u);
  EXPECT_EQ(rl[0].segs[0].items.count(754) + rl[0].segs[0].items.count(770), 0u);
  EXPECT_EQ(rl[0].segs[0].items.at(725), "RO1");

  // By start date; the receipts of one send order (relation 1180) name it.
  EXPECT_EQ(keys(list(412, {{130, "1804"}})), (Keys{{1802, "SR3"}, {1802, "SR2"}, {1802, "SR1"}}));
  EXPECT_EQ(keys(list(412, {{134, "1180"}, {133, "SO1"}})), (Keys{{1802, "SR1"}, {1802, "SR3"}}));
  EXPECT_EQ(keys(list(412, {{134, "1180"}, {133, "SO2"}})), (Keys{{1802, "SR2"}}));
  EXPECT_EQ(list(412, {{134, "1180"}, {133, "NOPE"}})[0].error(), 30006);
  EXPECT_EQ(list(412, {{134, "1180"}, {133, "  "}})[0].error(), 30008);
  EXPECT_EQ(list(412, {{134, "687"}, {133, "SO1"}})[0].error(), 30001);

  // The receipt shelf: both kinds side by side, by name; the readers' fields only.
  auto shelf = list(356, {{134, "10001"}});
  EXPECT_EQ(keys(shelf), (Keys{{721, "RR1"}, {1802, "SR1"}, {1802, "SR2"}, {1802, "SR3"}}));
  EXPECT_EQ(shelf[0].segs[0].items.count(754), 0u);
  EXPECT_EQ(keys(list(356, {{134, "10001"}, {131, "2"}, {132, "2"}})), (Keys{{1802, "SR1"}, {1802, "SR2"}}));

  // Deleting the order shelf leaves the receipts; deleting the receipt shelf empties it.
  EXPECT_EQ(one(mreq(358, false).item(134, "10001").end().seg(650).item(650, "$Default$").end()).rc, 0);
  EXPECT_EQ(keys(list(356, {{134, "10001"}})).size(), 4u);
  EXPECT_EQ(one(mreq(360, false).item(134, "10001").end().seg(651).item(651, "Other").end()).error(), 30006);
  EXPECT_EQ(one(mreq(360, false).item(134, "10001").end().seg(651).item(651, " ").end()).error(), 30008);
  EXPECT_EQ(one(mreq(360, false).item(134, "10001").end().seg(651).item(651, "$Default$").end()).rc, 0);
  EXPECT_TRUE(list(356, {{134, "10001"}})[0].segs.empty());
  EXPECT_TRUE(list(412)[0].segs.empty());
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
  // 9981 is each kind's description (blank first), 9982 its name.
  EXPECT_EQ(keys(list(354, {{134, "10001"}, {130, "9981"}})),
            (Keys{{687, "D-recv"}, {1180, "C-send"}, {687, "A-recv"}, {1180, "B-send"}}));
  EXPECT_EQ(keys(list(354, {{134, "10001"}, {128, "9982"}, {127, "10015"}, {126, "C"}, {129, "10018"}})),
            (Keys{{687, "D-recv"}, {1180, "C-send"}}));
  EXPECT_EQ(list(354, {{134, "10001"}, {128, "1181"}, {126, "x"}})[0].error(), 30015);
  // The same list without item 134 is the same request.
  EXPECT_EQ(keys(list(354)).size(), 4u);

  // Deleting the shelf deletes every order and ends their assignments; the drop box stays.
  EXPECT_EQ(one(mreq(358, false).item(134, "10001").end().seg(650).item(650, "$Default$").end()).rc, 0);
  EXPECT_TRUE(list(354, {{134, "10001"}})[0].segs.empty());
  EXPECT_TRUE(list(402)[0].segs.empty() && list(384)[0].segs.empty());
  auto boxes = list(366);
  ASSERT_EQ(boxes[0].segs.size(), 1u);
  EXPECT_EQ(boxes[0].segs[0].items.at(672), "0 orders assigned");
  // An empty shelf can be deleted again.
  EXPECT_EQ(one(mreq(358, false).item(134, "10001").end().seg(650).item(650, "$Default$").end()).rc, 0);
}

TEST_F(MailboxService, DropBoxesHoldOrdersOfBothKinds) {
  Msg box = add(362, 652, "BOX", {{654, "ten chars."}, {653, "Z"}, {672, "not mine"}});
  ASSERT_EQ(box.rc, 0);
  EXPECT_EQ(box.segs[0].items,
            (std::map<std::uint16_t, std::string>{{652, "BOX"}, {653, "N"}, {654, "ten chars."}, {672, "0 orders assigned"}}));
  ASSERT_EQ(add(362, 652, "EMPTY").rc, 0);
  ASSERT_EQ(add(398, 1180, "S1").rc, 0);
  ASSERT_EQ(add(398, 1180, "S2").rc, 0);
  ASSERT_EQ(add(380, 687, "R1").rc, 0);

  EXPECT_EQ(relate(404, "BOX", 1180, "S2").rc, 0);
  EXPECT_EQ(relate(404, "BOX", 1180, "S1").rc, 0);
  EXPECT_EQ(relate(386, "BOX", 687, "R1").rc, 0);
  EXPECT_EQ(relate(404, "BOX", 1180, "S1").error(), 30010);
  EXPECT_EQ(relate(404, "BOX", 1180, "R1").error(), 30009);  // a receive order, sent as a send order
  Msg noMember = relate(386, "BOX", 687, "GONE");
  EXPECT_EQ(noMember.error(), 30009);
  EXPECT_EQ(noMember.segs[0].items.at(41), "The member is not in the address book or mailbox");
  EXPECT_EQ(relate(404, "NOBOX", 1180, "S1").error(), 30006);
  EXPECT_EQ(relate(408, "EMPTY", 1180, "S1").error(), 30011);

  // The drop box list computes 653 and 672; the orders of a drop box are a mixed list.
  auto boxes = list(366, {{130, "652"}, {129, "10018"}});
  ASSERT_EQ(boxes[0].segs.size(), 2u);
  EXPECT_EQ(boxes[0].segs[1].items.at(652), "BOX");
  EXPECT_EQ(boxes[0].segs[1].items.at(653), "B");
  EXPECT_EQ(boxes[0].segs[1].items.at(672), "3 orders assigned");
  EXPECT_EQ(boxes[0].segs[0].items.at(653), "N");
  auto on = [&](const std::string &name) {
    Req r(366);
    r.item(102, mbox_).item(134, "10001").item(104, "10001").item(131, "1").item(132, "50").end();
    r.seg(652).item(652, name).end();
    return send(r);
  };
  EXPECT_EQ(keys(on("BOX")), (Keys{{687, "R1"}, {1180, "S1"}, {1180, "S2"}}));
  EXPECT_TRUE(on("EMPTY")[0].segs.empty());
  EXPECT_EQ(on("NOBOX")[0].error(), 30006);
  EXPECT_EQ(on("")[0].error(), 30008);
  EXPECT_EQ(list(366, {{134, "10001"}})[0].error(), 30001);  // no data segment naming the drop box

  // Unassigning, and deleting an order, end assignments.
  EXPECT_EQ(relate(408, "BOX", 1180, "S2").rc, 0);
  EXPECT_EQ(one(mreq(382, false).end().seg(687).item(687, "R1").end()).rc, 0);
  EXPECT_EQ(keys(on("BOX")), (Keys{{1180, "S1"}}));
  Msg rep = one(mreq(368).end().seg(652).item(652, "BOX").item(671, "abc").end());
  EXPECT_EQ(rep.segs[0].items,
            (std::map<std::uint16_t, std::string>{{652, "BOX"}, {653, "S"}, {671, "abc"}, {672, "1 order assigned"}}));
  // Deleting the drop box leaves its orders.
  EXPECT_EQ(one(mreq(364, false).end().seg(652).item(652, "BOX").end()).rc, 0);
  EXPECT_EQ(on("BOX")[0].error(), 30006);
  EXPECT_EQ(keys(list(402)), (Keys{{1180, "S1"}, {1180, "S2"}}));
}

TEST_F(MailboxService, LongMixedListSpansMessages) {
  for (int i = 0; i < 30; ++i) {
    const std::string n = std::to_string(100 + i);
    ASSERT_EQ(add(398, 1180, "S" + n, {{1181, std::string(79, 'd')}, {790, std::string(79, 'e')}}).rc, 0);
    ASSERT_EQ(add(380, 687, "R" + n, {{688, std::string(79, 'd')}, {698, std::string(65, 'f')}}).rc, 0);
  }
  auto all = list(354, {{134, "10001"}, {131, "1"}, {132, "65535"}});
  ASSERT_GT(all.size(), 2u);
  std::size_t n = 0;
  for (std::size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(all[i].responseId, 355);
    EXPECT_EQ(all[i].more, i + 1 < all.size());
    n += all[i].segs.size();
  }
  EXPECT_EQ(n, 60u);
  // Paging over the two kinds: entries 29-32 by name, receive orders first.
  EXPECT_EQ(keys(list(354, {{134, "10001"}, {131, "29"}, {132, "4"}})),
            (Keys{{687, "R128"}, {687, "R129"}, {1180, "S100"}, {1180, "S101"}}));
}

}  // namespace
}  // namespace qlm::rqmgr
