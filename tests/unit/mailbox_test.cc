// The mailbox functions against a scripted peer: the items that orders,
// receipts, shelves and drop boxes send and in which order, the refusals that
// send nothing, and how single-kind and mixed list replies land in the
// caller's area without passing its end.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/trace.h"
#include "qlmc32.h"
#include "scripted_link.h"

using namespace qlm;
using namespace qlm::test;
using V = std::vector<std::string>;

namespace {

// Every byte non-blank, so that every field travels.
template <class R>
R fullRecord() {
  R r;
  std::memset(&r, 'x', sizeof r);
  QlmReplaceField(r.context, sizeof r.context, "Proj");
  return r;
}
std::string bytes(const char *p, std::size_t n) { return std::string(p, n); }

std::vector<int> ids(const Segment &s) {
  std::vector<int> out;
  for (const Item &i : s) out.push_back(i.first);
  return out;
}
bool anyValueHolds(const Segment &s, const std::string &part) {
  for (const Item &i : s)
    if (i.second.find(part) != std::string::npos) return true;
  return false;
}

QlmListQual listQual(const char *select = "", const char *sort = "", const char *num = "10") {
  auto q = blankRecord<QlmListQual>();
  put(q.context, "Proj");
  put(q.selectfield, select);
  put(q.sortfield, sort);
  put(q.startentry, "1");
  put(q.numentries, num);
  return q;
}
QlmSmallListQual smallQual(const char *num = "10") {
  auto q = blankRecord<QlmSmallListQual>();
  put(q.context, "Proj");
  put(q.startentry, "1");
  put(q.numentries, num);
  return q;
}
std::string name20(const char *n) {
  std::string s(n);
  s.resize(20, ' ');
  return s;
}

Segment sendOrdr(const char *name) { return {{9983, "1180"}, {1180, name}}; }
Segment recvOrdr(const char *name) { return {{9983, "687"}, {687, name}}; }
Segment sendRcpt(const char *name) { return {{9983, "1802"}, {1802, name}}; }
Segment recvRcpt(const char *name) { return {{9983, "721"}, {721, name}}; }

std::vector<std::string> readLines(const std::string &path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

}  // namespace

// An open project "Proj" with its mailbox open.
class Mailbox : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    openContext("Proj");
  }
  std::string ref() const { return "100=" + std::to_string(ifc().requestRef); }
};

TEST_F(Mailbox, AddAndReplaceSendOrdersInTheirWireOrders) {
  auto add = fullRecord<QlmSendOrdrReq>();
  put(add.sendordr.reserved, "RESERVED");
  reply({.responseId = 399});
  ASSERT_EQ(QlmAddSendOrdr(raw(&add), nullptr), 0u);
  EXPECT_EQ(flat(lastSent()[0]), (V{"3000=398", "102=MB", "104=10000", ref()}));
  EXPECT_EQ(ids(lastSent()[1]),
            (std::vector<int>{9983, 1180, 1181, 772, 773, 774, 775, 776, 777, 778, 779, 780, 781, 782, 802, 783,
                              784, 785, 786, 788, 789, 790, 791, 792, 793, 794, 795, 796, 797, 798, 799, 800, 801}));
  EXPECT_EQ(lastSent()[1][0].second, "1180");
  EXPECT_EQ(lastSent()[1][2].second, std::string(79, 'x'));  // description, full width
  EXPECT_FALSE(anyValueHolds(lastSent()[1], "RESERVED"));

  auto rep = fullRecord<QlmSendOrdrReplaceReq>();
  put(rep.reserved, "RESERVED");
  reply({.responseId = 407});
  ASSERT_EQ(QlmReplaceSendOrdr(raw(&rep), nullptr), 0u);
  EXPECT_EQ(flat(lastSent()[0])[0], "3000=406");
  EXPECT_EQ(ids(lastSent()[1]),
            (std::vector<int>{9983, 1180, 781, 782, 802, 783, 784, 785, 786, 788, 789, 790, 791, 792, 793, 794,
                              795, 796, 797, 1181, 772, 773, 774, 775, 776, 777, 778, 779, 780, 798, 799, 800, 801}));
  EXPECT_FALSE(anyValueHolds(lastSent()[1], "RESERVED"));

  // Receive orders send field714 last, after field720, in add and in replace.
  auto radd = fullRecord<QlmRecvOrdrReq>();
  put(radd.recvordr.reserved, "RESERVED");
  reply({.responseId = 381});
  ASSERT_EQ(QlmAddRecvOrdr(raw(&radd), nullptr), 0u);
  EXPECT_EQ(flat(lastSent()[0])[0], "3000=380");
  EXPECT_EQ(ids(lastSent()[1]),
            (std::vector<int>{9983, 687, 688, 689, 690, 691, 692, 693, 694, 695, 696, 697, 698, 699, 700, 701, 702,
                              703, 704, 705, 706, 707, 709, 710, 711, 712, 713, 715, 716, 717, 718, 719, 720, 714}));
  EXPECT_FALSE(anyValueHolds(lastSent()[1], "RESERVED"));

  auto rrep = fullRecord<QlmRecvOrdrReplaceReq>();
  put(rrep.reserved, "RESERVED");
  reply({.responseId = 389});
  ASSERT_EQ(QlmReplaceRecvOrdr(raw(&rrep), nullptr), 0u);
  EXPECT_EQ(flat(lastSent()[0])[0], "3000=388");
  EXPECT_EQ(ids(lastSent()[1]),
            (std::vector<int>{9983, 687, 698, 699, 700, 701, 702, 703, 704, 705, 706, 707, 709, 710, 711, 712, 713,
                              688, 689, 690, 691, 692, 693, 694, 697, 719, 715, 716, 717, 718, 695, 696, 720, 714}));
  EXPECT_FALSE(anyValueHolds(lastSent()[1], "RESERVED"));

  // Only the context name and the order name: one item; a blank order is sent all the same.
  auto bare = blankRecord<QlmSendOrdrReq>();
  put(bare.context, "Proj");
  put(bare.sendordr.name, "ORD1");
  reply({.responseId = 399});
  ASSERT_EQ(QlmAddSendOrdr(raw(&bare), nullptr), 0u);
  EXPECT_EQ(flat(lastSent()[1]), (V{"9983=1180", "1180=ORD1"}));
  put(bare.sendordr.name, "");
  reply({.responseId = 399});
  ASSERT_EQ(QlmAddSendOrdr(raw(&bare), nullptr), 0u);
  EXPECT_EQ(flat(lastSent()[1]), (V{"9983=1180"}));
}

TEST_F(Mailbox, ReceiptsAndDropBoxesSendTheirRecordOrder) {
  auto sr = fullRecord<QlmSendRcptReq>();
  put(sr.sendrcpt.field9969, "NINE");
  reply({.responseId = 411});
  ASSERT_EQ(QlmAddSendRcpt(raw(&sr), nullptr), 0u);
  EXPECT_EQ(flat(lastSent()[0]), (V{"3000=410", "102=MB", "104=10000", ref()}));
  EXPECT_EQ(ids(lastSent()[1]),
            (std::vector<int>{9983, 1802, 1814, 1815, 1816, 1817, 1818, 1819, 1809, 1810, 1811, 1807, 1808, 1812, 1813,
                              1820, 1821, 1803, 1804, 1805, 1806, 1823, 9969, 1825, 1824, 1826, 1827, 1822}));
  EXPECT_EQ(lastSent()[1][22].second, "NINE");

  auto rr = fullRecord<QlmRecvRcptReq>();
  reply({.responseId = 393});
  ASSERT_EQ(QlmAddRecvRcpt(raw(&rr), nullptr), 0u);
  EXPECT_EQ(flat(lastSent()[0])[0], "3000=392");
  const std::vector<int> got = ids(lastSent()[1]);
  ASSERT_EQ(got.size(), 56u);
  EXPECT_EQ(std::vector<int>(got.begin(), got.begin() + 3), (std::vector<int>{9983, 721, 732}));
  EXPECT_EQ(std::vector<int>(got.begin() + 36, got.end()),
            (std::vector<int>{766, 728, 729, 730, 726, 727, 731, 767, 768, 769, 722, 723, 724, 725, 770, 9969, 771,
                              1830, 1831, 1832}));

  // Drop boxes: field653 and field672 are not in the request; the two reserved bytes never travel.
  auto db = fullRecord<QlmDropBoxReq>();
  put(db.reserved, "RR");
  put(db.name, "BOX1");
  reply({.responseId = 363});
  ASSERT_EQ(QlmAddDropBox(raw(&db), nullptr), 0u);
  EXPECT_EQ(flat(lastSent()[0])[0], "3000=362");
  EXPECT_EQ(ids(lastSent()[1]),
            (std::vector<int>{9983, 652, 654, 655, 656, 657, 660, 658, 664, 665, 666, 667, 668, 669, 671}));
  EXPECT_FALSE(anyValueHolds(lastSent()[1], "RR"));
  EXPECT_EQ(lastSent()[1][2].second, std::string(10, 'x'));  // field654 at byte 40
  reply({.responseId = 369});
  ASSERT_EQ(QlmReplaceDropBox(raw(&db), nullptr), 0u);
  EXPECT_EQ(flat(lastSent()[0])[0], "3000=368");
  EXPECT_EQ(ids(lastSent()[1]).size(), 15u);
}

TEST_F(Mailbox, ReplaceReadsItsOwnLayoutAndAnswersInTheOrderLayout) {
  auto req = blankRecord<QlmSendOrdrReplaceReq>();
  put(req.context, "Proj");
  put(req.name, "ORD1");
  put(req.description, "DESC");
  put(req.field781, "F781");
  auto out = blankRecord<QlmSendOrdr>();
  std::memset(out.reserved, '#', sizeof out.reserved);
  reply({.responseId = 407,
         .segments = {{{9983, "1180"}, {1180, "ORD1"}, {1181, "DESC"}, {781, "F781"}, {787, "lost"}}}});
  ASSERT_EQ(QlmReplaceSendOrdr(raw(&req), raw(&out)), 0u);
  EXPECT_EQ(flat(lastSent()[0]), (V{"3000=406", "102=MB", "104=10001", ref()}));
  EXPECT_EQ(flat(lastSent()[1]), (V{"9983=1180", "1180=ORD1", "781=F781", "1181=DESC"}));
  EXPECT_EQ(bytes(raw(&out) + 20, 4), "DESC");   // description of the order record
  EXPECT_EQ(bytes(raw(&out) + 175, 4), "F781");
  EXPECT_EQ(bytes(out.reserved, 20), std::string(20, '#'));
  EXPECT_EQ(bytes(raw(&out), sizeof out).find("lost"), std::string::npos);  // 787 is no field

  auto rreq = blankRecord<QlmRecvOrdrReplaceReq>();
  put(rreq.context, "Proj");
  put(rreq.name, "RCV1");
  put(rreq.fileid, "FILE");
  put(rreq.field695, "F695");
  put(rreq.field714, "14");
  auto rout = blankRecord<QlmRecvOrdr>();
  reply({.responseId = 389,
         .segments = {{{9983, "687"}, {687, "RCV1"}, {698, "FILE"}, {695, "F695"}, {708, "lost"}, {714, "14"}}}});
  ASSERT_EQ(QlmReplaceRecvOrdr(raw(&rreq), raw(&rout)), 0u);
  EXPECT_EQ(flat(lastSent()[1]), (V{"9983=687", "687=RCV1", "698=FILE", "695=F695", "714=14"}));
  EXPECT_EQ(bytes(raw(&rout) + 175, 4), "FILE");
  EXPECT_EQ(bytes(raw(&rout) + 146, 4), "F695");
  EXPECT_EQ(bytes(raw(&rout) + 283, 2), "14");
  EXPECT_EQ(bytes(raw(&rout), sizeof rout).find("lost"), std::string::npos);  // 708 is no field

  // The reply must carry a record of the order's own kind, and only when one was asked for.
  reply({.responseId = 407, .segments = {recvOrdr("ORD1")}});
  EXPECT_EQ(QlmReplaceSendOrdr(raw(&req), raw(&out)), 12u);
  EXPECT_EQ(error(), 20010);
  reply({.responseId = 407, .segments = {sendOrdr("ORD1")}});
  EXPECT_EQ(QlmReplaceSendOrdr(raw(&req), nullptr), 12u);
  EXPECT_EQ(flat(lastSent()[0])[2], "104=10000");
  reply({.responseId = 407, .returnCode = 16, .segments = {{{9983, "40"}, {40, "30012"}}}});
  EXPECT_EQ(QlmReplaceSendOrdr(raw(&req), raw(&out)), 16u);
}

TEST_F(Mailbox, ReturnedReceiptsAndDropBoxesFillTheirRecords) {
  auto sr = blankRecord<QlmSendRcptReq>();
  put(sr.context, "Proj");
  auto sout = blankRecord<QlmSendRcpt>();
  reply({.responseId = 411, .segments = {{{9983, "1802"}, {1802, "SR1"}, {9969, "NINE"}}}});
  ASSERT_EQ(QlmAddSendRcpt(raw(&sr), raw(&sout)), 0u);
  EXPECT_EQ(bytes(raw(&sout) + 220, 4), "NINE");

  // A receive receipt's add copies 754 and 770; its list does not (below).
  auto rr = blankRecord<QlmRecvRcptReq>();
  put(rr.context, "Proj");
  auto rout = blankRecord<QlmRecvRcpt>();
  reply({.responseId = 393, .segments = {{{9983, "721"}, {721, "RR1"}, {754, "F754"}, {770, "77"}}}});
  ASSERT_EQ(QlmAddRecvRcpt(raw(&rr), raw(&rout)), 0u);
  EXPECT_EQ(bytes(raw(&rout) + 461, 4), "F754");
  EXPECT_EQ(text(rout.field770), "77");

  auto db = blankRecord<QlmDropBoxReq>();
  put(db.context, "Proj");
  put(db.name, "BOX1");
  auto dout = blankRecord<QlmDropBox>();
  std::memset(dout.reserved, '#', sizeof dout.reserved);
  reply({.responseId = 363, .segments = {{{9983, "652"}, {652, "BOX1"}, {653, "A"}, {672, "from the manager"}}}});
  ASSERT_EQ(QlmAddDropBox(raw(&db), raw(&dout)), 0u);
  EXPECT_EQ(dout.field653[0], 'A');
  EXPECT_EQ(text(dout.field672), "from the manager");
  EXPECT_EQ(bytes(dout.reserved, 2), "##");
}

TEST_F(Mailbox, DeleteSendsTheKeyAloneAndRefusesABlankOne) {
  auto del = blankRecord<QlmOrdrDeleteReq>();
  put(del.context, "Proj");
  put(del.name, "ORD1");
  reply({.responseId = 401});
  ASSERT_EQ(QlmDeleteSendOrdr(raw(&del)), 0u);
  EXPECT_EQ(flat(lastSent()[0]), (V{"3000=400", "102=MB", "104=10000", ref()}));
  EXPECT_EQ(flat(lastSent()[1]), (V{"9983=1180", "1180=ORD1"}));
  reply({.responseId = 383});
  ASSERT_EQ(QlmDeleteRecvOrdr(raw(&del)), 0u);
  EXPECT_EQ(flat(lastSent()[0])[0], "3000=382");
  EXPECT_EQ(flat(lastSent()[1]), (V{"9983=687", "687=ORD1"}));
  auto dbd = blankRecord<QlmDropBoxDeleteReq>();
  put(dbd.context, "Proj");
  put(dbd.name, "BOX1");
  reply({.responseId = 365});
  ASSERT_EQ(QlmDeleteDropBox(raw(&dbd)), 0u);
  EXPECT_EQ(flat(lastSent()[0])[0], "3000=364");
  EXPECT_EQ(flat(lastSent()[1]), (V{"9983=652", "652=BOX1"}));

  const std::size_t before = ScriptedLink::sent.size();
  put(del.name, "");
  EXPECT_EQ(QlmDeleteSendOrdr(raw(&del)), 8u);
  EXPECT_EQ(error(), 20170);
  EXPECT_EQ(QlmDeleteRecvOrdr(raw(&del)), 8u);
  EXPECT_EQ(error(), 20170);
  EXPECT_EQ(QlmDeleteSendOrdr(nullptr), 8u);
  EXPECT_EQ(error(), 20110);
  openContext("Shut", true, false);  // its mailbox is not open
  put(del.context, "Shut");
  put(del.name, "ORD1");
  EXPECT_EQ(QlmDeleteSendOrdr(raw(&del)), 8u);
  EXPECT_EQ(error(), 20070);
  EXPECT_EQ(ScriptedLink::sent.size(), before);
}

TEST_F(Mailbox, ListKeywordsAreEachFamilysOwn) {
  uint16_t count = 7;
  auto q = listQual("MailBoxID", "Name");
  reply({.responseId = 403});
  ASSERT_EQ(QlmListSendOrdr(raw(&q), &count, nullptr), 0u);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(flat(lastSent()[0]), (V{"3000=402", "102=MB", ref(), "104=10000", "128=773", "130=1180", "131=1",
                                   "132=10"}));
  EXPECT_EQ(lastSent().size(), 1u);

  q = listQual("fileid");
  reply({.responseId = 385});
  ASSERT_EQ(QlmListRecvOrdr(raw(&q), &count, nullptr), 0u);  // fileid is a receive order keyword
  EXPECT_EQ(flat(lastSent()[0])[4], "128=698");
  q = listQual("startdate");
  reply({.responseId = 413});
  ASSERT_EQ(QlmListSendRcpt(raw(&q), &count, nullptr), 0u);
  EXPECT_EQ(flat(lastSent()[0])[4], "128=1804");
  q = listQual("", "FILEID");
  reply({.responseId = 395});
  ASSERT_EQ(QlmListRecvRcpt(raw(&q), &count, nullptr), 0u);
  EXPECT_EQ(flat(lastSent()[0])[4], "130=732");
  q = listQual("", "NAME");
  reply({.responseId = 367});
  ASSERT_EQ(QlmListDropBox(raw(&q), &count, nullptr), 0u);
  EXPECT_EQ(flat(lastSent()[0])[4], "130=652");

  const std::size_t before = ScriptedLink::sent.size();
  count = 7;
  q = listQual("fileid");
  EXPECT_EQ(QlmListSendOrdr(raw(&q), &count, nullptr), 8u);
  EXPECT_EQ(error(), 20190);
  q = listQual("", "fileid");
  EXPECT_EQ(QlmListSendOrdr(raw(&q), &count, nullptr), 8u);
  EXPECT_EQ(error(), 20200);
  q = listQual("fileid");
  EXPECT_EQ(QlmListSendRcpt(raw(&q), &count, nullptr), 8u);
  EXPECT_EQ(error(), 20190);
  q = listQual("", "description");
  EXPECT_EQ(QlmListDropBox(raw(&q), &count, nullptr), 8u);
  EXPECT_EQ(error(), 20200);
  q = listQual("", "", "0");
  EXPECT_EQ(QlmListRecvOrdr(raw(&q), &count, nullptr), 8u);
  EXPECT_EQ(error(), 20210);
  q = listQual();
  EXPECT_EQ(QlmListRecvRcpt(raw(&q), nullptr, nullptr), 8u);
  EXPECT_EQ(error(), 20110);
  EXPECT_EQ(count, 7);  // a refused list leaves the count alone
  EXPECT_EQ(ScriptedLink::sent.size(), before);
}

TEST_F(Mailbox, ShelvesAreNamedDefaultAndCarryNoRelation) {
  QlmShlfReq shelf;
  put(shelf.context, "Proj");
  reply({.responseId = 359});
  ASSERT_EQ(QlmDeleteOrdrShlf(raw(&shelf)), 0u);
  EXPECT_EQ(flat(lastSent()[0]), (V{"3000=358", "102=MB", "134=10001", "104=10000", ref()}));
  EXPECT_EQ(flat(lastSent()[1]), (V{"9983=650", "650=$Default$"}));
  reply({.responseId = 361, .returnCode = 8});
  EXPECT_EQ(QlmDeleteRcptShlf(raw(&shelf)), 1u);  // refused without an error segment
  EXPECT_EQ(flat(lastSent()[0])[0], "3000=360");
  EXPECT_EQ(flat(lastSent()[1]), (V{"9983=651", "651=$Default$"}));

  uint16_t count = 0;
  auto q = listQual("", "Description");
  reply({.responseId = 355});
  ASSERT_EQ(QlmListOrdrsOnOrdrShlf(raw(&q), &count, nullptr), 0u);
  EXPECT_EQ(flat(lastSent()[0]), (V{"3000=354", "102=MB", "134=10001", ref(), "104=10000", "130=9981", "131=1",
                                   "132=10"}));
  EXPECT_EQ(lastSent().size(), 1u);  // no data segment, no shelf name
  auto small = smallQual("3");
  reply({.responseId = 357});
  ASSERT_EQ(QlmListRcptsOnRcptShlf(raw(&small), &count, nullptr), 0u);
  EXPECT_EQ(flat(lastSent()[0]), (V{"3000=356", "102=MB", "134=10001", ref(), "104=10000", "131=1", "132=3"}));
  EXPECT_EQ(lastSent().size(), 1u);

  const std::size_t before = ScriptedLink::sent.size();
  q = listQual("mailboxid");
  EXPECT_EQ(QlmListOrdrsOnOrdrShlf(raw(&q), &count, nullptr), 8u);
  EXPECT_EQ(error(), 20190);
  EXPECT_EQ(QlmListOrdrsOnOrdrShlf(raw(&q), nullptr, nullptr), 8u);
  EXPECT_EQ(error(), 20110);
  EXPECT_EQ(QlmListRcptsOnRcptShlf(raw(&small), nullptr, nullptr), 8u);
  EXPECT_EQ(error(), 20110);
  EXPECT_EQ(QlmDeleteOrdrShlf(nullptr), 8u);
  EXPECT_EQ(error(), 20110);
  put(shelf.context, "");
  EXPECT_EQ(QlmDeleteRcptShlf(raw(&shelf)), 8u);
  EXPECT_EQ(error(), 20130);
  EXPECT_EQ(ScriptedLink::sent.size(), before);
}

TEST_F(Mailbox, MixedOrderListPacksEntriesInOrderBySize) {
  auto q = listQual("", "", "4");
  std::vector<char> area(4 * 500 + 32, '#');
  uint16_t count = 0;
  Segment s1 = sendOrdr("S1");
  s1.push_back({1181, "first"});
  Segment r1 = recvOrdr("R1");
  r1.push_back({698, "FILE"});
  r1.push_back({708, "lost"});
  Segment s2 = sendOrdr("S2");
  s2.push_back({787, "lost"});
  reply({.responseId = 355, .more = true, .segments = {s1, sendRcpt("foreign"), {{1180, "untyped"}}, r1}});
  reply({.responseId = 355, .segments = {s2}});
  ASSERT_EQ(QlmListOrdrsOnOrdrShlf(raw(&q), &count, area.data()), 0u);
  EXPECT_EQ(flat(lastSent()[0])[4], "104=10001");
  ASSERT_EQ(count, 3);
  EXPECT_EQ(bytes(&area[0], 3), "SS1");
  EXPECT_EQ(bytes(&area[1 + 20], 5), "first");
  EXPECT_EQ(bytes(&area[1 + 102], 16), std::string(16, ' '));  // blanked, not carried
  EXPECT_EQ(bytes(&area[500], 3), "RR1");
  EXPECT_EQ(bytes(&area[500 + 1 + 175], 4), "FILE");
  EXPECT_EQ(bytes(&area[500 + 1 + 258], 20), std::string(20, ' '));  // reserved: blank
  EXPECT_EQ(bytes(&area[848], 3), "SS2");
  EXPECT_EQ(std::string(area.begin(), area.begin() + 1348).find("lost"), std::string::npos);
  EXPECT_EQ(std::string(area.begin() + 1348, area.end()), std::string(area.size() - 1348, '#'));
  std::size_t at = 0;  // the caller's walk
  for (int i = 0; i < count; ++i) at += QlmSizeOfOrdr(area[at]);
  EXPECT_EQ(at, 1348u);

  // A failure in a later message keeps what came before it.
  reply({.responseId = 355, .more = true, .segments = {recvOrdr("R9")}});
  reply({.responseId = 355, .returnCode = 4, .segments = {{{9983, "40"}, {40, "30006"}}}});
  EXPECT_EQ(QlmListOrdrsOnOrdrShlf(raw(&q), &count, area.data()), 4u);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(bytes(&area[0], 3), "RR9");
  // A failure without an error segment: 1, and the entries are read all the same.
  reply({.responseId = 355, .returnCode = 4, .segments = {sendOrdr("S9")}});
  EXPECT_EQ(QlmListOrdrsOnOrdrShlf(raw(&q), &count, area.data()), 1u);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(bytes(&area[0], 3), "SS9");
}

TEST_F(Mailbox, MixedReceiptListBlanksWhatTheReplyDoesNotCarry) {
  auto small = smallQual("3");
  std::vector<char> area(3 * 725 + 32, '#');
  uint16_t count = 0;
  Segment s = sendRcpt("XS1");
  s.push_back({9969, "NINE"});
  Segment r = recvRcpt("XR1");
  r.push_back({732, "FILE"});
  r.push_back({754, "lost754"});
  r.push_back({770, "77"});
  reply({.responseId = 357, .segments = {s, sendOrdr("foreign"), r}});
  ASSERT_EQ(QlmListRcptsOnRcptShlf(raw(&small), &count, area.data()), 0u);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(bytes(&area[0], 4), "SXS1");
  EXPECT_EQ(bytes(&area[1 + 220], 4), "NINE");
  EXPECT_EQ(bytes(&area[317], 4), "RXR1");
  EXPECT_EQ(bytes(&area[317 + 1 + 20], 4), "FILE");
  EXPECT_EQ(bytes(&area[317 + 1 + 461], 8), std::string(8, ' '));  // field754 not filled in a list
  EXPECT_EQ(bytes(&area[317 + 1 + 684], 2), "  ");                 // nor field770
  EXPECT_EQ(std::string(area.begin() + 1042, area.end()), std::string(area.size() - 1042, '#'));
  EXPECT_EQ(QlmSizeOfRcpt(area[0]) + QlmSizeOfRcpt(area[317]), 1042u);
}

TEST_F(Mailbox, MixedListsNeverWritePastNumentries) {
  // Two orders of the wider kind fit; a third is neither stored nor counted.
  auto q = listQual("", "", "2");
  std::vector<char> area(2 * 500 + 64, '#');
  uint16_t count = 0;
  reply({.responseId = 355, .segments = {recvOrdr("R1"), sendOrdr("S1"), sendOrdr("S2")}});
  ASSERT_EQ(QlmListOrdrsOnOrdrShlf(raw(&q), &count, area.data()), 0u);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(area[348], 'S');
  EXPECT_EQ(std::string(area.begin() + 848, area.end()), std::string(area.size() - 848, '#'));
  std::fill(area.begin(), area.end(), '#');
  reply({.responseId = 355, .more = true, .segments = {sendOrdr("S1")}});
  reply({.responseId = 355, .segments = {sendOrdr("S2"), sendOrdr("S3"), recvOrdr("R1")}});
  ASSERT_EQ(QlmListOrdrsOnOrdrShlf(raw(&q), &count, area.data()), 0u);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(std::string(area.begin() + 1000, area.end()), std::string(64, '#'));

  // One receipt: the narrower one first, and nothing after it.
  auto small = smallQual("1");
  std::vector<char> rarea(725 + 64, '#');
  reply({.responseId = 357, .segments = {sendRcpt("XS1"), recvRcpt("XR1")}});
  ASSERT_EQ(QlmListRcptsOnRcptShlf(raw(&small), &count, rarea.data()), 0u);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(std::string(rarea.begin() + 317, rarea.end()), std::string(rarea.size() - 317, '#'));

  // Without an area the entries are only counted, within the same bound.
  reply({.responseId = 357, .segments = {sendRcpt("a"), recvRcpt("b")}});
  ASSERT_EQ(QlmListRcptsOnRcptShlf(raw(&small), &count, nullptr), 0u);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(flat(lastSent()[0])[4], "104=10000");
}

TEST_F(Mailbox, SingleKindListsRefuseForeignSegments) {
  auto q = listQual("", "", "5");
  std::vector<char> area(5 * 725, '#');
  uint16_t count = 0;
  Segment r = recvRcpt("XR2");
  r.push_back({754, "lost754"});
  reply({.responseId = 395, .segments = {recvRcpt("XR1"), r}});
  ASSERT_EQ(QlmListRecvRcpt(raw(&q), &count, area.data()), 0u);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(bytes(&area[0], 4), "RXR1");
  EXPECT_EQ(bytes(&area[725], 4), "RXR2");
  EXPECT_EQ(bytes(&area[725 + 1 + 461], 8), std::string(8, '#'));  // not copied, not blanked

  reply({.responseId = 395, .segments = {recvRcpt("XR1"), sendRcpt("XS1")}});
  EXPECT_EQ(QlmListRecvRcpt(raw(&q), &count, area.data()), 12u);
  EXPECT_EQ(error(), 20010);
  EXPECT_EQ(count, 1);
  reply({.responseId = 403, .segments = {recvOrdr("R1")}});
  EXPECT_EQ(QlmListSendOrdr(raw(&q), &count, area.data()), 12u);
  EXPECT_EQ(count, 0);

  reply({.responseId = 413, .segments = {sendRcpt("a"), sendRcpt("b"), sendRcpt("c")}});
  ASSERT_EQ(QlmListSendRcpt(raw(&q), &count, area.data()), 0u);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(bytes(&area[634], 2), "Sc");
  reply({.responseId = 367, .segments = {{{9983, "652"}, {652, "B0"}}, {{9983, "652"}, {652, "B1"}},
                                         {{9983, "652"}, {652, "B2"}}}});
  ASSERT_EQ(QlmListDropBox(raw(&q), &count, area.data()), 0u);
  EXPECT_EQ(bytes(&area[182], 2), "B2");  // no entry type character
}

TEST_F(Mailbox, OrdersOnADropBoxDifferFromTheDropBoxList) {
  auto small = smallQual("2");
  std::vector<char> area(2 * 500, '#');
  uint16_t count = 0;
  char box[20];
  std::memcpy(box, name20("BOX1").data(), 20);
  reply({.responseId = 367, .segments = {recvOrdr("R1"), sendOrdr("S1")}});
  ASSERT_EQ(QlmListOrdrsOnDropBox(box, raw(&small), &count, area.data()), 0u);
  ASSERT_EQ(lastSent().size(), 2u);
  EXPECT_EQ(flat(lastSent()[0]), (V{"3000=366", "102=MB", "134=10001", ref(), "104=10001", "131=1", "132=2"}));
  EXPECT_EQ(flat(lastSent()[1]), (V{"9983=652", "652=BOX1"}));
  EXPECT_EQ(count, 2);
  EXPECT_EQ(bytes(&area[0], 3), "RR1");
  EXPECT_EQ(bytes(&area[348], 3), "SS1");

  auto q = listQual("", "", "2");
  reply({.responseId = 367});
  ASSERT_EQ(QlmListDropBox(raw(&q), &count, nullptr), 0u);
  EXPECT_EQ(flat(lastSent()[0]), (V{"3000=366", "102=MB", ref(), "104=10000", "131=1", "132=2"}));
  EXPECT_EQ(lastSent().size(), 1u);

  const std::size_t before = ScriptedLink::sent.size();
  std::memset(box, ' ', 20);
  EXPECT_EQ(QlmListOrdrsOnDropBox(box, raw(&small), &count, nullptr), 8u);
  EXPECT_EQ(error(), 20170);
  EXPECT_EQ(QlmListOrdrsOnDropBox(nullptr, raw(&small), &count, nullptr), 8u);
  EXPECT_EQ(error(), 20170);
  EXPECT_EQ(QlmListOrdrsOnDropBox(box, raw(&small), nullptr, nullptr), 8u);
  EXPECT_EQ(error(), 20110);
  EXPECT_EQ(ScriptedLink::sent.size(), before);
}

TEST_F(Mailbox, OrdersAreAssignedToDropBoxesAndReceiptsListedOnAnOrder) {
  auto a = blankRecord<QlmAssignReq>();
  put(a.context, "Proj");
  put(a.container, "BOX1");
  put(a.member, "ORD1");
  reply({.responseId = 405});
  ASSERT_EQ(QlmAsgSendOrdrToDropBox(raw(&a)), 0u);
  EXPECT_EQ(flat(lastSent()[0]), (V{"3000=404", "102=MB", "134=652", "133=BOX1", "104=10000", ref()}));
  EXPECT_EQ(flat(lastSent()[1]), (V{"9983=1180", "1180=ORD1"}));
  reply({.responseId = 387});
  ASSERT_EQ(QlmAsgRecvOrdrToDropBox(raw(&a)), 0u);
  EXPECT_EQ(flat(lastSent()[0])[0], "3000=386");
  EXPECT_EQ(flat(lastSent()[1]), (V{"9983=687", "687=ORD1"}));
  reply({.responseId = 409});
  ASSERT_EQ(QlmUsgSendOrdrFromDropBox(raw(&a)), 0u);
  EXPECT_EQ(flat(lastSent()[0])[0], "3000=408");
  reply({.responseId = 391, .segments = {recvOrdr("ORD1")}});  // an assignment returns no record
  EXPECT_EQ(QlmUsgRecvOrdrFromDropBox(raw(&a)), 12u);
  EXPECT_EQ(flat(lastSent()[0])[0], "3000=390");
  put(a.member, "");
  EXPECT_EQ(QlmAsgSendOrdrToDropBox(raw(&a)), 8u);
  EXPECT_EQ(error(), 20170);

  auto small = smallQual("4");
  std::vector<char> area(4 * 317, '#');
  uint16_t count = 0;
  char order[20];
  std::memcpy(order, name20("ORD1").data(), 20);
  reply({.responseId = 413, .segments = {sendRcpt("XS1"), sendRcpt("XS2")}});
  ASSERT_EQ(QlmListSendRcptsOnSendOrdr(order, raw(&small), &count, area.data()), 0u);
  EXPECT_EQ(flat(lastSent()[0]),
            (V{"3000=412", "102=MB", "134=1180", "133=ORD1", ref(), "104=10001", "131=1", "132=4"}));
  EXPECT_EQ(lastSent().size(), 1u);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(bytes(&area[317], 4), "SXS2");
  const std::size_t before = ScriptedLink::sent.size();
  std::memset(order, ' ', 20);
  EXPECT_EQ(QlmListSendRcptsOnSendOrdr(order, raw(&small), &count, nullptr), 8u);
  EXPECT_EQ(error(), 20170);
  EXPECT_EQ(ScriptedLink::sent.size(), before);
}

TEST_F(Mailbox, ReadersTraceUnexpectedItemsUnderTheirOwnNames) {
  auto rr = blankRecord<QlmRecvRcptReq>();
  put(rr.context, "Proj");
  auto rout = blankRecord<QlmRecvRcpt>();
  auto small = smallQual("2");
  std::vector<char> area(2 * 725, ' ');
  uint16_t count = 0;
  Segment r = recvRcpt("XR1");
  r.push_back({754, "lost"});
  SetTrace(1);
  reply({.responseId = 393, .segments = {{{9983, "721"}, {721, "RR1"}, {999, "?"}}}});
  ASSERT_EQ(QlmAddRecvRcpt(raw(&rr), raw(&rout)), 0u);
  reply({.responseId = 357, .segments = {sendRcpt("XS1"), r}});
  ASSERT_EQ(QlmListRcptsOnRcptShlf(raw(&small), &count, area.data()), 0u);
  SetTrace(0);

  std::vector<std::string> lines;
  for (std::string l : readLines(traceFile())) lines.push_back(l.erase(0, l.find_first_not_of(' ')));
  auto at = [&](const std::string &start) {
    for (std::size_t i = 0; i < lines.size(); ++i)
      if (lines[i].rfind(start, 0) == 0) return static_cast<long>(i);
    return -1L;
  };
  auto endsWith = [&](long i, const std::string &tail) {
    return i >= 0 && static_cast<std::size_t>(i) < lines.size() && lines[i].size() >= tail.size() &&
           lines[i].compare(lines[i].size() - tail.size(), tail.size(), tail) == 0;
  };
  // The add reader of receive receipts names no item; the entry reader does.
  const long add = at("cfpxrad:");
  EXPECT_TRUE(endsWith(add, ":Unexpected Error"));
  EXPECT_FALSE(endsWith(add + 1, ":999:"));
  EXPECT_GE(at("{ cfrlzrs:"), 0);
  EXPECT_TRUE(endsWith(at("{ cfprsls:"), ":cfProcAnyRcptsListedRsp"));
  EXPECT_TRUE(endsWith(at("{ cflxsls:"), ":cfProcSendRcptListedSegment"));
  const long entry = at("cflxrls:");
  EXPECT_TRUE(endsWith(entry, ":Unexpected Error"));
  EXPECT_TRUE(endsWith(entry + 1, ":(int) aFldId:754:"));
  EXPECT_TRUE(endsWith(at("} cfprsls:"), ":cfProcAnyRcptsListedRsp (0)"));
}
