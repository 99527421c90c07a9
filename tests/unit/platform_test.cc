// The POSIX stand-ins of the platform layer: the conversation frames byte for byte,
// the order of events, connecting, refused / busy / unanswered pokes, the message
// pump, window locks, the readiness pipe, the server lock and the run directory.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "link_fixtures.h"
#include "platform/windows.h"

namespace {

using namespace qlm::testing;
using Bytes = std::vector<std::uint8_t>;

// ---- helpers -------------------------------------------------------------------

Bytes Le32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 24)};
}

Bytes Name9(const char *n) {
  Bytes b(9, 0);
  std::memcpy(b.data(), n, std::strlen(n));
  return b;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Text(const char *s) { return Bytes(s, s + std::strlen(s)); }

int RawConnect(const std::string &path) {
  int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strcpy(a.sun_path, path.c_str());
  EXPECT_EQ(0, ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a)) << path;
  return fd;
}

int RawListen(const std::string &path) {
  int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strcpy(a.sun_path, path.c_str());
  EXPECT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a));
  EXPECT_EQ(0, ::listen(fd, 4));
  return fd;
}

void Send(int fd, const Bytes &b) { ASSERT_EQ(static_cast<ssize_t>(b.size()), ::send(fd, b.data(), b.size(), 0)); }

Bytes Recv(int fd) {
  Bytes b(8192);
  ssize_t n = ::recv(fd, b.data(), b.size(), 0);
  b.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return b;
}

std::string Name(HSZ h) {
  char buf[64] = {};
  DdeQueryStringA(0, h, buf, sizeof buf, CP_WINANSI);
  return buf;
}

// What a callback saw.
struct Event {
  UINT type;
  HCONV conv;
  std::string n1, n2;
  Bytes data;
  bool replyAlreadySent = false;
};

// A recording server callback; the answers are set by the test.
struct Recorder {
  std::vector<Event> events;
  bool acceptConnect = true;
  std::uintptr_t pokeResult = DDE_FACK;
  int rawPeer = -1;  // when set, CONFIRM checks that the CONNECT_REPLY is already there
};
Recorder *g_rec[3];

template <int N>
HDDEDATA Record(UINT type, UINT, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data, ULONG_PTR, ULONG_PTR) {
  Recorder &r = *g_rec[N];
  Event e{type, conv, Name(hsz1), Name(hsz2), {}};
  if (data != nullptr) {
    e.data.resize(DdeGetData(data, nullptr, 0, 0));
    DdeGetData(data, e.data.data(), static_cast<DWORD>(e.data.size()), 0);
  }
  if (type == XTYP_CONNECT_CONFIRM && r.rawPeer >= 0) {
    std::uint8_t b[8];
    e.replyAlreadySent = ::recv(r.rawPeer, b, sizeof b, MSG_PEEK | MSG_DONTWAIT) == 8;
  }
  r.events.push_back(e);
  switch (type) {
    case XTYP_CONNECT: return reinterpret_cast<HDDEDATA>(static_cast<std::uintptr_t>(r.acceptConnect));
    case XTYP_POKE:
    case XTYP_EXECUTE: return reinterpret_cast<HDDEDATA>(r.pokeResult);
    default: return nullptr;
  }
}

// Every test gets its own run directory.
class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("QLM_RUNDIR", dir_.path().c_str(), 1); }
  void TearDown() override {
    for (HSZ h : names_) DdeFreeStringHandle(0, h);
    ::unsetenv("QLM_RUNDIR");
  }

  DWORD NewInstance(PFNCALLBACK cb) {
    DWORD id = 0;
    EXPECT_EQ(DMLERR_NO_ERROR, DdeInitializeA(&id, cb, APPCLASS_STANDARD, 0));
    return id;
  }
  HSZ Hsz(DWORD inst, const char *s) { return names_.emplace_back(DdeCreateStringHandleA(inst, s, CP_WINANSI)); }
  // The endpoint names of `service` in the run directory, sorted.
  std::vector<std::string> Endpoints(const std::string &prefix) {
    std::vector<std::string> out;
    for (const auto &e : std::filesystem::directory_iterator(dir_.path())) {
      const std::string n = e.path().filename();
      if (n.rfind(prefix + ".", 0) == 0) out.push_back(n);
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  TempDir dir_;
  std::vector<HSZ> names_;  // freed at the end of the test
};

using PlatformDde = PlatformTest;
using PlatformPump = PlatformTest;
using PlatformWindow = PlatformTest;
using PlatformExec = PlatformTest;
using PlatformRunDir = PlatformTest;

// ---- DDE -------------------------------------------------------------------------

TEST_F(PlatformDde, ServerSideFramesAndOrderOfEvents) {
  Recorder rec;
  g_rec[0] = &rec;
  const DWORD inst = NewInstance(Record<0>);
  ASSERT_NE(nullptr, DdeNameService(inst, Hsz(inst, "Srv1"), nullptr, DNS_REGISTER));
  const std::vector<std::string> eps = Endpoints("SRV1");
  ASSERT_EQ(1u, eps.size());  // upper case on disk, <SERVICE>.<pid>.<n>
  EXPECT_EQ(0u, eps[0].find("SRV1." + std::to_string(::getpid()) + "."));

  // Accepted connection: XTYP_CONNECT (topic, service), CONNECT_REPLY 1, then CONFIRM.
  const int peer = RawConnect(dir_ / eps[0]);
  rec.rawPeer = peer;
  Send(peer, Cat({Le32(1), Name9("srv1"), Name9("Topic"), {0, 0}, Le32(4242), Le32(7)}));
  Drain();
  ASSERT_EQ(2u, rec.events.size());
  EXPECT_EQ(XTYP_CONNECT, rec.events[0].type);
  EXPECT_STRCASEEQ("Topic", rec.events[0].n1.c_str());  // names compare without regard to case
  EXPECT_STRCASEEQ("srv1", rec.events[0].n2.c_str());
  EXPECT_EQ(XTYP_CONNECT_CONFIRM, rec.events[1].type);
  EXPECT_TRUE(rec.events[1].replyAlreadySent);
  const HCONV conv = rec.events[1].conv;
  ASSERT_NE(nullptr, conv);
  DWORD pid = 0, number = 0;
  ASSERT_TRUE(qlm::ConversationPartner(conv, &pid, &number));
  EXPECT_EQ(4242u, pid);
  EXPECT_EQ(7u, number);
  EXPECT_EQ(Cat({Le32(2), Le32(1)}), Recv(peer));

  // POKE: the callback's result becomes the ACK status (accepted, busy, refused).
  const Bytes poke = Cat({Le32(3), Le32(CF_TEXT), Name9("TOPIC"), {0, 0, 0}, Le32(5), Text("hello")});
  const std::pair<std::uintptr_t, std::uint32_t> answers[] = {{DDE_FACK, 0x8000}, {DDE_FBUSY, 0x4000}, {0, 0}};
  for (auto [result, status] : answers) {
    rec.events.clear();
    rec.pokeResult = result;
    Send(peer, poke);
    Drain();
    ASSERT_EQ(1u, rec.events.size());
    EXPECT_EQ(XTYP_POKE, rec.events[0].type);
    EXPECT_EQ(conv, rec.events[0].conv);
    EXPECT_EQ("TOPIC", rec.events[0].n2);
    EXPECT_EQ(Text("hello"), rec.events[0].data);
    EXPECT_EQ(Cat({Le32(4), Le32(status)}), Recv(peer));
  }

  // EXECUTE carries the command; a POKE whose length field lies is refused unheard.
  rec.events.clear();
  rec.pokeResult = DDE_FACK;
  Send(peer, Cat({Le32(5), Le32(4), Text("[go]")}));
  Send(peer, Cat({Le32(3), Le32(CF_TEXT), Name9("TOPIC"), {0, 0, 0}, Le32(9), Text("hello")}));
  Drain();
  ASSERT_EQ(1u, rec.events.size());
  EXPECT_EQ(XTYP_EXECUTE, rec.events[0].type);
  EXPECT_EQ(Text("[go]"), rec.events[0].data);
  EXPECT_EQ(Cat({Le32(4), Le32(0x8000)}), Recv(peer));
  EXPECT_EQ(Cat({Le32(4), Le32(0)}), Recv(peer));

  // The partner closes: XTYP_DISCONNECT for the conversation.
  rec.events.clear();
  ::close(peer);
  Drain();
  ASSERT_EQ(1u, rec.events.size());
  EXPECT_EQ(XTYP_DISCONNECT, rec.events[0].type);
  EXPECT_EQ(conv, rec.events[0].conv);

  // Refused: CONNECT_REPLY 0, the server closes, no CONFIRM.
  rec.events.clear();
  rec.acceptConnect = false;
  rec.rawPeer = -1;
  const int refused = RawConnect(dir_ / eps[0]);
  Send(refused, Cat({Le32(1), Name9("SRV1"), Name9("TOPIC"), {0, 0}, Le32(1), Le32(1)}));
  Drain();
  ASSERT_EQ(1u, rec.events.size());
  EXPECT_EQ(XTYP_CONNECT, rec.events[0].type);
  EXPECT_EQ(Cat({Le32(2), Le32(0)}), Recv(refused));
  EXPECT_TRUE(Recv(refused).empty());  // closed
  ::close(refused);

  // Unregistering unlinks the endpoint.
  EXPECT_NE(nullptr, DdeNameService(inst, Hsz(inst, "SRV1"), nullptr, DNS_UNREGISTER));
  EXPECT_TRUE(Endpoints("SRV1").empty());
  DdeUninitialize(inst);
}

TEST_F(PlatformDde, ClientFramesAndAcknowledgements) {
  // A raw server: records every frame, answers as scripted.
  const int listener = RawListen(dir_ / "RAW.999.3");
  std::vector<Bytes> frames;
  std::thread server([&] {
    const int fd = ::accept(listener, nullptr, nullptr);
    frames.push_back(Recv(fd));           // CONNECT
    Send(fd, Cat({Le32(2), Le32(1)}));
    frames.push_back(Recv(fd));           // POKE: accepted
    Send(fd, Cat({Le32(4), Le32(0x8000)}));
    frames.push_back(Recv(fd));           // EXECUTE: refused
    Send(fd, Cat({Le32(4), Le32(0)}));
    frames.push_back(Recv(fd));           // POKE: busy
    Send(fd, Cat({Le32(4), Le32(0x4000)}));
    frames.push_back(Recv(fd));           // POKE: no answer in time
    frames.push_back(Recv(fd));           // POKE: the late refusal of the previous one, then accepted
    Send(fd, Cat({Le32(4), Le32(0)}));
    Send(fd, Cat({Le32(4), Le32(0x8000)}));
    Recv(fd);                             // waits for the client to close
    ::close(fd);
  });

  static int disconnects;
  disconnects = 0;
  const DWORD inst = NewInstance([](UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) -> HDDEDATA {
    if (type == XTYP_DISCONNECT) ++disconnects;
    return nullptr;
  });
  const HCONV conv = DdeConnect(inst, Hsz(inst, "raw"), Hsz(inst, "topic"), nullptr);
  ASSERT_NE(nullptr, conv);
  DWORD pid = 0, number = 0;
  qlm::ConversationPartner(conv, &pid, &number);
  EXPECT_EQ(999u, pid);
  EXPECT_EQ(3u, number);

  const HSZ item = Hsz(inst, "topic");
  BYTE abc[] = {'a', 'b', 'c'};
  DWORD result = 0;
  EXPECT_NE(nullptr, DdeClientTransaction(abc, 3, conv, item, CF_TEXT, XTYP_POKE, 5000, &result));
  EXPECT_EQ(0x8000u, result);
  BYTE cmd[] = {'[', 'x', ']'};
  EXPECT_EQ(nullptr, DdeClientTransaction(cmd, 3, conv, nullptr, 0, XTYP_EXECUTE, 5000, &result));
  EXPECT_EQ(static_cast<UINT>(DMLERR_NOTPROCESSED), DdeGetLastError(inst));
  EXPECT_EQ(nullptr, DdeClientTransaction(abc, 3, conv, item, CF_TEXT, XTYP_POKE, 5000, &result));
  EXPECT_EQ(static_cast<UINT>(DMLERR_BUSY), DdeGetLastError(inst));
  EXPECT_EQ(static_cast<UINT>(DMLERR_NO_ERROR), DdeGetLastError(inst));  // reading resets it
  EXPECT_EQ(nullptr, DdeClientTransaction(abc, 3, conv, item, CF_TEXT, XTYP_POKE, 100, &result));
  EXPECT_EQ(static_cast<UINT>(DMLERR_POKEACKTIMEOUT), DdeGetLastError(inst));
  // A data handle is consumed by the transaction; the late ACK above is not taken for this one.
  HDDEDATA h = DdeCreateDataHandle(inst, abc, 3, 0, item, CF_TEXT, 0);
  EXPECT_NE(nullptr, DdeClientTransaction(reinterpret_cast<LPBYTE>(h), 0xFFFFFFFF, conv, item, CF_TEXT,
                                          XTYP_POKE, 5000, &result));
  EXPECT_TRUE(DdeDisconnect(conv));
  server.join();
  ::close(listener);
  EXPECT_EQ(0, disconnects);  // the instance's own disconnect is not reported to it

  ASSERT_EQ(6u, frames.size());
  EXPECT_EQ(Cat({Le32(1), Name9("RAW"), Name9("TOPIC"), {0, 0}, Le32(static_cast<std::uint32_t>(::getpid())),
                 Le32(inst)}),
            frames[0]);
  EXPECT_EQ(Cat({Le32(3), Le32(CF_TEXT), Name9("TOPIC"), {0, 0, 0}, Le32(3), Text("abc")}), frames[1]);
  EXPECT_EQ(Cat({Le32(5), Le32(3), Text("[x]")}), frames[2]);
  EXPECT_EQ(frames[1], frames[5]);
  DdeUninitialize(inst);
}

TEST_F(PlatformDde, ConnectsToTheFirstAcceptingOrTheNamedInstance) {
  Recorder a, b, c;
  g_rec[0] = &a;
  g_rec[1] = &b;
  g_rec[2] = &c;
  const DWORD ia = NewInstance(Record<0>), ib = NewInstance(Record<1>), ic = NewInstance(Record<2>);
  ASSERT_NE(nullptr, DdeNameService(ia, Hsz(ia, "MULTI"), nullptr, DNS_REGISTER));
  ASSERT_NE(nullptr, DdeNameService(ib, Hsz(ib, "MULTI"), nullptr, DNS_REGISTER));
  const std::vector<std::string> eps = Endpoints("MULTI");
  ASSERT_EQ(2u, eps.size());

  // The plain name takes the lowest instance that accepts.
  HCONV toA = DdeConnect(ic, Hsz(ic, "MULTI"), Hsz(ic, "T"), nullptr);
  ASSERT_NE(nullptr, toA);
  EXPECT_EQ(2u, a.events.size());
  EXPECT_TRUE(b.events.empty());
  a.acceptConnect = false;
  HCONV toB = DdeConnect(ic, Hsz(ic, "multi"), Hsz(ic, "T"), nullptr);
  ASSERT_NE(nullptr, toB);
  EXPECT_EQ(2u, b.events.size());

  // The instance-specific name reaches that instance alone.
  a.events.clear();
  b.events.clear();
  b.acceptConnect = false;
  char name[32];
  ASSERT_TRUE(qlm::InstanceServiceName(name, sizeof name, "multi", static_cast<DWORD>(::getpid()), ib));
  EXPECT_EQ(eps[1], std::string(name));
  EXPECT_EQ(nullptr, DdeConnect(ic, Hsz(ic, name), Hsz(ic, "T"), nullptr));
  EXPECT_EQ(static_cast<UINT>(DMLERR_NO_CONV_ESTABLISHED), DdeGetLastError(ic));
  EXPECT_TRUE(a.events.empty());
  EXPECT_EQ(1u, b.events.size());

  // A poke between instances of one process is delivered inside the transaction's wait.
  BYTE x[] = {'x'};
  EXPECT_NE(nullptr, DdeClientTransaction(x, 1, toB, Hsz(ic, "T"), CF_TEXT, XTYP_POKE, 5000, nullptr));
  ASSERT_EQ(XTYP_POKE, b.events.back().type);
  EXPECT_EQ(Bytes{'x'}, b.events.back().data);

  // Ending an instance closes its conversations and endpoints.
  DdeUninitialize(ib);
  Drain();
  ASSERT_FALSE(c.events.empty());
  EXPECT_EQ(XTYP_DISCONNECT, c.events.back().type);
  EXPECT_EQ(toB, c.events.back().conv);
  EXPECT_EQ(std::vector<std::string>{eps[0]}, Endpoints("MULTI"));
  EXPECT_EQ(nullptr, DdeClientTransaction(x, 1, toB, Hsz(ic, "T"), CF_TEXT, XTYP_POKE, 5000, nullptr));
  EXPECT_EQ(static_cast<UINT>(DMLERR_NO_CONV_ESTABLISHED), DdeGetLastError(ic));
  DdeUninitialize(ia);
  DdeUninitialize(ic);
}

TEST_F(PlatformDde, StaleEndpointsAreRemovedAndNamesAreChecked) {
  close(RawListen(dir_ / "STALE.1.1"));  // a socket file nobody listens on any more
  Recorder rec;
  g_rec[0] = &rec;
  const DWORD inst = NewInstance(Record<0>);
  ASSERT_NE(nullptr, DdeNameService(inst, Hsz(inst, "STALE"), nullptr, DNS_REGISTER));
  ASSERT_EQ(2u, Endpoints("STALE").size());
  EXPECT_NE(nullptr, DdeConnect(inst, Hsz(inst, "STALE"), Hsz(inst, "T"), nullptr));
  EXPECT_EQ(1u, Endpoints("STALE").size());
  EXPECT_FALSE(Exists(dir_ / "STALE.1.1"));

  EXPECT_EQ(nullptr, DdeConnect(inst, Hsz(inst, "NOBODY"), Hsz(inst, "T"), nullptr));
  EXPECT_EQ(static_cast<UINT>(DMLERR_NO_CONV_ESTABLISHED), DdeGetLastError(inst));
  EXPECT_EQ(nullptr, DdeNameService(inst, Hsz(inst, "NINECHARS"), nullptr, DNS_REGISTER));
  EXPECT_EQ(static_cast<UINT>(DMLERR_INVALIDPARAMETER), DdeGetLastError(inst));
  EXPECT_EQ(nullptr, DdeConnect(inst, Hsz(inst, "STALE"), Hsz(inst, "TOPIC.X"), nullptr));

  // Equal names give equal handles, whatever their case.
  EXPECT_EQ(Hsz(inst, "Courier"), Hsz(inst, "COURIER"));
  EXPECT_EQ(0, DdeCmpStringHandles(Hsz(inst, "abc"), Hsz(inst, "ABC")));
  EXPECT_GT(0, DdeCmpStringHandles(Hsz(inst, "abc"), Hsz(inst, "abd")));
  DdeUninitialize(inst);
}

// ---- pump ------------------------------------------------------------------------

TEST_F(PlatformPump, TimersAndTheQuitMessage) {
  static std::vector<UINT_PTR> fired;
  fired.clear();
  const TIMERPROC proc = [](HWND, UINT msg, UINT_PTR id, DWORD) {
    if (msg == WM_TIMER) fired.push_back(id);
  };
  EXPECT_EQ(0u, SetTimer(nullptr, 0, 5, nullptr));
  const UINT_PTR id = SetTimer(nullptr, 0, 5, proc);
  ASSERT_NE(0u, id);
  MSG m;
  ASSERT_EQ(1, GetMessageA(&m, nullptr, 0, 0));
  EXPECT_EQ(static_cast<UINT>(WM_TIMER), m.message);
  EXPECT_EQ(id, m.wParam);
  EXPECT_TRUE(fired.empty());  // the procedure runs in the dispatch
  DispatchMessageA(&m);
  EXPECT_EQ(std::vector<UINT_PTR>{id}, fired);
  EXPECT_TRUE(KillTimer(nullptr, id));
  EXPECT_FALSE(KillTimer(nullptr, id));

  PostQuitMessage(3);
  EXPECT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(static_cast<UINT>(WM_QUIT), m.message);
  EXPECT_EQ(0, GetMessageA(&m, nullptr, 0, 0));  // still there for GetMessageA
  EXPECT_EQ(3u, m.wParam);
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
}

// ---- windows ---------------------------------------------------------------------

TEST_F(PlatformWindow, TheLockIsTheWindowForEveryProcess) {
  const char *title = "Quillmar - Request Manager";
  EXPECT_EQ(nullptr, FindWindowA(nullptr, title));
  HWND own = CreateWindowA("class", title);
  ASSERT_NE(nullptr, own);
  EXPECT_EQ(own, FindWindowA(nullptr, title));
  EXPECT_EQ(nullptr, CreateWindowA("class", title));  // one window per title
  EXPECT_EQ(0700u, Mode(dir_ / "windows"));
  EXPECT_TRUE(DestroyWindow(own));
  EXPECT_EQ(nullptr, FindWindowA(nullptr, title));

  int up[2], down[2];
  ASSERT_EQ(0, pipe(up));
  ASSERT_EQ(0, pipe(down));
  const pid_t child = fork();
  if (child == 0) {
    const bool made = CreateWindowA(nullptr, title) != nullptr;
    char c = made ? 'y' : 'n';
    (void)!write(up[1], &c, 1);
    (void)!read(down[0], &c, 1);
    _exit(0);  // ends without DestroyWindow: the window goes with the process
  }
  char c = 0;
  ASSERT_EQ(1, read(up[0], &c, 1));
  ASSERT_EQ('y', c);
  HWND other = FindWindowA(nullptr, title);
  EXPECT_NE(nullptr, other);
  EXPECT_FALSE(DestroyWindow(other));  // not ours
  EXPECT_EQ(nullptr, CreateWindowA(nullptr, title));
  (void)!write(down[1], &c, 1);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(nullptr, FindWindowA(nullptr, title));
  EXPECT_EQ(nullptr, FindWindowA(nullptr, "a/b"));
}

// ---- starting programs -------------------------------------------------------------

TEST_F(PlatformExec, TheReadinessPipe) {
  const std::string out = dir_ / "out";
  // Signals: writes the byte, then stays (its pid is noted so the test can end it).
  WriteFile(dir_ / "ready.sh",
            "#!/bin/sh\necho \"$$ $QLM_READY_FD $QLM_RUNDIR\" > \"$1\"\nprintf R >&3\nexec sleep 30\n", 0755);
  // Closes the pipe without the byte and stays: counts as ready too.
  WriteFile(dir_ / "closes.sh", "#!/bin/sh\necho $$ > \"$1\"\nexec 3>&-\nexec sleep 30\n", 0755);
  WriteFile(dir_ / "exits.sh", "#!/bin/sh\nexit 1\n", 0755);
  WriteFile(dir_ / "plain.txt", "not a program\n", 0644);

  EXPECT_LE(32u, WinExec((dir_ / "ready.sh " + out).c_str(), SW_HIDE));
  std::istringstream line(ReadFile(out));
  pid_t pid = 0;
  std::string fd, rundir;
  line >> pid >> fd >> rundir;
  EXPECT_EQ("3", fd);
  EXPECT_EQ(dir_.path(), rundir);
  EXPECT_EQ(nullptr, std::getenv("QLM_READY_FD"));  // the caller's environment is left alone
  EXPECT_EQ(0, kill(pid, SIGTERM));

  EXPECT_LE(32u, WinExec((dir_ / "closes.sh " + out).c_str(), SW_HIDE));
  pid = std::atoi(ReadFile(out).c_str());
  EXPECT_EQ(0, kill(pid, SIGTERM));

  EXPECT_EQ(kExecEndedFirst, WinExec((dir_ / "exits.sh").c_str(), SW_HIDE));
  EXPECT_EQ(2u, WinExec((dir_ / "missing").c_str(), SW_HIDE));
  EXPECT_EQ(5u, WinExec((dir_ / "plain.txt").c_str(), SW_HIDE));
  EXPECT_EQ(2u, WinExec("", SW_HIDE));
}

TEST_F(PlatformExec, ASecondServerWaitsForTheWindowOrTheLock) {
  const char *title = "Quillmar - Request Manager";
  int go[2];
  ASSERT_EQ(0, pipe(go));
  const pid_t child = fork();
  if (child == 0) {
    char c;
    (void)!read(go[0], &c, 1);
    _exit(qlm::AcquireServerLock("qlmrqmgr.lock", title) == qlm::ServerLock::OtherReady ? 0 : 1);
  }
  ASSERT_EQ(qlm::ServerLock::Acquired, qlm::AcquireServerLock("qlmrqmgr.lock", title));
  (void)!write(go[1], "g", 1);
  Sleep(50);  // the other one is waiting for the window now (or soon)
  HWND w = CreateWindowA(nullptr, title);
  ASSERT_NE(nullptr, w);
  int status = -1;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
  DestroyWindow(w);

  // A server that ends lets the lock go without a window: the waiting one takes it.
  int go2[2];
  ASSERT_EQ(0, pipe(go2));
  const pid_t second = fork();
  if (second == 0) {
    qlm::ReleaseServerLock();  // the copy of the parent's descriptor
    char c;
    (void)!read(go2[0], &c, 1);
    _exit(qlm::AcquireServerLock("qlmrqmgr.lock", title) == qlm::ServerLock::Acquired ? 0 : 1);
  }
  (void)!write(go2[1], "g", 1);
  Sleep(50);
  qlm::ReleaseServerLock();
  waitpid(second, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
  EXPECT_EQ(qlm::ServerLock::Acquired, qlm::AcquireServerLock("qlmrqmgr.lock", title));
  qlm::ReleaseServerLock();
}

// ---- run directory -------------------------------------------------------------------

TEST_F(PlatformRunDir, RefusesOpenForeignAndOverlongDirectories) {
  const std::string open = dir_ / "open";
  ASSERT_EQ(0, mkdir(open.c_str(), 0755));
  chmod(open.c_str(), 0755);
  setenv("QLM_RUNDIR", open.c_str(), 1);
  errno = 0;
  EXPECT_EQ(nullptr, qlm::RunDirectory());
  EXPECT_EQ(EACCES, errno);
  DWORD inst = 0;
  DdeInitializeA(&inst, Record<0>, APPCLASS_STANDARD, 0);
  EXPECT_EQ(nullptr, DdeNameService(inst, Hsz(inst, "SRV"), nullptr, DNS_REGISTER));
  EXPECT_EQ(static_cast<UINT>(DMLERR_SYS_ERROR), DdeGetLastError(inst));
  EXPECT_EQ(nullptr, DdeConnect(inst, Hsz(inst, "SRV"), Hsz(inst, "T"), nullptr));
  EXPECT_EQ(nullptr, CreateWindowA(nullptr, "W"));
  EXPECT_EQ(nullptr, FindWindowA(nullptr, "W"));
  EXPECT_GT(32u, WinExec("/bin/true", SW_HIDE));
  DdeUninitialize(inst);

  const std::string foreign = dir_ / "foreign";
  ASSERT_EQ(0, mkdir(foreign.c_str(), 0700));
  if (geteuid() == 0) {
    ASSERT_EQ(0, chown(foreign.c_str(), 4321, 4321));
  }
  setenv("QLM_RUNDIR", geteuid() == 0 ? foreign.c_str() : "/", 1);
  errno = 0;
  EXPECT_EQ(nullptr, qlm::RunDirectory());
  EXPECT_EQ(EPERM, errno);

  setenv("QLM_RUNDIR", (dir_.path() + "/" + std::string(qlm::kMaxRunDirLength, 'x')).c_str(), 1);
  errno = 0;
  EXPECT_EQ(nullptr, qlm::RunDirectory());
  EXPECT_EQ(ENAMETOOLONG, errno);

  const std::string fresh = dir_ / "fresh/";
  setenv("QLM_RUNDIR", fresh.c_str(), 1);
  ASSERT_NE(nullptr, qlm::RunDirectory());
  EXPECT_EQ(dir_ / "fresh", std::string(qlm::RunDirectory()));
  EXPECT_EQ(0700u, Mode(dir_ / "fresh"));
}

TEST_F(PlatformRunDir, TheApplicationsOwnDirectory) {
  unsetenv("QLM_RUNDIR");
  setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
  const std::string base = dir_ / "quillmar";
  const std::string own = base + "/" + std::to_string(getpid());
  // Leftovers: one of a process that ended, one of a live process, one not named by a pid.
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  const std::string dead = base + "/" + std::to_string(gone), live = base + "/" + std::to_string(getppid());
  ASSERT_EQ(0, mkdir(base.c_str(), 0700));
  ASSERT_EQ(0, mkdir(dead.c_str(), 0700));
  WriteFile(dead + "/REQMNGR." + std::to_string(gone) + ".1", "");
  ASSERT_EQ(0, mkdir(live.c_str(), 0700));
  ASSERT_EQ(0, mkdir((base + "/notes").c_str(), 0700));

  ASSERT_EQ(0, qlm::PrepareRunDir());
  EXPECT_EQ(own, std::string(qlm::RunDirectory()));
  EXPECT_EQ(0700u, Mode(base));
  EXPECT_EQ(0700u, Mode(own));
  EXPECT_FALSE(Exists(dead));
  EXPECT_TRUE(Exists(live));
  EXPECT_TRUE(Exists(base + "/notes"));

  // The program started gets the directory in its environment; ours has none.
  WriteFile(dir_ / "env.sh", "#!/bin/sh\necho \"$QLM_RUNDIR\" > \"$1\"\n", 0755);
  WinExec((dir_ / "env.sh " + dir_ / "env.out").c_str(), SW_HIDE);
  EXPECT_TRUE(Eventually([&] { return !ReadFile(dir_ / "env.out").empty(); }));
  EXPECT_EQ(own + "\n", ReadFile(dir_ / "env.out"));
  EXPECT_EQ(nullptr, std::getenv("QLM_RUNDIR"));

  HWND w = CreateWindowA(nullptr, "W");  // files inside go with the directory
  qlm::RemoveRunDir();
  DestroyWindow(w);
  EXPECT_FALSE(Exists(own));
  EXPECT_TRUE(Exists(live));
  unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
