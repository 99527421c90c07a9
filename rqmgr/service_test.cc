// Request handling driven through Service::handle as the ICC layer drives it:
// what the library never sends (damaged requests, foreign handles), the values
// the Request Manager computes for projects, database failure and error texts.
// The ordinary requests are proven end to end (tests/e2e); the generic refusals of
// entry requests and values cut to their width with the mailbox (mailbox_test.cc).
#include "service.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <tuple>

#include "test_support.h"

namespace qlm::rqmgr {
namespace {

using test::Msg;
using test::Req;
using Items = std::initializer_list<std::pair<std::uint16_t, std::string>>;
using Record = std::map<std::uint16_t, std::string>;

// Return code, error number, reference and response identifier of an answer.
std::tuple<int, int, std::string, int> answer(const Msg &m) { return {m.rc, m.error(), m.reference, m.responseId}; }

constexpr int kA = 1, kB = 2;  // two clients

class ServiceTest : public ::testing::Test {
 protected:
  ServiceTest() : store_(dir_.path() + "/q.db", 50) {
    std::ofstream(dir_.path() + "/errortxt.fil") << "30005-M The project already exists\n30005-E "
                                                 << std::string(200, 'e') << "\n30005-E tail\n"
                                                 << "30005-R Choose another name.\n";
    texts_.load(dir_.path() + "/errortxt.fil");
  }

  std::vector<Msg> send(int client, const Bytes &req) {
    std::vector<Msg> out;
    for (const Bytes &b : service_.handle(client, req.data(), req.size()).messages) {
      EXPECT_LE(b.size(), 3072u);
      out.push_back(test::read(b));
    }
    return out;
  }
  // A request of header items and, unless `type` is 0, one data segment; its one answer.
  Msg call(int client, int id, Items header, int type = 0, Items data = {}) {
    Req r(id);
    for (const auto &[n, v] : header) r.item(n, v);
    r.end();
    if (type != 0) {
      r.seg(type);
      for (const auto &[n, v] : data) r.item(n, v);
      r.end();
    }
    auto v = send(client, r.bytes());
    EXPECT_EQ(v.size(), 1u) << id;
    return v.empty() ? Msg{} : v.front();
  }
  // Adds (and so opens) a project without wanting its record; its handle.
  std::string addProject(int client, const std::string &name) {
    Msg m = call(client, 254, {{104, "10000"}}, 451, {{451, name}});
    EXPECT_TRUE(m.rc == 0 && m.segs.empty()) << name << ": rc " << m.rc;
    return m.handle;
  }
  Msg openProject(int client, const std::string &name) { return call(client, 250, {}, 451, {{451, name}}); }
  std::string openAdbk(int client, const std::string &project) {
    Msg m = call(client, 100, {{101, project}});
    EXPECT_EQ(m.rc, 0);
    return m.handle;
  }

  test::TempDir dir_;
  Store store_;
  ErrorTexts texts_;
  std::vector<std::string> log_;
  Service service_{store_, texts_, "errortxt.fil", [this](const std::string &l) { log_.push_back(l); }};
};

TEST_F(ServiceTest, DamagedAndUnknownRequestsGetOneAnswerAndServingGoesOn) {
  const std::string ab = openAdbk(kA, addProject(kA, "P1"));
  const Bytes good = Req(258, "41").item(131, "1").item(132, "10").end().bytes();
  auto cut = [&](std::size_t n) { return Bytes(good.begin(), good.begin() + n); };
  auto patched = [](Bytes b, std::size_t at, std::size_t v) {
    wire::putU16(b.data() + at, static_cast<std::uint16_t>(v));
    return b;
  };
  Bytes extra = good, huge = good;
  extra.insert(extra.end(), {0, 0, 49, 0});  // a segment end after the last one
  huge.resize(4000);
  // The request, the reference its answer echoes ("0": unreadable), the response identifier.
  const struct {
    Bytes bytes;
    const char *ref;
    int responseId;
  } cases[] = {
      {cut(25), "41", 259}, {cut(20), "0", 259},                       // cut inside an item, the reference
      {patched(cut(good.size() - 4), 2, good.size() - 4), "41", 259},  // no segment end
      {patched(good, 2, good.size() + 1), "41", 259}, {patched(extra, 2, good.size()), "41", 259},  // rmilLen
      {patched(extra, 2, extra.size()), "41", 259},  // not ending with the last segment end
      {patched(good, 4, 3), "41", 259}, {patched(good, 4, 0), "41", 259},  // rmilNumSegs
      {patched(good, 17, 0x7FFF), "0", 259}, {patched(good, 17, 0xFFFF), "0", 259},  // item lengths
      {cut(9), "0", 0}, {{}, "0", 0}, {huge, "41", 259},               // shorter than a header, longer than a buffer
      // Header values the library never writes.
      {Req(258, "5").item(131, "0").end().bytes(), "5", 259},
      {Req(258, "5").item(132, "70000").end().bytes(), "5", 259},
      {Req(258, "5").item(127, "10019").end().bytes(), "5", 259},
      {Req(252, "5").item(102, "P0000000001X").end().bytes(), "5", 253},
      {Req(258, "12345678901").end().bytes(), "0", 259},
      {Req(108, "5").item(134, "999").end().bytes(), "5", 109},  // a relation no list knows
      // An add without its data segment, and with one of another type.
      {Req(254, "6").end().bytes(), "6", 255}, {Req(254, "6").end().seg(105).item(105, "X").end().bytes(), "6", 255},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    auto v = send(kA, cases[i].bytes);
    ASSERT_EQ(v.size(), 1u) << i;
    EXPECT_EQ(answer(v[0]), std::tuple(16, 30001, cases[i].ref, cases[i].responseId)) << i;
  }
  for (int id : {999, 3}) EXPECT_EQ(answer(call(kA, id, {})), std::tuple(16, 30002, "7", id + 1));
  const Bytes down = Req(47).end().bytes();  // the shutdown request gets no answer
  const Answer quiet = service_.handle(kA, down.data(), down.size());
  EXPECT_TRUE(quiet.shutdown && quiet.messages.empty());
  EXPECT_EQ(log_.size(), std::size(cases) + 2);  // one line per refusal

  // Random damage is the request fuzz target's (fuzz/request_fuzz.cc): every answer
  // there is well-formed, and every request but the shutdown gets one.
  EXPECT_EQ(call(kA, 108, {{102, ab}}).rc, 0);
}

TEST_F(ServiceTest, HandlesBelongToTheClientAndKindThatOpenedThem) {
  const std::string p = addProject(kA, "P1"), ab = openAdbk(kA, p);
  EXPECT_TRUE(p.size() == 10 && p[0] == 'P' && ab.size() == 10 && ab[0] == 'A') << p << " " << ab;
  // Another client's handles, another kind's, none; a second address book under one project.
  const struct {
    int client, id;
    std::uint16_t item;
    std::string handle;
    int error;
  } cases[] = {{kB, 252, 102, p, 30016},  {kB, 100, 101, p, 30016},  {kB, 108, 102, ab, 30003},
               {kA, 108, 102, p, 30003},  {kA, 252, 102, ab, 30016}, {kA, 252, 102, "", 30016},
               {kA, 100, 101, p, 30013}};
  for (const auto &c : cases) EXPECT_EQ(call(c.client, c.id, {{c.item, c.handle}}).error(), c.error) << c.id;
  EXPECT_EQ(call(kA, 108, {{102, ab}}).rc, 0);

  // Closing the project closes its address book; a forgotten client's contexts are gone.
  EXPECT_EQ(call(kA, 252, {{102, p}}).rc, 0);
  EXPECT_EQ(call(kA, 102, {{102, ab}}).error(), 30003);
  const std::string p2 = openProject(kA, "P1").handle;
  service_.forgetClient(kA);
  EXPECT_EQ(call(kA, 252, {{102, p2}}).error(), 30016);
  EXPECT_EQ(service_.contexts().size(), 0u);
}

TEST_F(ServiceTest, ProjectRecordsComputedValuesAndDeletion) {
  // The information record: 458 is never read back, 464 only in lists.
  Msg add = call(kA, 254, {{104, "10001"}}, 451, {{451, "Alpha"}, {453, "owner"}, {458, "X"}, {461, "Z"}});
  ASSERT_EQ(add.segs.size(), 1u);
  const std::string stamp = add.segs[0].items[455];  // the time of the add
  EXPECT_EQ(stamp.size(), 14u);
  EXPECT_EQ(add.segs[0].items, (Record{{451, "Alpha"}, {453, "owner"}, {455, stamp}, {461, "Z"}, {462, "Y"},
                                       {463, "0 address book entries, 0 mailbox entries"}}));
  const std::string pa = add.handle;
  EXPECT_EQ(call(kB, 254, {}, 451, {{451, "   "}}).error(), 30008);
  Msg open = openProject(kB, "Alpha");
  ASSERT_EQ(open.segs.size(), 1u);
  EXPECT_EQ(open.segs[0].type, 9998);
  EXPECT_EQ(open.segs[0].items, (Record{{452, stamp}}));  // created by that add
  EXPECT_NE(open.handle, pa);
  // Replace sets or clears the fields replace carries (453 goes); 461 is not one of them.
  Msg rep = call(kA, 262, {{102, pa}, {104, "10001"}}, 451, {{451, "Alpha"}, {454, "changed"}});
  ASSERT_EQ(rep.segs.size(), 1u);
  rep.segs[0].items.erase(455);
  EXPECT_EQ(rep.segs[0].items, (Record{{451, "Alpha"}, {454, "changed"}, {461, "Z"}, {462, "Y"},
                                       {463, "0 address book entries, 0 mailbox entries"}}));

  // 463 counts the address book; 464 tells an assignment to a communication profile.
  const std::string ab = openAdbk(kA, pa);
  ASSERT_EQ(call(kA, 104, {{102, ab}}, 105, {{105, "BOB"}}).rc, 0);
  ASSERT_EQ(call(kA, 266, {{102, pa}}, 465, {{465, "DIAL"}}).rc, 0);
  auto asg = [&](int id, const char *name) {
    return call(kA, id, {{102, pa}, {134, "465"}, {133, "DIAL"}}, 451, {{451, name}});
  };
  EXPECT_EQ(asg(260, "Alpha").rc, 0);
  EXPECT_EQ(asg(260, "GONE").error(), 30004);
  Msg on = call(kB, 258, {{134, "465"}, {133, "DIAL"}, {104, "10001"}, {131, "   1"}});
  ASSERT_EQ(on.segs.size(), 1u);
  EXPECT_EQ(on.segs[0].items.at(463), "1 address book entries, 0 mailbox entries");
  EXPECT_EQ(on.segs[0].items.at(464), "Y");
  EXPECT_EQ(asg(264, "Alpha").rc, 0);
  EXPECT_EQ(call(kB, 258, {{104, "10001"}}).segs.at(0).items.at(464), "N");

  // Delete is refused while another client holds the project open; then its contexts go too.
  EXPECT_EQ(call(kA, 256, {{102, pa}}, 451, {{451, "Alpha"}}).error(), 30012);
  EXPECT_EQ(call(kB, 252, {{102, open.handle}}).rc, 0);
  EXPECT_EQ(call(kA, 256, {{102, pa}}, 451, {{451, "Alpha"}}).rc, 0);
  EXPECT_EQ(call(kA, 102, {{102, ab}}).error(), 30003);
  EXPECT_EQ(call(kA, 252, {{102, pa}}).error(), 30016);
  EXPECT_EQ(openProject(kA, "Alpha").error(), 30004);
}

TEST_F(ServiceTest, DatabaseFailureIsReturnCode20AndChangesNothing) {
  const std::string p = addProject(kA, "P1");
  // Another connection holds the write lock longer than the busy time-out.
  sqlite3 *other = nullptr;
  ASSERT_EQ(sqlite3_open((dir_.path() + "/q.db").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  Msg m = call(kA, 254, {}, 451, {{451, "P2"}});
  EXPECT_EQ(answer(m), std::tuple(20, 30014, "7", 255));
  EXPECT_EQ(call(kA, 252, {{102, p}}).error(), 30014);
  EXPECT_EQ(service_.contexts().size(), 1u);
  EXPECT_EQ(call(kA, 258, {{104, "10001"}}).segs.size(), 1u);  // reading goes on meanwhile
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(call(kA, 252, {{102, p}}).rc, 0);  // still open
  EXPECT_EQ(openProject(kA, "P2").error(), 30004);
  EXPECT_TRUE(std::any_of(log_.begin(), log_.end(),
                          [](const std::string &l) { return l.find("database failure") != std::string::npos; }));
}

TEST_F(ServiceTest, ErrorTextsComeFromTheFileInPiecesOf130Bytes) {
  const std::string p = addProject(kA, "P1");
  Record file = {{40, "30005"}, {41, "The project already exists"}, {51, std::string(130, 'e')},
                 {52, std::string(70, 'e') + " tail"}, {61, "Choose another name."}};
  Record builtIn = {{40, "30004"}, {41, "The project does not exist"}};  // a number the file does not hold
  Msg m = call(kA, 254, {}, 451, {{451, "P1"}});
  EXPECT_EQ(answer(m), std::tuple(16, 30005, "7", 255));
  EXPECT_EQ(m.handle, "");
  ASSERT_EQ(m.segs.size(), 1u);
  EXPECT_EQ(m.segs[0].items, file);
  EXPECT_EQ(openProject(kA, "NOPE").segs.at(0).items, builtIn);
  // The same texts on request, in a record that names their origin.
  file[2657] = "errortxt.fil";
  builtIn[2657] = "qlmrqmgr";
  for (const Record &want : {file, builtIn}) {
    Msg t = call(kA, 590, {{102, p}, {104, "10001"}}, 2652, {{40, want.at(40)}});
    ASSERT_EQ(t.segs.size(), 1u);
    EXPECT_EQ(t.segs[0].type, 2651);
    EXPECT_EQ(t.segs[0].items, want);
  }
  // Without "10001" the answer carries no record.
  EXPECT_EQ(call(kA, 590, {{102, p}, {104, "10000"}}, 2652, {{40, "30005"}}).segs.size(), 0u);
  for (const auto &[item, value, error] : {std::tuple{40, "12345", 30006}, {2652, "key", 30008}, {40, "3x", 30001}})
    EXPECT_EQ(call(kA, 590, {{102, p}}, 2652, {{item, value}}).error(), error) << value;
}

}  // namespace
}  // namespace qlm::rqmgr
