// The mailbox families against the real Request Manager: send and receive
// orders, receipts, the shelves with their mixed lists, and drop boxes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "installation.h"
#include "qlmc32.h"

using namespace qlm::test;

namespace {

constexpr const char *kProject = "Mail";

// The last error as QlmErrorExplanation explains it: its number and message.
struct Explained {
  unsigned number;
  std::string message;
};
Explained explained() {
  QlmErrText t;
  std::memset(&t, 0, sizeof t);
  const QlmRc n = QlmErrorExplanation(raw(&t));
  std::string m(t.errormessage, strnlen(t.errormessage, sizeof t.errormessage));
  return {n, m.substr(0, m.find_last_not_of(' ') + 1)};
}

// One entry of a mixed list: its type character and name.
std::string entry(const char *at) { return std::string(1, at[0]) + ":" + text(reinterpret_cast<const char(&)[20]>(at[1])); }

class MailboxE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(QlmOpenCInterface(), 0u);
    QlmProj p;
    blank(p);
    put(p.projname, kProject);
    ASSERT_EQ(QlmAddProj(raw(&p), nullptr), 0u);
    blank(ctx_);
    put(ctx_.context, kProject);
    ASSERT_EQ(QlmOpenMbox(raw(&ctx_)), 0u);
  }
  void TearDown() override { QlmCloseCInterface(); }

  QlmRc addSend(const char *name, const char *description = "", const char *cls = "", const char *mailbox = "",
                QlmSendOrdr *out = nullptr) {
    QlmSendOrdrReq r;
    blank(r);
    put(r.context, kProject);
    put(r.sendordr.name, name);
    put(r.sendordr.description, description);
    put(r.sendordr.class_, cls);
    put(r.sendordr.mailboxid, mailbox);
    return QlmAddSendOrdr(raw(&r), out ? raw(out) : nullptr);
  }
  QlmRc addRecv(const char *name, const char *description = "", const char *fileid = "", QlmRecvOrdr *out = nullptr) {
    QlmRecvOrdrReq r;
    blank(r);
    put(r.context, kProject);
    put(r.recvordr.name, name);
    put(r.recvordr.description, description);
    put(r.recvordr.fileid, fileid);
    return QlmAddRecvOrdr(raw(&r), out ? raw(out) : nullptr);
  }
  QlmRc addSendRcpt(const char *name, const char *order, const char *start, QlmSendRcpt *out = nullptr) {
    QlmSendRcptReq r;
    blank(r);
    put(r.context, kProject);
    put(r.sendrcpt.name, name);
    put(r.sendrcpt.ordername, order);
    put(r.sendrcpt.startdate, start);
    return QlmAddSendRcpt(raw(&r), out ? raw(out) : nullptr);
  }
  QlmRc addDropBox(const char *name, const char *field654 = "", QlmDropBox *out = nullptr) {
    QlmDropBoxReq r;
    blank(r);
    put(r.context, kProject);
    put(r.name, name);
    put(r.field654, field654);
    return QlmAddDropBox(raw(&r), out ? raw(out) : nullptr);
  }
  QlmAssignReq relation(const char *box, const char *order) {
    QlmAssignReq a;
    blank(a);
    put(a.context, kProject);
    put(a.container, box);
    put(a.member, order);
    return a;
  }
  QlmListQual qual(const char *select = "", const char *op = "", const char *value = "", const char *sort = "",
                   const char *order = "", const char *start = "1", const char *num = "100") {
    QlmListQual q;
    blank(q);
    put(q.context, kProject);
    put(q.selectfield, select);
    put(q.operator_, op);
    put(q.selectvalue, value);
    put(q.sortfield, sort);
    put(q.sortorder, order);
    put(q.startentry, start);
    put(q.numentries, num);
    return q;
  }
  QlmSmallListQual small(const char *start = "1", const char *num = "100") {
    QlmSmallListQual q;
    blank(q);
    put(q.context, kProject);
    put(q.startentry, start);
    put(q.numentries, num);
    return q;
  }
  // Walks a mixed list by the size of each entry's kind: "S:name" / "R:name".
  static std::vector<std::string> walk(const std::vector<char> &area, uint16_t count, QlmRc (*sizeOf)(char)) {
    std::vector<std::string> out;
    std::size_t at = 0;
    for (uint16_t i = 0; i < count; ++i) {
      out.push_back(entry(area.data() + at));
      const QlmRc size = sizeOf(area[at]);
      if (size == QLM_SIZE_UNKNOWN) break;
      at += size;
    }
    return out;
  }
  std::vector<std::string> orderShelf(QlmListQual q, uint16_t *countOut = nullptr) {
    std::vector<char> area(100 * sizeof(QlmSendOrdrEntry), ' ');
    uint16_t count = 0;
    EXPECT_EQ(QlmListOrdrsOnOrdrShlf(raw(&q), &count, area.data()), 0u);
    if (countOut) *countOut = count;
    return walk(area, count, QlmSizeOfOrdr);
  }
  std::vector<std::string> ordersOnBox(const char *box) {
    char name[20];
    putField(name, 20, box);
    QlmSmallListQual q = small();
    std::vector<char> area(100 * sizeof(QlmSendOrdrEntry), ' ');
    uint16_t count = 0;
    EXPECT_EQ(QlmListOrdrsOnDropBox(name, raw(&q), &count, area.data()), 0u);
    return walk(area, count, QlmSizeOfOrdr);
  }

  Installation inst_;
  QlmContextName ctx_;
};

using Names = std::vector<std::string>;

TEST_F(MailboxE2E, OrdersAreAddedReplacedListedAndDeleted) {
  QlmSendOrdr out;
  blank(out);
  std::memset(out.reserved, 'x', sizeof out.reserved);
  ASSERT_EQ(addSend("ORD-B", "to the bank", "PAY", "BANK01", &out), 0u);
  EXPECT_EQ(text(out.name), "ORD-B");
  EXPECT_EQ(text(out.description), "to the bank");
  EXPECT_EQ(text(out.mailboxid), "BANK01");
  EXPECT_EQ(std::string(out.reserved, sizeof out.reserved), std::string(20, 'x'));
  ASSERT_EQ(addSend("ORD-A", "to the agency", "ADV", "AGENCY"), 0u);
  ASSERT_EQ(addSend("ORD-C", "to the customer", "INV", "BANK02"), 0u);
  EXPECT_EQ(addSend("ORD-A"), 8u);
  Explained dup = explained();
  EXPECT_EQ(dup.number, 30007u);
  EXPECT_EQ(dup.message, "An entry with that key already exists");

  // Replace reads its own layout (description at 342, field781 at 40) and
  // answers in the order record's layout (description at 20, field781 at 175).
  QlmSendOrdrReplaceReq rep;
  blank(rep);
  put(rep.context, kProject);
  put(rep.name, "ORD-B");
  put(rep.description, "to the other bank");
  put(rep.field781, "/data/out/payments.txt");
  put(rep.class_, "PAY");
  put(rep.mailboxid, "BANK09");
  blank(out);
  ASSERT_EQ(QlmReplaceSendOrdr(raw(&rep), raw(&out)), 0u);
  EXPECT_EQ(text(out.description), "to the other bank");
  EXPECT_EQ(text(out.field781), "/data/out/payments.txt");
  EXPECT_EQ(text(out.mailboxid), "BANK09");

  // Receive orders: the same for their layouts (fileid at 40 and field695 at 345
  // in the replace request; at 175 and 146 in the record).
  ASSERT_EQ(addRecv("IN-1", "statements", "/data/in/statements"), 0u);
  ASSERT_EQ(addRecv("IN-2", "invoices", "/data/in/invoices"), 0u);
  QlmRecvOrdrReplaceReq rrep;
  blank(rrep);
  put(rrep.context, kProject);
  put(rrep.name, "IN-1");
  put(rrep.fileid, "/data/in/bank");
  put(rrep.field695, "twenty characters...");
  put(rrep.description, "bank statements");
  QlmRecvOrdr rout;
  blank(rout);
  ASSERT_EQ(QlmReplaceRecvOrdr(raw(&rrep), raw(&rout)), 0u);
  EXPECT_EQ(text(rout.fileid), "/data/in/bank");
  EXPECT_EQ(text(rout.field695), "twenty characters...");
  EXPECT_EQ(text(rout.description), "bank statements");
  put(rrep.name, "IN-9");
  EXPECT_EQ(QlmReplaceRecvOrdr(raw(&rrep), nullptr), 8u);
  EXPECT_EQ(explained().number, 30006u);

  // Lists with keywords: by class descending, selection by mailbox, paging.
  std::vector<QlmSendOrdrEntry> s(10);
  uint16_t count = 0;
  auto sendNames = [&](QlmListQual q) {
    blankRecord(raw(s.data()), static_cast<int>(s.size() * sizeof(QlmSendOrdrEntry)));
    EXPECT_EQ(QlmListSendOrdr(raw(&q), &count, raw(s.data())), 0u);
    Names n;
    for (int i = 0; i < count; ++i) n.push_back(std::string(1, s[i].entrytype) + ":" + text(s[i].sendordr.name));
    return n;
  };
  EXPECT_EQ(sendNames(qual("", "", "", "class", "D")), (Names{"S:ORD-B", "S:ORD-C", "S:ORD-A"}));
  EXPECT_EQ(sendNames(qual("MailboxId", ">=", "BANK")), (Names{"S:ORD-B", "S:ORD-C"}));
  EXPECT_EQ(sendNames(qual("", "", "", "name", "A", "2", "1")), (Names{"S:ORD-B"}));
  EXPECT_EQ(text(s[0].sendordr.description), "to the other bank");
  QlmListQual q = qual("fileid", "=", "/data/in/bank");
  EXPECT_EQ(QlmListSendOrdr(raw(&q), &count, nullptr), 8u);  // no send order keyword
  EXPECT_EQ(explained().number, static_cast<unsigned>(QLM_ERR_BAD_SELECTFIELD));
  std::vector<QlmRecvOrdrEntry> r(10);
  blankRecord(raw(r.data()), static_cast<int>(r.size() * sizeof(QlmRecvOrdrEntry)));
  ASSERT_EQ(QlmListRecvOrdr(raw(&q), &count, raw(r.data())), 0u);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(r[0].entrytype, 'R');
  EXPECT_EQ(text(r[0].recvordr.name), "IN-1");
  EXPECT_EQ(text(r[0].recvordr.field695), "twenty characters...");

  // Delete: once; the second time the server refuses with its texts.
  QlmOrdrDeleteReq del;
  blank(del);
  put(del.context, kProject);
  put(del.name, "ORD-A");
  ASSERT_EQ(QlmDeleteSendOrdr(raw(&del)), 0u);
  EXPECT_EQ(QlmDeleteSendOrdr(raw(&del)), 8u);
  Explained gone = explained();
  EXPECT_EQ(gone.number, 30006u);
  EXPECT_EQ(gone.message, "The entry does not exist");
  EXPECT_EQ(sendNames(qual()), (Names{"S:ORD-B", "S:ORD-C"}));

  // Without an open mailbox nothing is sent.
  ASSERT_EQ(QlmCloseMbox(raw(&ctx_)), 0u);
  EXPECT_EQ(addSend("ORD-D"), 8u);
  EXPECT_EQ(explained().number, static_cast<unsigned>(QLM_ERR_MBOX_NOT_OPEN));
}

TEST_F(MailboxE2E, OrderShelfIsAMixedListOfBothKinds) {
  ASSERT_EQ(addSend("B", "beta"), 0u);
  ASSERT_EQ(addRecv("A", "alpha", "/in/a"), 0u);
  ASSERT_EQ(addSend("C", ""), 0u);
  ASSERT_EQ(addRecv("D", "delta"), 0u);

  // Entries lie back to back at their own sizes; what follows stays untouched,
  // and each entry is blanked before it is filled.
  std::vector<char> area(4 * sizeof(QlmSendOrdrEntry), 'Z');
  uint16_t count = 0;
  QlmListQual q = qual("", "", "", "", "", "1", "3");
  ASSERT_EQ(QlmListOrdrsOnOrdrShlf(raw(&q), &count, area.data()), 0u);
  ASSERT_EQ(count, 3);
  EXPECT_EQ(walk(area, count, QlmSizeOfOrdr), (Names{"R:A", "S:B", "S:C"}));
  const auto *a = reinterpret_cast<const QlmRecvOrdrEntry *>(area.data());
  const auto *b = reinterpret_cast<const QlmSendOrdrEntry *>(area.data() + 348);
  EXPECT_EQ(text(a->recvordr.fileid), "/in/a");
  EXPECT_EQ(std::string(a->recvordr.reserved, 20), std::string(20, ' '));
  EXPECT_EQ(text(b->sendordr.description), "beta");
  EXPECT_EQ(std::string(b->sendordr.class_, 8), std::string(8, ' '));
  EXPECT_EQ(area[348 + 500 + 500], 'Z');  // the end of the three entries

  // The shelf's own keywords: description (blank first) and name.
  EXPECT_EQ(orderShelf(qual("", "", "", "Description")), (Names{"S:C", "R:A", "S:B", "R:D"}));
  EXPECT_EQ(orderShelf(qual("name", ">", "B", "name", "D")), (Names{"R:D", "S:C"}));
  EXPECT_EQ(orderShelf(qual("", "", "", "", "", "4", "5")), (Names{"R:D"}));
  q = qual("mailboxid");
  EXPECT_EQ(QlmListOrdrsOnOrdrShlf(raw(&q), &count, nullptr), 8u);
  EXPECT_EQ(explained().number, static_cast<unsigned>(QLM_ERR_BAD_SELECTFIELD));

  // Deleting the shelf deletes every order of the mailbox.
  QlmShlfReq shelf;
  blank(shelf);
  put(shelf.context, kProject);
  ASSERT_EQ(QlmDeleteOrdrShlf(raw(&shelf)), 0u);
  uint16_t n = 99;
  EXPECT_TRUE(orderShelf(qual(), &n).empty());
  EXPECT_EQ(n, 0);
  ASSERT_EQ(addSend("B"), 0u);  // the names are free again
}

TEST_F(MailboxE2E, ReceiptsAreListedByKindPerOrderAndOnTheReceiptShelf) {
  ASSERT_EQ(addSend("PAY"), 0u);
  ASSERT_EQ(addSend("ADV"), 0u);
  QlmSendRcpt sout;
  blank(sout);
  ASSERT_EQ(addSendRcpt("S-1", "PAY", "", &sout), 0u);
  EXPECT_EQ(text(sout.ordername), "PAY");
  EXPECT_EQ(text(sout.startdate).size(), 14u) << "the server's time of the add";
  ASSERT_EQ(addSendRcpt("S-2", "ADV", "20020301120000"), 0u);
  ASSERT_EQ(addSendRcpt("S-3", "PAY", "20010201120000"), 0u);

  QlmRecvRcptReq rr;
  blank(rr);
  put(rr.context, kProject);
  put(rr.recvrcpt.name, "R-1");
  put(rr.recvrcpt.ordername, "IN");
  put(rr.recvrcpt.field754, "F754");
  put(rr.recvrcpt.field770, "77");
  put(rr.recvrcpt.fileid, "/in/r1");
  QlmRecvRcpt rout;
  blank(rout);
  ASSERT_EQ(QlmAddRecvRcpt(raw(&rr), raw(&rout)), 0u);
  EXPECT_EQ(text(rout.field754), "F754");  // the add answer carries them
  EXPECT_EQ(text(rout.field770), "77");

  // Send receipts by start date, and those of one send order.
  std::vector<QlmSendRcptEntry> s(10);
  blankRecord(raw(s.data()), static_cast<int>(s.size() * sizeof(QlmSendRcptEntry)));
  uint16_t count = 0;
  auto names = [&](uint16_t n) {
    Names out;
    for (int i = 0; i < n; ++i) out.push_back(std::string(1, s[i].entrytype) + ":" + text(s[i].sendrcpt.name));
    return out;
  };
  QlmListQual q = qual("", "", "", "startdate", "A");
  ASSERT_EQ(QlmListSendRcpt(raw(&q), &count, raw(s.data())), 0u);
  EXPECT_EQ(names(count), (Names{"S:S-3", "S:S-2", "S:S-1"}));
  q = qual("ordername", "=", "ADV");
  ASSERT_EQ(QlmListSendRcpt(raw(&q), &count, raw(s.data())), 0u);
  EXPECT_EQ(names(count), (Names{"S:S-2"}));
  char order[20];
  putField(order, 20, "PAY");
  QlmSmallListQual sq = small();
  ASSERT_EQ(QlmListSendRcptsOnSendOrdr(order, raw(&sq), &count, raw(s.data())), 0u);
  EXPECT_EQ(names(count), (Names{"S:S-1", "S:S-3"}));
  putField(order, 20, "NONE");
  EXPECT_EQ(QlmListSendRcptsOnSendOrdr(order, raw(&sq), &count, raw(s.data())), 8u);
  EXPECT_EQ(explained().number, 30006u);

  // Receive receipts: a list never fills field754 and field770.
  std::vector<QlmRecvRcptEntry> r(4);
  std::memset(r.data(), 'Z', r.size() * sizeof(QlmRecvRcptEntry));
  q = qual("fileid", "=", "/in/r1");
  ASSERT_EQ(QlmListRecvRcpt(raw(&q), &count, raw(r.data())), 0u);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(std::string(r[0].recvrcpt.ordername, 3), "INZ");  // a single-kind list fills over the area
  EXPECT_EQ(std::string(r[0].recvrcpt.field754, 8), std::string(8, 'Z'));

  // The receipt shelf: 725- and 317-byte entries side by side, the reader's
  // blanked fields where the list carries nothing.
  std::vector<char> area(10 * sizeof(QlmRecvRcptEntry), 'Z');
  sq = small();
  ASSERT_EQ(QlmListRcptsOnRcptShlf(raw(&sq), &count, area.data()), 0u);
  EXPECT_EQ(walk(area, count, QlmSizeOfRcpt), (Names{"R:R-1", "S:S-1", "S:S-2", "S:S-3"}));
  const auto *first = reinterpret_cast<const QlmRecvRcptEntry *>(area.data());
  EXPECT_EQ(std::string(first->recvrcpt.field754, 8), std::string(8, ' '));
  EXPECT_EQ(std::string(first->recvrcpt.field770, 2), "  ");
  const auto *second = reinterpret_cast<const QlmSendRcptEntry *>(area.data() + 725);
  EXPECT_EQ(text(second->sendrcpt.ordername), "PAY");
  EXPECT_EQ(area[725 + 3 * 317], 'Z');

  // Deleting the order shelf leaves the receipts; deleting the receipt shelf empties it.
  QlmShlfReq shelf;
  blank(shelf);
  put(shelf.context, kProject);
  ASSERT_EQ(QlmDeleteOrdrShlf(raw(&shelf)), 0u);
  ASSERT_EQ(QlmListRcptsOnRcptShlf(raw(&sq), &count, nullptr), 0u);
  EXPECT_EQ(count, 4);
  ASSERT_EQ(QlmDeleteRcptShlf(raw(&shelf)), 0u);
  ASSERT_EQ(QlmListRcptsOnRcptShlf(raw(&sq), &count, nullptr), 0u);
  EXPECT_EQ(count, 0);
}

TEST_F(MailboxE2E, DropBoxesHoldOrdersOfBothKinds) {
  QlmDropBox out;
  blank(out);
  std::memset(out.reserved, 'x', sizeof out.reserved);
  ASSERT_EQ(addDropBox("NIGHTLY", "2200", &out), 0u);
  EXPECT_EQ(text(out.field654), "2200");
  EXPECT_EQ(text(out.field653), "N");
  EXPECT_EQ(text(out.field672), "0 orders assigned");
  EXPECT_EQ(std::string(out.reserved, 2), "xx");
  ASSERT_EQ(addDropBox("WEEKLY"), 0u);
  ASSERT_EQ(addSend("PAY"), 0u);
  ASSERT_EQ(addSend("ADV"), 0u);
  ASSERT_EQ(addRecv("STMT"), 0u);

  QlmAssignReq a = relation("NIGHTLY", "PAY");
  ASSERT_EQ(QlmAsgSendOrdrToDropBox(raw(&a)), 0u);
  EXPECT_EQ(QlmAsgSendOrdrToDropBox(raw(&a)), 8u);
  EXPECT_EQ(explained().number, 30010u);
  a = relation("NIGHTLY", "STMT");
  ASSERT_EQ(QlmAsgRecvOrdrToDropBox(raw(&a)), 0u);
  a = relation("NIGHTLY", "ADV");
  ASSERT_EQ(QlmAsgSendOrdrToDropBox(raw(&a)), 0u);
  a = relation("NIGHTLY", "STMT");
  EXPECT_EQ(QlmAsgSendOrdrToDropBox(raw(&a)), 8u);  // a receive order, not a send order
  Explained member = explained();
  EXPECT_EQ(member.number, 30009u);
  EXPECT_EQ(member.message, "The member is not in the address book or mailbox");
  a = relation("NONE", "PAY");
  EXPECT_EQ(QlmAsgSendOrdrToDropBox(raw(&a)), 8u);
  EXPECT_EQ(explained().number, 30006u);
  a = relation("WEEKLY", "PAY");
  EXPECT_EQ(QlmUsgSendOrdrFromDropBox(raw(&a)), 8u);
  EXPECT_EQ(explained().number, 30011u);

  // The drop box list (91-byte records) and the orders of one drop box (a mixed
  // list) share a request and differ in what they list.
  std::vector<QlmDropBox> boxes(5);
  blankRecord(raw(boxes.data()), static_cast<int>(boxes.size() * sizeof(QlmDropBox)));
  uint16_t count = 0;
  QlmListQual q = qual("", "", "", "NAME", "D");
  ASSERT_EQ(QlmListDropBox(raw(&q), &count, raw(boxes.data())), 0u);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(text(boxes[0].name), "WEEKLY");
  EXPECT_EQ(text(boxes[1].name), "NIGHTLY");
  EXPECT_EQ(text(boxes[1].field653), "B");
  EXPECT_EQ(text(boxes[1].field672), "3 orders assigned");
  EXPECT_EQ(text(boxes[1].field654), "2200");
  EXPECT_EQ(ordersOnBox("NIGHTLY"), (Names{"S:ADV", "S:PAY", "R:STMT"}));
  EXPECT_TRUE(ordersOnBox("WEEKLY").empty());
  char name[20];
  putField(name, 20, "NONE");
  QlmSmallListQual sq = small();
  EXPECT_EQ(QlmListOrdrsOnDropBox(name, raw(&sq), &count, nullptr), 8u);
  EXPECT_EQ(explained().number, 30006u);
  putField(name, 20, "");
  EXPECT_EQ(QlmListOrdrsOnDropBox(name, raw(&sq), &count, nullptr), 8u);
  EXPECT_EQ(explained().number, static_cast<unsigned>(QLM_ERR_BLANK_KEY));

  // Unassigning and deleting an order end assignments; replace keeps them.
  a = relation("NIGHTLY", "ADV");
  ASSERT_EQ(QlmUsgSendOrdrFromDropBox(raw(&a)), 0u);
  QlmOrdrDeleteReq del;
  blank(del);
  put(del.context, kProject);
  put(del.name, "STMT");
  ASSERT_EQ(QlmDeleteRecvOrdr(raw(&del)), 0u);
  EXPECT_EQ(ordersOnBox("NIGHTLY"), (Names{"S:PAY"}));
  QlmDropBoxReq rep;
  blank(rep);
  put(rep.context, kProject);
  put(rep.name, "NIGHTLY");
  put(rep.field671, "ABC");
  blank(out);
  ASSERT_EQ(QlmReplaceDropBox(raw(&rep), raw(&out)), 0u);
  EXPECT_EQ(text(out.field654), "");
  EXPECT_EQ(text(out.field671), "ABC");
  EXPECT_EQ(text(out.field653), "S");
  EXPECT_EQ(text(out.field672), "1 order assigned");

  // Deleting the drop box leaves its orders.
  QlmDropBoxDeleteReq bdel;
  blank(bdel);
  put(bdel.context, kProject);
  put(bdel.name, "NIGHTLY");
  ASSERT_EQ(QlmDeleteDropBox(raw(&bdel)), 0u);
  EXPECT_EQ(orderShelf(qual()), (Names{"S:ADV", "S:PAY"}));
}

TEST_F(MailboxE2E, LongMixedListSpansSeveralMessages) {
  // 80 orders of about 300 bytes each on the wire: eight messages or more.
  for (int i = 0; i < 40; ++i) {
    const std::string n = std::to_string(100 + i);
    QlmSendOrdrReq s;
    blank(s);
    put(s.context, kProject);
    put(s.sendordr.name, ("S" + n).c_str());
    put(s.sendordr.description, std::string(79, 'd').c_str());
    put(s.sendordr.field790, std::string(79, 'e').c_str());
    put(s.sendordr.field796, std::string(65, 'f').c_str());
    ASSERT_EQ(QlmAddSendOrdr(raw(&s), nullptr), 0u);
    ASSERT_EQ(addRecv(("R" + n).c_str(), std::string(79, 'd').c_str(), std::string(65, 'f').c_str()), 0u);
  }
  uint16_t count = 0;
  Names all = orderShelf(qual(), &count);
  ASSERT_EQ(count, 80);
  ASSERT_EQ(all.size(), 80u);
  EXPECT_EQ(all[0], "R:R100");
  EXPECT_EQ(all[39], "R:R139");
  EXPECT_EQ(all[40], "S:S100");
  EXPECT_EQ(all[79], "S:S139");
  // A page across the two kinds.
  EXPECT_EQ(orderShelf(qual("", "", "", "", "", "39", "4")), (Names{"R:R138", "R:R139", "S:S100", "S:S101"}));
  // The one-kind list of the same orders.
  std::vector<QlmSendOrdrEntry> s(60);
  blankRecord(raw(s.data()), static_cast<int>(s.size() * sizeof(QlmSendOrdrEntry)));
  QlmListQual q = qual("", "", "", "name", "D", "1", "60");
  ASSERT_EQ(QlmListSendOrdr(raw(&q), &count, raw(s.data())), 0u);
  ASSERT_EQ(count, 40);
  EXPECT_EQ(text(s[0].sendordr.name), "S139");
  EXPECT_EQ(text(s[39].sendordr.field796), std::string(65, 'f'));
}

}  // namespace
