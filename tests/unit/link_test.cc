// The link to the Request Manager: the IPC services between real processes, and the
// ICC client against the scriptable double of the Request Manager (installed as
// <root>/bin/qlmrqmgr of a temporary root, so that iccStart really starts it).
//
// QLM_WAIT_SCALE_MS=100 makes one second of the waiting loops 100 ms, so that the
// 15-second and 5-second waits of the link take 1.5 s and 0.5 s here.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/trace.h"
#include "link/icc.h"
#include "link/ipc.h"
#include "link/process.h"
#include "link_fixtures.h"
#include "rmil/message.h"

namespace {

using namespace qlm::testing;
using namespace qlm::ipc;
namespace icc = qlm::icc;
using Bytes = std::vector<std::uint8_t>;

std::string Hex(const std::uint8_t *p, std::size_t n) {
  std::string s;
  char x[3];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(x, sizeof x, "%02x", p[i]);
    s += x;
  }
  return s;
}
std::string Hex(const std::string &s) { return Hex(reinterpret_cast<const std::uint8_t *>(s.data()), s.size()); }

// A temporary installation root with bin/, a run directory, and the wait scale.
class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("QLM_WAIT_SCALE_MS", "100", 1);
    ::mkdir((root_ / "bin").c_str(), 0700);
    ::setenv("QLM_ROOTDIR", root_.path().c_str(), 1);
    ::setenv("QLM_RUNDIR", (root_ / "run").c_str(), 1);
    ::setenv("QLM_DOUBLE_LOG", (root_ / "double.log").c_str(), 1);
    ::setenv("QLM_DOUBLE_SCRIPT", (root_ / "double.script").c_str(), 1);
    ::setenv("QLM_DOUBLE_IDLE_MS", "30000", 1);
  }
  void TearDown() override {
    // A double that a failed test left running is ended by its pid.
    for (const std::string &line : Log("start "))
      ::kill(std::stoi(line.substr(6)), SIGTERM);
    qlm::SetTrace(0);
  }

  void InstallDouble() { ASSERT_EQ(0, ::symlink(QLM_DOUBLE_PATH, (root_ / "bin/qlmrqmgr").c_str())); }
  void Script(const std::string &text) { WriteFile(root_ / "double.script", text); }
  // The double's log lines that begin with `prefix`.
  std::vector<std::string> Log(const std::string &prefix) {
    std::vector<std::string> out;
    std::istringstream in(ReadFile(root_ / "double.log"));
    for (std::string line; std::getline(in, line);)
      if (line.rfind(prefix, 0) == 0) out.push_back(line);
    return out;
  }
  bool Running() { return FindWindowA(nullptr, qlm::process::kRequestManagerTitle) != nullptr; }

  TempDir root_;
};

using Icc = LinkTest;
using Ipc = LinkTest;

// A request whose header holds item 100 (the reference) = `ref`.
Bytes Request(const char *ref) {
  static std::uint8_t buf[qlm::rmil::kBufSize];
  qlm::rmil::Message m(buf);
  m.clear();
  m.addRaw(100, ref);
  m.addRaw(3000, "104");
  m.endSegment();
  return Bytes(buf, buf + m.length());
}

// The answer the script line "reply 000C {len} 0100 0000 0000 {reflen} 6400 {ref} 0000 3100" makes.
Bytes Answer(const char *ref) {
  static std::uint8_t buf[qlm::rmil::kBufSize];
  qlm::rmil::Message m(buf);
  m.clear();
  m.addRaw(100, ref);
  m.endSegment();
  return Bytes(buf, buf + m.length());
}
constexpr const char kReplyLine[] = "reply 000C {len} 0100 0000 0000 {reflen} 6400 {ref} 0000 3100\n";

// iccReceive, waiting again on -7 like the request exchange does (bounded).
int Receive(std::uint8_t *buf, int *length) {
  const int capacity = *length;
  int rc = icc::kErrTimeout;
  for (int i = 0; i < 40 && rc == icc::kErrTimeout; ++i) {
    *length = capacity;
    rc = icc::iccReceive(buf, length);
  }
  return rc;
}

// ---- ICC client against the double -----------------------------------------------

TEST_F(Icc, StartsTheServerOnceAndSpeaksTheHandshake) {
  InstallDouble();
  Script("key 7\nversion RM 6.1 test\n");
  EXPECT_EQ(1, icc::iccIsRMActive());
  ASSERT_EQ(0, icc::iccStart());
  EXPECT_TRUE(Running());
  EXPECT_EQ(0, icc::iccIsRMActive());
  EXPECT_EQ(7, icc::ClientKey());
  EXPECT_EQ(std::string("RM 6.1 test") + std::string(19, '\0'), std::string(icc::RequestManagerVersion(), 30));
  // Init: 53 bytes; bytes 20-23 (after "CAPIAPP" and its NUL) are zero.
  const std::string init = "010000000000000001000000" + Hex(std::string("CAPIAPP\0\0\0\0\0", 12)) +
                           Hex(std::string("19990331060100") + std::string(15, '\0'));
  ASSERT_EQ(106u, init.size());
  EXPECT_EQ(std::vector<std::string>{"REQMNGRI " + init}, Log("REQMNGRI"));
  EXPECT_EQ(icc::kErrGeneral, icc::iccStart());  // called already

  icc::iccEnd();  // End: 12 bytes with the key; the double ends
  EXPECT_EQ("REQMNGRI 010000000700000003000000", Log("REQMNGRI").back());
  EXPECT_TRUE(Eventually([&] { return !Running(); }));
  EXPECT_EQ(0, ipcState().maxServices);
  EXPECT_EQ(1u, Log("start").size());

  // A running Request Manager is used, not started again.
  ASSERT_LE(32u, WinExec((root_ / "bin/qlmrqmgr").c_str(), SW_HIDE));
  ASSERT_EQ(2u, Log("start").size());
  ASSERT_EQ(0, icc::iccStart());
  EXPECT_EQ(2u, Log("start").size());
  EXPECT_EQ(3u, Log("REQMNGRI").size());  // Init, End, and the second Init to the same server
  icc::iccEnd();
  EXPECT_TRUE(Eventually([&] { return !Running(); }));
}

TEST_F(Icc, AFailedHandshakeLeavesTheModuleNotStarted) {
  InstallDouble();
  Script("key 3\ninit refuse\ninit silent\ninit wrongcmd\n");
  EXPECT_EQ(icc::kErrGeneral, icc::iccStart());  // ClientKey 0
  EXPECT_EQ(0, icc::ClientKey());
  EXPECT_EQ(0, ipcState().maxServices);
  EXPECT_EQ(icc::kErrTimeout, icc::iccStart());  // no Init Response in the (scaled) 15 s
  EXPECT_EQ(0, ipcState().maxServices);
  EXPECT_EQ(icc::kErrProtocol, icc::iccStart());  // a command message that is not an Init Response
  EXPECT_EQ(0, ipcState().maxServices);
  EXPECT_TRUE(Running());
  EXPECT_EQ(0, icc::iccStart());  // the fourth Init is accepted
  EXPECT_EQ(3, icc::ClientKey());
  EXPECT_EQ(4u, Log("REQMNGRI").size());
  EXPECT_EQ(1u, Log("start").size());
  icc::iccEnd();
  EXPECT_TRUE(Eventually([&] { return !Running(); }));
}

TEST_F(Icc, NoProgramOrNoServicesMeansNoLink) {
  // No program in the bin directory: -4, and nothing of the IPC layer was made.
  qlm::SetTrace(1);
  EXPECT_EQ(icc::kErrStart, icc::iccStart());
  EXPECT_EQ(0, ipcState().maxServices);
  const std::string trace = ReadFile(root_ / "bin/qlmc32.trc");
  EXPECT_NE(std::string::npos, trace.find("csiccpr:")) << trace;
  EXPECT_NE(std::string::npos, trace.find("Unable to start process!"));
  EXPECT_NE(std::string::npos, trace.find("Could not start RM!"));
  qlm::SetTrace(0);

  // A window without services: -20 after the own service was registered and removed again.
  HWND w = CreateWindowA(nullptr, qlm::process::kRequestManagerTitle);
  ASSERT_NE(nullptr, w);
  EXPECT_EQ(icc::kErrNoServer, icc::iccStart());
  EXPECT_EQ(0, ipcState().maxServices);
  for (const auto &e : std::filesystem::directory_iterator(root_ / "run"))
    EXPECT_NE(0u, e.path().filename().string().rfind("CAPIAPP.", 0)) << e.path();
  DestroyWindow(w);

  // Sending starts the link first, and fails the same way.
  std::uint8_t byte = 0;
  EXPECT_EQ(icc::kErrStart, icc::iccSend(&byte, 1));
}

TEST_F(Icc, DataMessagesBothWays) {
  InstallDouble();
  Script(std::string("key 5\n") +
         "request\n" + kReplyLine +                        // 1: a reply carrying the reference
         "request\nicc 7\n" + kReplyLine +                 // 2: a command message first
         "request\nraw 8\n" +                              // 3: a data message without data
         "request\nraw 108\nraw 40\n" +                    // 4: 100 data bytes, then 32
         "request\nraw 3997\n");                           // 5: longer than the message area
  ASSERT_EQ(0, icc::iccStart());
  std::uint8_t buf[4096];
  int length;

  const Bytes req = Request("42");
  ASSERT_EQ(0, icc::iccSend(req.data(), static_cast<int>(req.size())));
  EXPECT_EQ("REQMNGR 0000000005000000" + Hex(req.data(), req.size()), Log("REQMNGR ").back());
  length = 3072;
  ASSERT_EQ(0, Receive(buf, &length));
  EXPECT_EQ(Answer("42"), Bytes(buf, buf + length));

  const Bytes req2 = Request("43");
  ASSERT_EQ(0, icc::iccSend(req2.data(), static_cast<int>(req2.size())));
  length = 3072;
  ASSERT_EQ(0, Receive(buf, &length));  // the command message was consumed on the way
  EXPECT_EQ(Answer("43"), Bytes(buf, buf + length));

  ASSERT_EQ(0, icc::iccSend(req.data(), static_cast<int>(req.size())));
  length = 3072;
  ASSERT_EQ(0, Receive(buf, &length));
  EXPECT_EQ(0, length);

  ASSERT_EQ(0, icc::iccSend(req.data(), static_cast<int>(req.size())));
  length = 50;
  std::memset(buf, 0, sizeof buf);
  ASSERT_EQ(icc::kErrTruncated, Receive(buf, &length));
  EXPECT_EQ(50, length);
  EXPECT_EQ(0, std::memcmp(buf, "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVWX", 50));
  EXPECT_EQ(0, buf[50]);  // nothing beyond the capacity
  length = 3072;
  ASSERT_EQ(0, Receive(buf, &length));  // the next message, not the rest of the last one
  EXPECT_EQ(32, length);
  EXPECT_EQ('A', buf[0]);

  ASSERT_EQ(0, icc::iccSend(req.data(), static_cast<int>(req.size())));
  length = 3072;
  EXPECT_EQ(icc::kErrTruncated, Receive(buf, &length));

  // Lengths: above 4000 or negative refused by the client, above 3992 by the IPC layer.
  const std::size_t sent = Log("REQMNGR ").size();
  std::vector<std::uint8_t> big(4001, 'x');
  EXPECT_EQ(icc::kErrStart, icc::iccSend(big.data(), 4001));
  EXPECT_EQ(icc::kErrStart, icc::iccSend(big.data(), -1));
  EXPECT_EQ(kErrNotAllowed, icc::iccSend(big.data(), 4000));
  EXPECT_EQ(sent, Log("REQMNGR ").size());
  EXPECT_EQ(0, icc::iccSend(big.data(), 3992));
  EXPECT_EQ(0, icc::iccSend(big.data(), 0));
  const std::vector<std::string> lines = Log("REQMNGR ");
  ASSERT_EQ(sent + 2, lines.size());
  EXPECT_EQ(std::string("REQMNGR ").size() + 2 * 4000, lines[sent].size());
  EXPECT_EQ("REQMNGR 0000000005000000", lines[sent + 1]);
  icc::iccEnd();
  EXPECT_TRUE(Eventually([&] { return !Running(); }));
}

TEST_F(Icc, ASilentOrDyingServer) {
  InstallDouble();
  Script("request\nsilent\nrequest\ndie\n");
  ASSERT_EQ(0, icc::iccStart());
  std::uint8_t buf[3072];
  int length = sizeof buf;
  const Bytes req = Request("1");
  ASSERT_EQ(0, icc::iccSend(req.data(), static_cast<int>(req.size())));
  EXPECT_EQ(icc::kErrTimeout, icc::iccReceive(buf, &length));  // one (scaled) 5 s wait
  EXPECT_EQ(0, icc::iccIsRMActive());

  ASSERT_EQ(0, icc::iccSend(req.data(), static_cast<int>(req.size())));
  EXPECT_TRUE(Eventually([&] { return icc::iccIsRMActive() == 1; }));
  length = sizeof buf;
  EXPECT_EQ(icc::kErrNoPartner, icc::iccReceive(buf, &length));
  EXPECT_EQ(icc::kErrNoPartner, icc::iccSend(req.data(), static_cast<int>(req.size())));
  icc::iccEnd();
  EXPECT_EQ(0, ipcState().maxServices);
}

TEST_F(Icc, ProcessNamesAndCommandLine) {
  WriteFile(root_ / "bin/prog", "#!/bin/sh\necho \"$@\" > \"$QLM_RUNDIR/args\"\nprintf R >&3\n", 0755);
  EXPECT_EQ(0, qlm::process::StartProcess("prog", (root_ / "bin").c_str(), "one two"));
  EXPECT_EQ("one two\n", ReadFile(root_ / "run/args"));
  EXPECT_EQ(0, qlm::process::StartProcess("prog", (root_ / "bin/").c_str(), nullptr));
  EXPECT_EQ("\n", ReadFile(root_ / "run/args"));
  EXPECT_EQ(qlm::process::kStartFailed, qlm::process::StartProcess("missing", (root_ / "bin").c_str(), ""));

  EXPECT_EQ(0, qlm::process::IsRunning("qlmvnph"));
  HWND w = CreateWindowA(nullptr, qlm::process::kSessionStatusTitle);
  EXPECT_EQ(1, qlm::process::IsRunning("qlmvnph"));
  EXPECT_EQ(0, qlm::process::IsRunning("qlmrqmgr"));
  DestroyWindow(w);
  qlm::SetTrace(1);
  EXPECT_EQ(0, qlm::process::IsRunning("notepad"));
  const std::string trace = ReadFile(root_ / "bin/qlmc32.trc");
  const std::string marks(46, '?');
  EXPECT_NE(std::string::npos,
            trace.find(marks + "\n")) << trace;
  EXPECT_NE(std::string::npos, trace.find(":MUST MODIFY csiccpr TO HANDLE THIS PROCESS\n"));
  EXPECT_NE(std::string::npos, trace.find(":notepad\n"));
}

// ---- IPC services between two processes ----------------------------------------------

IpcInit Init(int maxServices = 0, int maxMessages = 0) {
  static int anchor;
  IpcInit init{};
  std::strcpy(init.name, "TEST");
  init.maxServices = maxServices;
  init.maxMessages = maxMessages;
  init.platformDependentData = &anchor;
  return init;
}

TEST_F(Ipc, TheRingHoldsTenMessagesAndRefusesTheEleventh) {
  int go[2], results[2], bye[2];
  ASSERT_EQ(0, pipe(go));
  ASSERT_EQ(0, pipe(results));
  ASSERT_EQ(0, pipe(bye));
  const pid_t child = fork();
  if (child == 0) {  // the sender; made before the parent's IPC state exists
    char c;
    (void)!read(go[0], &c, 1);
    const IpcInit init = Init();
    IpcHandle *h = nullptr;
    int rc[14] = {ipcCreate(&init), ipcRequestService("IPCTEST", "TOPIC", &h)};
    std::vector<char> big(4001, 'b');
    rc[2] = ipcSend(h, big.data(), 4001);
    rc[3] = ipcSend(h, big.data(), 4000);
    for (int i = 1; i <= 10; ++i) {
      const std::string m = "msg-" + std::to_string(i);
      rc[3 + i] = ipcSend(h, m.data(), static_cast<int>(m.size()));
    }
    (void)!write(results[1], rc, sizeof rc);
    (void)!read(bye[0], &c, 1);
    ipcDeleteService(&h);
    ipcDelete();
    _exit(0);
  }
  qlm::SetTrace(1);
  const IpcInit init = Init();
  ASSERT_EQ(0, ipcCreate(&init));
  IpcHandle *h = nullptr;
  ASSERT_EQ(0, ipcProvideService("IPCTEST", "TOPIC", &h));
  EXPECT_EQ(kNotConnected, h->serviceStatus);
  (void)!write(go[1], "g", 1);
  int rc[14];
  pollfd p{results[0], POLLIN, 0};
  ASSERT_TRUE(Eventually([&] { return poll(&p, 1, 0) == 1; }));
  ASSERT_EQ(static_cast<ssize_t>(sizeof rc), read(results[0], rc, sizeof rc));
  EXPECT_EQ(0, rc[0]);
  EXPECT_EQ(0, rc[1]);
  EXPECT_EQ(kErrNotAllowed, rc[2]);  // 4001 bytes
  EXPECT_EQ(0, rc[3]);               // 4000 bytes
  for (int i = 4; i <= 12; ++i) EXPECT_EQ(0, rc[i]) << i;
  EXPECT_EQ(kErrGeneral, rc[13]);    // the eleventh poke: refused
  EXPECT_NE(std::string::npos, ReadFile(root_ / "bin/qlmc32.trc").find("Got more data that we can handle!"));

  // The first partner took over the registration handle.
  EXPECT_EQ(kConnected, h->serviceStatus);
  EXPECT_EQ(1, ipcState().numServices);
  EXPECT_EQ(10, h->pServStr->msgCount);

  // A short capacity: filled, -8; the next get delivers the next message.
  char buf[4096] = {};
  int length = 10, wait = 0;
  EXPECT_EQ(kErrTruncated, ipcGet(h, buf, &length, &wait));
  EXPECT_EQ(10, length);
  EXPECT_EQ(std::string(10, 'b'), std::string(buf, 10));
  for (int i = 1; i <= 9; ++i) {
    length = sizeof buf;
    wait = 0;
    ASSERT_EQ(0, ipcGet(h, buf, &length, &wait));
    EXPECT_EQ("msg-" + std::to_string(i), std::string(buf, static_cast<std::size_t>(length)));
  }
  // Empty ring: at once with waitTime 0; after a wait, the seconds waited.
  length = sizeof buf;
  wait = 0;
  EXPECT_EQ(kErrTimeout, ipcGet(h, buf, &length, &wait));
  EXPECT_EQ(0, wait);
  EXPECT_EQ(0, length);
  length = sizeof buf;
  wait = 2;
  EXPECT_EQ(kErrTimeout, ipcGet(h, buf, &length, &wait));
  EXPECT_EQ(2, wait);

  // The partner goes: status 1, and gets answer -21.
  (void)!write(bye[1], "b", 1);
  waitpid(child, nullptr, 0);
  EXPECT_TRUE(Eventually([&] { return h->serviceStatus == kClosed; }));
  length = sizeof buf;
  wait = 1;
  EXPECT_EQ(kErrNoPartner, ipcGet(h, buf, &length, &wait));
  EXPECT_EQ(1, wait);
  ipcDeleteService(&h);
  EXPECT_EQ(nullptr, h);
  EXPECT_EQ(0, ipcState().numServices);
  ipcDelete();
}

TEST_F(Ipc, TableNamesAndStates) {
  EXPECT_EQ(kErrGeneral, ipcCreate(nullptr));
  IpcInit bad = Init();
  bad.platformDependentData = nullptr;
  EXPECT_EQ(kErrGeneral, ipcCreate(&bad));
  EXPECT_EQ(0, ipcState().maxServices);
  const IpcInit init = Init(2);
  ASSERT_EQ(0, ipcCreate(&init));
  EXPECT_EQ(kErrGeneral, ipcCreate(&init));
  EXPECT_EQ(kDefaultMessages, ipcState().maxMessages);

  IpcHandle *a = nullptr, *b = nullptr, *c = nullptr;
  ASSERT_EQ(0, ipcProvideService("SVCA", "TOPIC", &a));
  EXPECT_EQ(nullptr, a->hConvApp);
  EXPECT_EQ(kErrGeneral, ipcProvideService("SVCA", "TOPIC", &c));  // the pair exists
  EXPECT_EQ(nullptr, c);
  EXPECT_EQ(kErrGeneral, ipcProvideService("NINECHARS", "TOPIC", &c));
  ASSERT_EQ(0, ipcProvideService("SVCB", "TOPIC", &b));
  EXPECT_EQ(kErrGeneral, ipcProvideService("SVCC", "TOPIC", &c));  // table full
  EXPECT_EQ(kErrGeneral, ipcRequestService("SVCC", "TOPIC", &c));
  EXPECT_EQ(2, ipcState().numServices);

  char buf[16];
  int length = sizeof buf, wait = 0;
  EXPECT_EQ(kErrNotAllowed, ipcSend(a, "x", 1));  // a server service
  EXPECT_EQ(kErrNoPartner, ipcGet(a, buf, &length, &wait));
  EXPECT_EQ(kErrGeneral, ipcSend(nullptr, "x", 1));
  IpcHandle stray{};
  EXPECT_EQ(kErrGeneral, ipcGet(&stray, buf, &length, &wait));
  PostQuitMessage(0);
  wait = 1;
  EXPECT_EQ(kErrQuit, ipcGet(a, buf, &length, &wait));

  ipcDeleteService(&b);
  EXPECT_EQ(kErrNoServer, ipcRequestService("NOBODY", "TOPIC", &c));  // nobody provides it
  EXPECT_EQ(nullptr, c);
  EXPECT_EQ(1, ipcState().numServices);
  ipcDeleteService(&a);
  EXPECT_EQ(0, ipcState().numServices);
  for (const auto &e : std::filesystem::directory_iterator(root_ / "run"))
    ADD_FAILURE() << "left behind: " << e.path();
  ipcDelete();
  EXPECT_EQ(0, ipcState().maxServices);
}

TEST_F(Ipc, AClientServiceAgainstAPeer) {
  static Bytes received;
  static std::uintptr_t answer;
  static HCONV peerConv;
  received.clear();
  answer = DDE_FACK;
  DWORD peer = 0;
  ASSERT_EQ(DMLERR_NO_ERROR,
            DdeInitializeA(&peer, [](UINT type, UINT, HCONV conv, HSZ, HSZ, HDDEDATA data, ULONG_PTR, ULONG_PTR) {
              if (type == XTYP_CONNECT) return reinterpret_cast<HDDEDATA>(1);
              if (type == XTYP_CONNECT_CONFIRM) peerConv = conv;
              if (type != XTYP_POKE) return static_cast<HDDEDATA>(nullptr);
              received.resize(DdeGetData(data, nullptr, 0, 0));
              DdeGetData(data, received.data(), static_cast<DWORD>(received.size()), 0);
              return reinterpret_cast<HDDEDATA>(answer);
            }, APPCLASS_STANDARD, 0));
  HSZ name = DdeCreateStringHandleA(peer, "PEER", CP_WINANSI);
  ASSERT_NE(nullptr, DdeNameService(peer, name, nullptr, DNS_REGISTER));

  const IpcInit init = Init();
  ASSERT_EQ(0, ipcCreate(&init));
  IpcHandle *h = nullptr;
  ASSERT_EQ(0, ipcRequestService("PEER", "TOPIC", &h));
  EXPECT_EQ(kConnected, h->serviceStatus);
  EXPECT_EQ('C', h->pServStr->serviceType);
  char buf[8];
  int length = sizeof buf, wait = 0;
  EXPECT_EQ(kErrNotAllowed, ipcGet(h, buf, &length, &wait));
  EXPECT_EQ(0, ipcSend(h, "hi", 2));
  EXPECT_EQ((Bytes{'h', 'i'}), received);
  answer = 0;
  EXPECT_EQ(kErrGeneral, ipcSend(h, "no", 2));  // refused poke
  answer = DDE_FACK;

  DdeDisconnect(peerConv);  // the partner closes
  EXPECT_TRUE(Eventually([&] { return h->serviceStatus == kClosed; }));
  EXPECT_EQ(kErrNoPartner, ipcSend(h, "hi", 2));
  ipcDeleteService(&h);
  ipcDelete();
  DdeUninitialize(peer);
  DdeFreeStringHandle(peer, name);
}

}  // namespace
