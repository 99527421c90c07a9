// The interface and the server when things go wrong: answers that come late, an
// application killed or ending over a hung server, a server shared by two
// applications, private files. (Acknowledged work survives a killed server:
// network_faults_test.cc.)
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "installation.h"
#include "interface/exchange.h"
#include "platform/windows.h"
#include "qlmc32.h"

using namespace qlm::test;

namespace {

// A successful, empty answer to a project list (response 259) with the request's reference.
constexpr const char kListAnswer[] =
    "reply 000C {len} 0100 0000 0000 0300 B90B 323539 {reflen} 6400 {ref} 0100 6700 30 0000 3100\n";

// A project list of one entry: its code, or 99 when an entry came.
unsigned list() {
  auto pages = paging("1");
  uint16_t count = 7;
  const unsigned rc = QlmListProj(raw(&pages), &count, nullptr);
  return rc == 0 && count != 0 ? 99u : rc;
}

// A forked application: opens the interface, says so on `ready` ('o'), then `then()`.
template <class F>
pid_t application(Pipe &ready, F then) {
  return forked([&] {
    ready.put(QlmOpenCInterface() == 0 ? 'o' : 'f');
    then();
    return 0;
  });
}

}  // namespace

TEST(LateAnswers, ALateAnswerCostsAtMostTheCallItFallsInto) {
  Installation inst{QLM_DOUBLE_PATH};
  // 1: answered after its caller gave up, before the next call; 2 and 3: on time;
  // 4: answered so late that call 5 stops waiting for it before sending, so that it
  // falls into call 5's wait; 5, 6 and 7: on time.
  std::string s;
  for (int sleepMs : {1200, 0, 0, 1700, 0, 0, 0})
    s += "request\n" + (sleepMs ? "sleep " + std::to_string(sleepMs) + "\n" : std::string()) + kListAnswer;
  useDouble(inst.root(), s);  // one receive attempt: 500 ms
  ASSERT_EQ(QlmOpenCInterface(), 0u);
  qlm::cfSetReceiveTimeoutValue(0);  // one attempt of 500 ms per call
  EXPECT_EQ(codeOf(list()), code(12, QLM_ERR_NO_LINK));  // 1 gives up
  usleep(1400 * 1000);                                    // its answer arrives between the calls
  EXPECT_EQ(list(), 0u);                                  // 2 is not mistaken for 1
  EXPECT_EQ(list(), 0u);                                  // 3
  EXPECT_EQ(list(), 12u);                                 // 4 gives up
  qlm::cfSetReceiveTimeoutValue(10);
  // 5 waits for 4's answer for one attempt, sends, then receives 4's answer: refused by its reference.
  EXPECT_EQ(codeOf(list()), code(12, QLM_ERR_MALFORMED));
  EXPECT_EQ(list(), 0u);  // 6: 5's own answer, still to come, is dropped first
  EXPECT_EQ(list(), 0u);  // 7
  ASSERT_EQ(QlmCloseCInterface(), 0u);
  qlm::cfResetReceiveTimeoutValue();
}

TEST(ServerLife, TheServerOfAKilledApplicationEndsAndItsDirectoryGoesAfterIt) {
  // Each application has its own run directory under $XDG_RUNTIME_DIR/quillmar.
  Installation inst;
  unsetenv("QLM_RUNDIR");
  const std::string xdg = inst.root() + "/xdg";
  mkdir(xdg.c_str(), 0700);
  setenv("XDG_RUNTIME_DIR", xdg.c_str(), 1);
  Pipe ready;
  const pid_t app = application(ready, [] { pause(); });
  ASSERT_EQ(ready.take(), 'o');
  const std::string dir = xdg + "/quillmar/" + std::to_string(app);
  const pid_t server = Installation::serverPid(dir);
  ASSERT_GT(server, 0);
  exitStatus(app, 0);  // killed
  // Another application's sweep does not take the directory of a server that runs.
  ASSERT_EQ(qlm::PrepareRunDir(), 0);
  EXPECT_TRUE(kill(server, 0) != 0 || exists(dir));
  EXPECT_TRUE(ends(server)) << "the server of a killed application keeps running";
  EXPECT_NE(slurp(inst.root() + "/data/qlmrqmgr.log").find("has ended: ending"), std::string::npos);
  ASSERT_EQ(qlm::PrepareRunDir(), 0);  // now it goes
  EXPECT_FALSE(exists(dir));
  qlm::RemoveRunDir();
  unsetenv("XDG_RUNTIME_DIR");
}

TEST(ServerLife, AKilledApplicationLeavesItsServerToTheOthersUntilItIsAlone) {
  // Two applications share one run directory; the first started the server.
  Installation inst;
  Pipe ready, readyToo, go, done;
  const pid_t first = application(ready, [] { pause(); });
  ASSERT_EQ(ready.take(), 'o');
  const pid_t server = Installation::serverPid(inst.run());
  ASSERT_GT(server, 0);
  const pid_t second = application(readyToo, [&] {
    auto p = blankRecord<QlmProj>();
    for (int i = 0; go.take() != 0; ++i) {
      put(p.projname, ("S" + std::to_string(i)).c_str());
      done.put(QlmAddProj(raw(&p), nullptr) == 0 ? 'y' : 'n');
    }
  });
  ASSERT_EQ(readyToo.take(), 'o');
  EXPECT_EQ(Installation::serverPid(inst.run()), server);  // one server for both
  exitStatus(first, 0);  // killed
  // The second is served on, also well after the server noticed the first has gone.
  for (int i = 0; i < 3; ++i) {
    usleep(700 * 1000);
    go.put();
    EXPECT_EQ(done.take(), 'y') << i;
  }
  EXPECT_EQ(kill(server, 0), 0);
  exitStatus(second, 0);  // killed: alone, the server ends
  EXPECT_TRUE(ends(server));
}

TEST(ServerLife, AnApplicationDoesNotHangAtExitOnAHungServer) {
  Installation inst;
  setenv("QLM_WAIT_SCALE_MS", "50", 1);
  Pipe ready, go;
  const pid_t app = application(ready, [&] {
    go.take();
    exit(0);  // the library's unload path shuts the server down and waits for it
  });
  ASSERT_EQ(ready.take(), 'o');
  const pid_t server = Installation::serverPid(inst.run());
  ASSERT_GT(server, 0);
  kill(server, SIGSTOP);  // hung
  go.put();
  // Shutdown and End each wait 5 s for their ACK, then the end of the server is
  // waited for 30 (scaled) seconds: the application ends.
  EXPECT_EQ(exitStatus(app, 40), 0);
  kill(server, SIGCONT);
  EXPECT_TRUE(ends(server));  // it then takes its shutdown request
}

TEST(ServerLife, FilesArePrivateAndARootWithABlankWorks) {
  char dir[] = "/tmp/qlm XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string root = dir;
  const mode_t old = umask(022);
  for (const char *sub : {"/bin", "/shared"}) mkdir((root + sub).c_str(), 0755);
  symlink(QLM_RQMGR_PATH, (root + "/bin/qlmrqmgr").c_str());
  std::filesystem::copy_file(QLM_SOURCE_DIR "/data/errortxt.fil", root + "/shared/errortxt.fil");
  setenv("QLM_ROOTDIR", root.c_str(), 1);
  setenv("QLM_RUNDIR", (root + "/run").c_str(), 1);
  mkdir((root + "/run").c_str(), 0700);
  ASSERT_EQ(QlmOpenCInterface(), 0u);  // the server starts from a root with a blank
  EXPECT_EQ(list(), 0u);
  ASSERT_EQ(QlmCloseCInterface(), 0u);
  umask(old);
  for (const char *f : {"/data", "/data/quillmar.db", "/data/qlmrqmgr.log"})
    EXPECT_EQ(modeOf(root + f) & 077, 0u) << f << " is open to others";
  std::error_code ec;  // the server may still be removing its journal as it ends
  for (int i = 0; i < 100 && (std::filesystem::remove_all(root, ec), ec); ++i) usleep(20 * 1000);
}
