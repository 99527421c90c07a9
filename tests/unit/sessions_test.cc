// Sessions, session operations, session receipts and processing a drop box against
// a scripted peer: the items each request sends and in which order, the refusals
// that send nothing, and how each operation's reader treats what else an answer
// holds besides its record.
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

namespace {

// A record segment of a reply: its segment type and its items.
Segment typed(int type, Segment items = {}) {
  items.insert(items.begin(), {9983, std::to_string(type)});
  return items;
}

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

// A blank request of `width` bytes naming `context`.
std::string request(std::size_t width, const char *context = "Proj") {
  std::string r(width, ' ');
  putField(r.data(), 20, context);
  return r;
}

}  // namespace

// An open project "Proj" with its mailbox and message system open.
class Sessions : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    openContext("Proj");
    putField(sessRcpt_, 20, "SR1");
  }
  char sessRcpt_[20];
};

TEST_F(Sessions, OperationsSendEveryFieldButTheReservedInTheirWireOrder) {
  // Every byte 'x', the reserved area 'R': no reserved byte travels, every field at its full width.
  const struct {
    const Op &op;
    int request, segType;
    std::size_t reserved, reservedWidth;
    std::initializer_list<int> items;  // with runs
  } cases[] = {
      // field1129 goes after field671 although it lies before it.
      {kStart, 568, 9991, offsetof(QlmSessStartReq, reserved), 2, {1115, 660, 664, -669, 671, 1129}},
      {kEnd, 570, 9990, 0, 0, {1136, 1175}},
      // The order's own key is not sent, though the segment type is the order's.
      {kSend, 558, 1180, offsetof(QlmSendOrdrDoReq, reserved), 20, {772, -782, 802, 783, -786, 788, -801}},
      {kRecv, 560, 687, offsetof(QlmRecvOrdrDoReq, reserved), 20, {689, -707, 709, -720}},
      {kPurge, 562, 9986, 0, 0, {2612}},
      {kRecover, 576, 274, 0, 0, {1172, 1173}},
      {kProc, 572, 9993, 0, 0, {1150, 1151}},
  };
  for (const auto &c : cases) {
    std::string r(c.op.request, 'x');
    putField(r.data(), 20, "Proj");
    std::memset(r.data() + c.reserved, 'R', c.reservedWidth);
    reply({.responseId = c.op.response});
    ASSERT_EQ(c.op.call(r.data(), nullptr), 0u) << c.op.name;
    EXPECT_EQ(sent(), "3000=" + std::to_string(c.request) + " 102=MS 104=10000 ref");
    const Segment &data = lastSent().at(1);
    std::vector<int> want = runs(c.items);
    want.insert(want.begin(), 9983);
    EXPECT_EQ(ids(data), want) << c.op.name;
    EXPECT_EQ(data[0].second, std::to_string(c.segType));
    std::size_t travelled = 0;
    for (std::size_t i = 1; i < data.size(); ++i) {
      EXPECT_EQ(data[i].second.find_first_not_of('x'), std::string::npos) << c.op.name << ":" << data[i].first;
      travelled += data[i].second.size();
    }
    EXPECT_EQ(travelled, c.op.request - 20 - c.reservedWidth) << c.op.name;
  }

  // An all-blank start record sends the segment type alone; a result asks for the record.
  std::string start = request(kStart.request), out(kStart.result, ' ');
  reply({.responseId = 569});
  ASSERT_EQ(QlmStartSess(start.data(), out.data()), 12u);  // the answer carries no record
  EXPECT_EQ(sent(), "3000=568 102=MS 104=10001 ref");
  EXPECT_EQ(sent(1), "9983=9991");
}

TEST_F(Sessions, ReceiptAndQueryRequestsSendTheirHeadersAndKeys) {
  auto add = inContext<QlmSessRcptReq>("Proj");
  put(add.sessrcpt.status, "ACTIV");  // the first field, sent after the name
  put(add.sessrcpt.name, "SR1");
  put(add.sessrcpt.field291, "Z");
  auto del = inContext<QlmSessRcptDeleteReq>("Proj");
  put(del.name, "SR1");
  auto asg = inContext<QlmAssignReq>("Proj");
  put(asg.container, "SR1");
  put(asg.member, "RC1");
  auto small = smallQualifier("3");
  uint16_t count = 0;
  const struct {
    std::function<QlmRc()> call;
    const char *header, *data;
  } cases[] = {
      {[&] { return QlmAddSessRcpt(raw(&add), nullptr); }, "3000=370 102=MB 104=10000 ref",
       "9983=274 274=SR1 275=ACTIV 291=Z"},
      {[&] { return QlmDeleteSessRcpt(raw(&del)); }, "3000=372 102=MB 104=10000 ref", "9983=274 274=SR1"},
      {[&] { return QlmAsgSendRcptToSessRcpt(raw(&asg)); }, "3000=414 102=MB 134=274 133=SR1 104=10000 ref",
       "9983=1802 1802=RC1"},
      {[&] { return QlmAsgRecvRcptToSessRcpt(raw(&asg)); }, "3000=396 102=MB 134=274 133=SR1 104=10000 ref",
       "9983=721 721=RC1"},
      // Keywords in any case; the status is sent as its name ID.
      {[&] { return listing(QlmListSessRcpt, "STATUS", "")(&count); },
       "3000=374 102=MB ref 104=10000 128=275 131=1 132=10", nullptr},
      {[&] { return listing(QlmListSessRcpt, "", "DropBoxName")(&count); },
       "3000=374 102=MB ref 104=10000 130=276 131=1 132=10", nullptr},
      // The receipts on a session receipt: request 374 too, told apart by its relation and data segment.
      {[&] { return QlmListRcptsOnSessRcpt(sessRcpt_, raw(&small), &count, nullptr); },
       "3000=374 102=MB 134=10001 ref 104=10000 131=1 132=3", "9983=274 274=SR1"},
      // The query: the flag before the reference, no data segment.
      {[&] { return QlmDoQuryOrdr(raw(&small), &count, nullptr); }, "3000=564 102=MS 104=10000 ref 131=1 132=3",
       nullptr},
  };
  for (const auto &c : cases) {
    reply({.responseId = std::atoi(c.header + 5) + 1});
    ASSERT_EQ(c.call(), 0u) << c.header;
    EXPECT_EQ(sent(), c.header);
    ASSERT_EQ(lastSent().size(), c.data ? 2u : 1u) << c.header;
    EXPECT_EQ(c.data ? sent(1) : "", c.data ? c.data : "");
  }
}

TEST_F(Sessions, RefusalsSendNothing) {
  openContext("Shut", true, false, false);  // its mailbox and message system are not open
  std::string shut = request(kSend.request, "Shut");
  auto del = inContext<QlmSessRcptDeleteReq>("Proj");  // blank name
  auto asg = inContext<QlmAssignReq>("Proj");
  put(asg.member, "RC1");  // blank session receipt
  auto asgShut = inContext<QlmAssignReq>("Shut");
  auto small = smallQualifier();
  auto smallShut = inContext<QlmSmallListQual>("Shut");
  put(smallShut.startentry, "1");
  put(smallShut.numentries, "1");
  auto qualShut = inContext<QlmListQual>("Shut");
  put(qualShut.startentry, "1");
  put(qualShut.numentries, "1");
  auto none = smallQualifier("0");
  std::string blankContext = request(kEnd.request, "");
  char noName[20];
  putField(noName, 20, "");
  uint16_t count = 7;
  const std::pair<std::function<QlmRc()>, int> cases[] = {
      // Every message system operation needs the open message system.
      {[&] { return QlmStartSess(shut.data(), nullptr); }, 20230},
      {[&] { return QlmEndSess(shut.data(), nullptr); }, 20230},
      {[&] { return QlmDoSendOrdr(shut.data(), nullptr); }, 20230},
      {[&] { return QlmDoRecvOrdr(shut.data(), nullptr); }, 20230},
      {[&] { return QlmDoPurgOrdr(shut.data(), nullptr); }, 20230},
      {[&] { return QlmDoQuryOrdr(raw(&smallShut), &count, nullptr); }, 20230},
      {[&] { return QlmRecoverSessRcpt(shut.data(), nullptr); }, 20230},
      {[&] { return QlmProcDropBox(shut.data(), nullptr); }, 20230},
      // Session receipts need the open mailbox.
      {[&] { return QlmAddSessRcpt(shut.data(), nullptr); }, 20070},
      {[&] { put(del.context, "Shut"); put(del.name, "SR1"); return QlmDeleteSessRcpt(raw(&del)); }, 20070},
      {[&] { return QlmListSessRcpt(raw(&qualShut), &count, nullptr); }, 20070},
      {[&] { return QlmListRcptsOnSessRcpt(sessRcpt_, raw(&smallShut), &count, nullptr); }, 20070},
      // A blank session receipt name is refused before the context's state; a blank receipt name after it.
      {[&] { put(asgShut.member, "RC1"); return QlmAsgSendRcptToSessRcpt(raw(&asgShut)); }, 20170},
      {[&] { put(asgShut.container, "SR1"); put(asgShut.member, ""); return QlmAsgRecvRcptToSessRcpt(raw(&asgShut)); }, 20070},
      {[&] { return QlmAsgSendRcptToSessRcpt(raw(&asg)); }, 20170},
      {[&] { put(asg.container, "SR1"); put(asg.member, ""); return QlmAsgRecvRcptToSessRcpt(raw(&asg)); }, 20170},
      {[&] { put(del.context, "Proj"); put(del.name, ""); return QlmDeleteSessRcpt(raw(&del)); }, 20170},
      {[&] { return QlmListRcptsOnSessRcpt(noName, raw(&small), &count, nullptr); }, 20170},
      {[&] { return QlmListRcptsOnSessRcpt(nullptr, raw(&small), &count, nullptr); }, 20170},
      // The frame and the qualifiers.
      {[&] { return QlmStartSess(nullptr, nullptr); }, 20110},
      {[&] { return QlmProcDropBox(nullptr, nullptr); }, 20110},
      {[&] { return QlmDoQuryOrdr(raw(&small), nullptr, nullptr); }, 20110},
      {[&] { return QlmEndSess(blankContext.data(), nullptr); }, 20130},
      {[&] { return QlmDoQuryOrdr(raw(&none), &count, nullptr); }, 20210},
      {[&] { return listing(QlmListSessRcpt, "ordername", "")(&count); }, 20190},
      {[&] { return listing(QlmListSessRcpt, "", "field281")(&count); }, 20200},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(cases[i].first(), 8u) << i;
    EXPECT_EQ(error(), cases[i].second) << i;
  }
  EXPECT_TRUE(ScriptedLink::sent.empty());
  EXPECT_EQ(count, 7);
}

TEST_F(Sessions, EachOperationReaderTreatsTheRestOfTheAnswerByItsRules) {
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
      {kEnd, false, 0, {typed(9990, {{274, "S1"}})}, 12, {}},
      {kEnd, false, 0, {}, 0, {}},
      {kEnd, false, 16, {}, 12, {}},
      {kEnd, false, 16, {err}, 16, {}},
      {kEnd, false, 16, {err, typed(9990)}, 12, {}},
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
      {kStart, false, 0, {typed(9991, {{274, "S1"}})}, 0, {}},
      {kStart, false, 16, {}, 16, {}},
      {kStart, true, 0, {typed(1234, {{274, "S1"}, {275, "ACTIV"}, {282, "LOGON1"}})}, 0,
       {{22, "S1"}, {42, "ACTIV"}, {0, "LOGON1"}}},
      {kStart, true, 0, {}, 12, {}},
      {kStart, true, 4, {err}, 4, {}},
      // Purge and recover: a failure ends the read (its code also without an error segment).
      {kPurge, true, 0, {typed(9986, {{2614, "3"}})}, 0, {{0, "3"}}},
      {kPurge, true, 16, {err, typed(9986, {{2614, "3"}})}, 16, {}},
      {kPurge, true, 16, {typed(9986, {{2614, "3"}})}, 16, {}},
      {kPurge, true, 0, {err}, 12, {}},
      {kPurge, true, 0, {err, typed(9986, {{2614, "7"}})}, 0, {{0, "7"}}},
      {kPurge, false, 0, {typed(9986)}, 12, {}},
      {kRecover, true, 0, {typed(274, {{274, "SR1"}, {1173, "Y"}, {275, "RECOV"}, {291, "Z"}})}, 0,
       {{0, "SR1"}, {90, "Y"}, {91, "RECOV"}, {107, "Z"}}},
      {kRecover, true, 0, {typed(9990, {{274, "SR1"}})}, 12, {}},
      // Processing a drop box: name to status only; the segment type counts only with code 0.
      {kProc, true, 0, {typed(9993, {{274, "S1"}, {276, "BOX1"}, {275, "ENDED"}, {287, "lost"}, {291, "Z"}})}, 0,
       {{0, "S1"}, {20, "BOX1"}, {90, "ENDED"}}},
      {kProc, true, 0, {typed(9990, {{274, "S1"}})}, 12, {}},
      {kProc, true, 16, {typed(9990, {{274, "S1"}})}, 16, {{0, "S1"}}},
      {kProc, true, 16, {}, 12, {}},
      {kProc, true, 16, {err, typed(9993, {{274, "S1"}})}, 16, {}},
      {kProc, false, 16, {err, typed(9993)}, 16, {}},
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

TEST_F(Sessions, QueryEntriesFollowEachOtherAcrossMessages) {
  auto q = smallQualifier("4");
  std::string area(4 * 421, '#');
  uint16_t count = 9;
  reply({.responseId = 565,
         .more = true,
         .segments = {typed(9987, {{2568, "A1"}, {2601, "Y"}}), typed(9987, {{2576, "MSG2"}, {2571, "lost"}})}});
  reply({.responseId = 565, .segments = {typed(9987, {{2601, "Z"}})}});
  ASSERT_EQ(QlmDoQuryOrdr(raw(&q), &count, area.data()), 0u);
  EXPECT_EQ(sent(), "3000=564 102=MS 104=10001 ref 131=1 132=4");
  EXPECT_EQ(count, 3);
  // field2601 is an entry's last byte; entries are not blanked first.
  expectAt(area, {{0, "A1"}, {420, "Y"}, {421, "#"}, {421 + 24, "MSG2"}, {842, "#"}, {842 + 420, "Z"}});
  EXPECT_EQ(area.find("lost"), std::string::npos);
  EXPECT_EQ(area.find_first_not_of('#', 3 * 421), std::string::npos);

  // Never more than numentries; only query entries (an error segment ends the message).
  auto two = smallQualifier("2");
  reply({.responseId = 565, .segments = {typed(9987), typed(9987), typed(9987, {{2568, "C"}})}});
  ASSERT_EQ(QlmDoQuryOrdr(raw(&two), &count, area.data()), 0u);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(area[842], '#');
  reply({.responseId = 565, .segments = {typed(9987), errorSegment("30021"), typed(9990)}});
  ASSERT_EQ(QlmDoQuryOrdr(raw(&two), &count, nullptr), 0u);
  EXPECT_EQ(count, 1);
  reply({.responseId = 565, .segments = {typed(9987), typed(9990)}});
  EXPECT_EQ(QlmDoQuryOrdr(raw(&two), &count, nullptr), 12u);
  EXPECT_EQ(error(), 20010);
}

TEST_F(Sessions, SessionReceiptsFillTheirOwnLayouts) {
  // Added: status at 0, name at 5.
  auto add = inContext<QlmSessRcptReq>("Proj");
  std::string out(sizeof(QlmSessRcpt), '#');
  reply({.responseId = 371, .segments = {typed(274, {{274, "SR1"}, {275, "ACTIV"}, {291, "Z"}})}});
  ASSERT_EQ(QlmAddSessRcpt(raw(&add), out.data()), 0u);
  EXPECT_EQ(sent(), "3000=370 102=MB 104=10001 ref");
  expectAt(out, {{0, "ACTIV"}, {5, "SR1"}, {25, "#"}, {106, "Z"}});

  // Listed: 107 bytes apart, no entry type character.
  auto q = listQualifier("", "", "3");
  std::string area(3 * 107 + 16, '#');
  uint16_t count = 0;
  reply({.responseId = 375,
         .segments = {typed(274, {{274, "SR1"}}), typed(274, {{274, "SR2"}, {275, "ENDED"}}), typed(274, {{274, "SR3"}})}});
  ASSERT_EQ(QlmListSessRcpt(raw(&q), &count, area.data()), 0u);
  EXPECT_EQ(count, 3);
  expectAt(area, {{5, "SR1"}, {107, "ENDED"}, {107 + 5, "SR2"}, {214 + 5, "SR3"}});
  EXPECT_EQ(area.find_first_not_of('#', 321), std::string::npos);

  // The receipts on a session receipt: a mixed receipt list.
  auto small = smallQualifier("2");
  area.assign(2 * 725, '#');
  reply({.responseId = 375, .segments = {entry(721, "XR1"), entry(1802, "XS1")}});
  ASSERT_EQ(QlmListRcptsOnSessRcpt(sessRcpt_, raw(&small), &count, area.data()), 0u);
  EXPECT_EQ(count, 2);
  expectAt(area, {{0, "RXR1"}, {725, "SXS1"}});
  EXPECT_EQ(area.find_first_not_of('#', 725 + 317), std::string::npos);
}

TEST_F(Sessions, OperationReadersTraceUnderTheirOwnNames) {
  // Tracing off: walking an error segment as the result writes only "Unexpected Error" lines.
  std::string send = request(kSend.request), out(kSend.result, ' ');
  reply({.responseId = 559, .returnCode = 4, .segments = {errorSegment("30021")}});
  ASSERT_EQ(QlmDoSendOrdr(send.data(), out.data()), 4u);
  closeTrace();
  std::stringstream off;
  off << std::ifstream(traceFile()).rdbuf();
  EXPECT_THAT(off.str(), ContainsRegex("cfpsndo:[^\n]*:Unexpected Error\n"));
  EXPECT_THAT(off.str(), Not(HasSubstr("aFldId")));
  EXPECT_THAT(off.str(), Not(HasSubstr("{ ")));

  SetTrace(1);
  std::string proc = request(kProc.request), result(kProc.result, ' ');
  reply({.responseId = 573, .segments = {typed(9993, {{287, "lost"}})}});
  ASSERT_EQ(QlmProcDropBox(proc.data(), result.data()), 0u);
  auto q = smallQualifier("1");
  uint16_t count = 0;
  std::string entry(421, ' ');
  reply({.responseId = 565, .segments = {typed(9987)}});
  ASSERT_EQ(QlmDoQuryOrdr(raw(&q), &count, entry.data()), 0u);
  SetTrace(0);
  std::stringstream on;
  on << std::ifstream(traceFile()).rdbuf();
  EXPECT_THAT(on.str(), ContainsRegex("\\{ cfrprdr:[^\n]*:QlmProcDropBox\n"));
  EXPECT_THAT(on.str(), ContainsRegex("cfpprdr:[^\n]*:Unexpected Error\n[^\n]*:\\(int\\) aFldId:287:\n"));
  EXPECT_THAT(on.str(), ContainsRegex("\\} cfpprdr:[^\n]*:cfProcDropBoxProcRsp \\(0\\)\n"));
  EXPECT_THAT(on.str(), ContainsRegex("\\{ cfpqydo:[^\n]*:cfProcQuryOrdrDoneRsp\n"));
  EXPECT_THAT(on.str(), ContainsRegex("\\{ cflqydo:[^\n]*:cfProcQuryOrdrDoneSegment\n"));
}
