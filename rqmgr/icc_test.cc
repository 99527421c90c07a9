// The Request Manager program over the real transport: started with WinExec in a
// temporary installation root and run directory, spoken to by clients made of the
// platform's DDE calls (what the library's ICC client does).
#include <gtest/gtest.h>
#include <signal.h>

#include <array>
#include <chrono>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fstream>
#include <optional>
#include <thread>

#include "platform/windows.h"
#include "test_support.h"

namespace qlm::rqmgr {
namespace {

using test::Msg;
using test::Req;

constexpr const char kTitle[] = "Quillmar - Request Manager";

std::uint32_t le32(const std::uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24; }
void put32(std::uint8_t *p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool gTimedOut = false;
void onTimer(HWND, UINT, UINT_PTR, DWORD) { gTimedOut = true; }

// One client instance: its own "CAPIAPP" service and the two conversations. Each
// instance has a callback of its own (slots), so pokes reach the right inbox.
class Client {
 public:
  Client() {
    for (slot_ = 0; slots()[slot_] != nullptr; ++slot_) {
    }
    slots()[slot_] = this;
    static constexpr PFNCALLBACK kCallbacks[] = {&callback<0>, &callback<1>, &callback<2>};
    DdeInitializeA(&inst_, kCallbacks[slot_], APPCLASS_STANDARD, 0);
    own_ = DdeCreateStringHandleA(inst_, "CAPIAPP", CP_WINANSI);
    rmicc_ = DdeCreateStringHandleA(inst_, "RMICC", CP_WINANSI);
    courier_ = DdeCreateStringHandleA(inst_, "COURIER", CP_WINANSI);
    DdeNameService(inst_, own_, nullptr, DNS_REGISTER);
    HSZ ctl = DdeCreateStringHandleA(inst_, "REQMNGRI", CP_WINANSI);
    HSZ dat = DdeCreateStringHandleA(inst_, "REQMNGR", CP_WINANSI);
    control_ = DdeConnect(inst_, ctl, rmicc_, nullptr);
    data_ = DdeConnect(inst_, dat, courier_, nullptr);
    DdeFreeStringHandle(inst_, ctl);
    DdeFreeStringHandle(inst_, dat);
  }
  ~Client() {
    if (inst_) DdeUninitialize(inst_);
    slots()[slot_] = nullptr;
  }
  bool connected() const { return control_ && data_; }
  void disconnect() {
    DdeUninitialize(inst_);
    inst_ = 0;
  }

  bool pokeControl(const std::uint8_t *p, std::size_t n) { return poke(control_, rmicc_, p, n); }

  // Init (53 bytes, or the first `length` bytes of it); the key of the Init
  // Response, -1 without one.
  int init(std::size_t length = 53, std::vector<std::uint8_t> *response = nullptr) {
    std::uint8_t m[53] = {};
    put32(m, 1);
    put32(m + 8, 1);
    std::memcpy(m + 12, "CAPIAPP", 7);
    std::memcpy(m + 24, "19990331060100", 14);
    if (!pokeControl(m, length)) return -1;
    auto r = receive();
    if (!r) return -1;
    if (response) *response = *r;
    key_ = r->size() >= 14 ? static_cast<std::int16_t>((*r)[12] | (*r)[13] << 8) : -1;
    return key_;
  }
  void end() {
    std::uint8_t m[12] = {};
    put32(m, 1);
    put32(m + 4, static_cast<std::uint32_t>(key_));
    put32(m + 8, 3);
    pokeControl(m, sizeof m);
  }
  // Sends one request; returns the answer's messages (more-data messages included).
  std::vector<Msg> request(const Req &r, bool expectAnswer = true) {
    const Bytes rmil = r.bytes();
    std::vector<std::uint8_t> m(8 + rmil.size());
    put32(m.data() + 4, static_cast<std::uint32_t>(key_));
    std::copy(rmil.begin(), rmil.end(), m.begin() + 8);
    std::vector<Msg> out;
    if (!poke(data_, courier_, m.data(), m.size()) || !expectAnswer) return out;
    while (auto a = receive()) {
      EXPECT_EQ(le32(a->data()), 0u);
      EXPECT_EQ(le32(a->data() + 4), static_cast<std::uint32_t>(key_));
      out.push_back(test::read(Bytes(a->begin() + 8, a->end())));
      if (!out.back().more) break;
    }
    return out;
  }
  Msg one(const Req &r) {
    auto v = request(r);
    return v.empty() ? Msg{} : v.front();
  }

  // The next message poked to this client, waiting at most `ms`.
  std::optional<std::vector<std::uint8_t>> receive(DWORD ms = 10000) {
    gTimedOut = false;
    SetTimer(nullptr, 77, ms, onTimer);
    MSG msg;
    while (inbox_.empty() && !gTimedOut && GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    KillTimer(nullptr, 77);
    if (inbox_.empty()) return std::nullopt;
    auto m = std::move(inbox_.front());
    inbox_.pop_front();
    return m;
  }

 private:
  static std::array<Client *, 3> &slots() {
    static std::array<Client *, 3> s{};
    return s;
  }
  bool poke(HCONV conv, HSZ item, const std::uint8_t *p, std::size_t n) {
    DWORD result = 0;
    return DdeClientTransaction(const_cast<LPBYTE>(p), static_cast<DWORD>(n), conv, item, CF_TEXT, XTYP_POKE, 5000,
                                &result) != nullptr;
  }
  template <int N>
  static HDDEDATA callback(UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA data, ULONG_PTR, ULONG_PTR) {
    if (type == XTYP_CONNECT) return reinterpret_cast<HDDEDATA>(std::uintptr_t{1});
    if (type != XTYP_POKE || slots()[N] == nullptr) return nullptr;
    std::vector<std::uint8_t> m(DdeGetData(data, nullptr, 0, 0));
    DdeGetData(data, m.data(), static_cast<DWORD>(m.size()), 0);
    slots()[N]->inbox_.push_back(std::move(m));
    return reinterpret_cast<HDDEDATA>(std::uintptr_t{DDE_FACK});
  }

  int slot_ = 0;
  DWORD inst_ = 0;
  HSZ own_ = nullptr, rmicc_ = nullptr, courier_ = nullptr;
  HCONV control_ = nullptr, data_ = nullptr;
  int key_ = 0;
  std::deque<std::vector<std::uint8_t>> inbox_;
};

// The pid of the Request Manager that serves the run directory, from its endpoint.
long serverPid(const std::string &runDir) {
  long pid = 0;
  if (DIR *d = opendir(runDir.c_str())) {
    while (dirent *e = readdir(d))
      if (std::strncmp(e->d_name, "REQMNGR.", 8) == 0) pid = std::atol(e->d_name + 8);
    closedir(d);
  }
  return pid;
}

// Whether the process has ended (a zombie counts as ended), waiting at most `seconds`.
bool processGone(long pid, int seconds) {
  for (int i = 0; i < seconds * 10; ++i) {
    if (kill(static_cast<pid_t>(pid), 0) != 0) return true;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string field;
    stat >> field >> field >> field;
    if (field == "Z") return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

bool windowGone(int seconds) {
  for (int i = 0; i < seconds * 10; ++i) {
    if (FindWindowA(nullptr, kTitle) == nullptr) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

struct ProgramTest : ::testing::Test {
  ProgramTest() {
    std::filesystem::create_directories(dir.path() + "/shared");
    std::filesystem::create_directory(dir.path() + "/run");
    std::filesystem::permissions(dir.path() + "/run", std::filesystem::perms::owner_all);
    std::ofstream(dir.path() + "/shared/errortxt.fil") << "30004-M The project does not exist\n";
    setenv("QLM_ROOTDIR", dir.path().c_str(), 1);
    setenv("QLM_RUNDIR", (dir.path() + "/run").c_str(), 1);
  }
  ~ProgramTest() override {
    if (pid > 0 && kill(static_cast<pid_t>(pid), SIGKILL) == 0) processGone(pid, 10);
  }
  void start() {
    ASSERT_GE(WinExec(QLMRQMGR_PATH, SW_HIDE), 32u);
    pid = serverPid(dir.path() + "/run");
    ASSERT_GT(pid, 0);
  }
  std::string log() {
    std::ifstream in(dir.path() + "/data/qlmrqmgr.log");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  test::TempDir dir;
  long pid = 0;  // the running server
};

Req addProject(const std::string &name) {
  Req r(254);
  r.item(104, "10001").end().seg(451).item(451, name).end();
  return r;
}

TEST_F(ProgramTest, InitAnswersAndRequestsGoBothWays) {
  start();
  Client a;
  ASSERT_TRUE(a.connected());
  std::vector<std::uint8_t> rsp;
  const int key = a.init(53, &rsp);
  ASSERT_GT(key, 0);
  ASSERT_EQ(rsp.size(), 54u);
  EXPECT_EQ(le32(rsp.data()), 1u);
  EXPECT_EQ(le32(rsp.data() + 4), static_cast<std::uint32_t>(key));
  EXPECT_EQ(le32(rsp.data() + 8), 2u);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(rsp.data() + 24)), "QLMRQMGR 6.1.0");

  Msg added = a.one(addProject("Alpha"));
  EXPECT_EQ(added.responseId, 255);
  EXPECT_EQ(added.reference, "7");
  EXPECT_EQ(added.rc, 0);
  EXPECT_EQ(added.handle.size(), 10u);
  ASSERT_EQ(added.segs.size(), 1u);
  EXPECT_EQ(added.segs[0].items.at(451), "Alpha");
  EXPECT_EQ(a.one(Req(250).end().seg(451).item(451, "Nope").end()).error(), 30004);

  // A second client of the same Request Manager gets its own key and sees the data.
  Client b;
  const int keyB = b.init();
  ASSERT_GT(keyB, 0);
  EXPECT_NE(keyB, key);
  auto list = b.request(Req(258).item(104, "10001").item(131, "1").item(132, "10").end());
  ASSERT_EQ(list.size(), 1u);
  ASSERT_EQ(list[0].segs.size(), 1u);
  EXPECT_EQ(list[0].segs[0].items.at(462), "Y");
  EXPECT_EQ(b.one(Req(777).end()).error(), 30002);

  // End forgets client a; the shutdown request ends the Request Manager.
  a.end();
  EXPECT_TRUE(b.request(Req(47).end(), false).empty());
  EXPECT_TRUE(windowGone(10));
  ASSERT_TRUE(processGone(pid, 10));
  EXPECT_EQ(serverPid(dir.path() + "/run"), 0);  // services unregistered
  const std::string l = log();
  EXPECT_NE(l.find("client " + std::to_string(key) + " connected"), std::string::npos);
  EXPECT_NE(l.find("client " + std::to_string(key) + " ended"), std::string::npos);
  EXPECT_NE(l.find("]: ended\n"), std::string::npos);
}

TEST_F(ProgramTest, MalformedInitIsRefusedWithKeyZero) {
  start();
  Client a;
  std::vector<std::uint8_t> rsp;
  EXPECT_EQ(a.init(20, &rsp), 0);
  EXPECT_EQ(le32(rsp.data() + 8), 2u);
  // The refused instance may try again.
  EXPECT_GT(a.init(), 0);
}

TEST_F(ProgramTest, AcknowledgedAddSurvivesKillAndOpenMarksOfTheDeadAreIgnored) {
  start();
  {
    Client a;
    ASSERT_GT(a.init(), 0);
    ASSERT_EQ(a.one(addProject("Durable")).rc, 0);
    kill(static_cast<pid_t>(pid), SIGKILL);
    ASSERT_TRUE(processGone(pid, 10));
    ASSERT_TRUE(windowGone(10));
  }
  start();
  Client b;
  ASSERT_GT(b.init(), 0);
  auto list = b.request(Req(258).item(104, "10001").item(131, "1").item(132, "10").end());
  ASSERT_EQ(list.size(), 1u);
  ASSERT_EQ(list[0].segs.size(), 1u);
  EXPECT_EQ(list[0].segs[0].items.at(451), "Durable");
  EXPECT_EQ(list[0].segs[0].items.at(462), "N");
  // The killed server's open mark does not keep the project from being deleted.
  const std::string h = b.one(Req(250).end().seg(451).item(451, "Durable").end()).handle;
  EXPECT_EQ(b.one(Req(256).item(102, h).item(104, "10000").end().seg(451).item(451, "Durable").end()).rc, 0);
}

TEST_F(ProgramTest, ClientThatGoesAwayIsForgotten) {
  start();
  Client b;
  {
    Client a;
    ASSERT_GT(a.init(), 0);
    ASSERT_EQ(a.one(addProject("Shared")).rc, 0);
    ASSERT_GT(b.init(), 0);
    a.disconnect();  // no End
  }
  // Once the Request Manager has seen a go, a's open project no longer blocks a delete.
  for (int i = 0; i < 100 && log().find("disconnected") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_NE(log().find("disconnected"), std::string::npos);
  const std::string h = b.one(Req(250).end().seg(451).item(451, "Shared").end()).handle;
  ASSERT_EQ(h.size(), 10u);
  EXPECT_EQ(b.one(Req(256).item(102, h).item(104, "10000").end().seg(451).item(451, "Shared").end()).rc, 0);
}

TEST_F(ProgramTest, TerminationSignalEndsInOrder) {
  start();
  Client a;
  ASSERT_GT(a.init(), 0);
  ASSERT_EQ(a.one(addProject("Kept")).rc, 0);
  kill(static_cast<pid_t>(pid), SIGTERM);
  EXPECT_TRUE(windowGone(10));
  ASSERT_TRUE(processGone(pid, 10));
  EXPECT_EQ(serverPid(dir.path() + "/run"), 0);
  EXPECT_NE(log().find("termination signal"), std::string::npos);
  // The lock is free again: a new Request Manager starts in the same run directory.
  start();
  Client b;
  ASSERT_GT(b.init(), 0);
  EXPECT_EQ(b.one(Req(250).end().seg(451).item(451, "Kept").end()).rc, 0);
}

TEST_F(ProgramTest, SecondStartInTheSameRunDirectorySharesTheFirst) {
  start();
  const long first = pid;
  start();  // ready at once: the running one's window exists
  EXPECT_EQ(pid, first);
  Client a;
  EXPECT_GT(a.init(), 0);
}

}  // namespace
}  // namespace qlm::rqmgr
