// The Request Manager program over the real transport: started with WinExec in a
// temporary root and run directory, spoken to by clients made of the platform's
// DDE calls. What a client sees of the requests is proven end to end (tests/e2e);
// here: the ICC bytes, clients that end or vanish, and the program's own life.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "platform/windows.h"
#include "test_support.h"

namespace qlm::rqmgr {
namespace {

using test::Msg;
using test::Req;
using Buf = std::vector<std::uint8_t>;

constexpr const char kTitle[] = "Quillmar - Request Manager";

Buf words(std::initializer_list<std::uint32_t> ws) {
  Buf b;
  for (std::uint32_t w : ws)
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
  return b;
}

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
    Buf m = words({1, 0, 1});
    m.resize(53);
    std::memcpy(m.data() + 12, "CAPIAPP", 7);
    std::memcpy(m.data() + 24, "19990331060100", 14);
    m.resize(length);
    const auto r = poke(control_, rmicc_, m) ? receive() : std::nullopt;
    if (!r || r->size() < 14) return -1;
    if (response) *response = *r;
    return key_ = rmil::getI16(r->data() + 12);
  }
  void end() { poke(control_, rmicc_, words({1, static_cast<std::uint32_t>(key_), 3})); }
  // Sends one request; the first message of its answer (none when none is awaited).
  Msg request(const Req &r, bool answered = true) {
    const Buf head = words({0, static_cast<std::uint32_t>(key_)});
    const Bytes rmil = r.bytes();
    Buf m = head;
    m.insert(m.end(), rmil.begin(), rmil.end());
    const auto a = poke(data_, courier_, m) && answered ? receive() : std::nullopt;
    if (!a || a->size() < 8) return {};
    EXPECT_EQ(Buf(a->begin(), a->begin() + 8), head);
    return test::read(Bytes(a->begin() + 8, a->end()));
  }

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

// Whether `done` holds within 10 s.
bool eventually(const std::function<bool()> &done) {
  for (int i = 0; i < 100 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return done();
}

bool ended(long pid) {  // a zombie has ended
  if (kill(static_cast<pid_t>(pid), 0) != 0) return true;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string field;
  stat >> field >> field >> field;
  return field == "Z";
}

Msg addProject(Client &c, const char *name) { return c.request(Req(254).end().seg(451).item(451, name).end()); }

struct ProgramTest : ::testing::Test {
  ProgramTest() {
    std::filesystem::create_directory(run());
    std::filesystem::permissions(run(), std::filesystem::perms::owner_all);
    setenv("QLM_ROOTDIR", dir.path().c_str(), 1);
    setenv("QLM_RUNDIR", run().c_str(), 1);
  }
  ~ProgramTest() override {
    if (pid > 0 && kill(static_cast<pid_t>(pid), SIGKILL) == 0) eventually([this] { return ended(pid); });
  }
  std::string run() const { return dir.path() + "/run"; }
  // The pid of the server of the run directory, from its endpoint; 0 when none.
  long serverPid() const {
    long found = 0;
    if (DIR *d = opendir(run().c_str())) {
      while (dirent *e = readdir(d))
        if (std::strncmp(e->d_name, "REQMNGR.", 8) == 0) found = std::atol(e->d_name + 8);
      closedir(d);
    }
    return found;
  }
  void start() {
    ASSERT_GE(WinExec(QLMRQMGR_PATH, SW_HIDE), 32u);
    pid = serverPid();
    ASSERT_GT(pid, 0);
  }
  // The server has ended and taken its window and services along.
  bool stopped() const {
    return eventually([this] { return ended(pid) && FindWindowA(nullptr, kTitle) == nullptr && serverPid() == 0; });
  }
  std::string log() const {
    std::ifstream in(dir.path() + "/data/qlmrqmgr.log");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  test::TempDir dir;
  long pid = 0;  // the running server
};

TEST_F(ProgramTest, InitAnswersAndClientsAreServedUntilTheyEndOrVanish) {
  start();
  Client a, b;
  Buf rsp;
  EXPECT_EQ(a.init(20, &rsp), 0);  // a malformed Init is refused with key 0
  ASSERT_EQ(rsp.size(), 54u);
  EXPECT_EQ(Buf(rsp.begin(), rsp.begin() + 12), words({1, 0, 2}));
  const int key = a.init(53, &rsp);  // and the instance may try again
  ASSERT_GT(key, 0);
  // Init Response: isIccCmd 1, ClientKey as u32 and i16, iccCmd 2, zeros, the version NUL-padded.
  ASSERT_EQ(rsp.size(), 54u);
  EXPECT_EQ(Buf(rsp.begin(), rsp.begin() + 24),
            words({1, static_cast<std::uint32_t>(key), 2, static_cast<std::uint32_t>(key), 0, 0}));
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

}  // namespace
}  // namespace qlm::rqmgr
