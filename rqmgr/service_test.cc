// Request handling: decoding of damaged requests, contexts and handles, projects,
// and the generic entry requests, driven through Service::handle as the ICC layer
// drives it.
#include "service.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <fstream>

#include "test_support.h"

namespace qlm::rqmgr {
namespace {

using test::Msg;
using test::Req;

constexpr int kA = 1, kB = 2;  // two clients

class ServiceTest : public ::testing::Test {
 protected:
  ServiceTest() : store_(dir_.path() + "/q.db", 50) {
    std::ofstream(dir_.path() + "/errortxt.fil")
        << "30005-M The project already exists\n"
        << "30005-E " << std::string(200, 'e') << "\n"
        << "30005-E tail\n"
        << "30005-R Choose another name.\n";
    texts_.load(dir_.path() + "/errortxt.fil");
  }

  std::vector<Msg> send(int client, const Bytes &req) {
    Answer a = service_.handle(client, req.data(), req.size());
    std::vector<Msg> out;
    for (const Bytes &b : a.messages) {
      EXPECT_LE(b.size(), 3072u);
      out.push_back(test::read(b));
    }
    return out;
  }
  Msg one(int client, const Req &r) {
    auto v = send(client, r.bytes());
    EXPECT_EQ(v.size(), 1u);
    return v.empty() ? Msg{} : v.front();
  }

  // Adds (and so opens) a project; returns its handle.
  std::string addProject(int client, const std::string &name, const std::string &text = "") {
    Req r(254);
    r.item(104, "10000").end().seg(451).item(451, name);
    if (!text.empty()) r.item(453, text);
    Msg m = one(client, r.end());
    EXPECT_EQ(m.rc, 0) << name;
    return m.handle;
  }
  Msg openProject(int client, const std::string &name) {
    return one(client, Req(250).end().seg(451).item(451, name).end());
  }
  Msg byHandle(int client, int id, const std::string &handle, std::uint16_t item = 102) {
    return one(client, Req(id).item(item, handle).item(104, "10000").end());
  }
  std::string openAdbk(int client, const std::string &project) {
    Msg m = byHandle(client, 100, project, 101);
    EXPECT_EQ(m.rc, 0);
    return m.handle;
  }

  test::TempDir dir_;
  Store store_;
  ErrorTexts texts_;
  std::vector<std::string> log_;
  Service service_{store_, texts_, "errortxt.fil", [this](const std::string &l) { log_.push_back(l); }};
};

TEST_F(ServiceTest, DamagedRequestsGetAnErrorAnswerAndServingGoesOn) {
  const Bytes good = Req(258, "41").item(131, "1").item(132, "10").end().bytes();
  ASSERT_EQ(one(kA, Req(258, "41").item(131, "1").item(132, "10").end()).rc, 0);

  auto expectMalformed = [&](Bytes b, const char *ref, int responseId, const char *what) {
    auto v = send(kA, b);
    ASSERT_EQ(v.size(), 1u) << what;
    EXPECT_EQ(v[0].rc, 8) << what;
    EXPECT_EQ(v[0].error(), 30001) << what;
    EXPECT_EQ(v[0].reference, ref) << what;
    EXPECT_EQ(v[0].responseId, responseId) << what;
  };
  // Truncated in the middle of the header segment, and short of its segment end.
  expectMalformed(Bytes(good.begin(), good.begin() + 25), "41", 259, "truncated item");
  expectMalformed(Bytes(good.begin(), good.begin() + 20), "0", 259, "truncated reference");
  Bytes noEnd(good.begin(), good.end() - 4);
  rmil::putU16(noEnd.data() + 2, static_cast<std::uint16_t>(noEnd.size()));
  expectMalformed(noEnd, "41", 259, "no segment end");
  // rmilLen that disagrees with the bytes received, both ways.
  Bytes longer = good;
  rmil::putU16(longer.data() + 2, static_cast<std::uint16_t>(good.size() + 1));
  expectMalformed(longer, "41", 259, "rmilLen too big");
  Bytes extra = good;
  extra.insert(extra.end(), {0, 0, 49, 0});
  expectMalformed(extra, "41", 259, "bytes after the last segment");
  // A segment count the message does not hold, and none at all.
  Bytes segs = good;
  rmil::putU16(segs.data() + 4, 3);
  expectMalformed(segs, "41", 259, "rmilNumSegs too big");
  rmil::putU16(segs.data() + 4, 0);
  expectMalformed(segs, "41", 259, "rmilNumSegs 0");
  // An item length pointing past the end, and a negative one.
  Bytes wild = good;
  rmil::putU16(wild.data() + 17, 0x7FFF);  // the reference item's length
  expectMalformed(wild, "0", 259, "item length too big");
  rmil::putU16(wild.data() + 17, 0xFFFF);
  expectMalformed(wild, "0", 259, "negative item length");
  // Shorter than a header, longer than a buffer, empty.
  expectMalformed(Bytes(good.begin(), good.begin() + 9), "0", 0, "9 bytes");
  expectMalformed(Bytes(), "0", 0, "nothing");
  Bytes huge(4000, 0);
  std::copy(good.begin(), good.end(), huge.begin());
  expectMalformed(huge, "41", 259, "4000 bytes");
  // Header values the library never writes.
  expectMalformed(Req(258, "5").item(131, "0").end().bytes(), "5", 259, "startentry 0");
  expectMalformed(Req(258, "5").item(132, "70000").end().bytes(), "5", 259, "numentries 70000");
  expectMalformed(Req(258, "5").item(127, "10019").end().bytes(), "5", 259, "operator");
  expectMalformed(Req(252, "5").item(102, "P0000000001X").end().bytes(), "5", 253, "handle of 12 bytes");
  expectMalformed(Req(258, "12345678901").end().bytes(), "0", 259, "reference of 11 digits");
  expectMalformed(Req(108, "5").item(134, "999").end().bytes(), "5", 109, "relation no list knows");
  // Missing data segment or one of the wrong type.
  expectMalformed(Req(254, "6").end().bytes(), "6", 255, "add without data");
  expectMalformed(Req(254, "6").end().seg(105).item(105, "X").end().bytes(), "6", 255, "add with an address");

  // Unknown identifiers: 30002 with identifier + 1.
  Msg u = one(kA, Req(999, "8").end());
  EXPECT_EQ(u.rc, 8);
  EXPECT_EQ(u.error(), 30002);
  EXPECT_EQ(u.responseId, 1000);
  EXPECT_EQ(u.reference, "8");
  EXPECT_EQ(one(kA, Req(3, "8").end()).error(), 30002);

  // Still serving, and every refusal was logged.
  EXPECT_EQ(one(kA, Req(258, "42").item(131, "1").item(132, "10").end()).rc, 0);
  EXPECT_GE(log_.size(), 20u);
}

TEST_F(ServiceTest, EveryDamagedVariantOfARequestGetsOneAnswer) {
  const std::string p = addProject(kA, "P1");
  const std::string ab = openAdbk(kA, p);
  const Bytes seeds[] = {
      Req(104, "11").item(102, ab).item(104, "10001").end().seg(105).item(105, "BOB").item(111, "Rome").end().bytes(),
      Req(108, "12").item(102, ab).item(128, "111").item(131, "1").item(132, "9").item(126, "R").end().bytes(),
      Req(250, "13").end().seg(451).item(451, "P1").item(450, "X").end().bytes(),
  };
  std::uint32_t rnd = 12345;
  auto next = [&rnd] { return rnd = rnd * 1103515245u + 12345u, rnd >> 8; };
  for (int i = 0; i < 3000; ++i) {
    Bytes b = seeds[i % 3];
    switch (next() % 3) {
      case 0: b[next() % b.size()] = static_cast<std::uint8_t>(next()); break;   // one byte changed
      case 1: b.resize(next() % b.size()); break;                               // cut short
      case 2: b.insert(b.begin() + next() % b.size(), static_cast<std::uint8_t>(next())); break;  // one byte more
    }
    Answer a = service_.handle(kA, b.data(), b.size());
    if (a.shutdown) continue;  // a mutation that made it a shutdown request (47)
    ASSERT_EQ(a.messages.size(), 1u) << i;
    const Msg m = test::read(a.messages[0]);
    EXPECT_GE(m.rc, 0) << i;
    EXPECT_LE(a.messages[0].size(), 3072u);
  }
  // Serving goes on.
  EXPECT_EQ(one(kA, Req(108).item(102, ab).item(131, "1").item(132, "9").end()).rc, 0);
}

TEST_F(ServiceTest, ErrorSegmentCarriesTheFileTextsInPiecesOf130Bytes) {
  addProject(kA, "P1");
  Msg m = one(kA, Req(254, "9").item(104, "10000").end().seg(451).item(451, "P1").end());
  ASSERT_EQ(m.segs.size(), 1u);
  const auto &e = m.segs[0].items;
  EXPECT_EQ(m.rc, 8);
  EXPECT_EQ(m.handle, "");
  EXPECT_EQ(e.at(40), "30005");
  EXPECT_EQ(e.at(41), "The project already exists");
  EXPECT_EQ(e.at(51).size(), 130u);
  EXPECT_EQ(e.at(51) + e.at(52), std::string(200, 'e') + " tail");
  EXPECT_FALSE(e.count(53));
  EXPECT_EQ(e.at(61), "Choose another name.");
  // A number the file does not hold: the built-in message alone.
  Msg n = openProject(kA, "NOPE");
  EXPECT_EQ(n.error(), 30004);
  EXPECT_EQ(n.segs[0].items.at(41), "The project does not exist");
  EXPECT_FALSE(n.segs[0].items.count(51));
}

TEST_F(ServiceTest, HandlesBelongToTheClientAndKindThatOpenedThem) {
  const std::string p = addProject(kA, "P1");
  ASSERT_EQ(p.size(), 10u);
  EXPECT_EQ(p[0], 'P');
  const std::string ab = openAdbk(kA, p);
  ASSERT_EQ(ab.size(), 10u);
  EXPECT_EQ(ab[0], 'A');
  EXPECT_NE(ab, p);

  // Another client may not use them.
  EXPECT_EQ(byHandle(kB, 252, p).error(), 30016);
  EXPECT_EQ(byHandle(kB, 100, p, 101).error(), 30016);
  EXPECT_EQ(one(kB, Req(108).item(102, ab).item(131, "1").item(132, "9").end()).error(), 30003);
  // Nor a handle of the wrong kind, nor none at all.
  EXPECT_EQ(one(kA, Req(108).item(102, p).item(131, "1").item(132, "9").end()).error(), 30003);
  EXPECT_EQ(byHandle(kA, 252, ab).error(), 30016);
  EXPECT_EQ(one(kA, Req(252).end()).error(), 30016);
  // The owner may; a second address book under the same project is refused.
  EXPECT_EQ(byHandle(kA, 100, p, 101).error(), 30013);
  EXPECT_EQ(one(kA, Req(108).item(102, ab).item(131, "1").item(132, "9").end()).rc, 0);

  // Closing the project closes its address book; a forgotten client's handles are gone.
  EXPECT_EQ(byHandle(kA, 252, p).rc, 0);
  EXPECT_EQ(byHandle(kA, 102, ab).error(), 30003);
  const std::string p2 = openProject(kA, "P1").handle;
  service_.forgetClient(kA);
  EXPECT_EQ(byHandle(kA, 252, p2).error(), 30016);
  EXPECT_EQ(service_.contexts().size(), 0u);
}

TEST_F(ServiceTest, ProjectsAreAddedOpenedReplacedAndDeleted) {
  // Add with the record wanted: the information record, computed fields included.
  Msg add = one(kA, Req(254).item(104, "10001").end().seg(451).item(451, "Alpha").item(453, "owner")
                       .item(454, "first project").item(458, "X").item(461, "Z").end());
  ASSERT_EQ(add.rc, 0);
  ASSERT_EQ(add.segs.size(), 1u);
  const auto &rec = add.segs[0].items;
  EXPECT_EQ(add.segs[0].type, 451);
  EXPECT_EQ(rec.at(451), "Alpha");
  EXPECT_EQ(rec.at(453), "owner");
  EXPECT_EQ(rec.at(461), "Z");
  EXPECT_EQ(rec.at(455).size(), 14u);
  EXPECT_EQ(rec.at(462), "Y");
  EXPECT_EQ(rec.at(463), "0 address book entries, 0 mailbox entries");
  EXPECT_FALSE(rec.count(458));  // sent, never read back
  EXPECT_FALSE(rec.count(464));  // lists only
  const std::string pa = add.handle;

  // Names are exact: another case is another project.
  EXPECT_EQ(openProject(kB, "alpha").error(), 30004);
  EXPECT_EQ(one(kB, Req(254).end().seg(451).item(451, "Alpha").end()).error(), 30005);
  EXPECT_EQ(one(kB, Req(254).end().seg(451).item(451, "   ").end()).error(), 30008);
  Msg open = openProject(kB, "Alpha");
  ASSERT_EQ(open.rc, 0);
  ASSERT_EQ(open.segs.size(), 1u);
  EXPECT_EQ(open.segs[0].type, 9998);
  EXPECT_EQ(open.segs[0].items.at(452).size(), 14u);
  EXPECT_NE(open.handle, pa);

  // Replace: the fields replace carries are set or cleared, 461 stays, the name stays.
  Msg rep = one(kA, Req(262).item(102, pa).item(104, "10001").end().seg(451).item(451, "Alpha")
                       .item(454, "changed").end());
  ASSERT_EQ(rep.rc, 0);
  EXPECT_EQ(rep.segs[0].items.at(454), "changed");
  EXPECT_FALSE(rep.segs[0].items.count(453));
  EXPECT_EQ(rep.segs[0].items.at(461), "Z");
  EXPECT_EQ(one(kA, Req(262).item(102, pa).item(104, "10000").end().seg(451).item(451, "Alpha").end()).segs.size(), 0u);

  // Delete: refused while another client holds it open; allowed to the last holder,
  // with everything the project held.
  const std::string ab = openAdbk(kA, pa);
  ASSERT_EQ(one(kA, Req(104).item(102, ab).item(104, "10000").end().seg(105).item(105, "BOB").end()).rc, 0);
  EXPECT_EQ(one(kA, Req(256).item(102, pa).item(104, "10000").end().seg(451).item(451, "Alpha").end()).error(), 30012);
  EXPECT_EQ(byHandle(kB, 252, open.handle).rc, 0);
  EXPECT_EQ(one(kA, Req(256).item(102, pa).item(104, "10000").end().seg(451).item(451, "Alpha").end()).rc, 0);
  EXPECT_EQ(byHandle(kA, 102, ab).error(), 30003);
  EXPECT_EQ(byHandle(kA, 252, pa).error(), 30016);
  EXPECT_EQ(openProject(kA, "Alpha").error(), 30004);
  const std::string again = addProject(kA, "Alpha");
  const std::string ab2 = openAdbk(kA, again);
  auto list = send(kA, Req(108).item(102, ab2).item(131, "1").item(132, "9").end().bytes());
  ASSERT_EQ(list.size(), 1u);
  EXPECT_TRUE(list[0].segs.empty());
}

TEST_F(ServiceTest, ProjectListPagesAndSpansMessages) {
  for (int i = 0; i < 40; ++i) addProject(kA, "Proj" + std::to_string(100 + i), std::string(20, 'd'));
  service_.forgetClient(kA);
  auto page = send(kB, Req(258).item(104, "10001").item(131, "    5").item(132, "3").end().bytes());
  ASSERT_EQ(page.size(), 1u);
  ASSERT_EQ(page[0].segs.size(), 3u);
  EXPECT_EQ(page[0].segs[0].items.at(451), "Proj104");
  EXPECT_EQ(page[0].segs[2].items.at(451), "Proj106");
  EXPECT_EQ(page[0].segs[0].items.at(462), "N");
  EXPECT_EQ(page[0].segs[0].items.at(464), "N");

  auto all = send(kB, Req(258, "77").item(104, "10001").item(131, "1").item(132, "65535").end().bytes());
  ASSERT_GT(all.size(), 1u);
  std::size_t n = 0;
  for (std::size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(all[i].responseId, 259);
    EXPECT_EQ(all[i].reference, "77");
    EXPECT_EQ(all[i].rc, 0);
    EXPECT_EQ(all[i].more, i + 1 < all.size());
    n += all[i].segs.size();
  }
  EXPECT_EQ(n, 40u);
  auto none = send(kB, Req(258).item(131, "41").item(132, "5").end().bytes());
  ASSERT_EQ(none.size(), 1u);
  EXPECT_TRUE(none[0].segs.empty());
}

TEST_F(ServiceTest, AddressBookEntriesAndAssignments) {
  const std::string p = addProject(kA, "P1");
  const std::string ab = openAdbk(kA, p);
  auto addr = [&](const std::string &nick, const std::string &city) {
    return one(kA, Req(104).item(102, ab).item(104, "10001").end().seg(105).item(105, nick).item(111, city).end());
  };
  Msg a = addr("BOB", "Rome");
  ASSERT_EQ(a.rc, 0);
  EXPECT_EQ(a.segs[0].items.at(105), "BOB");
  EXPECT_EQ(a.segs[0].items.at(111), "Rome");
  EXPECT_EQ(addr("BOB", "Oslo").error(), 30007);
  EXPECT_EQ(addr("", "Oslo").error(), 30008);
  ASSERT_EQ(addr("ANN", "Oslo").rc, 0);
  ASSERT_EQ(addr("bob", "Bonn").rc, 0);  // keys are case-sensitive
  // A value longer than its field is cut to the field's width.
  Msg longCity = addr("CUT", std::string(40, 'c'));
  EXPECT_EQ(longCity.segs[0].items.at(111), std::string(20, 'c'));

  // Replace an entry that does not exist; list with selection and order.
  EXPECT_EQ(one(kA, Req(112).item(102, ab).item(104, "10000").end().seg(105).item(105, "ZED").end()).error(), 30006);
  auto sel = send(kA, Req(108).item(102, ab).item(104, "10001").item(128, "111").item(130, "111").item(131, "1")
                          .item(132, "10").item(126, "Oslo").item(127, "10015").item(129, "10018").end().bytes());
  ASSERT_EQ(sel.size(), 1u);
  ASSERT_EQ(sel[0].segs.size(), 3u);  // Rome, Oslo, cccc... descending
  EXPECT_EQ(sel[0].segs[0].items.at(111), "cccccccccccccccccccc");
  EXPECT_EQ(sel[0].segs[1].items.at(105), "BOB");
  EXPECT_EQ(sel[0].segs[2].items.at(105), "ANN");
  EXPECT_EQ(one(kA, Req(108).item(102, ab).item(128, "136").item(131, "1").item(132, "9").end()).error(), 30015);

  // Distribution list membership.
  ASSERT_EQ(one(kA, Req(116).item(102, ab).item(104, "10000").end().seg(135).item(135, "FRIENDS").end()).rc, 0);
  auto asg = [&](int id, const std::string &list, const std::string &nick) {
    return one(kA, Req(id).item(102, ab).item(134, "135").item(133, list).item(104, "10000").end().seg(105)
                       .item(105, nick).end());
  };
  EXPECT_EQ(asg(110, "FRIENDS", "BOB").rc, 0);
  EXPECT_EQ(asg(110, "FRIENDS", "ANN").rc, 0);
  EXPECT_EQ(asg(110, "FRIENDS", "BOB").error(), 30010);
  EXPECT_EQ(asg(110, "FRIENDS", "NOBODY").error(), 30009);
  EXPECT_EQ(asg(110, "ENEMIES", "BOB").error(), 30006);
  EXPECT_EQ(asg(114, "FRIENDS", "bob").error(), 30011);
  auto on = send(kA, Req(108).item(102, ab).item(134, "135").item(133, "FRIENDS").item(131, "1").item(132, "9")
                         .end().bytes());
  ASSERT_EQ(on[0].segs.size(), 2u);
  EXPECT_EQ(on[0].segs[0].items.at(105), "ANN");
  // Deleting a member takes it off the list.
  EXPECT_EQ(one(kA, Req(106).item(102, ab).item(104, "10000").end().seg(105).item(105, "ANN").end()).rc, 0);
  EXPECT_EQ(one(kA, Req(106).item(102, ab).item(104, "10000").end().seg(105).item(105, "ANN").end()).error(), 30006);
  on = send(kA, Req(108).item(102, ab).item(134, "135").item(133, "FRIENDS").item(131, "1").item(132, "9").end().bytes());
  ASSERT_EQ(on[0].segs.size(), 1u);
  EXPECT_EQ(on[0].segs[0].items.at(105), "BOB");

  // The project's information counts its address book entries.
  Msg info = one(kA, Req(262).item(102, p).item(104, "10001").end().seg(451).item(451, "P1").end());
  EXPECT_EQ(info.segs[0].items.at(463), "4 address book entries, 0 mailbox entries");
}

TEST_F(ServiceTest, ProjectsOnACommunicationProfile) {
  const std::string p1 = addProject(kA, "P1");
  addProject(kA, "P2");
  ASSERT_EQ(one(kA, Req(266).item(102, p1).item(104, "10000").end().seg(465).item(465, "DIAL").end()).rc, 0);
  auto asg = [&](int id, const std::string &handle, const std::string &project) {
    return one(kA, Req(id).item(102, handle).item(134, "465").item(133, "DIAL").item(104, "10000").end().seg(451)
                       .item(451, project).end());
  };
  EXPECT_EQ(asg(260, p1, "P1").rc, 0);
  EXPECT_EQ(asg(260, p1, "GONE").error(), 30004);
  // Listing needs no context, and the entries say they are assigned.
  auto on = send(kB, Req(258).item(134, "465").item(133, "DIAL").item(104, "10001").item(131, "1").item(132, "9")
                         .end().bytes());
  ASSERT_EQ(on[0].segs.size(), 1u);
  EXPECT_EQ(on[0].segs[0].items.at(451), "P1");
  EXPECT_EQ(on[0].segs[0].items.at(464), "Y");
  EXPECT_EQ(asg(264, p1, "P1").rc, 0);
  EXPECT_EQ(asg(264, p1, "P1").error(), 30011);
  EXPECT_EQ(send(kB, Req(258).item(134, "465").item(133, "NONE").item(131, "1").item(132, "9").end().bytes())[0].error(),
            30006);
}

TEST_F(ServiceTest, DatabaseFailureIsReturnCode12AndChangesNothing) {
  const std::string p = addProject(kA, "P1");
  // Another process holds the write lock longer than the busy time-out.
  sqlite3 *other = nullptr;
  ASSERT_EQ(sqlite3_open((dir_.path() + "/q.db").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  Msg m = one(kA, Req(254, "31").item(104, "10000").end().seg(451).item(451, "P2").end());
  EXPECT_EQ(m.rc, 12);
  EXPECT_EQ(m.error(), 30014);
  EXPECT_EQ(m.reference, "31");
  EXPECT_TRUE(m.handle.empty());
  EXPECT_EQ(byHandle(kA, 252, p).error(), 30014);  // the close failed: still open
  // Reading goes on meanwhile (WAL), and once the lock is gone so does writing.
  EXPECT_EQ(one(kA, Req(258).item(131, "1").item(132, "9").end()).segs.size(), 1u);
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(byHandle(kA, 252, p).rc, 0);
  EXPECT_EQ(openProject(kA, "P2").error(), 30004);
  EXPECT_TRUE(std::any_of(log_.begin(), log_.end(),
                          [](const std::string &l) { return l.find("database failure") != std::string::npos; }));
}

TEST_F(ServiceTest, RetrieveErrTextAndShutdown) {
  const std::string p = addProject(kA, "P1");
  Msg t = one(kA, Req(590).item(102, p).item(104, "10001").end().seg(2652).item(40, "30005").end());
  ASSERT_EQ(t.rc, 0);
  ASSERT_EQ(t.segs.size(), 1u);
  EXPECT_EQ(t.segs[0].type, 2651);
  EXPECT_EQ(t.segs[0].items.at(40), "30005");
  EXPECT_EQ(t.segs[0].items.at(41), "The project already exists");
  EXPECT_EQ(t.segs[0].items.at(52), std::string(70, 'e') + " tail");
  EXPECT_EQ(t.segs[0].items.at(2657), "errortxt.fil");
  EXPECT_EQ(one(kA, Req(590).item(102, p).end().seg(2652).item(40, "12345").end()).error(), 30006);
  EXPECT_EQ(one(kA, Req(590).item(102, p).end().seg(2652).item(2652, "key").end()).error(), 30008);
  EXPECT_EQ(one(kA, Req(590).item(102, p).end().seg(2652).item(40, "3x").end()).error(), 30001);

  const Bytes down = Req(47).end().bytes();
  Answer a = service_.handle(kA, down.data(), down.size());
  EXPECT_TRUE(a.shutdown);
  EXPECT_TRUE(a.messages.empty());
}

}  // namespace
}  // namespace qlm::rqmgr
