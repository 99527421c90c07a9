// The message buffer, items and segments, and the request/response headers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "interface/context_table.h"
#include "interface/state.h"
#include "interface/buffer.h"
#include "interface/header.h"
#include "rmil/codes.h"
#include "test_support.h"

using namespace qlm;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes bytesOf(int from, int to) {
  const std::uint8_t *p = cfMessage().data();
  return Bytes(p + from, p + to);
}

// Items of the built request as "id=value" strings.
std::vector<std::string> items() {
  std::vector<std::string> out;
  for (const test::Segment &s : test::decode(cfMessage().data(), cfMessage().length()))
    for (const auto &[id, value] : s) out.push_back(std::to_string(id) + "=" + value);
  return out;
}

// A response placed in the library buffer, as if received.
struct Response {
  std::uint8_t storage[wire::kBufSize];
  rmil::Message m{storage};
  Response() { m.clear(); }
  Response &item(std::uint16_t id, const std::string &v) { m.addRaw(id, v); return *this; }
  Response &end() { m.endSegment(); return *this; }
  void deliver(int length = -1) {
    const int len = length < 0 ? m.length() : length;
    std::memcpy(cfMessage().data(), storage, len);
    cfMessage().received(len);
  }
};

std::string name20(const char *s) {
  std::string n(s);
  n.resize(20, ' ');
  return n;
}
std::string handle10(const char *s) {
  std::string h(s);
  h.resize(10, '\0');
  return h;
}

}  // namespace

TEST(Rmil, ClearedBufferAndWorkedBytes) {
  cfRmilClear();
  EXPECT_EQ(bytesOf(0, 10), (Bytes{0x00, 0x0C, 0x0A, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(cfIsBufferEmpty(), 1);
  EXPECT_EQ(cfGetRmilLength(), 10);
  ASSERT_EQ(cfAddNameID(451), 0);
  ASSERT_EQ(cfEndSegDlmt(), 0);
  EXPECT_EQ(bytesOf(10, 21), (Bytes{0x03, 0x00, 0xFF, 0x26, '4', '5', '1', 0x00, 0x00, 0x31, 0x00}));
  ASSERT_EQ(cfEndSegDlmt(), 0);
  EXPECT_EQ(cfMessage().numSegs(), 2);
  EXPECT_EQ(cfIsBufferEmpty(), 0);
}

TEST(Rmil, ValueLengthRules) {
  cfRmilClear();
  char field[20];
  std::memset(field, ' ', 20);
  std::memcpy(field, "ABC", 3);
  cfAddItem(105, field, 20);                 // trailing blanks dropped
  cfAddItem(106, "  X", 3);                  // leading blanks kept
  char zero[5] = {0, 'A', 'B', 'C', 'D'};
  cfAddItem(107, zero, 5);                   // first byte zero: empty value
  cfAddItem(108, "     ", 5);                // all blank: empty value
  cfAddItem(109, nullptr, 5);
  cfAddItem(110, "ABCDEFG", 4);              // width bounds the value
  EXPECT_EQ(items(), (std::vector<std::string>{"105=ABC", "106=  X", "107=", "108=", "109=", "110=ABCD"}));
}

TEST(Rmil, ItemThatEndsExactlyAtTheBufferEndFits) {
  cfRmilClear();
  std::string big(130, 'x');
  // Fill up to 3072 - 4 - 10 so that a 10-byte item ends exactly at 3072.
  while (cfMessage().writePos() + 4 + 130 <= wire::kBufSize - 14) ASSERT_EQ(cfAddItem(1, big.c_str(), 130), 0);
  const int rest = wire::kBufSize - cfMessage().writePos() - 4 - 14;
  ASSERT_EQ(cfAddItem(1, big.c_str(), static_cast<std::int16_t>(rest)), 0);
  ASSERT_EQ(cfMessage().writePos(), wire::kBufSize - 14);
  ifc().cfReturnCode = 0;
  EXPECT_EQ(cfAddItem(2, "ABCDEFGHIJK", 11), 12);  // one byte too many
  EXPECT_EQ(ifc().cfReturnCode, 20010);
  EXPECT_EQ(cfGetRmilLength(), wire::kBufSize - 14);
  EXPECT_EQ(cfAddItem(2, "ABCDEFGHIJ", 10), 0);
  EXPECT_EQ(cfGetRmilLength(), wire::kBufSize);
  EXPECT_EQ(cfEndSegDlmt(), 12);
}

TEST(Rmil, ReadingItemsSegmentsAndLongValues) {
  Response r;
  std::string v200(200, 'v');
  r.item(3001, "105").item(100, "7").end();
  r.item(9983, "105").item(105, v200).item(106, "B").end();
  r.item(9983, "40").item(40, "30006").end();
  r.deliver();
  char value[rmil::kValueArea] = {};
  std::uint16_t id;
  std::int16_t len;
  EXPECT_EQ(cfGetNextItem(&id, value, &len), 1);
  EXPECT_EQ(id, 3001);
  EXPECT_EQ(cfGetNextItem(&id, value, &len), 1);
  EXPECT_EQ(cfGetNextItem(&id, value, &len), 0);  // segment end, stays there
  EXPECT_EQ(cfGetNextItem(&id, value, &len), 0);
  ASSERT_EQ(cfMoveToNextSeg(), 0);
  std::memset(value, 0, sizeof value);
  EXPECT_EQ(cfGetNextItem(&id, value, &len), 1);  // 9983
  std::memset(value, 0, sizeof value);
  EXPECT_EQ(cfGetNextItem(&id, value, &len), 1);
  EXPECT_EQ(len, 200);
  EXPECT_EQ(std::strlen(value), 130u);            // only 130 bytes copied
  std::memset(value, 0, sizeof value);
  EXPECT_EQ(cfGetNextItem(&id, value, &len), 1);  // the whole 200 bytes were skipped
  EXPECT_EQ(id, 106);
  EXPECT_STREQ(value, "B");
  // cfGetItem finds items before the read position and leaves it alone.
  std::memset(value, 0, sizeof value);
  EXPECT_EQ(cfGetItem(9983, value, &len), 1);
  EXPECT_STREQ(value, "105");
  EXPECT_EQ(cfGetItem(40, value, &len), 0);       // never beyond the segment end
  EXPECT_EQ(cfGetNextItem(&id, value, &len), 0);
  ASSERT_EQ(cfMoveToNextSeg(), 0);
  EXPECT_EQ(cfIsErrorSeg(), 1);
  EXPECT_EQ(cfMoveToNextSeg(), -1);               // last segment
}

TEST(Rmil, ReaderNeverPassesTheReceivedData) {
  Response r;
  r.item(3001, "105").item(100, "7");  // no segment end
  r.m.data()[4] = 5;                   // claims five segments
  r.deliver();
  char value[rmil::kValueArea];
  std::uint16_t id;
  std::int16_t len;
  EXPECT_EQ(cfGetNextItem(&id, value, &len), 1);
  EXPECT_EQ(cfGetNextItem(&id, value, &len), 1);
  ifc().cfReturnCode = 0;
  EXPECT_EQ(cfGetNextItem(&id, value, &len), 12);
  EXPECT_EQ(ifc().cfReturnCode, 20010);
  EXPECT_EQ(cfMoveToNextSeg(), 12);
  EXPECT_EQ(cfGetItem(999, value, &len), 12);

  // An item whose length runs past the data, and a negative length, end the data too.
  Response bad;
  bad.item(3001, "105").end();
  bad.deliver(bad.m.length() - 1);
  EXPECT_EQ(cfGetNextItem(&id, value, &len), 1);
  EXPECT_EQ(cfGetNextItem(&id, value, &len), 12);
  Response neg;
  neg.item(3001, "105");
  neg.m.data()[10] = 0xFF;
  neg.m.data()[11] = 0xFF;
  neg.deliver();
  EXPECT_EQ(cfGetNextItem(&id, value, &len), 12);
}

TEST(Rmil, FindErrorSegmentKeepsTheCursor) {
  Response r;
  r.item(3001, "105").end();
  r.item(9983, "105").item(105, "BOB").end();
  r.item(9983, "40").item(40, "30006").item(41, "Entry not found").item(51, "A").item(53, "C").end();
  r.deliver();
  ASSERT_EQ(cfMoveToNextSeg(), 0);
  const auto before = cfMessage().cursor();
  EXPECT_EQ(cfFindErrorSeg(), 0);
  EXPECT_EQ(cfMessage().cursor().read, before.read);
  EXPECT_EQ(cfMessage().cursor().segNo, 2);
  EXPECT_EQ(ifc().rmilReturnCode, 30006);

  Response none;
  none.item(3001, "105").end().item(9983, "105").end();
  none.deliver();
  EXPECT_EQ(cfFindErrorSeg(), 1);
  Response headerOnly;  // segment 1 is never an error segment
  headerOnly.item(40, "5").end();
  headerOnly.deliver();
  EXPECT_EQ(cfFindErrorSeg(), 1);
}

class HeaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cfClearProjTable();
    ifc().requestRef = 41;
    ifc().cfReturnCode = 0;
    cfRmilClear();
  }
  void TearDown() override { cfClearProjTable(); }
  const std::string proj = name20("Alpha");
};

TEST_F(HeaderTest, ContextRulesOfTheRequestIdentifier) {
  EXPECT_EQ(cfAddRequestIDandHandle(proj.c_str(), 104), 8);
  EXPECT_EQ(ifc().cfReturnCode, 20080);
  ASSERT_EQ(cfAddProjEntry(proj.c_str(), handle10("P1").c_str()), 0);
  struct Case { std::int16_t id; int rc; int err; };
  for (Case c : {Case{250, 8, 20050}, Case{254, 8, 20050}, Case{104, 8, 20060}, Case{352, 8, 20070},
                 Case{558, 8, 20230}}) {
    cfRmilClear();
    ifc().cfReturnCode = 0;
    EXPECT_EQ(cfAddRequestIDandHandle(proj.c_str(), c.id), c.rc) << c.id;
    EXPECT_EQ(ifc().cfReturnCode, c.err) << c.id;
  }
  cfRmilClear();
  EXPECT_EQ(cfAddRequestIDandHandle(proj.c_str(), 100), 0);
  EXPECT_EQ(items(), (std::vector<std::string>{"3000=100", "101=P1"}));
  cfRmilClear();
  EXPECT_EQ(cfAddRequestIDandHandle(proj.c_str(), 266), 0);
  EXPECT_EQ(items(), (std::vector<std::string>{"3000=266", "102=P1"}));
  cfRmilClear();
  EXPECT_EQ(cfAddRequestIDandHandle(nullptr, 258), 0);  // list projects: no context
  EXPECT_EQ(items(), (std::vector<std::string>{"3000=258"}));

  ASSERT_EQ(cfModProjEntry(name20("ALPHA").c_str(), kSelAdbk, handle10("AB").c_str()), 0);
  cfRmilClear();
  EXPECT_EQ(cfAddRequestIDandHandle(proj.c_str(), 104), 0);
  EXPECT_EQ(items(), (std::vector<std::string>{"3000=104", "102=AB"}));
  cfRmilClear();
  EXPECT_EQ(cfAddRequestIDandHandle(proj.c_str(), 100), 8);
  EXPECT_EQ(ifc().cfReturnCode, 20090);
  cfRmilClear();
  EXPECT_EQ(cfAddRequestIDandHandle(proj.c_str(), 252), 4);
  EXPECT_EQ(ifc().cfReturnCode, 20160);
  ASSERT_EQ(cfModProjEntry(proj.c_str(), kSelAdbk, handle10("").c_str()), 0);
  ASSERT_EQ(cfModProjEntry(proj.c_str(), kSelMbox, handle10("MB").c_str()), 0);
  cfRmilClear();
  EXPECT_EQ(cfAddRequestIDandHandle(proj.c_str(), 252), 4);
  EXPECT_EQ(ifc().cfReturnCode, 20150);
  cfRmilClear();
  EXPECT_EQ(cfAddRequestIDandHandle(proj.c_str(), 350), 8);
  EXPECT_EQ(ifc().cfReturnCode, 20100);
}

TEST_F(HeaderTest, ReferenceFlagAndRelationItems) {
  cfAddRetField(10001);
  cfAddReqRef(77);
  cfAddRelParmAndValue("DIST                ", 135, 20);
  cfAddRelParmAndValue("ignored", 10001, 7);
  EXPECT_EQ(items(), (std::vector<std::string>{"104=10001", "100=77", "134=135", "133=DIST", "134=10001"}));
  cfRmilClear();
  ifc().requestRef = -2147483647;  // 11 characters: the counter starts again at 0
  cfAddReqRef(ifc().requestRef);
  EXPECT_EQ(items(), (std::vector<std::string>{"100=0"}));
  EXPECT_EQ(ifc().requestRef, 0);
}

TEST_F(HeaderTest, ListQualifierPagingAndCodes) {
  auto qual = [](const char *start, const char *num, const char *op = "  ", const char *value = "",
                 char order = ' ') {
    std::string q(108, ' ');
    q.replace(98, 5, start);
    q.replace(103, 5, num);
    q.replace(45, 2, op);
    q.replace(47, std::strlen(value), value);
    q[97] = order;
    return q;
  };
  for (const char *ok : {"00001", "    1", "1    ", "1A   "}) {
    cfRmilClear();
    EXPECT_EQ(cfAddRequestQualifier(qual(ok, "00050").c_str()), 0) << ok;
  }
  EXPECT_EQ(items(), (std::vector<std::string>{"131=1A", "132=00050"}));
  for (const char *bad : {"00000", "     ", "70000", "65536", "ABCDE", "+0001"}) {
    cfRmilClear();
    ifc().cfReturnCode = 0;
    EXPECT_EQ(cfAddRequestQualifier(qual(bad, "00001").c_str()), 8) << bad;
    EXPECT_EQ(ifc().cfReturnCode, 20220) << bad;
  }
  cfRmilClear();
  EXPECT_EQ(cfAddRequestQualifier(qual("65535", "0    ").c_str()), 8);
  EXPECT_EQ(ifc().cfReturnCode, 20210);

  cfRmilClear();
  EXPECT_EQ(cfAddRequestQualifier(qual("1", "2", "=>", "Smith", 'd').c_str()), 0);
  EXPECT_EQ(items(), (std::vector<std::string>{"131=1", "132=2", "126=Smith", "127=10013", "129=10018"}));
  EXPECT_EQ(rmil::operatorCode("<>"), 10014);
  EXPECT_EQ(rmil::operatorCode(">="), 10015);
  EXPECT_EQ(rmil::operatorCode("< "), 10012);
  EXPECT_EQ(rmil::sortOrderCode('a'), 10017);

  std::string small = name20("P") + "00002" + "00010";
  cfRmilClear();
  EXPECT_EQ(cfAddSmallRequestQualifier(small.c_str()), 0);
  EXPECT_EQ(items(), (std::vector<std::string>{"131=00002", "132=00010"}));
}

TEST_F(HeaderTest, ResponseHeaderChecksAndTableUpdates) {
  std::uint16_t code = 99;
  cfRmilClear();
  cfMessage().received(10);
  EXPECT_EQ(cfGetHeader(proj.c_str(), &code, 251), 12);  // empty buffer

  Response open;
  open.item(3001, "251").item(100, "41").item(102, "PH").item(103, "0").item(555, "x").end();
  open.deliver();
  ASSERT_EQ(cfGetHeader(proj.c_str(), &code, 251), 0);
  EXPECT_EQ(code, 0);
  ProjEntry e{};
  ASSERT_EQ(cfGetProjEntry(name20("alpha").c_str(), &e), 1);
  EXPECT_EQ(std::string(e.projHandle, 10), handle10("PH"));

  Response stale;  // the previous request's reference
  stale.item(3001, "101").item(100, "40").item(102, "AB").item(103, "0").end();
  stale.deliver();
  EXPECT_EQ(cfGetHeader(proj.c_str(), &code, 101), 12);
  EXPECT_EQ(ifc().cfReturnCode, 20010);
  Response wrongId;
  wrongId.item(3001, "103").item(100, "41").item(103, "0").end();
  wrongId.deliver();
  EXPECT_EQ(cfGetHeader(proj.c_str(), &code, 101), 12);
  Response failed;  // non-zero return code: no table change
  failed.item(3001, "101").item(100, "41").item(102, "AB").item(103, "16").end();
  failed.deliver();
  ASSERT_EQ(cfGetHeader(proj.c_str(), &code, 101), 0);
  EXPECT_EQ(code, 16);
  ASSERT_EQ(cfGetProjEntry(proj.c_str(), &e), 1);
  EXPECT_FALSE(handleSet(e.adbkHandle));

  Response adbk;  // a handle longer than 10 bytes is cut at 10
  adbk.item(3001, "101").item(100, "41").item(102, "ABCDEFGHIJKLMN").item(103, "0").end();
  adbk.item(9983, "105").end();
  adbk.deliver();
  ASSERT_EQ(cfGetHeader(proj.c_str(), &code, 101), 0);
  EXPECT_EQ(cfMessage().cursor().segNo, 2);  // left on segment 2
  ASSERT_EQ(cfGetProjEntry(proj.c_str(), &e), 1);
  EXPECT_EQ(std::string(e.adbkHandle, 10), "ABCDEFGHIJ");
  EXPECT_EQ(std::string(e.projHandle, 10), handle10("PH"));

  Response closed;
  closed.item(3001, "103").item(100, "41").item(103, "0").end();
  closed.deliver();
  ASSERT_EQ(cfGetHeader(proj.c_str(), &code, 103), 0);
  ASSERT_EQ(cfGetProjEntry(proj.c_str(), &e), 1);
  EXPECT_FALSE(handleSet(e.adbkHandle));

  Response del;
  del.item(3001, "257").item(100, "41").item(103, "0").end();
  del.deliver();
  ASSERT_EQ(cfGetHeader(proj.c_str(), &code, 257), 0);
  EXPECT_EQ(cfGetProjEntry(proj.c_str(), &e), 0);

  Response noEnd;  // a header without its segment end never loops or overreads
  noEnd.item(3001, "251").item(100, "41");
  noEnd.deliver();
  EXPECT_EQ(cfGetHeader(proj.c_str(), &code, 251), 12);
}

TEST(ContextTable, CaseInsensitiveLookupModifyAndDelete) {
  cfClearProjTable();
  const std::string a = name20("one"), b = name20("Two"), c = name20("three");
  EXPECT_EQ(cfDeleteProjEntry(a.c_str()), 12);  // empty table
  EXPECT_EQ(cfModProjEntry(a.c_str(), kSelMbox, handle10("M").c_str()), 12);
  for (const auto &n : {a, b, c}) ASSERT_EQ(cfAddProjEntry(n.c_str(), handle10(n.c_str()).c_str()), 0);
  EXPECT_EQ(cfProjCount(), 3);
  ProjEntry e{};
  EXPECT_EQ(cfGetProjEntry(name20("ONE").c_str(), &e), 1);
  EXPECT_EQ(cfGetProjEntry(name20("one ").c_str(), &e), 1);
  EXPECT_EQ(cfGetProjEntry(name20("on").c_str(), &e), 0);
  ASSERT_EQ(cfModProjEntry(name20("TWO").c_str(), kSelMbox, handle10("MB").c_str()), 0);
  ASSERT_EQ(cfGetProjEntry(b.c_str(), &e), 1);
  EXPECT_EQ(std::string(e.mboxHandle, 2), "MB");
  EXPECT_FALSE(handleSet(e.adbkHandle));
  EXPECT_FALSE(handleSet(e.msysHandle));
  EXPECT_EQ(cfModProjEntry(b.c_str(), 4, handle10("X").c_str()), 12);  // bad selector
  EXPECT_EQ(cfModProjEntry(name20("four").c_str(), kSelMbox, handle10("X").c_str()), 12);
  ASSERT_EQ(cfDeleteProjEntry(a.c_str()), 0);  // the first of three
  EXPECT_EQ(cfProjCount(), 2);
  EXPECT_EQ(cfGetProjEntry(b.c_str(), &e), 1);
  EXPECT_EQ(cfGetProjEntry(c.c_str(), &e), 1);
  ASSERT_EQ(cfDeleteProjEntry(c.c_str()), 0);
  ASSERT_EQ(cfDeleteProjEntry(b.c_str()), 0);
  EXPECT_EQ(cfProjCount(), 0);
}
