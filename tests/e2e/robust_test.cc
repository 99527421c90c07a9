// The interface when answers come late: a late answer is refused by the call it
// falls into and never read as the answer of any later call.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "installation.h"
#include "interface/exchange.h"
#include "interface/state.h"
#include "platform/windows.h"
#include "qlmc32.h"

using namespace qlm::test;

namespace {

// A successful, empty answer to a project list (response 259) with the request's reference.
constexpr const char kListAnswer[] =
    "reply 000C {len} 0100 0000 0000 0300 B90B 323539 {reflen} 6400 {ref} 0100 6700 30 0000 3100\n";

class LateAnswers : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QLM_WAIT_SCALE_MS", "100", 1);  // one receive attempt: 500 ms
    setenv("QLM_DOUBLE_SCRIPT", (inst.root() + "/script").c_str(), 1);
    setenv("QLM_DOUBLE_LOG", (inst.root() + "/double.log").c_str(), 1);
    setenv("QLM_DOUBLE_IDLE_MS", "20000", 1);
  }
  void TearDown() override { qlm::cfResetReceiveTimeoutValue(); }
  void script(const std::string &text) { std::ofstream(inst.root() + "/script") << text; }
  static unsigned list() {
    QlmPaging paging;
    blank(paging);
    put(paging.startentry, "1");
    put(paging.numentries, "1");
    uint16_t count = 7;
    const unsigned rc = QlmListProj(raw(&paging), &count, nullptr);
    return rc == 0 && count != 0 ? 99u : rc;
  }
  static int lastError() { return static_cast<int>(QlmErrorExplanation(nullptr)); }
  Installation inst{QLM_DOUBLE_PATH};
};

}  // namespace

TEST_F(LateAnswers, ALateAnswerCostsAtMostTheCallItFallsInto) {
  // 1: answered after its caller gave up, before the next call; 2 and 3: on time;
  // 4: answered so late that call 5 stops waiting for it before sending, so that it
  // falls into call 5's wait; 5, 6 and 7: on time.
  std::string s;
  for (int sleepMs : {1200, 0, 0, 1700, 0, 0, 0})
    s += "request\n" + (sleepMs ? "sleep " + std::to_string(sleepMs) + "\n" : std::string()) + kListAnswer;
  script(s);
  ASSERT_EQ(QlmOpenCInterface(), 0u);
  qlm::cfSetReceiveTimeoutValue(0);  // one attempt of 500 ms per call
  EXPECT_EQ(list(), 12u);             // 1 gives up
  EXPECT_EQ(lastError(), QLM_ERR_NO_LINK);
  usleep(1400 * 1000);                // its answer arrives between the calls
  EXPECT_EQ(list(), 0u);              // 2 is not mistaken for 1
  EXPECT_EQ(list(), 0u);              // 3
  EXPECT_EQ(list(), 12u);             // 4 gives up
  qlm::cfSetReceiveTimeoutValue(10);
  EXPECT_EQ(list(), 12u);             // 5 waits for 4's answer for one attempt, sends, then
  EXPECT_EQ(lastError(), QLM_ERR_MALFORMED);  // receives 4's answer: refused by its reference
  EXPECT_EQ(list(), 0u);              // 6: 5's own answer, still to come, is dropped first
  EXPECT_EQ(list(), 0u);              // 7
  ASSERT_EQ(QlmCloseCInterface(), 0u);
}

// ---- the server's life and what it leaves behind -----------------------------------

namespace {

// A forked application: opens the interface, says so on `ready`, then `then()`.
template <class F>
pid_t application(int ready, F then) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const char ok = QlmOpenCInterface() == 0 ? 'o' : 'f';
  (void)!write(ready, &ok, 1);
  then();
  _exit(0);
}

}  // namespace

TEST(ServerLife, TheServerOfAKilledApplicationEndsAndItsDirectoryGoesAfterIt) {
  // Each application has its own run directory under $XDG_RUNTIME_DIR/quillmar.
  Installation inst;
  unsetenv("QLM_RUNDIR");
  const std::string xdg = inst.root() + "/xdg";
  mkdir(xdg.c_str(), 0700);
  setenv("XDG_RUNTIME_DIR", xdg.c_str(), 1);
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  const pid_t app = application(p[1], [] { pause(); });
  char ok = 0;
  ASSERT_EQ(read(p[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'o');
  const std::string dir = xdg + "/quillmar/" + std::to_string(app);
  const pid_t server = Installation::serverPid(dir);
  ASSERT_GT(server, 0);
  kill(app, SIGKILL);
  waitpid(app, nullptr, 0);
  // Another application's sweep does not take the directory of a server that runs.
  ASSERT_EQ(qlm::PrepareRunDir(), 0);
  EXPECT_TRUE(kill(server, 0) != 0 || access(dir.c_str(), F_OK) == 0);
  EXPECT_TRUE(ends(server)) << "the server of a killed application keeps running";
  EXPECT_NE(slurp(inst.root() + "/data/qlmrqmgr.log").find("has ended: ending"), std::string::npos);
  ASSERT_EQ(qlm::PrepareRunDir(), 0);  // now it goes
  EXPECT_NE(access(dir.c_str(), F_OK), 0);
  qlm::RemoveRunDir();
  unsetenv("XDG_RUNTIME_DIR");
}

TEST(ServerLife, AnApplicationDoesNotHangAtExitOnAHungServer) {
  Installation inst;
  setenv("QLM_WAIT_SCALE_MS", "50", 1);
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  const pid_t app = application(p[1], [&] {
    char c;
    (void)!read(go[0], &c, 1);
    exit(0);  // the library's unload path shuts the server down and waits for it
  });
  char ok = 0;
  ASSERT_EQ(read(p[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'o');
  const pid_t server = Installation::serverPid(inst.run());
  ASSERT_GT(server, 0);
  kill(server, SIGSTOP);  // hung
  (void)!write(go[1], "g", 1);
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
  QlmPaging paging;
  blank(paging);
  put(paging.startentry, "1");
  put(paging.numentries, "1");
  uint16_t count = 0;
  EXPECT_EQ(QlmListProj(raw(&paging), &count, nullptr), 0u);
  ASSERT_EQ(QlmCloseCInterface(), 0u);
  umask(old);
  for (const char *f : {"/data", "/data/quillmar.db", "/data/qlmrqmgr.log"})
    EXPECT_EQ(modeOf(root + f) & 077, 0u) << f << " is open to others";
  std::error_code ec;  // the server may still be removing its journal as it ends
  for (int i = 0; i < 100 && (std::filesystem::remove_all(root, ec), ec); ++i) usleep(20 * 1000);
}

// ---- faults that stay in the suite -------------------------------------------------

namespace {

QlmRc addProjectNamed(const std::string &name) {
  QlmProj p;
  blank(p);
  put(p.projname, name.c_str());
  return QlmAddProj(raw(&p), nullptr);
}

std::set<std::string> projectNames() {
  QlmPaging paging;
  blank(paging);
  put(paging.startentry, "1");
  put(paging.numentries, "1000");
  static QlmProjInfo infos[1000];
  std::memset(infos, ' ', sizeof infos);
  uint16_t count = 0;
  if (QlmListProj(raw(&paging), &count, raw(infos)) != 0) return {};
  std::set<std::string> names;
  for (int i = 0; i < count; ++i) names.insert(text(infos[i].projname));
  return names;
}

}  // namespace

TEST(Faults, AKilledServerLosesNoAcknowledgedAdd) {
  Installation inst;
  setenv("QLM_WAIT_SCALE_MS", "50", 1);
  ASSERT_EQ(QlmOpenCInterface(), 0u);
  // A killer ends whatever server runs, six times, at moments of its own choosing.
  const pid_t killer = fork();
  if (killer == 0) {
    for (int round = 0; round < 6; ++round) {
      usleep(static_cast<useconds_t>(60000 + 37000 * (round % 3)));
      std::error_code ec;  // every server named in the run directory: a killed one leaves its endpoints
      for (const auto &e : std::filesystem::directory_iterator(inst.run(), ec))
        if (const std::string n = e.path().filename(); n.rfind("REQMNGR.", 0) == 0) kill(std::atoi(n.c_str() + 8), SIGKILL);
    }
    _exit(0);
  }
  std::set<std::string> acknowledged;
  int failed = 0;
  for (int i = 0; i < 400; ++i) {
    const std::string name = "K" + std::to_string(i);
    if (addProjectNamed(name) == 0) {
      acknowledged.insert(name);
      continue;
    }
    ++failed;  // the server was killed: a new one is started (the killer may hit it too)
    QlmCloseCInterface();
    QlmRc open = 1;
    for (int tries = 0; tries < 10 && (open = QlmOpenCInterface()) != 0; ++tries) {
    }
    ASSERT_EQ(open, 0u) << i;
  }
  waitpid(killer, nullptr, 0);
  QlmCloseCInterface();  // the last kill may have come after the last add
  ASSERT_EQ(QlmOpenCInterface(), 0u);
  const std::set<std::string> stored = projectNames();
  ASSERT_FALSE(stored.empty());
  for (const std::string &name : acknowledged) EXPECT_TRUE(stored.count(name)) << name << " was acknowledged and lost";
  EXPECT_GT(failed, 0) << "the killer never hit";
  QlmCloseCInterface();
}

TEST(Faults, AKilledApplicationLeavesItsServerToTheOthersUntilItIsAlone) {
  // Two applications share one run directory; the first started the server.
  Installation inst;
  int ready[2], go[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(go), 0);
  ASSERT_EQ(pipe(done), 0);
  const pid_t first = application(ready[1], [] { pause(); });
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'o');
  const pid_t server = Installation::serverPid(inst.run());
  ASSERT_GT(server, 0);
  const pid_t second = application(ready[1], [&] {
    char c;
    for (int i = 0; read(go[0], &c, 1) == 1; ++i) {
      const std::string name = "S" + std::to_string(i);
      const char r = addProjectNamed(name) == 0 && projectNames().count(name) ? 'y' : 'n';
      (void)!write(done[1], &r, 1);
    }
  });
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'o');
  EXPECT_EQ(Installation::serverPid(inst.run()), server);  // one server for both
  kill(first, SIGKILL);
  waitpid(first, nullptr, 0);
  // The second is served on, also well after the server noticed the first has gone.
  char answer = 0;
  for (int i = 0; i < 3; ++i) {
    usleep(700 * 1000);
    ASSERT_EQ(write(go[1], "g", 1), 1);
    ASSERT_EQ(read(done[0], &answer, 1), 1);
    EXPECT_EQ(answer, 'y') << i;
  }
  EXPECT_EQ(kill(server, 0), 0);
  // Alone: the server ends.
  kill(second, SIGKILL);
  waitpid(second, nullptr, 0);
  EXPECT_TRUE(ends(server));
}
