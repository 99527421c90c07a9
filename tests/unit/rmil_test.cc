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

// The next item read as "id=value/length" (with `find`: that item by cfGetItem), or the code when none is read.
std::string next(std::uint16_t find = 0) {
  char value[rmil::kValueArea] = {};
  std::uint16_t id = find;
  std::int16_t len = 0;
  const int rc = find ? cfGetItem(find, value, &len) : cfGetNextItem(&id, value, &len);
  return rc != 1 ? std::to_string(rc) : std::to_string(id) + "=" + value + "/" + std::to_string(len);
}

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
  r.item(3001, "105").item(100, "7").end();
  r.item(9983, "105").item(105, std::string(200, 'v')).item(106, "B").end();
  r.item(9983, "40").item(40, "30006").end();
  r.deliver();
  EXPECT_EQ(next(), "3001=105/3");
  EXPECT_EQ(next(), "100=7/1");
  EXPECT_EQ(next(), "0");  // segment end, stays there
  EXPECT_EQ(next(), "0");
  ASSERT_EQ(cfMoveToNextSeg(), 0);
  EXPECT_EQ(next(), "9983=105/3");
  EXPECT_EQ(next(), "105=" + std::string(130, 'v') + "/200");  // only 130 bytes copied
  EXPECT_EQ(next(), "106=B/1");                                // the whole 200 bytes were skipped
  // cfGetItem finds items before the read position and leaves it alone.
  EXPECT_EQ(next(9983), "9983=105/3");
  EXPECT_EQ(next(40), "0");  // never beyond the segment end
  EXPECT_EQ(next(), "0");
  ASSERT_EQ(cfMoveToNextSeg(), 0);
  EXPECT_EQ(cfIsErrorSeg(), 1);
  EXPECT_EQ(cfMoveToNextSeg(), -1);  // last segment
}

TEST(Rmil, ReaderNeverPassesTheReceivedData) {
  Response r;
  r.item(3001, "105").item(100, "7");  // no segment end
  r.m.data()[4] = 5;                   // claims five segments
  r.deliver();
  EXPECT_EQ(next(), "3001=105/3");
  EXPECT_EQ(next(), "100=7/1");
  ifc().cfReturnCode = 0;
  EXPECT_EQ(next(), "12");
  EXPECT_EQ(ifc().cfReturnCode, 20010);
  EXPECT_EQ(cfMoveToNextSeg(), 12);
  EXPECT_EQ(next(999), "12");

  // An item whose length runs past the data, and a negative length, end the data too.
  Response bad;
  bad.item(3001, "105").end();
  bad.deliver(bad.m.length() - 1);
  EXPECT_EQ(next(), "3001=105/3");
  EXPECT_EQ(next(), "12");
  Response neg;
  neg.item(3001, "105");
  neg.m.data()[10] = 0xFF;
  neg.m.data()[11] = 0xFF;
  neg.deliver();
  EXPECT_EQ(next(), "12");
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
  EXPECT_EQ(std::pair(cfMessage().cursor().read, cfMessage().cursor().segNo), std::pair(before.read, 2));
  EXPECT_EQ(ifc().rmilReturnCode, 30006);

  Response().item(3001, "105").end().item(9983, "105").end().deliver();
  EXPECT_EQ(cfFindErrorSeg(), 1);
  Response().item(40, "5").end().deliver();  // segment 1 is never an error segment
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
  // Each row: the handles set on the project "Alpha" (none: not in the table), a
  // request identifier, and the code and error number, or the items written.
  const struct {
    const char *handles;  // P project, A address book, M mailbox; "" not open
    std::int16_t id;
    int rc, error;
    std::vector<std::string> items;
  } cases[] = {
      {"", 104, 8, 20080, {}},             // the project is not open
      {"", 250, 0, 0, {"3000=250"}},       // opening it needs no context
      {"P", 250, 8, 20050, {}},            // open already
      {"P", 254, 8, 20050, {}},
      {"P", 104, 8, 20060, {}},            // the address book is not open
      {"P", 352, 8, 20070, {}},            // nor the mailbox
      {"P", 558, 8, 20230, {}},            // nor the message system
      {"P", 100, 0, 0, {"3000=100", "101=P1"}},  // opening an agent sends 101
      {"P", 266, 0, 0, {"3000=266", "102=P1"}},
      {"P", 258, 0, 0, {"3000=258"}},      // the project list has no context
      {"PA", 104, 0, 0, {"3000=104", "102=AB"}},
      {"PA", 100, 8, 20090, {}},           // open already
      {"PM", 350, 8, 20100, {}},
      {"PA", 252, 4, 20160, {}},           // closing with the address book open: a warning
      {"PM", 252, 4, 20150, {}},
  };
  for (const auto &c : cases) {
    cfClearProjTable();
    cfRmilClear();
    ifc().cfReturnCode = 0;
    if (*c.handles) cfAddProjEntry(proj.c_str(), handle10("P1").c_str());
    if (std::strchr(c.handles, 'A')) cfModProjEntry(name20("ALPHA").c_str(), kSelAdbk, handle10("AB").c_str());
    if (std::strchr(c.handles, 'M')) cfModProjEntry(proj.c_str(), kSelMbox, handle10("MB").c_str());
    EXPECT_EQ(cfAddRequestIDandHandle(c.id == 258 ? nullptr : proj.c_str(), c.id), c.rc) << c.handles << c.id;
    EXPECT_EQ(ifc().cfReturnCode, c.error) << c.handles << c.id;
    if (c.rc == 0) {
      EXPECT_EQ(items(), c.items) << c.handles << c.id;
    }
  }
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
  // "code/error number" of adding a qualifier's items to a cleared buffer.
  const auto add = [](const std::string &q) {
    cfRmilClear();
    ifc().cfReturnCode = 0;
    const int rc = cfAddRequestQualifier(q.c_str());
    return std::to_string(rc) + "/" + std::to_string(ifc().cfReturnCode);
  };
  for (const char *ok : {"00001", "    1", "1    ", "1A   "}) EXPECT_EQ(add(qual(ok, "00050")), "0/0") << ok;
  EXPECT_EQ(items(), (std::vector<std::string>{"131=1A", "132=00050"}));
  for (const char *bad : {"00000", "     ", "70000", "65536", "ABCDE", "+0001"})
    EXPECT_EQ(add(qual(bad, "00001")), "8/20220") << bad;
  EXPECT_EQ(add(qual("65535", "0    ")), "8/20210");

  EXPECT_EQ(add(qual("1", "2", "=>", "Smith", 'd')), "0/0");
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
  // In order: each response header read for `expected`, the result and code, and the
  // project's handles in the table afterwards ("-": the project is not in it).
  const struct {
    std::vector<std::pair<int, std::string>> items;
    bool ended;  // the header's segment end is there
    std::uint16_t expected;
    int rc, code;
    const char *handles;  // project handle, address book handle
  } cases[] = {
      {{{3001, "251"}, {100, "41"}, {102, "PH"}, {103, "0"}, {555, "x"}}, true, 251, 0, 0, "PH/"},  // opened
      {{{3001, "101"}, {100, "40"}, {102, "AB"}, {103, "0"}}, true, 101, 12, 0, "PH/"},  // the previous request's
      {{{3001, "103"}, {100, "41"}, {103, "0"}}, true, 101, 12, 0, "PH/"},               // another response
      {{{3001, "101"}, {100, "41"}, {102, "AB"}, {103, "16"}}, true, 101, 0, 16, "PH/"},  // failed: no change
      {{{3001, "101"}, {100, "41"}, {102, "ABCDEFGHIJKLMN"}, {103, "0"}}, true, 101, 0, 0, "PH/ABCDEFGHIJ"},  // cut at 10
      {{{3001, "103"}, {100, "41"}, {103, "0"}}, true, 103, 0, 0, "PH/"},                // closed
      {{{3001, "251"}, {100, "41"}}, false, 251, 12, 0, "PH/"},  // never reads past the data
      {{{3001, "257"}, {100, "41"}, {103, "0"}}, true, 257, 0, 0, "-"},                 // deleted
  };
  for (const auto &c : cases) {
    Response r;
    for (const auto &[id, v] : c.items) r.item(static_cast<std::uint16_t>(id), v);
    if (c.ended) r.end().item(9983, "105").end();
    r.deliver();
    ifc().cfReturnCode = 0;
    code = 99;
    ASSERT_EQ(cfGetHeader(proj.c_str(), &code, c.expected), c.rc) << c.expected;
    EXPECT_EQ(ifc().cfReturnCode, c.rc == 12 ? 20010 : 0) << c.expected;
    // Answered: its code, and the reader left on segment 2.
    EXPECT_EQ(c.rc == 0 ? std::pair(int{code}, cfMessage().cursor().segNo) : std::pair(0, 2), std::pair(c.code, 2))
        << c.expected;
    ProjEntry e{};
    const auto handle = [](const char *h) { return std::string(h, strnlen(h, 10)); };
    const bool found = cfGetProjEntry(name20("alpha").c_str(), &e) == 1;
    EXPECT_EQ(found ? handle(e.projHandle) + "/" + handle(e.adbkHandle) : "-", c.handles) << c.expected;
  }
}

TEST(ContextTable, CaseInsensitiveLookupModifyAndDelete) {
  cfClearProjTable();
  const std::string a = name20("one"), b = name20("Two"), c = name20("three");
  EXPECT_EQ(cfDeleteProjEntry(a.c_str()), 12);  // empty table
  EXPECT_EQ(cfModProjEntry(a.c_str(), kSelMbox, handle10("M").c_str()), 12);
  for (const auto &n : {a, b, c}) ASSERT_EQ(cfAddProjEntry(n.c_str(), handle10(n.c_str()).c_str()), 0);
  EXPECT_EQ(cfProjCount(), 3);
  ProjEntry e{};
  for (const auto &[name, found] : {std::pair{"ONE", 1}, {"one ", 1}, {"on", 0}})
    EXPECT_EQ(cfGetProjEntry(name20(name).c_str(), &e), found) << name;
  ASSERT_EQ(cfModProjEntry(name20("TWO").c_str(), kSelMbox, handle10("MB").c_str()), 0);
  ASSERT_EQ(cfGetProjEntry(b.c_str(), &e), 1);
  EXPECT_EQ(std::string(e.mboxHandle, 2), "MB");
  EXPECT_FALSE(handleSet(e.adbkHandle) || handleSet(e.msysHandle));
  EXPECT_EQ(cfModProjEntry(b.c_str(), 4, handle10("X").c_str()), 12);  // bad selector
  EXPECT_EQ(cfModProjEntry(name20("four").c_str(), kSelMbox, handle10("X").c_str()), 12);
  ASSERT_EQ(cfDeleteProjEntry(a.c_str()), 0);  // the first of three
  EXPECT_EQ(cfProjCount(), 2);
  for (const auto &n : {b, c}) EXPECT_EQ(cfGetProjEntry(n.c_str(), &e), 1) << n;
  for (const auto &n : {c, b}) ASSERT_EQ(cfDeleteProjEntry(n.c_str()), 0) << n;
  EXPECT_EQ(cfProjCount(), 0);
}
