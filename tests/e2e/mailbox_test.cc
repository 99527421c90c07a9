// The mailbox through the library against the real Request Manager: a round trip
// per family, the mixed shelf lists walked by entry size, the orders of a drop box
// beside the drop box list, a long list over several messages, and refusal texts as
// QlmErrorExplanation gives them. What the server stores, computes and refuses is
// tested in rqmgr/mailbox_test.cc; the wire and the readers in tests/unit.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "installation.h"
#include "qlmc32.h"

using namespace qlm::test;

namespace {

using Names = std::vector<std::string>;

template <class R>
R req() {
  return inContext<R>("Mail");
}
// The last error as QlmErrorExplanation gives it: "number message".
std::string explained() {
  QlmErrText t{};
  const QlmRc n = QlmErrorExplanation(raw(&t));
  const std::string m(t.errormessage, strnlen(t.errormessage, sizeof t.errormessage));
  return std::to_string(n) + " " + m.substr(0, m.find_last_not_of(' ') + 1);
}
QlmListQual qual(const char *sort = "", const char *order = "", const char *start = "1", const char *num = "100") {
  auto q = req<QlmListQual>();
  put(q.sortfield, sort);
  put(q.sortorder, order);
  put(q.startentry, start);
  put(q.numentries, num);
  return q;
}
QlmSmallListQual small() {
  auto q = req<QlmSmallListQual>();
  put(q.startentry, "1");
  put(q.numentries, "100");
  return q;
}
QlmRc addSend(const char *name, const char *description = "", QlmSendOrdr *out = nullptr) {
  auto r = req<QlmSendOrdrReq>();
  put(r.sendordr.name, name);
  put(r.sendordr.description, description);
  return QlmAddSendOrdr(raw(&r), raw(out));
}
QlmRc addRecv(const char *name, const char *description = "") {
  auto r = req<QlmRecvOrdrReq>();
  put(r.recvordr.name, name);
  put(r.recvordr.description, description);
  return QlmAddRecvOrdr(raw(&r), nullptr);
}
QlmRc addSendRcpt(const char *name, const char *order) {
  auto r = req<QlmSendRcptReq>();
  put(r.sendrcpt.name, name);
  put(r.sendrcpt.ordername, order);
  return QlmAddSendRcpt(raw(&r), nullptr);
}
QlmRc relate(QlmRc (*call)(char *), const char *box, const char *order) {
  auto a = req<QlmAssignReq>();
  put(a.container, box);
  put(a.member, order);
  return call(raw(&a));
}
// The entries a list call puts into an area, walked by the size of each entry's
// kind: "S:name" / "R:name".
Names walk(const std::function<QlmRc(uint16_t *, char *)> &list, QlmRc (*sizeOf)(char) = QlmSizeOfOrdr) {
  std::string area(100 * sizeof(QlmRecvRcptEntry), ' ');
  uint16_t count = 0;
  EXPECT_EQ(list(&count, area.data()), 0u);
  Names out;
  for (std::size_t i = 0, at = 0; i < count && at < area.size(); ++i, at += sizeOf(area[at]))
    out.push_back(area.substr(at, 1) + ":" + text(reinterpret_cast<const char(&)[20]>(area[at + 1])));
  return out;
}
Names orderShelf(QlmListQual q) {
  return walk([&](uint16_t *n, char *a) { return QlmListOrdrsOnOrdrShlf(raw(&q), n, a); });
}
Names ordersOnBox(const char *box) {
  char name[20];
  putField(name, 20, box);
  auto q = small();
  return walk([&](uint16_t *n, char *a) { return QlmListOrdrsOnDropBox(name, raw(&q), n, a); });
}

class MailboxE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(QlmOpenCInterface(), 0u);
    auto p = blankRecord<QlmProj>();
    put(p.projname, "Mail");
    ASSERT_EQ(QlmAddProj(raw(&p), nullptr), 0u);
    auto ctx = req<QlmContextName>();
    ASSERT_EQ(QlmOpenMbox(raw(&ctx)), 0u);
  }
  void TearDown() override { QlmCloseCInterface(); }
  Installation inst_;
};

TEST_F(MailboxE2E, OrdersReceiptsAndShelvesMakeTheRoundTrip) {
  auto out = blankRecord<QlmSendOrdr>();
  ASSERT_EQ(addSend("ORD-A", "to the agency", &out), 0u);
  EXPECT_EQ(text(out.name) + "/" + text(out.description), "ORD-A/to the agency");
  EXPECT_EQ(addSend("ORD-A"), 16u);
  EXPECT_EQ(explained(), "30007 An entry with that key already exists");
  // Replace sends its own layout; the answer comes back in the order record's.
  auto rep = req<QlmSendOrdrReplaceReq>();
  put(rep.name, "ORD-A");
  put(rep.description, "to the bank");
  put(rep.field781, "/data/out/payments.txt");
  out = blankRecord<QlmSendOrdr>();
  ASSERT_EQ(QlmReplaceSendOrdr(raw(&rep), raw(&out)), 0u);
  EXPECT_EQ(text(out.description) + "/" + text(out.field781), "to the bank//data/out/payments.txt");

  // The send receipts of one send order, related by its name.
  ASSERT_EQ(addSend("ORD-B"), 0u);
  ASSERT_EQ(addSendRcpt("S-1", "ORD-A"), 0u);
  ASSERT_EQ(addSendRcpt("S-2", "ORD-B"), 0u);
  ASSERT_EQ(addSendRcpt("S-3", "ORD-A"), 0u);
  char order[20];
  putField(order, 20, "ORD-A");
  auto sq = small();
  EXPECT_EQ(walk([&](uint16_t *n, char *a) { return QlmListSendRcptsOnSendOrdr(order, raw(&sq), n, a); },
                 QlmSizeOfRcpt),
            (Names{"S:S-1", "S:S-3"}));

  // The receipt shelf: 725- and 317-byte entries side by side.
  auto rr = req<QlmRecvRcptReq>();
  put(rr.recvrcpt.name, "R-1");
  ASSERT_EQ(QlmAddRecvRcpt(raw(&rr), nullptr), 0u);
  auto receipts = [&](uint16_t *n, char *a) { return QlmListRcptsOnRcptShlf(raw(&sq), n, a); };
  EXPECT_EQ(walk(receipts, QlmSizeOfRcpt), (Names{"R:R-1", "S:S-1", "S:S-2", "S:S-3"}));

  auto del = req<QlmOrdrDeleteReq>();
  put(del.name, "ORD-A");
  ASSERT_EQ(QlmDeleteSendOrdr(raw(&del)), 0u);
  EXPECT_EQ(QlmDeleteSendOrdr(raw(&del)), 16u);
  EXPECT_EQ(explained(), "30006 The entry does not exist");
  // Deleting the shelves empties them.
  auto shelf = req<QlmShlfReq>();
  ASSERT_EQ(QlmDeleteOrdrShlf(raw(&shelf)), 0u);
  ASSERT_EQ(QlmDeleteRcptShlf(raw(&shelf)), 0u);
  EXPECT_TRUE(orderShelf(qual()).empty());
  EXPECT_TRUE(walk(receipts, QlmSizeOfRcpt).empty());
}

TEST_F(MailboxE2E, DropBoxListAndTheOrdersOfADropBoxShareARequest) {
  auto box = req<QlmDropBoxReq>();
  for (const char *name : {"NIGHTLY", "WEEKLY"}) {
    put(box.name, name);
    ASSERT_EQ(QlmAddDropBox(raw(&box), nullptr), 0u);
  }
  ASSERT_EQ(addSend("PAY"), 0u);
  ASSERT_EQ(addSend("ADV"), 0u);
  ASSERT_EQ(addRecv("STMT"), 0u);
  ASSERT_EQ(relate(QlmAsgSendOrdrToDropBox, "NIGHTLY", "PAY"), 0u);
  ASSERT_EQ(relate(QlmAsgRecvOrdrToDropBox, "NIGHTLY", "STMT"), 0u);
  ASSERT_EQ(relate(QlmAsgSendOrdrToDropBox, "NIGHTLY", "ADV"), 0u);
  EXPECT_EQ(relate(QlmAsgSendOrdrToDropBox, "NIGHTLY", "STMT"), 16u);  // a receive order
  EXPECT_EQ(explained(), "30009 The member is not in the address book or mailbox");

  // The drop boxes (91-byte records) and the orders of one (a mixed list).
  std::vector<QlmDropBox> boxes(5, blankRecord<QlmDropBox>());
  uint16_t count = 0;
  auto q = qual("NAME", "D");
  ASSERT_EQ(QlmListDropBox(raw(&q), &count, raw(boxes.data())), 0u);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(text(boxes[0].name) + "/" + text(boxes[1].name), "WEEKLY/NIGHTLY");
  EXPECT_EQ(ordersOnBox("NIGHTLY"), (Names{"S:ADV", "S:PAY", "R:STMT"}));
  EXPECT_TRUE(ordersOnBox("WEEKLY").empty());
  ASSERT_EQ(relate(QlmUsgSendOrdrFromDropBox, "NIGHTLY", "ADV"), 0u);
  ASSERT_EQ(relate(QlmUsgRecvOrdrFromDropBox, "NIGHTLY", "STMT"), 0u);
  EXPECT_EQ(ordersOnBox("NIGHTLY"), (Names{"S:PAY"}));
}

// The order shelf walked over both entry sizes, read from several messages.
TEST_F(MailboxE2E, LongMixedListSpansSeveralMessages) {
  const std::string d(79, 'd');
  for (int i = 100; i < 140; ++i) {
    ASSERT_EQ(addSend(("S" + std::to_string(i)).c_str(), d.c_str()), 0u);
    ASSERT_EQ(addRecv(("R" + std::to_string(i)).c_str(), d.c_str()), 0u);
  }
  const Names names = orderShelf(qual());
  ASSERT_EQ(names.size(), 80u);
  EXPECT_EQ(names[0] + names[39] + names[40] + names[79], "R:R100R:R139S:S100S:S139");
  EXPECT_EQ(orderShelf(qual("", "", "39", "4")), (Names{"R:R138", "R:R139", "S:S100", "S:S101"}));
}

}  // namespace
