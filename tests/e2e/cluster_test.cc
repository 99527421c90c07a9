// Several machines on one PostgreSQL database: two installations (two roots, as
// two machines would have them) and sixteen applications, each a process with its
// own Request Manager, edit one address book and exchange messages at the same
// time. Nothing acknowledged is lost or doubled, no key is handed out twice, and
// every answer is the answer to its own request. Runs when the tests run against
// PostgreSQL (test_database.h).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "files.h"
#include "installation.h"
#include "network_app.h"
#include "qlmc32.h"

using namespace qlm::test;
namespace fs = std::filesystem;

namespace {

constexpr int kApps = 16, kOwn = 60, kCommon = 30, kMessages = 12;

// A second installation root beside `inst`'s, on the same store.
std::string secondRoot(const Installation &inst) {
  const std::string root = inst.root() + "-b";
  for (const char *sub : {"", "/bin", "/shared", "/data", "/exchange"}) mkdir((root + sub).c_str(), 0700);
  fs::create_symlink(fs::read_symlink(inst.root() + "/bin/qlmrqmgr"), root + "/bin/qlmrqmgr");
  fs::copy_file(inst.root() + "/shared/errortxt.fil", root + "/shared/errortxt.fil");
  return root;
}

// Opens `project` (which exists) and its address book.
QlmRc openBook(const char *project) {
  auto open = inContext<QlmProjOpen>(project);
  auto ctx = inContext<QlmContextName>(project);
  if (const QlmRc rc = QlmOpenProj(raw(&open), nullptr); rc != 0) return rc;
  return QlmOpenAdbk(raw(&ctx));
}

// Adds (or replaces) the shared address `nick`; the nickname of the record that comes back.
QlmRc address(const std::string &nick, const std::string &city, std::string *echoed,
              QlmRc (*call)(char *, char *) = QlmAddAddr) {
  auto r = inContext<QlmAddrReq>("Shared");
  put(r.addr.nickname, nick.c_str(), r.addr.city, city.c_str());
  auto out = blankRecord<QlmAddr>();
  const QlmRc rc = call(raw(&r), raw(&out));
  *echoed = text(out.nickname);
  return rc;
}

// One application: its share of the address book, the common keys it races for,
// and its messages. Writes one line per finding to `out`; 0 when every answer was
// the answer to its own request.
int work(int i, const std::string &exchange, std::ofstream &out) {
  NetApp me("P" + std::to_string(i), "L" + std::to_string(i), "MB" + std::to_string(i));
  if (me.openAll() != 0) return 2;
  if (openBook("Shared") != 0) return 3;
  std::string echoed;
  for (int k = 0; k < kOwn; ++k) {  // its own addresses, added, replaced and put on the list
    const std::string nick = "a" + std::to_string(i) + "-" + std::to_string(k);
    if (address(nick, "first", &echoed) != 0 || echoed != nick) return 5;
    if (address(nick, "final" + std::to_string(i), &echoed, QlmReplaceAddr) != 0) return 6;
    auto a = assignment("EVERYONE", nick.c_str(), "Shared");
    if (QlmAsgAddrToDistList(raw(&a)) != 0) return 7;
  }
  for (int k = 0; k < kCommon; ++k) {  // keys every application tries: one wins each
    const QlmRc rc = address("common" + std::to_string(k), std::to_string(i), &echoed);
    if (rc == 0) out << "won common" << k << "\n";
    else if (rc != 16 || explained().rfind("30007 ", 0) != 0) return 8;
  }
  if (me.start() != 0) return 9;
  const int peer = (i + kApps / 2) % kApps;  // on the other installation
  std::ofstream(exchange + "/from" + std::to_string(i)) << "hello from " << i;
  for (int k = 0; k < kMessages; ++k) {
    auto done = blankRecord<QlmSendOrdrDone>();
    if (me.send("MB" + std::to_string(peer), "from" + std::to_string(i), "", "", &done) != 0) return 10;
    out << "sent " << text(done.field8022) << "\n";
  }
  for (int got = 0, tries = 0; got < kMessages && tries < 3000; ++tries) {
    auto r = blankRecord<QlmRecvOrdrDone>();
    const std::string target = "in" + std::to_string(i) + "-" + std::to_string(got);
    if (me.receive(target, &r) != 0) return 11;
    if (text(r.field722) == "EMPTY") {
      usleep(10 * 1000);
      continue;
    }
    if (slurp(exchange + "/" + target) != "hello from " + std::to_string(peer)) return 12;
    out << "received " << text(r.field8022) << "\n";
    ++got;
  }
  return QlmCloseCInterface() == 0 ? 0 : 13;
}

int application(int i, const std::string &exchange, const std::string &report) {
  std::ofstream out(report);
  const int status = work(i, exchange, out);
  if (status != 0) out << "failed " << status << " " << explained() << "\n";
  return status;
}

}  // namespace

TEST(Cluster, TwoInstallationsOnOneDatabaseLoseNothingAndDoubleNothing) {
  Installation inst;
  if (!inst.postgres()) GTEST_SKIP() << "several installations share a PostgreSQL database";
  const std::string rootB = secondRoot(inst);
  {  // the shared project, its list, and every application's project and logon
    NetApp setup("Shared", "LS", "MBS");
    ASSERT_EQ(setup.openAll(), 0u);
    auto ctx = inContext<QlmContextName>("Shared");
    ASSERT_EQ(QlmOpenAdbk(raw(&ctx)), 0u);
    auto dl = inContext<QlmDistListReq>("Shared");
    put(dl.distlist.name, "EVERYONE");
    ASSERT_EQ(QlmAddDistList(raw(&dl), nullptr), 0u);
    for (int i = 0; i < kApps; ++i) {
      NetApp p("P" + std::to_string(i), "L" + std::to_string(i), "MB" + std::to_string(i));
      ASSERT_EQ(p.open(), 0u) << explained();
    }
    ASSERT_EQ(QlmCloseCInterface(), 0u);
  }
  std::vector<pid_t> apps;
  for (int i = 0; i < kApps; ++i) {
    const std::string root = i < kApps / 2 ? inst.root() : rootB;
    const std::string run = root + "/run-" + std::to_string(i);
    mkdir(run.c_str(), 0700);
    apps.push_back(forked([&] {
      setenv("QLM_ROOTDIR", root.c_str(), 1);
      setenv("QLM_RUNDIR", run.c_str(), 1);
      return application(i, root + "/exchange", inst.root() + "/report" + std::to_string(i));
    }));
  }
  for (std::size_t i = 0; i < apps.size(); ++i)
    EXPECT_EQ(exitStatus(apps[i], 3600), 0)
        << "application " << i << ": " << slurp(inst.root() + "/report" + std::to_string(i));

  if (::testing::Test::HasFailure())  // what the Request Managers said
    for (const std::string &root : {inst.root(), rootB}) {
      std::istringstream log(slurp(root + "/data/qlmrqmgr.log"));
      int shown = 0;
      for (std::string line; std::getline(log, line) && shown < 8;)
        if (line.find("failure") != std::string::npos) std::cout << line << "\n", ++shown;
    }

  // Every application's reports: each common key won once; each message sent once
  // and received once.
  std::map<std::string, int> won;
  std::multiset<std::string> sent, received;
  for (int i = 0; i < kApps; ++i) {
    std::istringstream lines(slurp(inst.root() + "/report" + std::to_string(i)));
    std::string what, value;
    while (lines >> what >> value) {
      if (what == "won") ++won[value];
      if (what == "sent") sent.insert(value);
      if (what == "received") received.insert(value);
    }
  }
  EXPECT_EQ(won.size(), static_cast<std::size_t>(kCommon));
  for (const auto &[key, n] : won) EXPECT_EQ(n, 1) << key;
  EXPECT_EQ(sent.size(), static_cast<std::size_t>(kApps * kMessages));
  EXPECT_EQ(std::set<std::string>(sent.begin(), sent.end()).size(), sent.size()) << "a message id twice";
  EXPECT_EQ(received, sent);

  // The address book holds every address once, with its last value, all on the list.
  ASSERT_EQ(QlmOpenCInterface(), 0u);
  ASSERT_EQ(openBook("Shared"), 0u);
  auto q = listQualifier("", "", "5000", "Shared");
  std::vector<QlmAddr> all(5000, blankRecord<QlmAddr>());
  uint16_t count = 0;
  ASSERT_EQ(QlmListAddr(raw(&q), &count, raw(all.data())), 0u);
  EXPECT_EQ(count, kApps * kOwn + kCommon);
  int finals = 0;
  for (int n = 0; n < count; ++n) finals += text(all[n].city).rfind("final", 0) == 0;
  EXPECT_EQ(finals, kApps * kOwn);
  auto sq = smallQualifier("5000", "Shared");
  char list[20];
  putField(list, 20, "EVERYONE");
  ASSERT_EQ(QlmListAddrsOnDistList(list, raw(&sq), &count, raw(all.data())), 0u);
  EXPECT_EQ(count, kApps * kOwn);
  ASSERT_EQ(QlmCloseCInterface(), 0u);
  std::error_code ec;
  fs::remove_all(rootB, ec);
}

namespace {

// A PostgreSQL cluster of the test's own, which it may crash.
class OwnCluster {
 public:
  explicit OwnCluster(std::string dir) : dir_(std::move(dir)) { control("start"); }
  ~OwnCluster() {
    control("stop");
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  bool control(const char *what) {
    return std::system((QLM_SOURCE_DIR "/tools/pg-cluster.sh " + std::string(what) + " " + dir_ + " >/dev/null").c_str()) == 0;
  }
  std::string store() const { return "postgresql:host=" + dir_ + " user=postgres dbname=postgres"; }

 private:
  std::string dir_;
};

}  // namespace

TEST(Cluster, ACrashOfTheDatabaseOrOfARequestManagerLosesNothingAcknowledged) {
  Installation inst;
  if (!inst.postgres()) GTEST_SKIP() << "the PostgreSQL server is crashed";
  OwnCluster cluster("/tmp/qlmpgc-" + std::to_string(getpid()));  // the cluster's user must reach it
  setenv("QLM_STORE", cluster.store().c_str(), 1);
  ASSERT_EQ(QlmOpenCInterface(), 0u);
  auto p = blankRecord<QlmProj>();
  put(p.projname, "Busy");
  ASSERT_EQ(QlmAddProj(raw(&p), nullptr), 0u);
  auto ctx = inContext<QlmContextName>("Busy");
  ASSERT_EQ(QlmOpenAdbk(raw(&ctx)), 0u);
  ASSERT_EQ(QlmCloseCInterface(), 0u);

  // The application adds addresses; what was acknowledged is written down.
  const std::string acked = inst.root() + "/acked", stop = inst.root() + "/stop";
  const pid_t app = fork();
  if (app == 0) {
    std::ofstream log(acked);
    bool open = false;
    int failures = 0;
    for (int k = 0; k < 100000 && !fs::exists(stop); ++k) {
      if (!open) {
        QlmCloseCInterface();
        open = QlmOpenCInterface() == 0 && openBook("Busy") == 0;
        if (!open) {
          usleep(50 * 1000);
          --k;
          continue;
        }
      }
      auto r = inContext<QlmAddrReq>("Busy");
      const std::string nick = "k" + std::to_string(k);
      put(r.addr.nickname, nick.c_str());
      const QlmRc rc = QlmAddAddr(raw(&r), nullptr);
      if (rc == 0) log << nick << std::endl;
      else if (rc == 12) open = false;                 // its Request Manager went away (20030)
      else if (rc == 20) ++failures, usleep(20000);    // the database went away (30014)
      else if (rc != 16) _exit(3);                     // 16: it had been added after all
    }
    _exit(QlmCloseCInterface() == 0 && failures > 0 ? 0 : 4);
  }
  usleep(300 * 1000);
  ASSERT_TRUE(cluster.control("crash"));  // the database stops as in a crash
  usleep(500 * 1000);
  ASSERT_TRUE(cluster.control("start"));
  // Once the application's server is through again, its open project counts as open
  // again: the marks it held under the lost connection were taken over.
  auto ackedLines = [&] {
    const std::string all = slurp(acked);
    return std::count(all.begin(), all.end(), '\n');
  };
  const auto before = ackedLines();
  for (int wait = 0; wait < 200 && ackedLines() <= before + 2; ++wait) usleep(50 * 1000);
  ASSERT_GT(ackedLines(), before + 2) << "the application never got through again";
  setenv("QLM_RUNDIR", inst.newRunDir("check").c_str(), 1);  // a Request Manager of its own
  ASSERT_EQ(QlmOpenCInterface(), 0u);
  ASSERT_EQ(openBook("Busy"), 0u);
  auto del = blankRecord<QlmProj>();
  put(del.projname, "Busy");
  EXPECT_EQ(QlmDeleteProj(raw(&del)), 16u) << "a project open in the other application was deleted";
  ASSERT_EQ(QlmCloseCInterface(), 0u);
  setenv("QLM_RUNDIR", inst.run().c_str(), 1);
  for (const std::string &run : listDir(inst.root(), "run"))  // and the application's server is killed
    if (const pid_t server = Installation::serverPid(inst.root() + "/" + run); server > 0) kill(server, SIGKILL);
  usleep(500 * 1000);  // and it goes on with a new one
  std::ofstream{stop};
  EXPECT_EQ(exitStatus(app, 3600), 0);

  // Every acknowledged address is there.
  ASSERT_EQ(QlmOpenCInterface(), 0u);
  ASSERT_EQ(openBook("Busy"), 0u);
  std::set<std::string> there;
  for (uint16_t count = 1000; count == 1000;) {  // page by page
    auto q = listQualifier("", "", "1000", "Busy");
    put(q.startentry, std::to_string(there.size() + 1).c_str());
    std::vector<QlmAddr> page(1000, blankRecord<QlmAddr>());
    ASSERT_EQ(QlmListAddr(raw(&q), &count, raw(page.data())), 0u);
    for (int n = 0; n < count; ++n) there.insert(text(page[n].nickname));
  }
  std::istringstream lines(slurp(acked));
  int n = 0;
  for (std::string nick; lines >> nick; ++n) EXPECT_TRUE(there.count(nick)) << nick << " was acknowledged and lost";
  EXPECT_GT(n, 10);  // some before the crash and some after (how many depends on the machine's load)
  ASSERT_EQ(QlmCloseCInterface(), 0u);
}

TEST(Cluster, AStoreThatCannotBeUsedIsRefusedAtStartWithItsReason) {
  Installation inst;
  const std::string log = inst.root() + "/data/qlmrqmgr.log";
  // quillmar.ini names PostgreSQL at a place where none listens.
  unsetenv("QLM_STORE");
  std::ofstream(inst.root() + "/quillmar.ini") << "[Store]\nBackend=postgresql\nConninfo=host=/nonexistent user=x\n";
  EXPECT_EQ(QlmOpenCInterface(), 12u);
  EXPECT_NE(slurp(log).find("cannot connect to PostgreSQL"), std::string::npos) << slurp(log);
  if (!inst.postgres()) return;
  // A database whose schema is newer than this Request Manager knows: left as it is.
  setenv("QLM_STORE", inst.store().c_str(), 1);
  ASSERT_EQ(QlmOpenCInterface(), 0u);  // makes the schema
  ASSERT_EQ(QlmCloseCInterface(), 0u);
  ASSERT_EQ(std::system(("psql -q \"" + inst.store().substr(11) + "\" -c \"UPDATE meta SET value = '99' WHERE key = 'version'\"").c_str()), 0);
  EXPECT_EQ(QlmOpenCInterface(), 12u);
  EXPECT_NE(slurp(log).find("is newer than this Request Manager"), std::string::npos);
}
