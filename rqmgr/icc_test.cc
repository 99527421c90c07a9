// The Request Manager program over the real transport: started with WinExec in a
// temporary root and run directory, spoken to by clients made of the platform's
// DDE calls. What a client sees of the requests is proven end to end (tests/e2e);
// here: the ICC bytes, clients that end or vanish, and the program's own life.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/windows.h"
#include "frames.h"
#include "installation.h"
#include "test_support.h"

namespace qlm::rqmgr {
namespace {

using namespace qlm::test;
using test::Msg;
using test::Req;

constexpr const char kTitle[] = "Quillmar - Request Manager";

// What the server pokes to any client instance. Clients wait one at a time, so
// one inbox serves them all; request() checks the key of its answer.
std::deque<Buf> gInbox;
bool gTimedOut = false;

HDDEDATA onDde(UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA data, ULONG_PTR, ULONG_PTR) {
  if (type == XTYP_CONNECT) return reinterpret_cast<HDDEDATA>(std::uintptr_t{1});
  if (type != XTYP_POKE) return nullptr;
  Buf m(DdeGetData(data, nullptr, 0, 0));
  DdeGetData(data, m.data(), static_cast<DWORD>(m.size()), 0);
  gInbox.push_back(std::move(m));
  return reinterpret_cast<HDDEDATA>(std::uintptr_t{DDE_FACK});
}

// The next message poked to a client, waiting at most 10 s.
std::optional<Buf> receive() {
  gTimedOut = false;
  SetTimer(nullptr, 77, 10000, [](HWND, UINT, UINT_PTR, DWORD) { gTimedOut = true; });
  MSG msg;
  while (gInbox.empty() && !gTimedOut && GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  KillTimer(nullptr, 77);
  if (gInbox.empty()) return std::nullopt;
  Buf m = std::move(gInbox.front());
  gInbox.pop_front();
  return m;
}

// An Init of instance "CAPIAPP" (without its date), and a request of client `key`.
Buf initMessage() { return cat({le32({1, 0, 1}), name9("CAPIAPP"), Buf(53 - 12 - 9, 0)}); }
Buf requestMessage(std::uint32_t key, const Req &r) { return cat({le32({0, key}), r.bytes()}); }

// One client instance: its own "CAPIAPP" service and the control and data conversations.
class Client {
 public:
  Client() {
    DdeInitializeA(&inst_, &onDde, APPCLASS_STANDARD, 0);
    DdeNameService(inst_, str("CAPIAPP"), nullptr, DNS_REGISTER);
    control_ = DdeConnect(inst_, str("REQMNGRI"), rmicc_ = str("RMICC"), nullptr);
    data_ = DdeConnect(inst_, str("REQMNGR"), courier_ = str("COURIER"), nullptr);
  }
  ~Client() { DdeUninitialize(inst_); }  // without End
  // Sends the first `length` bytes of an Init; the key of the Init Response, -1 without one.
  int init(std::size_t length = 53, Buf *response = nullptr) {
    Buf m = initMessage();
    std::memcpy(m.data() + 24, "19990331060100", 14);
    m.resize(length);
    const auto r = poke(control_, rmicc_, m) ? receive() : std::nullopt;
    if (!r || r->size() < 14) return -1;
    if (response) *response = *r;
    return key_ = wire::getI16(r->data() + 12);
  }
  void end() { poke(control_, rmicc_, le32({1, static_cast<std::uint32_t>(key_), 3})); }
  // Sends one request without waiting for its answer: whether it was acknowledged.
  bool post(const Req &r) { return poke(data_, courier_, requestMessage(static_cast<std::uint32_t>(key_), r)); }
  // Sends one request; the first message of its answer (none when none is awaited).
  Msg request(const Req &r, bool answered = true) {
    const Buf head = le32({0, static_cast<std::uint32_t>(key_)});
    const auto a = post(r) && answered ? receive() : std::nullopt;
    if (!a || a->size() < 8) return {};
    EXPECT_EQ(Buf(a->begin(), a->begin() + 8), head);
    return test::read(Bytes(a->begin() + 8, a->end()));
  }
  DWORD instance() const { return inst_; }

 private:
  HSZ str(const char *s) { return DdeCreateStringHandleA(inst_, s, CP_WINANSI); }  // freed with the instance
  bool poke(HCONV conv, HSZ item, const Buf &m) {
    DWORD result = 0;
    return DdeClientTransaction(const_cast<LPBYTE>(m.data()), static_cast<DWORD>(m.size()), conv, item, CF_TEXT,
                                XTYP_POKE, 5000, &result) != nullptr;
  }

  DWORD inst_ = 0;
  HSZ rmicc_ = nullptr, courier_ = nullptr;
  HCONV control_ = nullptr, data_ = nullptr;
  int key_ = 0;
};

Msg addProject(Client &c, const char *name) { return c.request(Req(254).end().seg(451).item(451, name).end()); }

struct ProgramTest : ::testing::Test {
  ProgramTest() {
    std::filesystem::create_directory(run());
    std::filesystem::permissions(run(), std::filesystem::perms::owner_all);
    setenv("QLM_ROOTDIR", dir.path().c_str(), 1);
    setenv("QLM_RUNDIR", run().c_str(), 1);
  }
  ~ProgramTest() override {
    if (pid > 0 && kill(static_cast<pid_t>(pid), SIGKILL) == 0) ends(static_cast<pid_t>(pid));
  }
  std::string run() const { return dir.path() + "/run"; }
  // The pid of the server of the run directory, from its endpoint; 0 when none.
  long serverPid() const { return std::max<long>(0, Installation::serverPid(run())); }
  void start() {
    ASSERT_GE(WinExec(QLMRQMGR_PATH, SW_HIDE), 32u);
    pid = serverPid();
    ASSERT_GT(pid, 0);
  }
  // The server has ended and taken its window and services along.
  bool stopped() const {
    return eventually([this] { return ProcessEnded(pid) && FindWindowA(nullptr, kTitle) == nullptr && serverPid() == 0; });
  }
  std::string log() const { return slurp(dir.path() + "/data/qlmrqmgr.log"); }

  test::TempDir dir;
  long pid = 0;  // the running server
};

TEST_F(ProgramTest, InitAnswersAndClientsAreServedUntilTheyEndOrVanish) {
  start();
  Client a, b;
  Buf rsp;
  EXPECT_EQ(a.init(20, &rsp), 0);  // a malformed Init is refused with key 0
  ASSERT_EQ(rsp.size(), 54u);
  EXPECT_EQ(Buf(rsp.begin(), rsp.begin() + 12), le32({1, 0, 2}));
  const int key = a.init(53, &rsp);  // and the instance may try again
  ASSERT_GT(key, 0);
  // Init Response: isIccCmd 1, ClientKey as u32 and i16, iccCmd 2, zeros, the version NUL-padded.
  ASSERT_EQ(rsp.size(), 54u);
  EXPECT_EQ(Buf(rsp.begin(), rsp.begin() + 24),
            le32({1, static_cast<std::uint32_t>(key), 2, static_cast<std::uint32_t>(key), 0, 0}));
  EXPECT_EQ(std::string(rsp.begin() + 24, rsp.end()), std::string("QLMRQMGR 6.1.0") + std::string(16, '\0'));
  ASSERT_GT(b.init(), 0);

  ASSERT_EQ(addProject(a, "A1").rc, 0);
  {
    Client c;
    ASSERT_GT(c.init(), 0);
    ASSERT_EQ(addProject(c, "C1").rc, 0);
  }  // c vanishes without End
  a.end();
  ASSERT_TRUE(eventually([this] { return log().find("disconnected") != std::string::npos; }));
  // Both are forgotten: their open projects no longer keep b from deleting them.
  for (const char *name : {"A1", "C1"}) {
    const std::string h = b.request(Req(250).end().seg(451).item(451, name).end()).handle;
    EXPECT_EQ(b.request(Req(256).item(102, h).end().seg(451).item(451, name).end()).rc, 0) << name;
  }

  b.request(Req(47).end(), false);  // the shutdown request
  EXPECT_TRUE(stopped());
  EXPECT_NE(log().find("]: ended\n"), std::string::npos);
}

TEST_F(ProgramTest, OneServerPerRunDirectoryThatEndsOnASignal) {
  start();
  const long first = pid;
  start();  // sees the first one's window and leaves it serving
  EXPECT_EQ(pid, first);
  Client a;
  ASSERT_GT(a.init(), 0);
  kill(static_cast<pid_t>(pid), SIGTERM);
  EXPECT_TRUE(stopped());
  EXPECT_NE(log().find("termination signal"), std::string::npos);
  start();  // the lock is free again
  Client b;
  EXPECT_GT(b.init(), 0);
}

// ---- peers that misbehave, speaking the wire with raw sockets ---------------------

// A socket connected to the endpoint of `service` in `run`; -1 when none.
int rawSocket(const std::string &run, const char *service) { return test::rawSocket(endpointOf(run, service)); }

// A misbehaving client in a child process: opens both conversations as instance 900
// of its own pid, sends its Init, takes the server's connection to its CAPIAPP
// endpoint, and then does `what` with the descriptors (control, data, answers).
template <class F>
pid_t misbehave(const std::string &run, F what) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  const std::uint32_t me = static_cast<std::uint32_t>(::getpid());
  const std::string ep = run + "/CAPIAPP." + std::to_string(me) + ".900";
  const int l = test::rawSocket(ep, true);
  const int ctl = rawSocket(run, "REQMNGRI"), dat = rawSocket(run, "REQMNGR");
  if (rawConnect(ctl, "REQMNGRI", "RMICC", me, 900) != 1 || rawConnect(dat, "REQMNGR", "COURIER", me, 900) != 1)
    ::_exit(2);
  sendAll(ctl, pokeFrame("RMICC", initMessage()));
  const int back = ::accept(l, nullptr, nullptr);
  std::uint8_t connect[32];
  (void)!::recv(back, connect, sizeof connect, 0);
  sendAll(back, replyFrame(1));
  what(ctl, dat, back);
  ::_exit(0);
}

// CPU time (user and system, in clock ticks) used by process `pid` so far.
long cpuTicks(long pid) {
  const std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
  std::istringstream rest(stat.substr(stat.rfind(')') + 2));  // from field 3 on
  std::string skipped;
  long utime = 0, stime = 0;
  for (int field = 3; field < 14; ++field) rest >> skipped;
  rest >> utime >> stime;  // fields 14 and 15
  return utime + stime;
}

TEST_F(ProgramTest, NoPeerDelaysAnotherClient) {
  start();
  // One floods requests and reads nothing, one never acknowledges its answers, one
  // holds connections that never say CONNECT, one sends frames of garbage.
  const pid_t flooder = misbehave(run(), [](int, int dat, int) {
    const Buf req = pokeFrame("COURIER", requestMessage(1, Req(258).item(131, "1").item(132, "999").end()));
    for (int i = 0; i < 100000; ++i)
      if (::send(dat, req.data(), req.size(), MSG_NOSIGNAL) < 0) break;  // dropped: the socket closes
  });
  const pid_t silent = misbehave(run(), [](int, int, int back) {
    std::uint8_t b[8192];
    while (::recv(back, b, sizeof b, 0) > 0) {  // takes every answer, acknowledges none
    }
  });
  const pid_t idler = forked([this] {
    std::vector<int> fds;
    for (int i = 0; i < 40; ++i) fds.push_back(rawSocket(run(), "REQMNGR"));
    ::sleep(12);
    return 0;
  });
  const pid_t garbler = misbehave(run(), [](int ctl, int dat, int) {
    for (int i = 0; i < 3000; ++i) {
      Buf junk(static_cast<std::size_t>(i % 97), static_cast<std::uint8_t>(i));
      sendAll(i % 2 ? ctl : dat, junk);
    }
    ::sleep(5);
  });

  // A well-behaved client is served all the while: every answer comes (a liveness
  // bound of 3 s per request; the limits of a misbehaving peer are 2 s and 5 s).
  Client good;
  ASSERT_GT(good.init(), 0);
  double slowest = 0;
  for (int i = 0; i < 25; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(addProject(good, ("F" + std::to_string(i)).c_str()).rc, 0) << i;
    slowest = std::max(slowest, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  EXPECT_LT(slowest, 3.0);
  RecordProperty("slowest_round_trip_ms", static_cast<int>(slowest * 1000));
  std::printf("slowest round trip of the well-behaved client: %.1f ms\n", slowest * 1000);
  EXPECT_TRUE(eventually([this] {
    const std::string l = log();
    return l.find("dropped: it sends requests faster than it takes their answers") != std::string::npos &&
           l.find("dropped: it did not acknowledge an answer in time") != std::string::npos;
  })) << log();
  EXPECT_LT(log().size(), 20000u);  // garbage is logged a few lines per conversation, no more
  for (pid_t p : {flooder, silent, idler, garbler}) exitStatus(p, 0);  // killed at once
}

TEST_F(ProgramTest, AWriteThatWaitsIsAcknowledgedFirstAndAnAnsweredReadHoldsNoLock) {
  start();
  Client c;
  ASSERT_GT(c.init(), 0);
  // Another process of the installation holds the write lock: the add waits for it.
  sqlite3 *db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open((dir.path() + "/data/quillmar.db").c_str(), &db));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr));
  // Its ACK comes all the same (were it held until the answer, the poke would time
  // out: the lock is released only afterwards), and the answer once the lock is free.
  EXPECT_TRUE(c.post(Req(254).end().seg(451).item(451, "Held").end()));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr));
  const auto answer = receive();
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(0, test::read(Bytes(answer->begin() + 8, answer->end())).rc);
  // A read ends its transaction after its answer, but before the server waits: a
  // copy of the journal that must wait for every reader then goes through.
  ASSERT_EQ(0, c.request(Req(258).item(104, "10001").item(131, "1").item(132, "1").end()).rc);
  EXPECT_TRUE(eventually([&] {
    return sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr) == SQLITE_OK;
  }));
  sqlite3_close(db);
}

TEST_F(ProgramTest, ClaimsOfAnotherProcessOrOfTheServerAreRefused) {
  start();
  Client a;
  ASSERT_GT(a.init(), 0);
  ASSERT_EQ(addProject(a, "A").rc, 0);
  // Another process claiming a's identity, or the server's own: refused at CONNECT.
  const std::uint32_t self = static_cast<std::uint32_t>(::getpid());
  const pid_t spoofer = forked([&] {
    const int fd = rawSocket(run(), "REQMNGRI"), fd2 = rawSocket(run(), "REQMNGRI");
    const int asA = rawConnect(fd, "REQMNGRI", "RMICC", self, a.instance());
    if (asA == 1) sendAll(fd, pokeFrame("RMICC", initMessage()));  // would take a's place
    const int asServer = rawConnect(fd2, "REQMNGRI", "RMICC", static_cast<std::uint32_t>(pid), 1);
    return asA == 0 && asServer == 0 ? 0 : 1;
  });
  EXPECT_EQ(exitStatus(spoofer), 0);
  EXPECT_EQ(addProject(a, "B").rc, 0);  // a is still the client it was
  EXPECT_EQ(log().find("initialised again"), std::string::npos);
}

TEST_F(ProgramTest, IdleConnectionsAndExhaustedDescriptorsNeitherSpinNorLockOut) {
  // The server runs with 21 descriptors; 14 connections that never send CONNECT
  // use up what its own files, database, listeners and watches leave.
  rlimit old{};
  getrlimit(RLIMIT_NOFILE, &old);
  rlimit low = old;
  low.rlim_cur = 21;
  setrlimit(RLIMIT_NOFILE, &low);
  start();
  setrlimit(RLIMIT_NOFILE, &old);
  std::vector<int> idle;
  for (int i = 0; i < 14; ++i) idle.push_back(rawSocket(run(), "REQMNGR"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const long before = cpuTicks(pid);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_LT(cpuTicks(pid) - before, 30) << "the server should rest while it cannot accept";
  // The silent connections are closed after their time limit, and a client gets in.
  Client late;
  EXPECT_GT(late.init(), 0);
  EXPECT_EQ(addProject(late, "L").rc, 0);
  for (int fd : idle) {
    timeval tv{8, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::uint8_t b;
    EXPECT_EQ(::recv(fd, &b, 1, 0), 0) << "closed by the server";
    ::close(fd);
  }
}

}  // namespace
}  // namespace qlm::rqmgr
