// The network through the library and real Request Managers: two applications,
// each a process with its own Request Manager on one database, exchange files;
// receipts on both sides; a session left by a killed Request Manager recovered;
// the installation's message limit. Faults under load are in
// network_faults_test.cc; what the server stores, refuses and runs for a drop box
// in rqmgr/network_test.cc.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "files.h"
#include "installation.h"
#include "network_app.h"
#include "qlmc32.h"

using namespace qlm::test;
namespace fs = std::filesystem;

TEST(NetworkE2E, TwoApplicationsExchangeFilesThroughTheirOwnRequestManagers) {
  Installation inst;
  const std::string exchange = inst.root() + "/exchange";
  fs::create_directories(exchange + "/inbox");
  const std::string files[] = {std::string(300 * 1024, 'a') + "end", "second", "third, kept", "fourth"};
  for (int i = 0; i < 4; ++i) spit(exchange + "/out" + std::to_string(i), files[i]);

  // The receiving application: a child process with a run directory of its own, and so
  // a Request Manager of its own, started before this process opens the interface. It
  // writes what it saw, line by line.
  const std::string runDir = inst.newRunDir("receiver"), saw = inst.root() + "/saw";
  Pipe setUp, sent;
  const pid_t receiver = forked([&] {
    setenv("QLM_RUNDIR", runDir.c_str(), 1);
    std::ofstream out(saw);
    NetApp b("Receiver", "LR", "MB-R");
    setUp.put(b.openAll() == 0 ? 'y' : 'n');
    sent.take();
    out << "start " << outcome(b.start()) << "\n";
    std::vector<QlmQuryOrdrEntry> q;
    QlmRc rc = b.query(&q);
    out << "query " << outcome(rc) << " " << q.size() << "\n";
    for (const QlmQuryOrdrEntry &e : q)
      out << "  " << text(e.field2576) << " " << text(e.field2570) << " " << text(e.field2577) << " "
          << text(e.field2584) << " " << text(e.field2591) << "\n";
    auto got = blankRecord<QlmRecvOrdrDone>();
    rc = b.receive("first.dat", &got);
    out << "receive " << outcome(rc) << " " << text(got.field722) << " " << text(got.field8022) << "\n";
    got = blankRecord<QlmRecvOrdrDone>();
    rc = b.receive("inbox", &got, "", "KEEP");
    out << "receive " << outcome(rc) << " " << text(got.field8022) << "\n";
    auto result = blankRecord<QlmSessResult>();
    rc = b.end(&result);
    out << "end " << outcome(rc) << " " << text(result.status) << " " << text(result.field286) << " "
        << text(result.field287) << "\n";
    // The receive receipts, listed on the session receipt.
    auto qual = smallQualifier("10", "Receiver");
    std::string area(10 * sizeof(QlmRecvRcptEntry), ' ');
    char name[20];
    put(name, b.session().c_str());
    uint16_t count = 0;
    rc = QlmListRcptsOnSessRcpt(name, raw(&qual), &count, area.data());
    out << "on session " << outcome(rc) << " " << count << area.substr(0, 1) << "\n";
    return QlmCloseCInterface() == 0 ? 0 : 1;
  });
  ASSERT_EQ(setUp.take(), 'y');

  NetApp a("Sender", "LS", "MB-S", "pw");
  ASSERT_EQ(a.openAll(), 0u);
  ASSERT_EQ(a.start(), 0u);
  const char *classes[] = {"INV", "INV", "KEEP", "INV"};
  for (int i = 0; i < 4; ++i)
    ASSERT_EQ(a.send("MB-R", "out" + std::to_string(i), classes[i], "subject " + std::to_string(i)), 0u) << explained();
  sent.put();
  EXPECT_EQ(exitStatus(receiver), 0);
  EXPECT_EQ(slurp(saw),
            "start 0\n"
            "query 0 4\n"
            "  0000000000000001 MB-S INV 307203 subject 0\n"
            "  0000000000000002 MB-S INV 6 subject 1\n"
            "  0000000000000003 MB-S KEEP 11 subject 2\n"
            "  0000000000000004 MB-S INV 6 subject 3\n"
            "receive 0 RECVD 0000000000000001\n"
            "receive 0 0000000000000003\n"
            "end 0 ENDED 00002 00000\n"
            "on session 0 2R\n");
  EXPECT_EQ(slurp(exchange + "/first.dat"), files[0]);
  EXPECT_EQ(slurp(exchange + "/inbox/0000000000000003"), files[2]);

  // The sender's side: four messages sent in its session.
  auto result = blankRecord<QlmSessResult>();
  ASSERT_EQ(a.end(&result), 0u);
  EXPECT_EQ(text(result.status) + " " + text(result.field285), "ENDED 00004");
  EXPECT_EQ(QlmCloseCInterface(), 0u);
}

TEST(NetworkE2E, ASessionLeftByAKilledRequestManagerIsRecovered) {
  Installation inst;
  NetApp a("Alone", "LA", "MB-A");
  ASSERT_EQ(a.openAll(), 0u);
  ASSERT_EQ(a.start(), 0u);
  const std::string left = a.session();
  ASSERT_EQ(kill(Installation::serverPid(inst.run()), SIGKILL), 0);
  ASSERT_TRUE(Installation::waitServerGone(inst.run()));
  std::vector<QlmQuryOrdrEntry> q;
  EXPECT_EQ(a.query(&q), 12u);  // the link is gone
  EXPECT_EQ(QlmCloseCInterface(), 0u);
  ASSERT_EQ(a.openAll(), 0u);
  ASSERT_EQ(a.start(), 0u);
  auto rec = blankRecord<QlmSessRcptRecovered>();
  ASSERT_EQ(a.recover(left, &rec), 0u) << explained();
  EXPECT_EQ(text(rec.name) + " " + text(rec.status), left + " RECOV");
  EXPECT_EQ(outcome(a.recover(left)),
            "16 30027 The session receipt is not one left active by a Request Manager that ended");
  EXPECT_EQ(QlmCloseCInterface(), 0u);
}

// The limit of a message comes from the installation's quillmar.ini; the refusals
// themselves, with their numbers, are in rqmgr/network_test.cc.
TEST(NetworkE2E, TheInstallationsMessageLimitRefusesALargerFileWithItsText) {
  Installation inst;
  std::ofstream(inst.root() + "/quillmar.ini") << "[Network]\nMaxMessageBytes=10\n";
  fs::create_directories(inst.root() + "/exchange");
  spit(inst.root() + "/exchange/big", "eleven byte");
  spit(inst.root() + "/exchange/ten", "ten bytes!");
  NetApp a("Limit", "LL", "MB-L");
  ASSERT_EQ(a.openAll(), 0u);
  ASSERT_EQ(a.start(), 0u);
  EXPECT_EQ(a.send("MB-L", "ten"), 0u);
  EXPECT_EQ(outcome(a.send("MB-L", "big")), "16 30024 The file is larger than the network accepts");
  EXPECT_EQ(QlmCloseCInterface(), 0u);
}
