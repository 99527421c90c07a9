// The address book and profile functions against a scripted peer: the exact
// items they send, the refusals that send nothing, and how replies land in the
// caller's records.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "qlmc32.h"
#include "scripted_link.h"

using namespace qlm;
using namespace qlm::test;
using V = std::vector<std::string>;

namespace {

QlmListQual listQual(const char *select = "", const char *sort = "", const char *start = "1",
                     const char *num = "10") {
  auto q = blankRecord<QlmListQual>();
  put(q.context, "Proj");
  put(q.selectfield, select);
  put(q.sortfield, sort);
  put(q.startentry, start);
  put(q.numentries, num);
  return q;
}

Segment addrSegment(const char *nick, const char *city = "") {
  Segment s{{9983, "105"}, {105, nick}};
  if (*city) s.push_back({111, city});
  return s;
}

}  // namespace

class AddressBook : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    openContext("Proj");
  }
};

TEST_F(AddressBook, DeleteSendsTheKeyAloneAfterTheHeader) {
  auto req = blankRecord<QlmAddrReq>();
  put(req.context, "Proj");
  put(req.addr.nickname, "BOB");
  put(req.addr.city, "not sent");
  reply({.responseId = 107, .segments = {{{9983, "105"}, {105, "BOB"}}}});  // a record is ignored
  ASSERT_EQ(QlmDeleteAddr(raw(&req)), 0u);
  const Segments &s = lastSent();
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(flat(s[0]), (V{"3000=106", "102=AB", "104=10000", "100=" + std::to_string(ifc().requestRef)}));
  EXPECT_EQ(flat(s[1]), (V{"9983=105", "105=BOB"}));

  put(req.addr.nickname, "");
  const size_t before = ScriptedLink::sent.size();
  EXPECT_EQ(QlmDeleteAddr(raw(&req)), 8u);
  EXPECT_EQ(error(), 20170);
  EXPECT_EQ(ScriptedLink::sent.size(), before);  // refused: nothing sent
}

TEST_F(AddressBook, AddSendsNonBlankFieldsAndReadsTheRecordBack) {
  auto req = blankRecord<QlmAddrReq>();
  put(req.context, "Proj");
  put(req.addr.nickname, "ada");
  put(req.addr.field120, "last field");  // sent last though it is 120
  std::memset(req.addr.zip, 0, sizeof req.addr.zip);  // zero bytes are not blank
  auto out = blankRecord<QlmAddr>();
  std::memcpy(out.lastname, "Whatever", 8);
  reply({.responseId = 105,
         .segments = {{{9983, "105"}, {105, "ada"}, {107, "Lo"}, {116, std::string(40, 'M')}, {119, "?"}}}});
  ASSERT_EQ(QlmAddAddr(raw(&req), raw(&out)), 0u);
  const Segments &s = lastSent();
  EXPECT_EQ(flat(s[0]), (V{"3000=104", "102=AB", "104=10001", "100=" + std::to_string(ifc().requestRef)}));
  EXPECT_EQ(flat(s[1]), (V{"9983=105", "105=ada", "115=", "120=last field"}));
  EXPECT_EQ(text(out.nickname), "ada");
  EXPECT_EQ(std::string(out.lastname, 8), "Loatever");  // not blanked by the reader
  EXPECT_EQ(std::string(out.mailboxid, 16), std::string(16, 'M'));  // cut at the field
  EXPECT_EQ(out.field117[0], ' ');

  // Without an output record the flag is 10000, and a record in the reply is refused.
  reply({.responseId = 105, .segments = {addrSegment("ada")}});
  EXPECT_EQ(QlmAddAddr(raw(&req), nullptr), 12u);
  EXPECT_EQ(error(), 20010);
  EXPECT_EQ(flat(lastSent()[0])[2], "104=10000");

  // A refusal with an error segment returns the Request Manager's code.
  reply({.responseId = 105, .returnCode = 8, .segments = {{{9983, "40"}, {40, "30007"}, {41, "Duplicate"}}}});
  EXPECT_EQ(QlmAddAddr(raw(&req), raw(&out)), 8u);
  reply({.responseId = 105, .returnCode = 8});
  EXPECT_EQ(QlmAddAddr(raw(&req), raw(&out)), 1u);  // no error segment
  reply({.responseId = 113});                        // the wrong response
  EXPECT_EQ(QlmAddAddr(raw(&req), raw(&out)), 12u);
}

TEST_F(AddressBook, ListHeaderKeywordsAndRefusals) {
  auto q = listQual("CITY", "zip", "00001", "    2");
  put(q.operator_, "<>");
  put(q.selectvalue, "Paris");
  put(q.sortorder, "d");
  uint16_t count = 99;
  QlmAddr entries[2];
  reply({.responseId = 109});
  ASSERT_EQ(QlmListAddr(raw(&q), &count, raw(entries)), 0u);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(flat(lastSent()[0]), (V{"3000=108", "102=AB", "100=" + std::to_string(ifc().requestRef), "104=10001",
                                   "128=111", "130=115", "131=00001", "132=    2", "126=Paris", "127=10014",
                                   "129=10018"}));
  EXPECT_EQ(lastSent().size(), 1u);  // a list request has no data segment

  const size_t before = ScriptedLink::sent.size();
  q = listQual("fileid");
  EXPECT_EQ(QlmListAddr(raw(&q), &count, raw(entries)), 8u);
  EXPECT_EQ(error(), 20190);
  q = listQual("", " zip");  // a leading blank defeats a match
  EXPECT_EQ(QlmListAddr(raw(&q), &count, raw(entries)), 8u);
  EXPECT_EQ(error(), 20200);
  q = listQual("", "", "65536");
  EXPECT_EQ(QlmListAddr(raw(&q), &count, raw(entries)), 8u);
  EXPECT_EQ(error(), 20220);
  q = listQual("", "", "1", "0");
  EXPECT_EQ(QlmListAddr(raw(&q), &count, raw(entries)), 8u);
  EXPECT_EQ(error(), 20210);
  q = listQual();
  EXPECT_EQ(QlmListAddr(raw(&q), nullptr, raw(entries)), 8u);
  EXPECT_EQ(error(), 20110);
  EXPECT_EQ(ScriptedLink::sent.size(), before);

  auto dl = listQual("", "Description");
  reply({.responseId = 121});
  ASSERT_EQ(QlmListDistList(raw(&dl), &count, nullptr), 0u);
  EXPECT_EQ(flat(lastSent()[0])[3], "104=10000");
  EXPECT_EQ(flat(lastSent()[0])[4], "130=136");
  dl = listQual("", "nickname");  // an address keyword, not a list keyword
  EXPECT_EQ(QlmListDistList(raw(&dl), &count, nullptr), 8u);
  EXPECT_EQ(error(), 20200);
  auto tp = listQual("NAME");
  reply({.responseId = 133});
  ASSERT_EQ(QlmListTradProf(raw(&tp), &count, nullptr), 0u);
  EXPECT_EQ(flat(lastSent()[0])[4], "128=137");
}

TEST_F(AddressBook, ListsSpanMessagesAndNeverPassTheirBound) {
  auto q = listQual("", "", "1", "5");
  QlmAddr entries[6];
  std::memset(entries, '#', sizeof entries);
  uint16_t count = 0;
  reply({.responseId = 109, .more = true, .segments = {addrSegment("a"), addrSegment("b")}});
  reply({.responseId = 109, .more = true, .segments = {addrSegment("c"), addrSegment("d")}});
  reply({.responseId = 109, .segments = {addrSegment("e", "Rome")}});
  ASSERT_EQ(QlmListAddr(raw(&q), &count, raw(entries)), 0u);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(entries[0].nickname[0], 'a');
  EXPECT_EQ(entries[4].nickname[0], 'e');
  EXPECT_EQ(std::string(entries[4].city, 4), "Rome");
  EXPECT_EQ(entries[5].nickname[0], '#');  // untouched beyond the five

  // A peer that sends more than numentries: the rest is dropped, the area is safe.
  q = listQual("", "", "1", "2");
  std::memset(entries, '#', sizeof entries);
  reply({.responseId = 109, .segments = {addrSegment("a"), addrSegment("b"), addrSegment("c")}});
  ASSERT_EQ(QlmListAddr(raw(&q), &count, raw(entries)), 0u);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(&entries[2]), sizeof(QlmAddr)), std::string(sizeof(QlmAddr), '#'));

  // A segment of another kind is malformed; an error segment ends the walk.
  reply({.responseId = 109, .segments = {addrSegment("a"), {{9983, "135"}, {135, "x"}}}});
  EXPECT_EQ(QlmListAddr(raw(&q), &count, raw(entries)), 12u);
  EXPECT_EQ(count, 1);
  reply({.responseId = 109, .returnCode = 4, .segments = {addrSegment("a"), {{9983, "40"}, {40, "30006"}}}});
  EXPECT_EQ(QlmListAddr(raw(&q), &count, raw(entries)), 4u);
  // A message cut short inside a segment fails instead of reading on.
  reply({.responseId = 109, .segments = {addrSegment("abc")}, .truncateTo = 30});
  EXPECT_EQ(QlmListAddr(raw(&q), &count, raw(entries)), 12u);
}

TEST_F(AddressBook, RelationsNameTheirContainer) {
  auto a = blankRecord<QlmAssignReq>();
  put(a.context, "Proj");
  put(a.container, "friends");
  put(a.member, "ada");
  reply({.responseId = 111});
  ASSERT_EQ(QlmAsgAddrToDistList(raw(&a)), 0u);
  const std::string ref = "100=" + std::to_string(ifc().requestRef);
  EXPECT_EQ(flat(lastSent()[0]), (V{"3000=110", "102=AB", "134=135", "133=friends", "104=10000", ref}));
  EXPECT_EQ(flat(lastSent()[1]), (V{"9983=105", "105=ada"}));
  reply({.responseId = 111});
  ASSERT_EQ(QlmAsgAddrToTradProf(raw(&a)), 0u);
  EXPECT_EQ(flat(lastSent()[0])[2], "134=137");
  reply({.responseId = 127});
  ASSERT_EQ(QlmUsgDistListFromTradProf(raw(&a)), 0u);
  EXPECT_EQ(flat(lastSent()[0])[0], "3000=126");
  EXPECT_EQ(flat(lastSent()[1]), (V{"9983=135", "135=ada"}));
  reply({.responseId = 111, .segments = {addrSegment("ada")}});  // an assignment returns no record
  EXPECT_EQ(QlmAsgAddrToDistList(raw(&a)), 12u);
  EXPECT_EQ(error(), 20010);
  put(a.member, "");
  EXPECT_EQ(QlmAsgAddrToDistList(raw(&a)), 8u);
  EXPECT_EQ(error(), 20170);

  auto small = blankRecord<QlmSmallListQual>();
  put(small.context, "Proj");
  put(small.startentry, "1");
  put(small.numentries, "3");
  uint16_t count = 0;
  QlmDistList lists[3];
  std::memset(lists, 0x20, sizeof lists);
  reply({.responseId = 121, .segments = {{{9983, "135"}, {135, "friends"}, {136, "desc"}}}});
  ASSERT_EQ(QlmListDistListsOnTradProf(raw(&a.container), raw(&small), &count, raw(lists)), 0u);
  EXPECT_EQ(flat(lastSent()[0]), (V{"3000=120", "102=AB", "134=137", "133=friends",
                                   "100=" + std::to_string(ifc().requestRef), "104=10001", "131=1", "132=3"}));
  EXPECT_EQ(count, 1);
  EXPECT_EQ(text(lists[0].description), "desc");
  char blankName[20];
  std::memset(blankName, ' ', 20);
  EXPECT_EQ(QlmListAddrsOnDistList(blankName, raw(&small), &count, nullptr), 8u);
  EXPECT_EQ(error(), 20170);
}

TEST_F(AddressBook, ProfilesAndLogonsUseTheirOwnRecords) {
  auto cp = blankRecord<QlmCommProfReq>();
  put(cp.context, "Proj");
  put(cp.commprof.profname, "modem");
  put(cp.commprof.field466, "a");
  put(cp.commprof.field467, "b");
  put(cp.commprof.field820, "c");
  put(cp.commprof.field821, "dial string");
  auto out = blankRecord<QlmCommProf>();
  reply({.responseId = 267, .segments = {{{9983, "465"}, {465, "modem"}, {821, "not read"}}}});
  ASSERT_EQ(QlmAddCommProf(raw(&cp), raw(&out)), 0u);
  EXPECT_EQ(flat(lastSent()[1]), (V{"9983=465", "465=modem", "466=a", "467=b", "821=dial string", "820=c"}));
  EXPECT_EQ(out.field821[0], ' ');  // 821 is unexpected in a reply
  reply({.responseId = 273});
  ASSERT_EQ(QlmReplaceCommProf(raw(&cp), nullptr), 0u);
  EXPECT_EQ(flat(lastSent()[1]), (V{"9983=465", "466=a", "467=b", "465=modem"}));
  auto cq = listQual("nickname", "anything");  // no keywords: nothing checked, nothing sent
  uint16_t count = 0;
  reply({.responseId = 271});
  ASSERT_EQ(QlmListCommProf(raw(&cq), &count, nullptr), 0u);
  EXPECT_EQ(flat(lastSent()[0])[4], "131=1");

  auto pa = blankRecord<QlmProjAssignReq>();
  put(pa.profname, "modem");
  put(pa.context, "Proj");
  reply({.responseId = 261});
  ASSERT_EQ(QlmAsgProjToCommProf(raw(&pa)), 0u);
  EXPECT_EQ(flat(lastSent()[0])[2], "134=465");
  EXPECT_EQ(flat(lastSent()[1]), (V{"9983=451", "451=Proj"}));

  auto paging = blankRecord<QlmPaging>();
  put(paging.startentry, "1");
  put(paging.numentries, "50");
  reply({.responseId = 259});
  ASSERT_EQ(QlmListProjsOnCommProf(raw(&pa.profname), raw(&paging), &count, nullptr), 0u);
  EXPECT_EQ(flat(lastSent()[0]), (V{"134=465", "133=modem", "3000=258", "100=" + std::to_string(ifc().requestRef),
                                   "104=10000", "131=1", "132=50"}));

  auto lr = blankRecord<QlmVnLogonReq>();
  put(lr.context, "Proj");
  put(lr.logonid, "LOG1");
  put(lr.mailboxid, "MBX");
  put(lr.field474, "x");
  put(lr.field478, "y");
  put(lr.field476, "z");
  auto logon = blankRecord<QlmVnLogon>();
  reply({.responseId = 283, .segments = {{{9983, "472"}, {472, "LOG1"}, {475, "Q"}, {476, "z"}, {474, "?"}}}});
  ASSERT_EQ(QlmAddVnLogon(raw(&lr), raw(&logon)), 0u);
  EXPECT_EQ(flat(lastSent()[1]), (V{"9983=472", "472=LOG1", "473=MBX", "474=x", "478=y", "476=z"}));
  EXPECT_EQ(logon.field475[0], 'Q');  // byte 26 of the returned record
  EXPECT_EQ(text(logon.field476), "z");
  reply({.responseId = 285});
  ASSERT_EQ(QlmDeleteVnLogon(raw(&lr)), 0u);
  EXPECT_EQ(flat(lastSent()[1]), (V{"9983=472", "472=LOG1"}));
}

TEST_F(AddressBook, ProjectsReplaceAndList) {
  auto p = blankRecord<QlmProj>();
  put(p.projname, "Proj");
  put(p.field461, "X");
  auto info = blankRecord<QlmProjInfo>();
  reply({.responseId = 263, .segments = {{{9983, "451"}, {451, "Proj"}, {464, "L"}, {463, "remark"}}}});
  ASSERT_EQ(QlmReplaceProj(raw(&p), raw(&info)), 0u);
  EXPECT_EQ(flat(lastSent()[1]), (V{"9983=451", "451=Proj"}));  // 461 is never replaced
  EXPECT_EQ(info.field464[0], ' ');                            // unexpected in this reply
  EXPECT_EQ(text(info.field463), "remark");

  auto paging = blankRecord<QlmPaging>();
  put(paging.startentry, "00001");
  put(paging.numentries, "00050");
  uint16_t count = 0;
  QlmProjInfo list[2];
  std::memset(list, ' ', sizeof list);
  reply({.responseId = 259, .segments = {{{9983, "451"}, {451, "A"}, {464, "L"}}}});
  ASSERT_EQ(QlmListProj(raw(&paging), &count, raw(list)), 0u);
  EXPECT_EQ(flat(lastSent()[0]), (V{"3000=258", "100=" + std::to_string(ifc().requestRef), "104=10001",
                                   "131=00001", "132=00050"}));
  EXPECT_EQ(list[0].field464[0], 'L');  // the list reader knows 464

  // Adding opens the project in this process; deleting closes it.
  cfClearProjTable();
  put(p.projname, "Fresh");
  reply({.responseId = 255, .handle = "H1"});
  ASSERT_EQ(QlmAddProj(raw(&p), nullptr), 0u);
  EXPECT_EQ(flat(lastSent()[1]).back(), "461=X");
  EXPECT_EQ(QlmAddProj(raw(&p), nullptr), 8u);
  EXPECT_EQ(error(), 20050);
  reply({.responseId = 257});
  ASSERT_EQ(QlmDeleteProj(raw(&p)), 0u);
  EXPECT_EQ(flat(lastSent()[0]), (V{"3000=256", "102=H1", "104=10000", "100=" + std::to_string(ifc().requestRef)}));
  EXPECT_EQ(QlmDeleteProj(raw(&p)), 8u);
  EXPECT_EQ(error(), 20080);
}

// Receiving counts its attempts: eleven waits by default, one with a time-out of 0,
// and no limit while a message system is open.
TEST_F(AddressBook, ReceiveAttemptsAndTheUnlimitedWait) {
  auto paging = blankRecord<QlmPaging>();
  put(paging.startentry, "1");
  put(paging.numentries, "5");
  uint16_t count = 0;
  EXPECT_EQ(QlmListProj(raw(&paging), &count, nullptr), 12u);
  EXPECT_EQ(error(), 20030);
  EXPECT_EQ(ScriptedLink::receives, 11);

  cfSetReceiveTimeoutValue(0);
  ScriptedLink::receives = 0;
  EXPECT_EQ(QlmListProj(raw(&paging), &count, nullptr), 12u);
  EXPECT_EQ(ScriptedLink::receives, 1);

  // With -1, a late answer after many empty waits is still taken.
  cfSetReceiveTimeoutValue(-1);
  ScriptedLink::receives = 0;
  ScriptedLink::lateBy = 50;
  reply({.responseId = 259});
  EXPECT_EQ(QlmListProj(raw(&paging), &count, nullptr), 0u);
  EXPECT_EQ(ScriptedLink::receives, 51);
  ScriptedLink::lateBy = 0;
  cfResetReceiveTimeoutValue();

  // A peer that is gone fails at once.
  ScriptedLink::active = false;
  ScriptedLink::receives = 0;
  EXPECT_EQ(QlmListProj(raw(&paging), &count, nullptr), 12u);
  EXPECT_EQ(ScriptedLink::receives, 0);
}
