// The message system driven through Service::handle: sessions, sending, querying,
// receiving and purging through the network between two projects, the receipts
// each operation makes, drop box processing, recovery, the refusals with their
// numbers, a transfer that breaks off, and the upgrade of an older database. Two
// applications with their own Request Managers exchange files in tests/e2e.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>

#include "files.h"
#include "service.h"
#include "test_support.h"
#include "transfer.h"

namespace qlm::rqmgr {
namespace {

namespace fs = std::filesystem;
using test::Msg;
using qlm::test::slurp;
using qlm::test::spit;
using test::Req;
using Items = std::initializer_list<std::pair<std::uint16_t, std::string>>;
using Record = std::map<std::uint16_t, std::string>;

// Runs `sql` on the database at `path` through a connection of its own.
void exec(const std::string &path, const char *sql) {
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
  sqlite3_close(db);
}

// One project of the installation as a client sees it: its contexts.
struct Client {
  int key;
  std::string project, mbox, msys;
};

class NetworkService : public ::testing::Test {
 protected:
  explicit NetworkService(std::int64_t maxMessageBytes = 1 << 20)
      : store_(dir_.path() + "/q.db", 50),
        service_(store_, texts_, "errortxt.fil", [](const std::string &) {},
                 NetworkConfig{dir_.path() + "/exchange", dir_.path() + "/messages", maxMessageBytes}) {
    fs::create_directories(exchange() + "/in");
    fs::create_directories(dir_.path() + "/messages");
    a_ = open(1, "PA", "LA", "MBA", "secret");
    b_ = open(2, "PB", "LB", "MBB", "");
  }

  std::string exchange() const { return dir_.path() + "/exchange"; }
  // The message bodies beside the database.
  std::vector<std::string> bodies() const { return test::listDir(dir_.path() + "/messages"); }

  std::vector<Msg> send(int client, const Req &r) {
    const Bytes b = r.bytes();
    std::vector<Msg> out;
    for (const Bytes &m : service_.handle(client, b.data(), b.size()).messages) out.push_back(test::read(m));
    return out;
  }
  Msg one(int client, const Req &r) {
    auto v = send(client, r);
    EXPECT_EQ(v.size(), 1u);
    return v.empty() ? Msg{} : v.front();
  }
  // A request with the handle, the return-record flag and one data segment.
  Msg call(int client, int id, const std::string &handle, int type, Items data, bool want = true) {
    Req r(id);
    r.item(102, handle).item(104, want ? "10001" : "10000").end().seg(type);
    for (const auto &[n, v] : data) r.item(n, v);
    return one(client, r.end());
  }
  // A project with its mailbox and message system open and a logon of its own.
  Client open(int key, const std::string &project, const std::string &logon, const std::string &mailbox,
              const std::string &password) {
    Client c{key, project, {}, {}};
    c.project = one(key, Req(254).item(104, "10000").end().seg(451).item(451, project).end()).handle;
    c.mbox = one(key, Req(350).item(101, c.project).item(104, "10000").end()).handle;
    c.msys = one(key, Req(550).item(101, c.project).item(104, "10000").end()).handle;
    Items fields = {{472, logon}, {473, mailbox}, {474, password}};
    EXPECT_EQ(call(key, 282, c.project, 472, fields).rc, 0);
    return c;
  }
  Msg start(const Client &c, const std::string &logon, const std::string &password = "") {
    return call(c.key, 568, c.msys, 9991, {{1115, logon}, {668, password}, {660, "X"}});
  }
  Msg sendFile(const Client &c, const std::string &to, const std::string &file, const std::string &subject = "") {
    return call(c.key, 558, c.msys, 1180, {{773, to}, {780, "INV"}, {781, file}, {790, subject}});
  }
  Msg receive(const Client &c, const std::string &target, Items filters = {}) {
    Req r(560);
    r.item(102, c.msys).item(104, "10001").end().seg(687).item(698, target);
    for (const auto &[n, v] : filters) r.item(n, v);
    return one(c.key, r.end());
  }
  std::vector<Msg> query(const Client &c, const std::string &start = "1", const std::string &num = "100") {
    return send(c.key, Req(564).item(102, c.msys).item(104, "10001").item(131, start).item(132, num).end());
  }
  // The message ids a query lists.
  std::vector<std::string> waiting(const Client &c) {
    std::vector<std::string> ids;
    for (const Msg &m : query(c))
      for (const Msg::Seg &s : m.segs)
      if (s.type == 9987) ids.push_back(s.items.at(2576));
    return ids;
  }
  static Record record(const Msg &m) {
    if (m.segs.empty()) return {{0, "rc " + std::to_string(m.rc) + ", no record"}};
    Record r = m.segs[0].items;
    r[9983] = std::to_string(m.segs[0].type);
    return r;
  }
  // A session receipt's status and counters sent/received/purged/failed.
  std::string sessionState(const Client &c, const std::string &name) {
    for (const Msg &m : send(c.key, Req(374).item(102, c.mbox).item(104, "10001").end()))
      for (const Msg::Seg &s : m.segs)
        if (s.items.at(274) == name)
          return s.items.at(275) + " " + s.items.at(285) + "/" + s.items.at(286) + "/" + s.items.at(287) + "/" +
                 s.items.at(288);
    return "none";
  }

  test::TempDir dir_;
  Store store_;
  ErrorTexts texts_;
  Service service_;
  Client a_, b_;
};

TEST_F(NetworkService, FilesTravelFromOneMailboxToAnotherWithReceiptsOnBothSides) {
  const std::string body(600 * 1024 + 17, 'x');  // more than one piece of a copy
  spit(exchange() + "/a.dat", body);
  Record started = record(start(a_, "LA", "secret"));
  EXPECT_EQ(started, (Record{{9983, "274"}, {274, "SESS00000001"}, {275, "ACTIV"}, {285, "00000"}, {286, "00000"},
                             {287, "00000"}, {288, "00000"}}));
  Record sent = record(sendFile(a_, "MBB", "a.dat", "first"));
  EXPECT_EQ(sent.at(9983) + " " + sent.at(1802) + " " + sent.at(1803) + " " + sent.at(8022),
            "9989 SEND00000001 SENT 0000000000000001");
  EXPECT_EQ(sent.at(1804).size(), 14u);
  spit(exchange() + "/b.dat", "second message");
  ASSERT_EQ(sendFile(a_, "MBB", exchange() + "/b.dat").rc, 0);  // an absolute name
  // The logons show what waits and who is in a session.
  auto logons = send(b_.key, Req(286).item(102, b_.project).item(104, "10001").end());
  EXPECT_EQ(logons.at(0).segs.at(0).items, (Record{{472, "LB"}, {473, "MBB"}, {475, "N"}, {477, "00002"}}));  // no 474

  EXPECT_EQ(bodies(), (std::vector<std::string>{"1", "2"}));
  ASSERT_EQ(start(b_, "LB").rc, 0);
  std::vector<Msg> q = query(b_);
  ASSERT_EQ(q.at(0).segs.size(), 2u);
  EXPECT_EQ(q[0].segs[0].type, 9987);
  const Record entry = q[0].segs[0].items;
  EXPECT_EQ(entry.at(2570) + "|" + entry.at(2576) + "|" + entry.at(2577) + "|" + entry.at(2584) + "|" + entry.at(2590) +
                "|" + entry.at(2591),
            "MBA|0000000000000001|INV|614417|a.dat|first");
  EXPECT_EQ(query(b_, "2", "1").at(0).segs.at(0).items.at(2576), "0000000000000002");  // paged

  // One message to a file; the rest into a directory, each named by its id.
  Record got = record(receive(b_, "in/one.dat"));
  EXPECT_EQ(got.at(722) + " " + got.at(8022) + " " + got.at(721), "RECVD 0000000000000001 RECV00000001");
  EXPECT_EQ(slurp(exchange() + "/in/one.dat"), body);
  EXPECT_EQ(test::modeOf(exchange() + "/in/one.dat"), 0600u);
  ASSERT_EQ(record(receive(b_, "in")).at(8022), "0000000000000002");
  EXPECT_EQ(slurp(exchange() + "/in/0000000000000002"), "second message");
  EXPECT_EQ(record(receive(b_, "in")).at(722), "EMPTY");
  EXPECT_TRUE(waiting(b_).empty());
  EXPECT_TRUE(bodies().empty());
  // Nothing but the received files is left in the directory.
  EXPECT_EQ(test::listDir(exchange() + "/in"), (std::vector<std::string>{"0000000000000002", "one.dat"}));

  // Receipts on both sides, assigned to their session receipts.
  Record ended = record(call(b_.key, 570, b_.msys, 9990, {{1136, "Y"}}));
  EXPECT_EQ(ended.at(9983) + " " + ended.at(274) + " " + ended.at(275) + " " + ended.at(286), "9990 SESS00000001 ENDED 00002");
  EXPECT_EQ(ended.at(281).size(), 14u);
  auto on = send(b_.key, Req(374).item(102, b_.mbox).item(104, "10001").item(134, "10001").end().seg(274).item(274, "SESS00000001").end());
  ASSERT_EQ(on.at(0).segs.size(), 3u);
  EXPECT_EQ(on[0].segs[0].type, 721);
  EXPECT_EQ(on[0].segs[0].items.at(727), "MBA");  // one message: its sender
  EXPECT_EQ(on[0].segs[2].items.at(722), "EMPTY");
  EXPECT_EQ(sessionState(a_, "SESS00000001"), "ACTIV 00002/00000/00000/00000");
  EXPECT_EQ(send(a_.key, Req(412).item(102, a_.mbox).item(104, "10001").end()).at(0).segs.size(), 2u);

  // Ending the message system ends the session.
  ASSERT_EQ(one(a_.key, Req(552).item(102, a_.msys).item(104, "10000").end()).rc, 0);
  EXPECT_EQ(sessionState(a_, "SESS00000001"), "ENDED 00002/00000/00000/00000");
}

TEST_F(NetworkService, PurgeByIdOrEverythingAndFiltersOfReceiving) {
  ASSERT_EQ(start(a_, "LA", "secret").rc, 0);
  ASSERT_EQ(start(b_, "LB").rc, 0);
  spit(exchange() + "/m", "m");
  for (int i = 0; i < 4; ++i) ASSERT_EQ(sendFile(a_, "MBB", "m").rc, 0);
  ASSERT_EQ(sendFile(b_, "MBB", "m").rc, 0);  // to itself, from another sender
  // Receiving takes the oldest message that passes the filters.
  EXPECT_EQ(record(receive(b_, "in/x", {{690, "MBB"}})).at(8022), "0000000000000005");
  EXPECT_EQ(record(receive(b_, "in/x", {{697, "OTHER"}})).at(722), "EMPTY");
  EXPECT_EQ(record(call(b_.key, 562, b_.msys, 9986, {{2612, "0000000000000002"}})),
            (Record{{9983, "9986"}, {2614, "1"}}));
  EXPECT_EQ(call(b_.key, 562, b_.msys, 9986, {{2612, "2"}}).error(), 30026);  // gone now
  EXPECT_EQ(call(a_.key, 562, a_.msys, 9986, {{2612, "3"}}).error(), 30026);  // not for this mailbox
  EXPECT_EQ(record(call(b_.key, 562, b_.msys, 9986, {{2612, "*"}})).at(2614), "3");
  EXPECT_TRUE(waiting(b_).empty());
  EXPECT_TRUE(bodies().empty());
  EXPECT_EQ(sessionState(b_, "SESS00000001"), "ACTIV 00001/00001/00004/00000");
  EXPECT_EQ(call(b_.key, 562, b_.msys, 9986, {{2612, "*"}}, false).segs.size(), 0u);  // "10000": no record
}

TEST_F(NetworkService, RefusalsChangeNothingAndNameTheirCause) {
  spit(exchange() + "/m", "m");
  spit(exchange() + "/big", std::string((1 << 20) + 1, 'b'));
  // Refusals before a session runs, then in one.
  std::vector<std::pair<Msg, int>> cases = {
      {call(a_.key, 282, a_.project, 472, {{472, "LX"}, {473, "MBB"}}), 30025},  // taken mailbox
      {sendFile(a_, "MBB", "m"), 30019},                                           // no session
      {start(a_, "NOPE", "secret"), 30017}, {start(a_, "LA"), 30018}, {start(a_, "LA", "wrong"), 30018},
      {start(a_, ""), 30008}};
  ASSERT_EQ(start(a_, "LA", "secret").rc, 0);
  cases.insert(cases.end(), {
      {start(a_, "LA", "secret"), 30020}, {sendFile(a_, "NOWHERE", "m"), 30021},
      {sendFile(a_, "MBB", "missing"), 30022},
      {sendFile(a_, "MBB", "."), 30022},  // a directory
      {sendFile(a_, "MBB", "big"), 30024}, {receive(a_, "no/such/dir/x"), 30023}, {receive(a_, ""), 30023},
      {call(a_.key, 562, a_.msys, 9986, {}), 30008},
      {call(a_.key, 576, a_.msys, 274, {{1172, "SESS00000001"}}), 30027},  // held by a running process
      {call(a_.key, 576, a_.msys, 274, {{1172, "SESS00000099"}}), 30027},
      {one(a_.key, Req(558).item(102, a_.msys).item(104, "10001").end()), 30001},  // no data segment
      {call(a_.key, 372, a_.mbox, 274, {{274, "SESS00000001"}}), 30020},  // its session is active
  });
  for (const auto &[answer, error] : cases) {
    EXPECT_EQ(answer.rc, 16) << error;
    EXPECT_EQ(answer.error(), error);
    EXPECT_TRUE(answer.segs.size() == 1 && answer.segs[0].type == 40) << error;  // no receipt
  }
  EXPECT_EQ(sessionState(a_, "SESS00000001"), "ACTIV 00000/00000/00000/00000");
  EXPECT_EQ(send(a_.key, Req(412).item(102, a_.mbox).item(104, "10001").end()).at(0).segs.size(), 0u);
}

// A network that takes messages of at most 256 bytes.
class SmallNetwork : public NetworkService {
 protected:
  SmallNetwork() : NetworkService(256) {}
};

TEST_F(SmallNetwork, ATransferThatBreaksOffLeavesAFailedReceiptAndNothingElse) {
  ASSERT_EQ(start(a_, "LA", "secret").rc, 0);
  ASSERT_EQ(start(b_, "LB").rc, 0);
  // A file that grows past the limit while it is read: its size says 0 bytes.
  ASSERT_GT(slurp("/proc/self/maps").size(), 256u);
  Msg broke = sendFile(a_, "MBB", "/proc/self/maps");
  EXPECT_EQ(broke.rc, 20);
  EXPECT_EQ(broke.error(), 30028);
  ASSERT_EQ(broke.segs.size(), 2u);  // the receipt, then the error segment
  EXPECT_EQ(broke.segs[0].items.at(1803), "FAILD");
  EXPECT_EQ(broke.segs[0].items.count(8022), 0u);
  EXPECT_TRUE(waiting(b_).empty());
  EXPECT_TRUE(bodies().empty());
  // A received file that cannot be written: the message stays waiting.
  spit(exchange() + "/m", "m");
  ASSERT_EQ(sendFile(a_, "MBB", "m").rc, 0);
  fs::create_directory(exchange() + "/in/.x.part");  // where the file would be written first
  Msg failed = receive(b_, "in/x");
  EXPECT_EQ(failed.rc, 20);
  EXPECT_EQ(failed.error(), 30028);
  EXPECT_EQ(failed.segs.at(0).items.at(722), "FAILD");
  EXPECT_FALSE(fs::exists(exchange() + "/in/x"));
  EXPECT_EQ(waiting(b_).size(), 1u);
  EXPECT_EQ(sessionState(b_, "SESS00000001"), "ACTIV 00000/00000/00000/00001");
  EXPECT_EQ(sessionState(a_, "SESS00000001"), "ACTIV 00001/00000/00000/00001");
}

TEST_F(NetworkService, ADropBoxRunsItsSendOrdersThenItsReceiveOrdersInOneSession) {
  spit(exchange() + "/pay", "payment run");
  auto addOrder = [&](int id, int type, const std::string &name, Items fields) {
    Req r(id);
    r.item(102, a_.mbox).item(104, "10000").end().seg(type).item(static_cast<std::uint16_t>(type), name);
    for (const auto &[n, v] : fields) r.item(n, v);
    ASSERT_EQ(one(a_.key, r.end()).rc, 0) << name;
  };
  addOrder(362, 652, "NIGHTLY", {{654, "LA"}, {668, "secret"}, {664, "Q"}});
  addOrder(398, 1180, "PAY", {{773, "MBB"}, {781, "pay"}, {780, "PAY"}});
  addOrder(398, 1180, "LOST", {{773, "MBB"}, {781, "missing"}});
  addOrder(380, 687, "BACK", {{698, "in"}});
  for (const auto &[id, member, order] : {std::tuple{404, 1180, "PAY"}, {404, 1180, "LOST"}, {386, 687, "BACK"}})
    ASSERT_EQ(one(a_.key, Req(id).item(102, a_.mbox).item(134, "652").item(133, "NIGHTLY").item(104, "10000").end()
                              .seg(member).item(static_cast<std::uint16_t>(member), order).end())
                  .rc,
              0);
  // A note waits for this mailbox; the receive order fetches it.
  ASSERT_EQ(start(b_, "LB").rc, 0);
  spit(exchange() + "/note", "a note for A");
  ASSERT_EQ(sendFile(b_, "MBA", "note").rc, 0);
  Record result = record(call(a_.key, 572, a_.msys, 9993, {{1150, "NIGHTLY"}}));
  EXPECT_EQ(result.at(9983) + " " + result.at(276) + " " + result.at(275) + " " + result.at(285) + " " + result.at(286),
            "9993 NIGHTLY FAILD 00001 00001");  // LOST failed
  EXPECT_EQ(sessionState(a_, result.at(274)), "FAILD 00001/00001/00000/00001");
  EXPECT_EQ(slurp(exchange() + "/in/0000000000000001"), "a note for A");
  EXPECT_EQ(waiting(b_).size(), 1u);
  // The send receipt names its order; the session is over.
  auto receipts = send(a_.key, Req(412).item(102, a_.mbox).item(104, "10001").end());
  EXPECT_EQ(receipts.at(0).segs.at(0).items.at(1806), "PAY");
  EXPECT_EQ(call(a_.key, 570, a_.msys, 9990, {}).error(), 30019);
  EXPECT_EQ(call(a_.key, 572, a_.msys, 9993, {{1150, "NONE"}}).error(), 30006);
}

TEST_F(NetworkService, ASessionOfARequestManagerThatDiedIsRecovered) {
  ASSERT_EQ(start(a_, "LA", "secret").rc, 0);
  // Its Request Manager ended: the session names a process that no longer runs.
  exec(dir_.path() + "/q.db", "UPDATE sessions SET owner = '999999999:1', handle = 'S999999999'");
  auto logons = send(a_.key, Req(286).item(102, a_.project).item(104, "10001").end());
  EXPECT_EQ(logons.at(0).segs.at(0).items.at(475), "N");
  ASSERT_EQ(start(a_, "LA", "secret").rc, 0);  // this message system is free again
  Record recovered = record(call(a_.key, 576, a_.msys, 274, {{1172, "SESS00000001"}, {1173, "Y"}}));
  EXPECT_EQ(recovered.at(9983) + " " + recovered.at(274) + " " + recovered.at(275) + " " + recovered.at(1173),
            "274 SESS00000001 RECOV Y");
  EXPECT_EQ(call(a_.key, 576, a_.msys, 274, {{1172, "SESS00000001"}}).error(), 30027);  // once only
  // Losing the client ends its session.
  service_.forgetClient(a_.key);
  Client again = a_;
  again.mbox = one(a_.key, Req(350).item(101, one(a_.key, Req(250).end().seg(451).item(451, "PA").end()).handle)
                               .item(104, "10000").end()).handle;
  EXPECT_EQ(sessionState(again, "SESS00000002"), "ENDED 00000/00000/00000/00000");
}

TEST(MessageBodies, TheSweepRemovesOldBodiesThatNoMessageNamesAndNothingElse) {
  test::TempDir dir;
  for (const char *name : {"1", "2", ".3.part", "young"}) spit(dir.path() + "/" + name, "x");
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
  for (const char *name : {"1", "2", ".3.part"}) fs::last_write_time(dir.path() + "/" + name, old);
  const MessageBodies bodies(dir.path());
  EXPECT_EQ(bodies.sweep([](std::int64_t id) { return id == 1; }, 600), 2);  // "2" and ".3.part"
  EXPECT_EQ(test::listDir(dir.path()), (std::vector<std::string>{"1", "young"}));
}

TEST(StoreSchema, AnOlderDatabaseIsUpgradedAfterACopyAndANewerOneIsRefused) {
  test::TempDir dir;
  const std::string path = dir.path() + "/q.db";
  fs::copy_file(QLM_SOURCE_DIR "/tests/data/quillmar-v1.db", path);  // made by a version-1 Request Manager
  {
    Store store(path);
    store.begin(false);
    ListPlan projects;
    projects.kind = 451;
    ASSERT_EQ(store.list(projects).size(), 1u);  // indexed by the upgrade
    EXPECT_EQ(store.count(store.list(projects)[0].id, std::vector<std::uint16_t>{105}), 3);
    EXPECT_EQ(store.countMessages("X"), 0);
    store.commit();
  }
  EXPECT_EQ(test::listDir(dir.path(), "q.db.v1-").size(), 1u);  // the copy
  exec(path, "PRAGMA user_version = 99");
  try {
    Store store(path);
    ADD_FAILURE() << "a newer schema was opened";
  } catch (const StoreError &e) {
    EXPECT_NE(std::string(e.what()).find("newer"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace qlm::rqmgr
