// Every family of exported functions (address book, profiles and projects, mailbox,
// sessions) against a scripted peer: the exact items each request sends and in which
// order, the refusals that send nothing, and how the readers fill the caller's
// records and list areas without passing their ends. What the server makes of the
// requests is tested in rqmgr/, their round trip in tests/e2e.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <functional>
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
using Call = std::function<QlmRc()>;

namespace {

// A blank request of `width` bytes naming `context`.
std::string request(std::size_t width, const char *context = "Proj") {
  std::string r(width, ' ');
  putField(r.data(), 20, context);
  return r;
}

// A record segment of a reply: its segment type and its items.
Segment typed(int type, Segment items = {}) {
  items.insert(items.begin(), {9983, std::to_string(type)});
  return items;
}

// A call of `fn` on the request record `r` (and no result record).
template <class R>
Call calling(QlmRc (*fn)(char *), R &r) { return [fn, &r] { return fn(raw(&r)); }; }
template <class R>
Call calling(QlmRc (*fn)(char *, char *), R &r) { return [fn, &r] { return fn(raw(&r), nullptr); }; }

// A message system operation: its request and result record widths and its answer.
struct Op {
  const char *name;
  QlmRc (*call)(char *, char *);
  std::size_t request, result;
  int response;
};
const Op kStart{"start", QlmStartSess, sizeof(QlmSessStartReq), sizeof(QlmSessStarted), 569};
const Op kEnd{"end", QlmEndSess, sizeof(QlmSessEndReq), sizeof(QlmSessResult), 571};
const Op kSend{"send", QlmDoSendOrdr, sizeof(QlmSendOrdrDoReq), sizeof(QlmSendOrdrDone), 559};
const Op kRecv{"receive", QlmDoRecvOrdr, sizeof(QlmRecvOrdrDoReq), sizeof(QlmRecvOrdrDone), 561};
const Op kPurge{"purge", QlmDoPurgOrdr, sizeof(QlmPurgOrdrReq), sizeof(QlmPurgOrdrDone), 563};
const Op kRecover{"recover", QlmRecoverSessRcpt, sizeof(QlmSessRcptRecoverReq), sizeof(QlmSessRcptRecovered), 577};
const Op kProc{"drop box", QlmProcDropBox, sizeof(QlmDropBoxProcReq), sizeof(QlmSessResult), 573};

}  // namespace

// An open project "Proj" with its address book, mailbox and message system open.
class Families : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    openContext("Proj");
    put(box_, "BOX1", order_, "ORD1", friends_, "friends", sessRcpt_, "SR1", blank_, "");
  }
  std::string area(std::size_t n, char fill = '#') const { return std::string(n, fill); }
  char box_[20], order_[20], friends_[20], sessRcpt_[20], blank_[20];
};

TEST_F(Families, EachRequestSendsItsHeaderAndDataSegment) {
  auto addr = inContext<QlmAddrReq>("Proj");
  put(addr.addr.nickname, "BOB", addr.addr.city, "not sent");
  auto asg = assignment("friends", "ada"), boxAsg = assignment("BOX1", "ORD1"), rcptAsg = assignment("SR1", "RC1");
  auto q = listQualifier("CITY", "zip", "    2");
  put(q.startentry, "00001", q.operator_, "<>", q.selectvalue, "Paris", q.sortorder, "d");
  auto small = smallQualifier("3");
  auto cp = inContext<QlmCommProfReq>("Proj");
  put(cp.commprof.profname, "modem", cp.commprof.field466, "a", cp.commprof.field467, "b", cp.commprof.field820, "c",
      cp.commprof.field821, "dial string");
  auto pa = inContext<QlmProjAssignReq>("Proj");
  put(pa.profname, "modem");
  auto pages = paging("50");
  auto proj = blankRecord<QlmProj>();
  put(proj.projname, "Proj", proj.field461, "never replaced");
  auto logon = inContext<QlmVnLogonReq>("Proj");
  put(logon.logonid, "LOG1", logon.mailboxid, "MBX", logon.field474, "x", logon.field478, "y", logon.field476, "z");
  auto del = inContext<QlmOrdrDeleteReq>("Proj");
  put(del.name, "ORD1");
  auto boxDel = inContext<QlmDropBoxDeleteReq>("Proj");
  put(boxDel.name, "BOX1");
  auto shelf = inContext<QlmShlfReq>("Proj");
  auto sess = inContext<QlmSessRcptReq>("Proj");
  put(sess.sessrcpt.status, "ACTIV");  // the first field, sent after the name
  put(sess.sessrcpt.name, "SR1", sess.sessrcpt.field291, "Z");
  auto sessDel = inContext<QlmSessRcptDeleteReq>("Proj");
  put(sessDel.name, "SR1");
  std::uint16_t count = 0;
  const auto list = [&](QlmRc (*fn)(char *, uint16_t *, char *), const char *select, const char *sort) -> Call {
    return [=, &count] { return listing(fn, select, sort)(&count); };
  };
  // A shelf is "$Default$" with relation 10001; a relation names its container as
  // the related record; keywords go as name IDs of the family's own.
  const struct {
    Call call;
    const char *header, *data;
  } cases[] = {
      {calling(QlmDeleteAddr, addr), "3000=106 102=AB 104=10000 ref", "9983=105 105=BOB"},
      {[&] { return QlmListAddr(raw(&q), &count, raw(&addr)); },
       "3000=108 102=AB ref 104=10001 128=111 130=115 131=00001 132=    2 126=Paris 127=10014 129=10018", nullptr},
      {list(QlmListDistList, "", "Description"), "3000=120 102=AB ref 104=10000 130=136 131=1 132=10", nullptr},
      {list(QlmListTradProf, "NAME", ""), "3000=132 102=AB ref 104=10000 128=137 131=1 132=10", nullptr},
      {calling(QlmAsgAddrToDistList, asg), "3000=110 102=AB 134=135 133=friends 104=10000 ref", "9983=105 105=ada"},
      {calling(QlmAsgAddrToTradProf, asg), "3000=110 102=AB 134=137 133=friends 104=10000 ref", "9983=105 105=ada"},
      {calling(QlmUsgDistListFromTradProf, asg), "3000=126 102=AB 134=137 133=friends 104=10000 ref",
       "9983=135 135=ada"},
      {[&] { return QlmListDistListsOnTradProf(friends_, raw(&small), &count, nullptr); },
       "3000=120 102=AB 134=137 133=friends ref 104=10000 131=1 132=3", nullptr},
      // Profiles, logons and projects: their own records and orders (821 before 820).
      {calling(QlmAddCommProf, cp), "3000=266 102=PH 104=10000 ref",
       "9983=465 465=modem 466=a 467=b 821=dial string 820=c"},
      {calling(QlmReplaceCommProf, cp), "3000=272 102=PH 104=10000 ref", "9983=465 466=a 467=b 465=modem"},
      {list(QlmListCommProf, "nickname", "anything"), "3000=270 102=PH ref 104=10000 131=1 132=10", nullptr},
      {calling(QlmAsgProjToCommProf, pa), "3000=260 102=PH 134=465 133=modem 104=10000 ref", "9983=451 451=Proj"},
      {calling(QlmUsgProjFromCommProf, pa), "3000=264 102=PH 134=465 133=modem 104=10000 ref", "9983=451 451=Proj"},
      {[&] { return QlmListProjsOnCommProf(raw(&pa.profname), raw(&pages), &count, nullptr); },
       "134=465 133=modem 3000=258 ref 104=10000 131=1 132=50", nullptr},
      {[&] { return QlmListProj(raw(&pages), &count, raw(&proj)); }, "3000=258 ref 104=10001 131=1 132=50", nullptr},
      {calling(QlmReplaceProj, proj), "3000=262 102=PH 104=10000 ref", "9983=451 451=Proj"},
      {calling(QlmAddVnLogon, logon), "3000=282 102=PH 104=10000 ref", "9983=472 472=LOG1 473=MBX 474=x 478=y 476=z"},
      {calling(QlmDeleteVnLogon, logon), "3000=284 102=PH 104=10000 ref", "9983=472 472=LOG1"},
      // The mailbox.
      {calling(QlmDeleteSendOrdr, del), "3000=400 102=MB 104=10000 ref", "9983=1180 1180=ORD1"},
      {calling(QlmDeleteRecvOrdr, del), "3000=382 102=MB 104=10000 ref", "9983=687 687=ORD1"},
      {calling(QlmDeleteDropBox, boxDel), "3000=364 102=MB 104=10000 ref", "9983=652 652=BOX1"},
      {calling(QlmDeleteOrdrShlf, shelf), "3000=358 102=MB 134=10001 104=10000 ref", "9983=650 650=$Default$"},
      {calling(QlmDeleteRcptShlf, shelf), "3000=360 102=MB 134=10001 104=10000 ref", "9983=651 651=$Default$"},
      {calling(QlmAsgSendOrdrToDropBox, boxAsg), "3000=404 102=MB 134=652 133=BOX1 104=10000 ref",
       "9983=1180 1180=ORD1"},
      {calling(QlmAsgRecvOrdrToDropBox, boxAsg), "3000=386 102=MB 134=652 133=BOX1 104=10000 ref", "9983=687 687=ORD1"},
      {calling(QlmUsgSendOrdrFromDropBox, boxAsg), "3000=408 102=MB 134=652 133=BOX1 104=10000 ref",
       "9983=1180 1180=ORD1"},
      {calling(QlmUsgRecvOrdrFromDropBox, boxAsg), "3000=390 102=MB 134=652 133=BOX1 104=10000 ref",
       "9983=687 687=ORD1"},
      {list(QlmListSendOrdr, "MailBoxID", "Name"), "3000=402 102=MB ref 104=10000 128=773 130=1180 131=1 132=10",
       nullptr},
      {list(QlmListRecvOrdr, "fileid", ""), "3000=384 102=MB ref 104=10000 128=698 131=1 132=10", nullptr},
      {list(QlmListSendRcpt, "startdate", ""), "3000=412 102=MB ref 104=10000 128=1804 131=1 132=10", nullptr},
      {list(QlmListRecvRcpt, "", "FILEID"), "3000=394 102=MB ref 104=10000 130=732 131=1 132=10", nullptr},
      {list(QlmListDropBox, "", "NAME"), "3000=366 102=MB ref 104=10000 130=652 131=1 132=10", nullptr},
      {list(QlmListOrdrsOnOrdrShlf, "", "Description"), "3000=354 102=MB 134=10001 ref 104=10000 130=9981 131=1 132=10",
       nullptr},
      {[&] { return QlmListRcptsOnRcptShlf(raw(&small), &count, nullptr); },
       "3000=356 102=MB 134=10001 ref 104=10000 131=1 132=3", nullptr},
      {[&] { return QlmListSendRcptsOnSendOrdr(order_, raw(&small), &count, nullptr); },
       "3000=412 102=MB 134=1180 133=ORD1 ref 104=10000 131=1 132=3", nullptr},
      // The orders of a drop box: request 366 like the drop box list, told apart by its data segment.
      {[&] { return QlmListOrdrsOnDropBox(box_, raw(&small), &count, nullptr); },
       "3000=366 102=MB 134=10001 ref 104=10000 131=1 132=3", "9983=652 652=BOX1"},
      // Session receipts and the query.
      {calling(QlmAddSessRcpt, sess), "3000=370 102=MB 104=10000 ref", "9983=274 274=SR1 275=ACTIV 291=Z"},
      {calling(QlmDeleteSessRcpt, sessDel), "3000=372 102=MB 104=10000 ref", "9983=274 274=SR1"},
      {calling(QlmAsgSendRcptToSessRcpt, rcptAsg), "3000=414 102=MB 134=274 133=SR1 104=10000 ref",
       "9983=1802 1802=RC1"},
      {calling(QlmAsgRecvRcptToSessRcpt, rcptAsg), "3000=396 102=MB 134=274 133=SR1 104=10000 ref", "9983=721 721=RC1"},
      {list(QlmListSessRcpt, "STATUS", ""), "3000=374 102=MB ref 104=10000 128=275 131=1 132=10", nullptr},
      {list(QlmListSessRcpt, "", "DropBoxName"), "3000=374 102=MB ref 104=10000 130=276 131=1 132=10", nullptr},
      {[&] { return QlmListRcptsOnSessRcpt(sessRcpt_, raw(&small), &count, nullptr); },
       "3000=374 102=MB 134=10001 ref 104=10000 131=1 132=3", "9983=274 274=SR1"},
      // The query: the flag before the reference, no data segment.
      {[&] { return QlmDoQuryOrdr(raw(&small), &count, nullptr); }, "3000=564 102=MS 104=10000 ref 131=1 132=3",
       nullptr},
  };
  for (const auto &c : cases) {
    count = 7;
    reply({.responseId = std::atoi(std::strstr(c.header, "3000=") + 5) + 1});
    ASSERT_EQ(c.call(), 0u) << c.header;
    EXPECT_EQ(count, 7 * (std::strstr(c.header, "131=") == nullptr)) << c.header;  // an empty list counts 0
    EXPECT_EQ(sent(), c.header);
    ASSERT_EQ(lastSent().size(), c.data ? 2u : 1u) << c.header;
    EXPECT_EQ(c.data ? sent(1) : "", c.data ? c.data : "");
  }
}

TEST_F(Families, AddReplaceAndOperationsSendEveryFieldButTheReservedInTheirWireOrder) {
  // Every byte 'x', the probe field "@@" (where given), the reserved area 'R'.
  const struct {
    QlmRc (*call)(char *, char *);
    std::size_t size, reserved, reservedWidth, probe;
    int request, probeId, segType;
    const char *handle;
    std::initializer_list<int> items;  // after 9983, with runs
  } cases[] = {
      {QlmAddSendOrdr, sizeof(QlmSendOrdrReq), offsetof(QlmSendOrdrReq, sendordr.reserved), 20,
       offsetof(QlmSendOrdrReq, sendordr.description), 398, 1181, 1180, "MB",
       {1180, 1181, 772, -782, 802, 783, -786, 788, -801}},
      {QlmReplaceSendOrdr, sizeof(QlmSendOrdrReplaceReq), offsetof(QlmSendOrdrReplaceReq, reserved), 20,
       offsetof(QlmSendOrdrReplaceReq, description), 406, 1181, 1180, "MB",
       {1180, 781, 782, 802, 783, -786, 788, -797, 1181, 772, -780, 798, -801}},
      // Receive orders send field714 last, after field720.
      {QlmAddRecvOrdr, sizeof(QlmRecvOrdrReq), offsetof(QlmRecvOrdrReq, recvordr.reserved), 20,
       offsetof(QlmRecvOrdrReq, recvordr.field714), 380, 714, 687, "MB", {687, -707, 709, -713, 715, -720, 714}},
      {QlmReplaceRecvOrdr, sizeof(QlmRecvOrdrReplaceReq), offsetof(QlmRecvOrdrReplaceReq, reserved), 20,
       offsetof(QlmRecvOrdrReplaceReq, field714), 388, 714, 687, "MB",
       {687, 698, -707, 709, -713, 688, -694, 697, 719, 715, -718, 695, 696, 720, 714}},
      {QlmAddSendRcpt, sizeof(QlmSendRcptReq), 0, 0, offsetof(QlmSendRcptReq, sendrcpt.field9969), 410, 9969, 1802, "MB",
       {1802, 1814, -1819, 1809, -1811, 1807, 1808, 1812, 1813, 1820, 1821, 1803, -1806, 1823, 9969, 1825, 1824, 1826,
        1827, 1822}},
      {QlmAddRecvRcpt, sizeof(QlmRecvRcptReq), 0, 0, offsetof(QlmRecvRcptReq, recvrcpt.field9969), 392, 9969, 721, "MB",
       {721, 732, -766, 728, -730, 726, 727, 731, 767, -769, 722, -725, 770, 9969, 771, 1830, -1832}},
      // Drop boxes: field653 and field672 are the server's, not in the request.
      {QlmAddDropBox, sizeof(QlmDropBoxReq), offsetof(QlmDropBoxReq, reserved), 2, offsetof(QlmDropBoxReq, field654),
       362, 654, 652, "MB", {652, 654, -657, 660, 658, 664, -669, 671}},
      {QlmReplaceDropBox, sizeof(QlmDropBoxReq), offsetof(QlmDropBoxReq, reserved), 2,
       offsetof(QlmDropBoxReq, field654), 368, 654, 652, "MB", {652, 654, -657, 660, 658, 664, -669, 671}},
      // The message system: field1129 goes after field671 although it lies before it.
      {kStart.call, kStart.request, offsetof(QlmSessStartReq, reserved), 2, 0, 568, 0, 9991, "MS",
       {1115, 660, 664, -669, 671, 1129}},
      {kEnd.call, kEnd.request, 0, 0, 0, 570, 0, 9990, "MS", {1136, 1175}},
      // The order's own key is not sent, though the segment type is the order's.
      {kSend.call, kSend.request, offsetof(QlmSendOrdrDoReq, reserved), 20, 0, 558, 0, 1180, "MS",
       {772, -782, 802, 783, -786, 788, -801}},
      {kRecv.call, kRecv.request, offsetof(QlmRecvOrdrDoReq, reserved), 20, 0, 560, 0, 687, "MS", {689, -707, 709, -720}},
      {kPurge.call, kPurge.request, 0, 0, 0, 562, 0, 9986, "MS", {2612}},
      {kRecover.call, kRecover.request, 0, 0, 0, 576, 0, 274, "MS", {1172, 1173}},
      {kProc.call, kProc.request, 0, 0, 0, 572, 0, 9993, "MS", {1150, 1151}},
  };
  for (const auto &c : cases) {
    std::vector<char> r(c.size, 'x');
    putField(r.data(), 20, "Proj");
    std::memset(r.data() + c.reserved, 'R', c.reservedWidth);
    if (c.probeId) std::memset(r.data() + c.probe, '@', 2);
    reply({.responseId = c.request + 1});
    ASSERT_EQ(c.call(r.data(), nullptr), 0u) << c.request;
    EXPECT_EQ(sent(), "3000=" + std::to_string(c.request) + " 102=" + c.handle + " 104=10000 ref");
    const Segment &data = lastSent().at(1);
    std::vector<int> want = runs(c.items);
    want.insert(want.begin(), 9983);
    EXPECT_EQ(ids(data), want) << c.request;
    EXPECT_EQ(data[0].second, std::to_string(c.segType));
    std::size_t travelled = 0;  // every field at its full width, no reserved byte
    for (std::size_t i = 1; i < data.size(); ++i) {
      const auto &[id, value] = data[i];
      EXPECT_EQ(value.find_first_not_of(id == c.probeId ? "@x" : "x"), std::string::npos) << c.request << ":" << id;
      EXPECT_EQ(value.substr(0, 2) == "@@", id == c.probeId) << c.request << ":" << id;
      travelled += value.size();
    }
    EXPECT_EQ(travelled, c.size - 20 - c.reservedWidth) << c.request;
  }

  // Blank fields stay behind, zero bytes do not; a blank key is sent all the same.
  auto bare = inContext<QlmSendOrdrReq>("Proj");
  put(bare.sendordr.name, "ORD1");
  for (const char *want : {"9983=1180 1180=ORD1", "9983=1180"}) {
    reply({.responseId = 399});
    ASSERT_EQ(QlmAddSendOrdr(raw(&bare), nullptr), 0u);
    EXPECT_EQ(sent(1), want);
    put(bare.sendordr.name, "");
  }
  auto addr = inContext<QlmAddrReq>("Proj");
  put(addr.addr.nickname, "ada");
  put(addr.addr.field120, "last field");  // sent last though it is 120
  std::memset(addr.addr.zip, 0, sizeof addr.addr.zip);
  reply({.responseId = 105});
  ASSERT_EQ(QlmAddAddr(raw(&addr), nullptr), 0u);
  EXPECT_EQ(sent(1), "9983=105 105=ada 115= 120=last field");
  std::string start = request(kStart.request);
  reply({.responseId = 569});
  ASSERT_EQ(QlmStartSess(start.data(), nullptr), 0u);
  EXPECT_EQ(sent(1), "9983=9991");
}

TEST_F(Families, RefusalsSendNothing) {
  openContext("Shut", true, false, false);  // its mailbox and message system are not open
  auto addr = inContext<QlmAddrReq>("Proj");  // blank nickname
  auto del = inContext<QlmOrdrDeleteReq>("Proj");
  auto shut = inContext<QlmOrdrDeleteReq>("Shut");
  put(shut.name, "ORD1");
  auto noContext = blankRecord<QlmShlfReq>();
  auto asg = assignment("BOX1", ""), noContainer = assignment("", "RC1");  // blank member, container
  auto shutAsg = assignment("", "RC1", "Shut"), shutAsgBlankMember = assignment("SR1", "", "Shut");
  auto sessDelShut = inContext<QlmSessRcptDeleteReq>("Shut");
  put(sessDelShut.name, "SR1");
  auto sessDel = inContext<QlmSessRcptDeleteReq>("Proj");  // blank name
  auto rcptAsg = assignment("SR1", "");  // blank member
  auto small = smallQualifier();
  auto smallShut = smallQualifier("1", "Shut");
  auto qualShut = listQualifier("", "", "1", "Shut");
  auto none = smallQualifier("0");
  std::string op = request(kSend.request, "Shut"), blankOp = request(kEnd.request, "");
  auto late = listQualifier();
  put(late.startentry, "65536");
  uint16_t count = 7;
  const auto list = [&](QlmRc (*fn)(char *, uint16_t *, char *), const char *select, const char *sort,
                        const char *num = "10") -> Call { return [=, &count] { return listing(fn, select, sort, num)(&count); }; };
  const std::pair<Call, int> cases[] = {
      // Keys and containers: blank is refused.
      {calling(QlmDeleteAddr, addr), 20170}, {calling(QlmDeleteSendOrdr, del), 20170},
      {calling(QlmAsgSendOrdrToDropBox, asg), 20170}, {calling(QlmAsgAddrToDistList, asg), 20170},
      {[&] { return QlmListAddrsOnDistList(blank_, raw(&small), &count, nullptr); }, 20170},
      {[&] { return QlmListOrdrsOnDropBox(blank_, raw(&small), &count, nullptr); }, 20170},
      {[&] { return QlmListOrdrsOnDropBox(nullptr, raw(&small), &count, nullptr); }, 20170},
      {[&] { return QlmListSendRcptsOnSendOrdr(blank_, raw(&small), &count, nullptr); }, 20170},
      {[&] { return QlmListRcptsOnSessRcpt(blank_, raw(&small), &count, nullptr); }, 20170},
      {[&] { return QlmListRcptsOnSessRcpt(nullptr, raw(&small), &count, nullptr); }, 20170},
      // A blank session receipt name is refused before the context's state; a blank receipt name after it.
      {calling(QlmAsgSendRcptToSessRcpt, shutAsg), 20170},
      {calling(QlmAsgRecvRcptToSessRcpt, shutAsgBlankMember), 20070},
      {calling(QlmAsgSendRcptToSessRcpt, noContainer), 20170}, {calling(QlmAsgRecvRcptToSessRcpt, rcptAsg), 20170},
      {calling(QlmDeleteSessRcpt, sessDel), 20170},
      // The mailbox and the message system must be open.
      {calling(QlmDeleteSendOrdr, shut), 20070}, {[&] { return QlmAddSessRcpt(op.data(), nullptr); }, 20070},
      {calling(QlmDeleteSessRcpt, sessDelShut), 20070},
      {[&] { return QlmListSessRcpt(raw(&qualShut), &count, nullptr); }, 20070},
      {[&] { return QlmListRcptsOnSessRcpt(sessRcpt_, raw(&smallShut), &count, nullptr); }, 20070},
      {[&] { return QlmDoQuryOrdr(raw(&smallShut), &count, nullptr); }, 20230},
      // The frame: a record, a context name, a count.
      {[&] { return QlmDeleteSendOrdr(nullptr); }, 20110}, {[&] { return QlmDeleteOrdrShlf(nullptr); }, 20110},
      {[&] { return QlmStartSess(nullptr, nullptr); }, 20110},
      {[&] { return QlmProcDropBox(nullptr, nullptr); }, 20110}, {calling(QlmDeleteRcptShlf, noContext), 20130},
      {[&] { return QlmEndSess(blankOp.data(), nullptr); }, 20130},
      {[&] { auto q = listQualifier(); return QlmListAddr(raw(&q), nullptr, nullptr); }, 20110},
      {[&] { auto q = listQualifier(); return QlmListRecvRcpt(raw(&q), nullptr, nullptr); }, 20110},
      {[&] { return QlmListRcptsOnRcptShlf(raw(&small), nullptr, nullptr); }, 20110},
      {[&] { return QlmDoQuryOrdr(raw(&small), nullptr, nullptr); }, 20110},
      // Keywords of the family's own only; a leading blank defeats a match; paging in 1..65535.
      {list(QlmListAddr, "fileid", ""), 20190}, {list(QlmListAddr, "", " zip"), 20200},
      {list(QlmListDistList, "", "nickname"), 20200}, {list(QlmListTradProf, "", "description"), 20200},
      {list(QlmListSendOrdr, "fileid", ""), 20190}, {list(QlmListSendOrdr, "", "fileid"), 20200},
      {list(QlmListSendRcpt, "fileid", ""), 20190}, {list(QlmListDropBox, "", "description"), 20200},
      {list(QlmListOrdrsOnOrdrShlf, "mailboxid", ""), 20190}, {list(QlmListSessRcpt, "ordername", ""), 20190},
      {list(QlmListSessRcpt, "", "field281"), 20200}, {[&] { return QlmListAddr(raw(&late), &count, nullptr); }, 20220},
      {list(QlmListRecvOrdr, "", "", "0"), 20210}, {[&] { return QlmDoQuryOrdr(raw(&none), &count, nullptr); }, 20210},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(refused(cases[i].first()), "8/" + std::to_string(cases[i].second)) << i;
  }
  // Every operation of the message system needs it open.
  for (const Op &o : {kStart, kEnd, kSend, kRecv, kPurge, kRecover, kProc}) {
    std::string r = request(o.request, "Shut");
    EXPECT_EQ(refused(o.call(r.data(), nullptr)), "8/20230") << o.name;
  }
  EXPECT_TRUE(ScriptedLink::sent.empty());
  EXPECT_EQ(count, 7);  // a refused list leaves the count alone
}

TEST_F(Families, ReturnedRecordsFillTheirLayoutsAndNothingElse) {
  // Items the record lacks are dropped, values cut at their field; the rest of the
  // record keeps the caller's bytes ('#').
  const struct {
    QlmRc (*call)(char *, char *);
    std::size_t record;
    int response;
    Segment reply;
    std::initializer_list<std::pair<std::size_t, std::string>> want;  // offset in the record, bytes
  } cases[] = {
      {QlmAddAddr, sizeof(QlmAddr), 105, entry(105, "ada", {{107, "Lo"}, {116, std::string(40, 'M')}, {119, "lost"}}),
       {{0, "ada"}, {offsetof(QlmAddr, lastname), "Lo"}, {offsetof(QlmAddr, mailboxid), std::string(16, 'M')}}},
      {QlmAddCommProf, sizeof(QlmCommProf), 267, entry(465, "modem", {{821, "lost"}}), {{0, "modem"}}},
      {QlmAddVnLogon, sizeof(QlmVnLogon), 283, entry(472, "LOG1", {{475, "Q"}, {476, "z"}, {474, "lost"}}),
       {{0, "LOG1"}, {26, "Q"}, {27, "z"}}},
      {QlmReplaceProj, sizeof(QlmProjInfo), 263, entry(451, "Proj", {{464, "lost"}, {463, "remark"}}),
       {{0, "Proj"}, {offsetof(QlmProjInfo, field463), "remark"}}},
      {QlmReplaceSendOrdr, sizeof(QlmSendOrdr), 407, entry(1180, "ORD1", {{1181, "DESC"}, {781, "F781"}, {787, "lost"}}),
       {{0, "ORD1"}, {20, "DESC"}, {175, "F781"}}},
      {QlmReplaceRecvOrdr, sizeof(QlmRecvOrdr), 389,
       entry(687, "RCV1", {{698, "FILE"}, {695, "F695"}, {708, "lost"}, {714, "14"}}),
       {{0, "RCV1"}, {175, "FILE"}, {146, "F695"}, {283, "14"}}},
      {QlmAddSendRcpt, sizeof(QlmSendRcpt), 411, entry(1802, "SR1", {{9969, "NINE"}}), {{0, "SR1"}, {220, "NINE"}}},
      // The add of a receive receipt copies 754 and 770; its lists do not.
      {QlmAddRecvRcpt, sizeof(QlmRecvRcpt), 393, entry(721, "RR1", {{754, "F754"}, {770, "77"}}),
       {{0, "RR1"}, {461, "F754"}, {684, "77"}}},
      {QlmAddDropBox, sizeof(QlmDropBox), 363, entry(652, "BOX1", {{653, "A"}, {672, "from the manager"}}),
       {{0, "BOX1"}, {offsetof(QlmDropBox, field653), "A"}, {offsetof(QlmDropBox, field672), "from the manager"}}},
      // A session receipt: status at 0, name at 5.
      {QlmAddSessRcpt, sizeof(QlmSessRcpt), 371, typed(274, {{274, "SR1"}, {275, "ACTIV"}, {291, "Z"}}),
       {{0, "ACTIV"}, {5, "SR1"}, {106, "Z"}}},
  };
  for (const auto &c : cases) {
    std::string req = request(1024), out(c.record, '#'), want = out;
    for (const auto &[at, text] : c.want) want.replace(at, text.size(), text);
    reply({.responseId = c.response, .segments = {c.reply}});
    ASSERT_EQ(c.call(req.data(), out.data()), 0u) << c.response;
    EXPECT_THAT(sent(), HasSubstr(" 104=10001 ref")) << c.response;
    EXPECT_EQ(out, want) << c.response;
  }
}

TEST_F(Families, AnswersThatAreNotTheirsFailAndRefusalsGiveTheServersCode) {
  std::string req = request(1024), out = area(1024);
  // A record of the wrong kind, a record nobody asked for (an assignment never gets
  // one), the answer to another request: 12 with 20010. A delete ignores a record.
  const struct {
    QlmRc (*withOut)(char *, char *);
    QlmRc (*without)(char *);
    bool asked;
    Reply reply;
    QlmRc want;
  } cases[] = {
      {QlmReplaceSendOrdr, nullptr, true, {.responseId = 407, .segments = {entry(687, "ORD1")}}, 12},
      {QlmReplaceSendOrdr, nullptr, false, {.responseId = 407, .segments = {entry(1180, "ORD1")}}, 12},
      {QlmAddAddr, nullptr, false, {.responseId = 105, .segments = {entry(105, "ada")}}, 12},
      {QlmAddAddr, nullptr, true, {.responseId = 113}, 12},
      {nullptr, QlmAsgAddrToDistList, false, {.responseId = 111, .segments = {entry(105, "ada")}}, 12},
      {nullptr, QlmUsgRecvOrdrFromDropBox, false, {.responseId = 391, .segments = {entry(687, "ORD1")}}, 12},
      {nullptr, QlmDeleteAddr, false, {.responseId = 107, .segments = {entry(105, "BOB")}}, 0},
      // A refusal gives the server's code with an error segment, 1 without one.
      {QlmAddAddr, nullptr, true, {.responseId = 105, .returnCode = 8, .segments = {errorSegment("30007")}}, 8},
      {QlmAddAddr, nullptr, true, {.responseId = 105, .returnCode = 8}, 1},
      {QlmReplaceSendOrdr, nullptr, true, {.responseId = 407, .returnCode = 16, .segments = {errorSegment("30012")}}, 16},
      {nullptr, QlmDeleteRcptShlf, false, {.responseId = 361, .returnCode = 8}, 1},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto &c = cases[i];
    putField(req.data() + 20, 20, "KEY");  // every key and container
    putField(req.data() + 40, 20, "KEY");
    reply(c.reply);
    ifc().cfReturnCode = 0;
    const QlmRc rc = c.without ? c.without(req.data()) : c.withOut(req.data(), c.asked ? out.data() : nullptr);
    EXPECT_EQ(refused(rc), std::to_string(c.want) + (c.want == 12 ? "/20010" : "/0")) << i;
  }
}

TEST_F(Families, SingleKindListsSpanMessagesNeverPassTheirBoundAndRefuseForeignSegments) {
  auto q = listQualifier("", "", "5");
  std::string a = area(6 * sizeof(QlmAddr));
  uint16_t count = 0;
  reply({.responseId = 109, .more = true, .segments = {entry(105, "a"), entry(105, "b")}});
  reply({.responseId = 109, .more = true, .segments = {entry(105, "c"), entry(105, "d")}});
  reply({.responseId = 109, .segments = {entry(105, "e", {{111, "Rome"}}), entry(105, "f")}});  // f: past numentries
  ASSERT_EQ(QlmListAddr(raw(&q), &count, a.data()), 0u);
  EXPECT_EQ(count, 5);
  const std::size_t rome = 4 * sizeof(QlmAddr) + offsetof(QlmAddr, city);
  expectAt(a, {{0, "a"}, {4 * sizeof(QlmAddr), "e"}, {rome, "Rome"}});
  EXPECT_EQ(a.find_first_not_of('#', rome + 4), std::string::npos);  // nothing after the fifth
  // A segment of another kind is malformed; an error segment ends the walk; a message
  // cut short inside a segment fails instead of reading on.
  reply({.responseId = 109, .segments = {entry(105, "a"), entry(135, "x")}});
  EXPECT_EQ(QlmListAddr(raw(&q), &count, a.data()), 12u);
  EXPECT_EQ(count, 1);
  reply({.responseId = 109, .returnCode = 4, .segments = {entry(105, "a"), errorSegment("30006")}});
  EXPECT_EQ(QlmListAddr(raw(&q), &count, a.data()), 4u);
  reply({.responseId = 109, .segments = {entry(105, "abc")}, .truncateTo = 30});
  EXPECT_EQ(QlmListAddr(raw(&q), &count, a.data()), 12u);

  // Receipts fill over the area at their size: field754 neither copied nor blanked.
  a = area(5 * 725);
  reply({.responseId = 395, .segments = {entry(721, "XR1"), entry(721, "XR2", {{754, "lost754"}})}});
  ASSERT_EQ(QlmListRecvRcpt(raw(&q), &count, a.data()), 0u);
  EXPECT_EQ(count, 2);
  expectAt(a, {{0, "RXR1"}, {725, "RXR2"}, {725 + 1 + 461, "########"}});
  // Entry sizes: send receipts 317, drop boxes 91, session receipts 107 without an
  // entry type character, distribution lists 99, query entries 421 (not blanked).
  const struct {
    Call call;
    Reply reply;
    std::size_t at;
    const char *want;
  } sizes[] = {
      {[&] { return QlmListSendRcpt(raw(&q), &count, a.data()); },
       {.responseId = 413, .segments = {entry(1802, "a"), entry(1802, "b"), entry(1802, "c")}}, 634, "Sc"},
      {[&] { return QlmListDropBox(raw(&q), &count, a.data()); },
       {.responseId = 367, .segments = {entry(652, "B0"), entry(652, "B1"), entry(652, "B2")}}, 182, "B2"},
      {[&] { return QlmListSessRcpt(raw(&q), &count, a.data()); },
       {.responseId = 375, .segments = {typed(274, {{274, "SR1"}}), typed(274, {{274, "SR2"}, {275, "ENDED"}}),
                                        typed(274, {{274, "SR3"}})}},
       107, "ENDEDSR2"},
      {[&] { auto s = smallQualifier("5"); return QlmListDistListsOnTradProf(friends_, raw(&s), &count, a.data()); },
       {.responseId = 121, .segments = {entry(135, "l1"), entry(135, "l2", {{136, "desc"}}), entry(135, "l3")}},
       99 + 20, "desc"},
      // The project list's reader knows 464, the project readers of add and replace do not.
      {[&] { auto p = paging("5"); return QlmListProj(raw(&p), &count, a.data()); },
       {.responseId = 259, .segments = {entry(451, "A"), entry(451, "B", {{464, "L"}}), entry(451, "C")}},
       199 + 198, "L"},
  };
  for (const auto &s : sizes) {
    a = area(5 * 725);
    reply(s.reply);
    ASSERT_EQ(s.call(), 0u) << s.want;
    EXPECT_EQ(count, 3) << s.want;
    EXPECT_EQ(a.substr(s.at, std::strlen(s.want)), s.want);
  }
  auto sq = smallQualifier("4");
  a = area(4 * 421);
  reply({.responseId = 565,
         .more = true,
         .segments = {typed(9987, {{2568, "A1"}, {2601, "Y"}}), typed(9987, {{2576, "MSG2"}, {2571, "lost"}})}});
  reply({.responseId = 565, .segments = {typed(9987, {{2601, "Z"}})}});
  ASSERT_EQ(QlmDoQuryOrdr(raw(&sq), &count, a.data()), 0u);
  EXPECT_EQ(sent(), "3000=564 102=MS 104=10001 ref 131=1 132=4");
  EXPECT_EQ(count, 3);
  // field2601 is an entry's last byte; entries are not blanked first.
  expectAt(a, {{0, "A1"}, {420, "Y"}, {421, "#"}, {421 + 24, "MSG2"}, {842, "#"}, {842 + 420, "Z"}});
  EXPECT_EQ(a.find("lost"), std::string::npos);
  EXPECT_EQ(a.find_first_not_of('#', 3 * 421), std::string::npos);
  // Only query entries: an error segment ends the message, another type is malformed.
  auto two = smallQualifier("2");
  reply({.responseId = 565, .segments = {typed(9987), errorSegment("30021"), typed(9990)}});
  ASSERT_EQ(QlmDoQuryOrdr(raw(&two), &count, nullptr), 0u);
  EXPECT_EQ(count, 1);
  reply({.responseId = 565, .segments = {typed(9987), typed(9990)}});
  EXPECT_EQ(refused(QlmDoQuryOrdr(raw(&two), &count, nullptr)), "12/20010");
}

TEST_F(Families, MixedListsPackEntriesBySizeBlankThemAndStopAtNumentries) {
  // Orders over two messages; foreign and untyped segments are passed over, items the entry lacks dropped.
  auto q = listQualifier("", "", "4");
  std::string a = area(4 * 500 + 32);
  uint16_t count = 0;
  reply({.responseId = 355,
         .more = true,
         .segments = {entry(1180, "S1", {{1181, "first"}}), entry(1802, "foreign"), {{1180, "untyped"}},
                      entry(687, "R1", {{698, "FILE"}, {708, "lost"}})}});
  reply({.responseId = 355, .segments = {entry(1180, "S2", {{787, "lost"}})}});
  ASSERT_EQ(QlmListOrdrsOnOrdrShlf(raw(&q), &count, a.data()), 0u);
  EXPECT_EQ(sent(), "3000=354 102=MB 134=10001 ref 104=10001 131=1 132=4");
  ASSERT_EQ(count, 3);
  // Blank: a send order's mailboxid (1 + 102), a receive order's reserved area (1 + 258).
  expectAt(a, {{0, "SS1"}, {1 + 20, "first"}, {1 + 102, std::string(16, ' ')}, {500, "RR1"},
               {500 + 1 + 175, "FILE"}, {500 + 1 + 258, std::string(20, ' ')}, {848, "SS2"}});
  EXPECT_EQ(a.find("lost"), std::string::npos);
  EXPECT_EQ(a.find_first_not_of('#', 1348), std::string::npos);
  std::size_t at = 0;  // the caller's walk
  for (int i = 0; i < count; ++i) at += QlmSizeOfOrdr(a[at]);
  EXPECT_EQ(at, 1348u);

  // Receipts (of the shelf, and of a session receipt): a list fills neither field754 nor field770.
  auto small = smallQualifier("3");
  const std::pair<int, Call> receiptLists[] = {
      {357, [&] { return QlmListRcptsOnRcptShlf(raw(&small), &count, a.data()); }},
      {375, [&] { return QlmListRcptsOnSessRcpt(sessRcpt_, raw(&small), &count, a.data()); }}};
  for (const auto &[response, list] : receiptLists) {
    a = area(3 * 725 + 32);
    reply({.responseId = response,
           .segments = {entry(1802, "XS1", {{9969, "NINE"}}), entry(1180, "foreign"),
                        entry(721, "XR1", {{732, "FILE"}, {754, "lost754"}, {770, "77"}})}});
    ASSERT_EQ(list(), 0u);
    ASSERT_EQ(count, 2);
    expectAt(a, {{0, "SXS1"}, {1 + 220, "NINE"}, {317, "RXR1"}, {317 + 1 + 20, "FILE"},
                 {317 + 1 + 461, std::string(8, ' ')}, {317 + 1 + 684, "  "}});
    EXPECT_EQ(a.find_first_not_of('#', 1042), std::string::npos);
    EXPECT_EQ(QlmSizeOfRcpt(a[0]) + QlmSizeOfRcpt(a[317]), 1042u);
  }

  // Two orders of the wider kind fit; a third is neither stored nor counted, in one
  // message or over two; the orders of a drop box are such a list too.
  q = listQualifier("", "", "2");
  auto two = smallQualifier("2");
  for (const std::size_t end : {848, 1000}) {
    a = area(2 * 500 + 64);
    if (end == 1000) {
      reply({.responseId = 355, .more = true, .segments = {entry(1180, "S1")}});
      reply({.responseId = 355, .segments = {entry(1180, "S2"), entry(1180, "S3"), entry(687, "R1")}});
    } else {
      reply({.responseId = 367, .segments = {entry(687, "R1"), entry(1180, "S1"), entry(1180, "S2")}});
    }
    const QlmRc rc = end == 1000 ? QlmListOrdrsOnOrdrShlf(raw(&q), &count, a.data())
                                 : QlmListOrdrsOnDropBox(box_, raw(&two), &count, a.data());
    ASSERT_EQ(rc, 0u);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(a[end - 500], 'S');
    EXPECT_EQ(a.find_first_not_of('#', end), std::string::npos) << end;
  }
  // One receipt: the narrower one first, and nothing after it; without an area only counted.
  auto one = smallQualifier("1");
  a = area(725 + 64);
  for (char *to : {a.data(), static_cast<char *>(nullptr)}) {
    reply({.responseId = 357, .segments = {entry(1802, "XS1"), entry(721, "XR1")}});
    ASSERT_EQ(QlmListRcptsOnRcptShlf(raw(&one), &count, to), 0u);
    EXPECT_EQ(count, 1);
  }
  EXPECT_EQ(a.find_first_not_of('#', 317), std::string::npos);

  // A failure in a later message keeps what came before it; one without an error
  // segment is 1, and its entries are read all the same.
  reply({.responseId = 355, .more = true, .segments = {entry(687, "R9")}});
  reply({.responseId = 355, .returnCode = 4, .segments = {errorSegment("30006")}});
  EXPECT_EQ(QlmListOrdrsOnOrdrShlf(raw(&q), &count, a.data()), 4u);
  EXPECT_EQ(a.substr(0, 3) + std::to_string(count), "RR91");
  reply({.responseId = 355, .returnCode = 4, .segments = {entry(1180, "S9")}});
  EXPECT_EQ(QlmListOrdrsOnOrdrShlf(raw(&q), &count, a.data()), 1u);
  EXPECT_EQ(a.substr(0, 3) + std::to_string(count), "SS91");
}

TEST_F(Families, EachOperationReaderTreatsTheRestOfTheAnswerByItsRules) {
  // Result areas start as '#': `filled` is everything a call may change.
  const Segment err = errorSegment("30021");
  const std::string longValue(140, 'm');
  const struct {
    const Op &op;
    bool result;
    int code;
    Segments segments;
    QlmRc want;  // 12: with 20010
    std::initializer_list<std::pair<std::size_t, std::string>> filled;
  } cases[] = {
      // End (and send, receive): without a result, a failure must bring an error segment and nothing after it.
      {kEnd, false, 0, {typed(9990, {{274, "S1"}})}, 12, {}}, {kEnd, false, 0, {}, 0, {}},
      {kEnd, false, 16, {}, 12, {}}, {kEnd, false, 16, {err}, 16, {}}, {kEnd, false, 16, {err, typed(9990)}, 12, {}},
      {kEnd, true, 0, {typed(9990, {{274, "S1"}, {275, "ENDED"}, {291, "Z"}})}, 0, {{0, "S1"}, {90, "ENDED"}, {106, "Z"}}},
      {kEnd, true, 0, {typed(9989, {{274, "S1"}})}, 12, {}},
      {kEnd, true, 16, {typed(9990, {{274, "S1"}})}, 16, {{0, "S1"}}},  // a failure's record is read
      {kSend, true, 4, {err, typed(9989, {{1802, "XS1"}})}, 4, {}},     // the error segment is the result
      {kSend, false, 16, {}, 12, {}},
      {kSend, true, 0, {typed(9989, {{1802, "XS1"}, {1803, "SENT"}, {8022, longValue}})}, 0,
       {{0, "XS1"}, {20, "SENT"}, {53, std::string(130, 'm')}}},
      {kRecv, false, 16, {}, 12, {}},
      {kRecv, true, 0, {typed(9988, {{721, "XR1"}, {723, "20240101120000"}})}, 0, {{0, "XR1"}, {25, "20240101120000"}}},
      {kRecv, true, 0, {typed(9989, {{721, "XR1"}})}, 12, {}},
      // Start: any segment type; without a result the answer is not looked at.
      {kStart, false, 0, {typed(9991, {{274, "S1"}})}, 0, {}}, {kStart, false, 16, {}, 16, {}},
      {kStart, true, 0, {typed(1234, {{274, "S1"}, {275, "ACTIV"}, {282, "LOGON1"}})}, 0,
       {{22, "S1"}, {42, "ACTIV"}, {0, "LOGON1"}}},
      {kStart, true, 0, {}, 12, {}}, {kStart, true, 4, {err}, 4, {}},
      // Purge and recover: a failure ends the read (its code also without an error segment).
      {kPurge, true, 0, {typed(9986, {{2614, "3"}})}, 0, {{0, "3"}}},
      {kPurge, true, 16, {err, typed(9986, {{2614, "3"}})}, 16, {}},
      {kPurge, true, 16, {typed(9986, {{2614, "3"}})}, 16, {}}, {kPurge, true, 0, {err}, 12, {}},
      {kPurge, true, 0, {err, typed(9986, {{2614, "7"}})}, 0, {{0, "7"}}}, {kPurge, false, 0, {typed(9986)}, 12, {}},
      {kRecover, true, 0, {typed(274, {{274, "SR1"}, {1173, "Y"}, {275, "RECOV"}, {291, "Z"}})}, 0,
       {{0, "SR1"}, {90, "Y"}, {91, "RECOV"}, {107, "Z"}}},
      {kRecover, true, 0, {typed(9990, {{274, "SR1"}})}, 12, {}},
      // Processing a drop box: name to status only; the segment type counts only with code 0.
      {kProc, true, 0, {typed(9993, {{274, "S1"}, {276, "BOX1"}, {275, "ENDED"}, {287, "lost"}, {291, "Z"}})}, 0,
       {{0, "S1"}, {20, "BOX1"}, {90, "ENDED"}}},
      {kProc, true, 0, {typed(9990, {{274, "S1"}})}, 12, {}},
      {kProc, true, 16, {typed(9990, {{274, "S1"}})}, 16, {{0, "S1"}}}, {kProc, true, 16, {}, 12, {}},
      {kProc, true, 16, {err, typed(9993, {{274, "S1"}})}, 16, {}}, {kProc, false, 16, {err, typed(9993)}, 16, {}},
      {kProc, false, 0, {typed(9993)}, 12, {}},
  };
  int row = 0;
  for (const auto &c : cases) {
    ++row;
    std::string req = request(c.op.request), out(c.op.result, '#'), want = out;
    for (const auto &[at, text] : c.filled) want.replace(at, text.size(), text);
    reply({.responseId = c.op.response, .returnCode = c.code, .segments = c.segments});
    ifc().cfReturnCode = 0;
    EXPECT_EQ(c.op.call(req.data(), c.result ? out.data() : nullptr), c.want) << c.op.name << " row " << row;
    EXPECT_EQ(error(), c.want == 12 ? 20010 : 0) << c.op.name << " row " << row;
    EXPECT_EQ(out, want) << c.op.name << " row " << row;
  }

  // A failure's error segment explains it.
  std::string req = request(kRecover.request), out(kRecover.result, '#');
  reply({.responseId = 577, .returnCode = 16, .segments = {{{9983, "40"}, {40, "30120"}, {41, "No such receipt"}}}});
  EXPECT_EQ(QlmRecoverSessRcpt(req.data(), out.data()), 16u);
  QlmErrText text;
  EXPECT_EQ(QlmErrorExplanation(raw(&text)), 30120u);
  EXPECT_EQ(std::string(text.errornumber, 5) + text.errormessage, "30120No such receipt");
  EXPECT_EQ(out, std::string(kRecover.result, '#'));
}

TEST_F(Families, ReadersTraceUnderTheirOwnNames) {
  // Tracing off: walking an error segment as the result writes only "Unexpected Error" lines.
  std::string send = request(kSend.request), out(kSend.result, ' ');
  reply({.responseId = 559, .returnCode = 4, .segments = {errorSegment("30021")}});
  ASSERT_EQ(QlmDoSendOrdr(send.data(), out.data()), 4u);
  closeTrace();
  const std::string off = slurp(traceFile());
  EXPECT_THAT(off, ContainsRegex("cfpsndo:[^\n]*:Unexpected Error\n"));
  EXPECT_THAT(off, Not(HasSubstr("aFldId")));
  EXPECT_THAT(off, Not(HasSubstr("{ ")));

  SetTrace(1);
  std::string rr = request(sizeof(QlmRecvRcptReq)), rout = area(sizeof(QlmRecvRcpt));
  reply({.responseId = 393, .segments = {entry(721, "RR1", {{999, "?"}})}});
  ASSERT_EQ(QlmAddRecvRcpt(rr.data(), rout.data()), 0u);
  auto small = smallQualifier("2");
  std::string a = area(2 * 725);
  uint16_t count = 0;
  reply({.responseId = 357, .segments = {entry(1802, "XS1"), entry(721, "XR1", {{754, "lost"}})}});
  ASSERT_EQ(QlmListRcptsOnRcptShlf(raw(&small), &count, a.data()), 0u);
  std::string proc = request(kProc.request), result(kProc.result, ' ');
  reply({.responseId = 573, .segments = {typed(9993, {{287, "lost"}})}});
  ASSERT_EQ(QlmProcDropBox(proc.data(), result.data()), 0u);
  auto one = smallQualifier("1");
  std::string queried(421, ' ');
  reply({.responseId = 565, .segments = {typed(9987)}});
  ASSERT_EQ(QlmDoQuryOrdr(raw(&one), &count, queried.data()), 0u);
  SetTrace(0);
  const std::string on = slurp(traceFile());
  // The add reader of receive receipts traces no item value; the entry readers do.
  EXPECT_THAT(on, Not(HasSubstr(":999:")));
  const char *const lines[] = {
      "cfpxrad:[^\n]*:Unexpected Error\n", "cflxrls:[^\n]*:Unexpected Error\n[^\n]*:\\(int\\) aFldId:754:\n",
      "\\{ cfrlzrs:", "\\{ cfprsls:[^\n]*:cfProcAnyRcptsListedRsp\n",
      "\\{ cflxsls:[^\n]*:cfProcSendRcptListedSegment\n", "\\} cfprsls:[^\n]*:cfProcAnyRcptsListedRsp \\(0\\)\n",
      "\\{ cfrprdr:[^\n]*:QlmProcDropBox\n", "cfpprdr:[^\n]*:Unexpected Error\n[^\n]*:\\(int\\) aFldId:287:\n",
      "\\} cfpprdr:[^\n]*:cfProcDropBoxProcRsp \\(0\\)\n", "\\{ cfpqydo:[^\n]*:cfProcQuryOrdrDoneRsp\n",
      "\\{ cflqydo:[^\n]*:cfProcQuryOrdrDoneSegment\n"};
  for (const char *line : lines) EXPECT_THAT(on, ContainsRegex(line));
}

// Receiving counts its attempts: eleven waits by default, one with a time-out of 0,
// and no limit while a message system is open.
TEST_F(Families, ReceiveAttemptsAndTheUnlimitedWait) {
  auto pages = paging("5");
  uint16_t count = 0;
  // "code/error number, receive attempts" of a project list.
  const auto listed = [&] {
    ScriptedLink::receives = ifc().cfReturnCode = 0;
    const std::string code = refused(QlmListProj(raw(&pages), &count, nullptr));
    return code + ", " + std::to_string(ScriptedLink::receives);
  };
  EXPECT_EQ(listed(), "12/20030, 11");
  cfSetReceiveTimeoutValue(0);
  EXPECT_EQ(listed(), "12/20030, 1");
  // With -1, a late answer after many empty waits is still taken.
  cfSetReceiveTimeoutValue(-1);
  ScriptedLink::lateBy = 50;
  reply({.responseId = 259});
  EXPECT_EQ(listed(), "0/0, 51");
  ScriptedLink::lateBy = 0;
  cfResetReceiveTimeoutValue();
  // A peer that is gone fails at once.
  ScriptedLink::active = false;
  EXPECT_EQ(listed(), "12/20030, 0");
}

TEST_F(Families, AddingAProjectOpensItAndDeletingItClosesIt) {
  cfClearProjTable();
  auto p = blankRecord<QlmProj>();
  put(p.projname, "Fresh", p.field461, "X");
  reply({.responseId = 255, .handle = "H1"});
  ASSERT_EQ(QlmAddProj(raw(&p), nullptr), 0u);
  EXPECT_EQ(lastSent()[1].back(), Item(461, "X"));  // only the add sends it
  EXPECT_EQ(refused(QlmAddProj(raw(&p), nullptr)), "8/20050");
  reply({.responseId = 257});
  ASSERT_EQ(QlmDeleteProj(raw(&p)), 0u);
  EXPECT_EQ(sent(), "3000=256 102=H1 104=10000 ref");
  EXPECT_EQ(refused(QlmDeleteProj(raw(&p))), "8/20080");
}

TEST_F(Families, CloseProjStopsAtTheFirstAgentCloseThatFails) {
  // A failed close ends the project's close at once: nothing more is sent, and
  // what was not closed stays open. A failure without an error segment is 1.
  const struct {
    int adbkCode, mboxCode;     // return codes of the two close answers (-1: not answered)
    bool errorSegments;
    std::vector<int> requests;  // request identifiers sent, in order
  } cases[] = {{20, -1, false, {102}}, {16, -1, true, {102}}, {0, 20, true, {102, 352}}};
  for (const auto &c : cases) {
    ScriptedLink::sent.clear();
    ScriptedLink::replies.clear();
    cfClearProjTable();
    openContext("Proj", true, true, false);
    for (const auto &[id, code] : {std::pair{103, c.adbkCode}, std::pair{353, c.mboxCode}}) {
      Reply r{.responseId = id, .returnCode = code};
      if (code > 0 && c.errorSegments) r.segment(errorSegment("30010"));
      if (code >= 0) reply(r);
    }
    auto name = inContext<QlmContextName>("Proj");
    EXPECT_NE(QlmCloseProj(raw(&name)), 0u);
    std::vector<int> requests;
    for (const Segments &s : ScriptedLink::sent) requests.push_back(std::stoi(s[0][0].second));
    EXPECT_EQ(requests, c.requests) << c.adbkCode << "/" << c.mboxCode;
    ProjEntry e{};
    ASSERT_EQ(cfGetProjEntry(name.context, &e), 1);  // the project stays open
    EXPECT_TRUE(handleSet(e.mboxHandle));  // and so does its mailbox
  }
}
