// The mailbox functions against a scripted peer: the items each request sends and
// in which order, the refusals that send nothing, and how the readers fill the
// caller's records and list areas without passing their ends.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "common/trace.h"
#include "qlmc32.h"
#include "scripted_link.h"

using namespace qlm;
using namespace qlm::test;
using testing::ContainsRegex;
using testing::HasSubstr;
using testing::Not;
using Ids = std::vector<int>;

// An open project "Proj" with its mailbox open.
class Mailbox : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    openContext("Proj");
    putField(box_, 20, "BOX1");
    putField(order_, 20, "ORD1");
  }
  char box_[20], order_[20];
};

TEST_F(Mailbox, AddAndReplaceSendEveryFieldButTheReservedInTheirWireOrder) {
  // Every byte 'x', the probe field "@@", the reserved area 'R'.
  struct Case {
    QlmRc (*call)(char *, char *);
    std::size_t size, reserved, reservedWidth, probe;
    int request, probeId;
    std::initializer_list<int> items;  // after 9983, with runs
  };
  const Case cases[] = {
      {QlmAddSendOrdr, sizeof(QlmSendOrdrReq), offsetof(QlmSendOrdrReq, sendordr.reserved), 20,
       offsetof(QlmSendOrdrReq, sendordr.description), 398, 1181, {1180, 1181, 772, -782, 802, 783, -786, 788, -801}},
      {QlmReplaceSendOrdr, sizeof(QlmSendOrdrReplaceReq), offsetof(QlmSendOrdrReplaceReq, reserved), 20,
       offsetof(QlmSendOrdrReplaceReq, description), 406, 1181,
       {1180, 781, 782, 802, 783, -786, 788, -797, 1181, 772, -780, 798, -801}},
      // Receive orders send field714 last, after field720.
      {QlmAddRecvOrdr, sizeof(QlmRecvOrdrReq), offsetof(QlmRecvOrdrReq, recvordr.reserved), 20,
       offsetof(QlmRecvOrdrReq, recvordr.field714), 380, 714, {687, -707, 709, -713, 715, -720, 714}},
      {QlmReplaceRecvOrdr, sizeof(QlmRecvOrdrReplaceReq), offsetof(QlmRecvOrdrReplaceReq, reserved), 20,
       offsetof(QlmRecvOrdrReplaceReq, field714), 388, 714,
       {687, 698, -707, 709, -713, 688, -694, 697, 719, 715, -718, 695, 696, 720, 714}},
      {QlmAddSendRcpt, sizeof(QlmSendRcptReq), 0, 0, offsetof(QlmSendRcptReq, sendrcpt.field9969), 410, 9969,
       {1802, 1814, -1819, 1809, -1811, 1807, 1808, 1812, 1813, 1820, 1821, 1803, -1806, 1823, 9969, 1825, 1824, 1826,
        1827, 1822}},
      {QlmAddRecvRcpt, sizeof(QlmRecvRcptReq), 0, 0, offsetof(QlmRecvRcptReq, recvrcpt.field9969), 392, 9969,
       {721, 732, -766, 728, -730, 726, 727, 731, 767, -769, 722, -725, 770, 9969, 771, 1830, -1832}},
      // Drop boxes: field653 and field672 are the server's, not in the request.
      {QlmAddDropBox, sizeof(QlmDropBoxReq), offsetof(QlmDropBoxReq, reserved), 2, offsetof(QlmDropBoxReq, field654),
       362, 654, {652, 654, -657, 660, 658, 664, -669, 671}},
      {QlmReplaceDropBox, sizeof(QlmDropBoxReq), offsetof(QlmDropBoxReq, reserved), 2,
       offsetof(QlmDropBoxReq, field654), 368, 654, {652, 654, -657, 660, 658, 664, -669, 671}},
  };
  for (const Case &c : cases) {
    std::vector<char> r(c.size, 'x');
    putField(r.data(), 20, "Proj");
    std::memset(r.data() + c.reserved, 'R', c.reservedWidth);
    std::memset(r.data() + c.probe, '@', 2);
    reply({.responseId = c.request + 1});
    ASSERT_EQ(c.call(r.data(), nullptr), 0u) << c.request;
    EXPECT_EQ(sent(), "3000=" + std::to_string(c.request) + " 102=MB 104=10000 ref");
    const Segment &data = lastSent()[1];
    Ids want = runs(c.items);
    want.insert(want.begin(), 9983);
    EXPECT_EQ(ids(data), want) << c.request;
    EXPECT_EQ(data[0].second, std::to_string(want[1]));
    std::size_t travelled = 0;  // every field at its full width, no reserved byte
    for (std::size_t i = 1; i < data.size(); ++i) {
      const auto &[id, value] = data[i];
      EXPECT_EQ(value.find_first_not_of(id == c.probeId ? "@x" : "x"), std::string::npos) << c.request << ":" << id;
      EXPECT_EQ(value.substr(0, 2) == "@@", id == c.probeId) << c.request << ":" << id;
      travelled += value.size();
    }
    EXPECT_EQ(travelled, c.size - 20 - c.reservedWidth) << c.request;
  }

  // Blank fields stay behind; a blank order name is sent all the same (one item fewer).
  auto bare = inContext<QlmSendOrdrReq>("Proj");
  put(bare.sendordr.name, "ORD1");
  for (const char *want : {"9983=1180 1180=ORD1", "9983=1180"}) {
    reply({.responseId = 399});
    ASSERT_EQ(QlmAddSendOrdr(raw(&bare), nullptr), 0u);
    EXPECT_EQ(sent(1), want);
    put(bare.sendordr.name, "");
  }
}

TEST_F(Mailbox, ReturnedRecordsFillTheRecordLayoutAndNothingElse) {
  // Replace answers in the order record's layout; items the record lacks are dropped.
  struct Case {
    QlmRc (*call)(char *, char *);
    std::size_t request, record, reserved, reservedWidth;
    int id;
    Segment reply;
    std::initializer_list<std::pair<std::size_t, std::string>> want;  // offset in the record, bytes
  };
  const Case cases[] = {
      {QlmReplaceSendOrdr, sizeof(QlmSendOrdrReplaceReq), sizeof(QlmSendOrdr), offsetof(QlmSendOrdr, reserved), 20,
       406, entry(1180, "ORD1", {{1181, "DESC"}, {781, "F781"}, {787, "lost"}}), {{20, "DESC"}, {175, "F781"}}},
      {QlmReplaceRecvOrdr, sizeof(QlmRecvOrdrReplaceReq), sizeof(QlmRecvOrdr), offsetof(QlmRecvOrdr, reserved), 20,
       388, entry(687, "RCV1", {{698, "FILE"}, {695, "F695"}, {708, "lost"}, {714, "14"}}),
       {{175, "FILE"}, {146, "F695"}, {283, "14"}}},
      {QlmAddSendRcpt, sizeof(QlmSendRcptReq), sizeof(QlmSendRcpt), 0, 0, 410, entry(1802, "SR1", {{9969, "NINE"}}),
       {{220, "NINE"}}},
      // The add of a receive receipt copies 754 and 770; its lists do not.
      {QlmAddRecvRcpt, sizeof(QlmRecvRcptReq), sizeof(QlmRecvRcpt), 0, 0, 392,
       entry(721, "RR1", {{754, "F754"}, {770, "77"}}), {{461, "F754"}, {684, "77"}}},
      {QlmAddDropBox, sizeof(QlmDropBoxReq), sizeof(QlmDropBox), offsetof(QlmDropBox, reserved), 2, 362,
       entry(652, "BOX1", {{653, "A"}, {672, "from the manager"}}),
       {{offsetof(QlmDropBox, field653), "A"}, {offsetof(QlmDropBox, field672), "from the manager"}}},
  };
  for (const Case &c : cases) {
    std::string req(c.request, ' '), out(c.record, '#');
    putField(req.data(), 20, "Proj");
    reply({.responseId = c.id + 1, .segments = {c.reply}});
    ASSERT_EQ(c.call(req.data(), out.data()), 0u) << c.id;
    EXPECT_EQ(sent(), "3000=" + std::to_string(c.id) + " 102=MB 104=10001 ref");
    expectAt(out, c.want);
    EXPECT_EQ(out.substr(c.reserved, c.reservedWidth), std::string(c.reservedWidth, '#')) << c.id;
    EXPECT_EQ(out.find("lost"), std::string::npos) << c.id;
  }

  // The reply carries a record of the order's own kind, and only when one was asked for.
  auto req = inContext<QlmSendOrdrReplaceReq>("Proj");
  auto out = blankRecord<QlmSendOrdr>();
  reply({.responseId = 407, .segments = {entry(687, "ORD1")}});
  EXPECT_EQ(QlmReplaceSendOrdr(raw(&req), raw(&out)), 12u);
  EXPECT_EQ(error(), 20010);
  reply({.responseId = 407, .segments = {entry(1180, "ORD1")}});
  EXPECT_EQ(QlmReplaceSendOrdr(raw(&req), nullptr), 12u);
  reply({.responseId = 407, .returnCode = 16, .segments = {{{9983, "40"}, {40, "30012"}}}});
  EXPECT_EQ(QlmReplaceSendOrdr(raw(&req), raw(&out)), 16u);
}

TEST_F(Mailbox, DeletesAndAssignmentsSendTheKeyInADataSegment) {
  auto del = inContext<QlmOrdrDeleteReq>("Proj");
  put(del.name, "ORD1");
  auto boxDel = inContext<QlmDropBoxDeleteReq>("Proj");
  put(boxDel.name, "BOX1");
  auto shelf = inContext<QlmShlfReq>("Proj");
  auto asg = inContext<QlmAssignReq>("Proj");
  put(asg.container, "BOX1");
  put(asg.member, "ORD1");
  // A shelf is "$Default$" with relation 10001; an assignment names its drop box as the related record.
  const struct {
    QlmRc (*call)(char *);
    void *record;
    const char *header, *data;
  } cases[] = {
      {QlmDeleteSendOrdr, &del, "3000=400 102=MB 104=10000 ref", "9983=1180 1180=ORD1"},
      {QlmDeleteRecvOrdr, &del, "3000=382 102=MB 104=10000 ref", "9983=687 687=ORD1"},
      {QlmDeleteDropBox, &boxDel, "3000=364 102=MB 104=10000 ref", "9983=652 652=BOX1"},
      {QlmDeleteOrdrShlf, &shelf, "3000=358 102=MB 134=10001 104=10000 ref", "9983=650 650=$Default$"},
      {QlmDeleteRcptShlf, &shelf, "3000=360 102=MB 134=10001 104=10000 ref", "9983=651 651=$Default$"},
      {QlmAsgSendOrdrToDropBox, &asg, "3000=404 102=MB 134=652 133=BOX1 104=10000 ref", "9983=1180 1180=ORD1"},
      {QlmAsgRecvOrdrToDropBox, &asg, "3000=386 102=MB 134=652 133=BOX1 104=10000 ref", "9983=687 687=ORD1"},
      {QlmUsgSendOrdrFromDropBox, &asg, "3000=408 102=MB 134=652 133=BOX1 104=10000 ref", "9983=1180 1180=ORD1"},
      {QlmUsgRecvOrdrFromDropBox, &asg, "3000=390 102=MB 134=652 133=BOX1 104=10000 ref", "9983=687 687=ORD1"},
  };
  for (const auto &c : cases) {
    reply({.responseId = std::atoi(c.header + 5) + 1});
    ASSERT_EQ(c.call(raw(c.record)), 0u) << c.header;
    EXPECT_EQ(sent(), c.header);
    ASSERT_EQ(lastSent().size(), 2u) << c.header;
    EXPECT_EQ(sent(1), c.data);
  }
  // A refusal without an error segment is 1; an assignment answer carries no record.
  reply({.responseId = 361, .returnCode = 8});
  EXPECT_EQ(QlmDeleteRcptShlf(raw(&shelf)), 1u);
  reply({.responseId = 391, .segments = {entry(687, "ORD1")}});
  EXPECT_EQ(QlmUsgRecvOrdrFromDropBox(raw(&asg)), 12u);
}

TEST_F(Mailbox, ListRequestsSendEachFamilysKeywordsAndRelation) {
  // Keywords, in any case, as name IDs of the family's own (the order shelf: 9981, 9982).
  auto small = smallQualifier("3");
  const struct {
    std::function<QlmRc(uint16_t *)> call;
    const char *header, *data;
  } cases[] = {
      {listing(QlmListSendOrdr, "MailBoxID", "Name"), "3000=402 102=MB ref 104=10000 128=773 130=1180 131=1 132=10"},
      {listing(QlmListRecvOrdr, "fileid", ""), "3000=384 102=MB ref 104=10000 128=698 131=1 132=10"},
      {listing(QlmListSendRcpt, "startdate", ""), "3000=412 102=MB ref 104=10000 128=1804 131=1 132=10"},
      {listing(QlmListRecvRcpt, "", "FILEID"), "3000=394 102=MB ref 104=10000 130=732 131=1 132=10"},
      {listing(QlmListDropBox, "", "NAME"), "3000=366 102=MB ref 104=10000 130=652 131=1 132=10"},
      {listing(QlmListOrdrsOnOrdrShlf, "", "Description"),
       "3000=354 102=MB 134=10001 ref 104=10000 130=9981 131=1 132=10"},
      {[&](uint16_t *n) { return QlmListRcptsOnRcptShlf(raw(&small), n, nullptr); },
       "3000=356 102=MB 134=10001 ref 104=10000 131=1 132=3"},
      {[&](uint16_t *n) { return QlmListSendRcptsOnSendOrdr(order_, raw(&small), n, nullptr); },
       "3000=412 102=MB 134=1180 133=ORD1 ref 104=10000 131=1 132=3"},
      // The orders of a drop box: request 366 like the drop box list, told apart by its data segment.
      {[&](uint16_t *n) { return QlmListOrdrsOnDropBox(box_, raw(&small), n, nullptr); },
       "3000=366 102=MB 134=10001 ref 104=10000 131=1 132=3", "9983=652 652=BOX1"},
  };
  for (const auto &c : cases) {
    uint16_t count = 7;
    reply({.responseId = std::atoi(c.header + 5) + 1});
    ASSERT_EQ(c.call(&count), 0u) << c.header;
    EXPECT_EQ(count, 0);
    EXPECT_EQ(sent(), c.header);
    ASSERT_EQ(lastSent().size(), c.data ? 2u : 1u) << c.header;
    EXPECT_EQ(c.data ? sent(1) : "", c.data ? c.data : "");
  }
}

TEST_F(Mailbox, RefusalsSendNothing) {
  auto del = inContext<QlmOrdrDeleteReq>("Proj");  // blank name
  auto shelf = blankRecord<QlmShlfReq>();          // blank context
  auto asg = inContext<QlmAssignReq>("Proj");      // blank member
  put(asg.container, "BOX1");
  openContext("Shut", true, false);  // its mailbox is not open
  auto shut = inContext<QlmOrdrDeleteReq>("Shut");
  put(shut.name, "ORD1");
  auto small = smallQualifier();
  char noName[20];
  putField(noName, 20, "");
  uint16_t count = 7;
  const std::pair<std::function<QlmRc(uint16_t *)>, int> cases[] = {
      {[&](uint16_t *) { return QlmDeleteSendOrdr(raw(&del)); }, 20170},
      {[&](uint16_t *) { return QlmDeleteSendOrdr(nullptr); }, 20110},
      {[&](uint16_t *) { return QlmDeleteSendOrdr(raw(&shut)); }, 20070},
      {[&](uint16_t *) { return QlmDeleteOrdrShlf(nullptr); }, 20110},
      {[&](uint16_t *) { return QlmDeleteRcptShlf(raw(&shelf)); }, 20130},
      {[&](uint16_t *) { return QlmAsgSendOrdrToDropBox(raw(&asg)); }, 20170},
      {listing(QlmListSendOrdr, "fileid", ""), 20190},  // a receive order keyword
      {listing(QlmListSendOrdr, "", "fileid"), 20200},
      {listing(QlmListSendRcpt, "fileid", ""), 20190},
      {listing(QlmListDropBox, "", "description"), 20200},
      {listing(QlmListOrdrsOnOrdrShlf, "mailboxid", ""), 20190},  // the shelf's keywords are its own
      {listing(QlmListRecvOrdr, "", "", "0"), 20210},
      {[&](uint16_t *) { auto q = listQualifier(); return QlmListRecvRcpt(raw(&q), nullptr, nullptr); }, 20110},
      {[&](uint16_t *) { return QlmListRcptsOnRcptShlf(raw(&small), nullptr, nullptr); }, 20110},
      {[&](uint16_t *n) { return QlmListOrdrsOnDropBox(noName, raw(&small), n, nullptr); }, 20170},
      {[&](uint16_t *n) { return QlmListOrdrsOnDropBox(nullptr, raw(&small), n, nullptr); }, 20170},
      {[&](uint16_t *n) { return QlmListSendRcptsOnSendOrdr(noName, raw(&small), n, nullptr); }, 20170},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(cases[i].first(&count), 8u) << i;
    EXPECT_EQ(error(), cases[i].second) << i;
  }
  EXPECT_TRUE(ScriptedLink::sent.empty());
  EXPECT_EQ(count, 7);  // a refused list leaves the count alone
}

TEST_F(Mailbox, MixedListsPackEntriesBySizeAndBlankWhatTheReplyDoesNotCarry) {
  // Orders over two messages; foreign and untyped segments are passed over, items the entry lacks dropped.
  auto q = listQualifier("", "", "4");
  std::string area(4 * 500 + 32, '#');
  uint16_t count = 0;
  reply({.responseId = 355,
         .more = true,
         .segments = {entry(1180, "S1", {{1181, "first"}}), entry(1802, "foreign"), {{1180, "untyped"}},
                      entry(687, "R1", {{698, "FILE"}, {708, "lost"}})}});
  reply({.responseId = 355, .segments = {entry(1180, "S2", {{787, "lost"}})}});
  ASSERT_EQ(QlmListOrdrsOnOrdrShlf(raw(&q), &count, area.data()), 0u);
  EXPECT_EQ(sent(), "3000=354 102=MB 134=10001 ref 104=10001 131=1 132=4");
  ASSERT_EQ(count, 3);
  // Blank: a send order's mailboxid (1 + 102), a receive order's reserved area (1 + 258).
  expectAt(area, {{0, "SS1"}, {1 + 20, "first"}, {1 + 102, std::string(16, ' ')}, {500, "RR1"},
                  {500 + 1 + 175, "FILE"}, {500 + 1 + 258, std::string(20, ' ')}, {848, "SS2"}});
  EXPECT_EQ(area.find("lost"), std::string::npos);
  EXPECT_EQ(area.find_first_not_of('#', 1348), std::string::npos);
  std::size_t at = 0;  // the caller's walk
  for (int i = 0; i < count; ++i) at += QlmSizeOfOrdr(area[at]);
  EXPECT_EQ(at, 1348u);

  // Receipts: a list fills neither field754 (1 + 461) nor field770 (1 + 684).
  auto small = smallQualifier("3");
  area.assign(3 * 725 + 32, '#');
  reply({.responseId = 357,
         .segments = {entry(1802, "XS1", {{9969, "NINE"}}), entry(1180, "foreign"),
                      entry(721, "XR1", {{732, "FILE"}, {754, "lost754"}, {770, "77"}})}});
  ASSERT_EQ(QlmListRcptsOnRcptShlf(raw(&small), &count, area.data()), 0u);
  ASSERT_EQ(count, 2);
  expectAt(area, {{0, "SXS1"}, {1 + 220, "NINE"}, {317, "RXR1"}, {317 + 1 + 20, "FILE"},
                  {317 + 1 + 461, std::string(8, ' ')}, {317 + 1 + 684, "  "}});
  EXPECT_EQ(area.find_first_not_of('#', 1042), std::string::npos);
  EXPECT_EQ(QlmSizeOfRcpt(area[0]) + QlmSizeOfRcpt(area[317]), 1042u);
}

TEST_F(Mailbox, MixedListsStopAtNumentriesAndKeepWhatCameBeforeAFailure) {
  // Two orders of the wider kind fit; a third is neither stored nor counted, in one message or over two.
  auto q = listQualifier("", "", "2");
  uint16_t count = 0;
  for (const std::size_t end : {848, 1000}) {
    std::string area(2 * 500 + 64, '#');
    if (end == 848) {
      reply({.responseId = 355, .segments = {entry(687, "R1"), entry(1180, "S1"), entry(1180, "S2")}});
    } else {
      reply({.responseId = 355, .more = true, .segments = {entry(1180, "S1")}});
      reply({.responseId = 355, .segments = {entry(1180, "S2"), entry(1180, "S3"), entry(687, "R1")}});
    }
    ASSERT_EQ(QlmListOrdrsOnOrdrShlf(raw(&q), &count, area.data()), 0u);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(area[end - 500], 'S');
    EXPECT_EQ(area.find_first_not_of('#', end), std::string::npos) << end;
  }
  // One receipt: the narrower one first, and nothing after it; without an area only counted.
  auto small = smallQualifier("1");
  std::string area(725 + 64, '#');
  for (char *to : {area.data(), static_cast<char *>(nullptr)}) {
    reply({.responseId = 357, .segments = {entry(1802, "XS1"), entry(721, "XR1")}});
    ASSERT_EQ(QlmListRcptsOnRcptShlf(raw(&small), &count, to), 0u);
    EXPECT_EQ(count, 1);
  }
  EXPECT_EQ(area.find_first_not_of('#', 317), std::string::npos);

  // A failure in a later message keeps what came before it; one without an error
  // segment is 1, and its entries are read all the same.
  reply({.responseId = 355, .more = true, .segments = {entry(687, "R9")}});
  reply({.responseId = 355, .returnCode = 4, .segments = {{{9983, "40"}, {40, "30006"}}}});
  EXPECT_EQ(QlmListOrdrsOnOrdrShlf(raw(&q), &count, area.data()), 4u);
  EXPECT_EQ(area.substr(0, 3) + std::to_string(count), "RR91");
  reply({.responseId = 355, .returnCode = 4, .segments = {entry(1180, "S9")}});
  EXPECT_EQ(QlmListOrdrsOnOrdrShlf(raw(&q), &count, area.data()), 1u);
  EXPECT_EQ(area.substr(0, 3) + std::to_string(count), "SS91");
}

TEST_F(Mailbox, SingleKindListsFillOverTheAreaAndRefuseForeignSegments) {
  auto q = listQualifier("", "", "5");
  std::string area(5 * 725, '#');
  uint16_t count = 0;
  reply({.responseId = 395, .segments = {entry(721, "XR1"), entry(721, "XR2", {{754, "lost754"}})}});
  ASSERT_EQ(QlmListRecvRcpt(raw(&q), &count, area.data()), 0u);
  EXPECT_EQ(count, 2);
  expectAt(area, {{0, "RXR1"}, {725, "RXR2"}, {725 + 1 + 461, "########"}});  // field754 neither copied nor blanked

  reply({.responseId = 395, .segments = {entry(721, "XR1"), entry(1802, "XS1")}});
  EXPECT_EQ(QlmListRecvRcpt(raw(&q), &count, area.data()), 12u);
  EXPECT_EQ(error(), 20010);
  EXPECT_EQ(count, 1);

  // Entry sizes: send receipts 317, drop boxes 91 without an entry type character.
  reply({.responseId = 413, .segments = {entry(1802, "a"), entry(1802, "b"), entry(1802, "c")}});
  ASSERT_EQ(QlmListSendRcpt(raw(&q), &count, area.data()), 0u);
  EXPECT_EQ(area.substr(634, 2) + std::to_string(count), "Sc3");
  reply({.responseId = 367, .segments = {entry(652, "B0"), entry(652, "B1"), entry(652, "B2")}});
  ASSERT_EQ(QlmListDropBox(raw(&q), &count, area.data()), 0u);
  EXPECT_EQ(area.substr(182, 2), "B2");
  // The relation lists: the receipts of an order one kind, the orders of a drop box mixed.
  auto small = smallQualifier("2");
  reply({.responseId = 413, .segments = {entry(1802, "XS1"), entry(1802, "XS2")}});
  ASSERT_EQ(QlmListSendRcptsOnSendOrdr(order_, raw(&small), &count, area.data()), 0u);
  EXPECT_EQ(area.substr(317, 4) + std::to_string(count), "SXS22");
  reply({.responseId = 367, .segments = {entry(687, "R1"), entry(1180, "S1")}});
  ASSERT_EQ(QlmListOrdrsOnDropBox(box_, raw(&small), &count, area.data()), 0u);
  EXPECT_EQ(area.substr(0, 3) + area.substr(348, 3) + std::to_string(count), "RR1SS12");
}

TEST_F(Mailbox, ReadersTraceUnexpectedItemsUnderTheirOwnNames) {
  auto rr = inContext<QlmRecvRcptReq>("Proj");
  auto rout = blankRecord<QlmRecvRcpt>();
  auto small = smallQualifier("2");
  std::string area(2 * 725, ' ');
  uint16_t count = 0;
  SetTrace(1);
  reply({.responseId = 393, .segments = {entry(721, "RR1", {{999, "?"}})}});
  ASSERT_EQ(QlmAddRecvRcpt(raw(&rr), raw(&rout)), 0u);
  reply({.responseId = 357, .segments = {entry(1802, "XS1"), entry(721, "XR1", {{754, "lost"}})}});
  ASSERT_EQ(QlmListRcptsOnRcptShlf(raw(&small), &count, area.data()), 0u);
  SetTrace(0);

  std::stringstream trace;
  trace << std::ifstream(traceFile()).rdbuf();
  // The add reader of receive receipts traces no item value; the entry reader does.
  EXPECT_THAT(trace.str(), ContainsRegex("cfpxrad:[^\n]*:Unexpected Error\n"));
  EXPECT_THAT(trace.str(), Not(HasSubstr(":999:")));
  EXPECT_THAT(trace.str(), ContainsRegex("cflxrls:[^\n]*:Unexpected Error\n[^\n]*:\\(int\\) aFldId:754:\n"));
  EXPECT_THAT(trace.str(), HasSubstr("{ cfrlzrs:"));
  EXPECT_THAT(trace.str(), ContainsRegex("\\{ cfprsls:[^\n]*:cfProcAnyRcptsListedRsp\n"));
  EXPECT_THAT(trace.str(), ContainsRegex("\\{ cflxsls:[^\n]*:cfProcSendRcptListedSegment\n"));
  EXPECT_THAT(trace.str(), ContainsRegex("\\} cfprsls:[^\n]*:cfProcAnyRcptsListedRsp \\(0\\)\n"));
}
