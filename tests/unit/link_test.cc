// The link to the Request Manager: the IPC services between real processes, and the
// ICC client against the scriptable double of the Request Manager (installed as
// <root>/bin/qlmrqmgr of a temporary root, so that iccStart really starts it).
// QLM_WAIT_SCALE_MS=100 makes the link's 15 s and 5 s waits 1.5 s and 0.5 s here.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "common/trace.h"
#include "link/icc.h"
#include "link/ipc.h"
#include "link/process.h"
#include "frames.h"
#include "rmil/message.h"
#include "test_support.h"

namespace {

using namespace qlm::test;
using namespace qlm::ipc;
namespace icc = qlm::icc;

std::string Hex(const std::string &s) {
  std::string out;
  char x[3];
  for (unsigned char c : s) out.append(x, std::snprintf(x, sizeof x, "%02x", c));
  return out;
}
std::string Hex(const Bytes &b) { return Hex(std::string(b.begin(), b.end())); }

// An RMIL message with item 100 (the reference) = `ref`: a request (with item 3000 too),
// or the answer that the script line kReplyLine makes of the request.
Bytes Rmil(const char *ref, bool request) {
  static std::uint8_t buf[qlm::wire::kBufSize];
  qlm::rmil::Message m(buf);
  m.clear();
  m.addRaw(100, ref);
  if (request) m.addRaw(3000, "104");
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

// The data of the next message, received into 3072 bytes (a failure unless that gives 0).
Bytes Next() {
  std::uint8_t buf[3072];
  int length = sizeof buf;
  EXPECT_EQ(0, Receive(buf, &length));
  return Bytes(buf, buf + std::clamp(length, 0, 3072));
}

int Send(const Bytes &b) { return icc::iccSend(b.data(), static_cast<int>(b.size())); }

IpcInit Init(int maxServices = 0) {
  static int anchor;
  IpcInit init{};
  std::strcpy(init.name, "TEST");
  init.maxServices = maxServices;
  init.platformDependentData = &anchor;
  return init;
}

// A temporary installation root with bin/, a run directory, and the wait scale.
class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::mkdir((root_ / "bin").c_str(), 0700);
    ::setenv("QLM_ROOTDIR", root_.path().c_str(), 1);
    ::setenv("QLM_RUNDIR", (root_ / "run").c_str(), 1);
    useDouble(root_.path(), "");
  }
  void TearDown() override {
    for (const std::string &line : Log("start ")) ::kill(std::stoi(line.substr(6)), SIGTERM);  // left running
    qlm::SetTrace(0);
  }

  void InstallDouble(const std::string &script) {
    ASSERT_EQ(0, ::symlink(QLM_DOUBLE_PATH, (root_ / "bin/qlmrqmgr").c_str()));
    spit(root_ / "double.script", script);
  }
  std::vector<std::string> Log(const std::string &prefix) { return doubleLog(root_.path(), prefix); }
  bool Running() { return FindWindowA(nullptr, qlm::wire::kRequestManagerTitle) != nullptr; }
  void End() {
    icc::iccEnd();
    EXPECT_TRUE(eventually([&] { return !Running(); }));
  }
  bool Traced(const std::string &text) { return slurp(root_ / "bin/qlmc32.trc").find(text) != std::string::npos; }

  // ipcGet into `capacity` bytes, waiting `wait` seconds: its code, the seconds waited and the data.
  std::tuple<int, int, std::string> Get(IpcHandle *h, int capacity = 4096, int wait = 0) {
    char buf[4096] = {};
    int length = capacity;
    const int rc = ipcGet(h, buf, &length, &wait);
    return {rc, wait, std::string(buf, static_cast<std::size_t>(std::clamp(length, 0, capacity)))};
  }

  TempDir root_;
};

using Icc = LinkTest;
using Ipc = LinkTest;

// ---- ICC client against the double -----------------------------------------------

TEST_F(Icc, StartsTheServerOnceAndSpeaksTheHandshake) {
  InstallDouble("key 7\nversion RM 6.1 test\n");
  EXPECT_EQ(1, icc::iccIsRMActive());
  ASSERT_EQ(0, icc::iccStart());
  EXPECT_TRUE(Running());
  EXPECT_EQ(0, icc::iccIsRMActive());
  EXPECT_EQ(7, icc::ClientKey());
  EXPECT_EQ(std::string("RM 6.1 test") + std::string(19, '\0'), std::string(icc::RequestManagerVersion(), 30));
  // Init: 53 bytes; bytes 20-23 (after "CAPIAPP" and its NUL) are zero.
  const std::string init = "010000000000000001000000" + Hex(std::string("CAPIAPP\0\0\0\0\0", 12)) +
                           Hex("19990331060100" + std::string(15, '\0'));
  EXPECT_EQ(std::vector<std::string>{"REQMNGRI " + init}, Log("REQMNGRI"));
  EXPECT_EQ(icc::kErrGeneral, icc::iccStart());  // called already

  End();  // End: 12 bytes with the key; the double ends
  EXPECT_EQ("REQMNGRI 010000000700000003000000", Log("REQMNGRI").back());
  EXPECT_EQ(0, ipcState().maxServices);

  // A running Request Manager is used, not started again.
  ASSERT_LE(32u, WinExec((root_ / "bin/qlmrqmgr").c_str(), SW_HIDE));
  ASSERT_EQ(0, icc::iccStart());
  EXPECT_EQ(2u, Log("start").size());
  EXPECT_EQ(3u, Log("REQMNGRI").size());  // Init, End, and the second Init to the same server
  End();
}

TEST_F(Icc, AFailedHandshakeLeavesTheModuleNotStarted) {
  InstallDouble("key 3\ninit refuse\ninit silent\ninit wrongcmd\n");
  // Refused (ClientKey 0); no Init Response in the (scaled) 15 s; a command message
  // that is not an Init Response.
  for (int rc : {icc::kErrGeneral, icc::kErrTimeout, icc::kErrProtocol}) {
    EXPECT_EQ(rc, icc::iccStart());
    EXPECT_EQ(0, icc::ClientKey());
    EXPECT_EQ(0, ipcState().maxServices);
  }
  EXPECT_EQ(0, icc::iccStart());  // the fourth Init is accepted
  EXPECT_EQ(3, icc::ClientKey());
  EXPECT_EQ(4u, Log("REQMNGRI").size());
  EXPECT_EQ(1u, Log("start").size());
  End();
}

TEST_F(Icc, NoProgramOrNoServicesMeansNoLink) {
  // No program in the bin directory: -4, and nothing of the IPC layer was made.
  qlm::SetTrace(1);
  EXPECT_EQ(icc::kErrStart, icc::iccStart());
  EXPECT_EQ(0, ipcState().maxServices);
  EXPECT_TRUE(Traced("csiccpr:") && Traced("Unable to start process!") && Traced("Could not start RM!"));
  qlm::SetTrace(0);

  // A window without services: -20 after the own service was registered and removed again.
  HWND w = CreateWindowA(nullptr, qlm::wire::kRequestManagerTitle, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, w);
  EXPECT_EQ(icc::kErrNoServer, icc::iccStart());
  EXPECT_EQ(0, ipcState().maxServices);
  EXPECT_EQ(std::vector<std::string>{}, listDir(root_ / "run", "CAPIAPP."));
  DestroyWindow(w);

  std::uint8_t byte = 0;
  EXPECT_EQ(icc::kErrStart, icc::iccSend(&byte, 1));  // sending starts the link first
}

TEST_F(Icc, DataMessagesBothWays) {
  InstallDouble(std::string("key 5\n") + "request\n" + kReplyLine +  // a reply carrying the reference
                "request\nicc 7\n" + kReplyLine +                    // a command message first
                "request\nraw 8\n" +                                 // a data message without data
                "request\nraw 108\nraw 40\n" +                       // 100 data bytes, then 32
                "request\nraw 3997\n");                              // longer than the message area
  ASSERT_EQ(0, icc::iccStart());
  const Bytes req = Rmil("42", true);
  ASSERT_EQ(0, Send(req));
  EXPECT_EQ("REQMNGR 0000000005000000" + Hex(req), Log("REQMNGR ").back());
  EXPECT_EQ(Rmil("42", false), Next());
  ASSERT_EQ(0, Send(Rmil("43", true)));
  EXPECT_EQ(Rmil("43", false), Next());  // the command message was consumed on the way
  ASSERT_EQ(0, Send(req));
  EXPECT_EQ(Bytes{}, Next());

  ASSERT_EQ(0, Send(req));
  std::uint8_t buf[4096] = {};
  int length = 50;
  ASSERT_EQ(icc::kErrTruncated, Receive(buf, &length));
  EXPECT_EQ(50, length);
  EXPECT_EQ(std::string("ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVWX", 51),  // nothing beyond 50
            std::string(reinterpret_cast<char *>(buf), 51));
  const std::string next = "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEF";  // the next message, not the rest of the last
  EXPECT_EQ(Bytes(next.begin(), next.end()), Next());
  ASSERT_EQ(0, Send(req));
  length = 3072;
  EXPECT_EQ(icc::kErrTruncated, Receive(buf, &length));

  // Lengths: above 4000 or negative refused by the client, above 3992 by the IPC layer.
  const std::size_t sent = Log("REQMNGR ").size();
  const Bytes big(4001, 'x');
  for (const auto &[length, rc] : {std::pair{4001, icc::kErrStart}, {-1, icc::kErrStart}, {4000, kErrNotAllowed},
                                   {3992, 0}, {0, 0}})
    EXPECT_EQ(rc, icc::iccSend(big.data(), length)) << length;
  const std::vector<std::string> lines = Log("REQMNGR ");
  ASSERT_EQ(sent + 2, lines.size());
  EXPECT_EQ(std::string("REQMNGR ").size() + 2 * 4000, lines[sent].size());
  EXPECT_EQ("REQMNGR 0000000005000000", lines[sent + 1]);
  End();
}

TEST_F(Icc, ASilentOrDyingServer) {
  InstallDouble("request\nsilent\nrequest\ndie\n");
  ASSERT_EQ(0, icc::iccStart());
  std::uint8_t buf[3072];
  int length = sizeof buf;
  const Bytes req = Rmil("1", true);
  ASSERT_EQ(0, Send(req));
  EXPECT_EQ(icc::kErrTimeout, icc::iccReceive(buf, &length));  // one (scaled) 5 s wait
  EXPECT_EQ(0, icc::iccIsRMActive());

  ASSERT_EQ(0, Send(req));
  EXPECT_TRUE(eventually([&] { return icc::iccIsRMActive() == 1; }));
  EXPECT_EQ(icc::kErrNoPartner, icc::iccReceive(buf, &length));
  EXPECT_EQ(icc::kErrNoPartner, Send(req));
  icc::iccEnd();
  EXPECT_EQ(0, ipcState().maxServices);
}

TEST_F(Icc, OnlyTheServersProcessCanAnswer) {
  InstallDouble("request\nsilent\n");
  ASSERT_EQ(0, icc::iccStart());
  const std::string endpoint = endpointOf(root_ / "run", "CAPIAPP");
  ASSERT_FALSE(endpoint.empty());
  // Another process of the user connects to the library's own service, as itself,
  // and pokes a data message that looks like an answer.
  const pid_t other = forked([&] {
    const int fd = rawSocket(endpoint);
    if (rawConnect(fd, "CAPIAPP", "COURIER", static_cast<std::uint32_t>(::getpid()), 5) < 0) return 1;
    sendAll(fd, pokeFrame("COURIER", cat({le32({0, 0}), Rmil("1", false)})));
    ::usleep(300 * 1000);
    return 0;
  });
  ASSERT_EQ(0, Send(Rmil("1", true)));  // the double never answers
  std::uint8_t buf[3072];
  int length = sizeof buf;
  EXPECT_EQ(icc::kErrTimeout, icc::iccReceive(buf, &length));  // nothing taken from the other
  EXPECT_EQ(0, exitStatus(other));
  End();
}

TEST_F(Icc, ProcessNamesAndCommandLine) {
  spit(root_ / "bin/prog", "#!/bin/sh\necho \"$@\" > \"$QLM_RUNDIR/args\"\nprintf R >&3\n", 0755);
  EXPECT_EQ(0, qlm::process::StartProcess("prog", (root_ / "bin").c_str(), "one two"));
  EXPECT_EQ("one two\n", slurp(root_ / "run/args"));
  EXPECT_EQ(0, qlm::process::StartProcess("prog", (root_ / "bin/").c_str(), nullptr));
  EXPECT_EQ("\n", slurp(root_ / "run/args"));
  EXPECT_EQ(qlm::process::kStartFailed, qlm::process::StartProcess("missing", (root_ / "bin").c_str(), ""));

  EXPECT_EQ(0, qlm::process::IsRunning("qlmvnph"));
  HWND w = CreateWindowA(nullptr, qlm::wire::kSessionStatusTitle, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(1, qlm::process::IsRunning("qlmvnph"));
  EXPECT_EQ(0, qlm::process::IsRunning("qlmrqmgr"));
  DestroyWindow(w);
  qlm::SetTrace(1);
  EXPECT_EQ(0, qlm::process::IsRunning("notepad"));
  EXPECT_TRUE(Traced(std::string(46, '?') + "\n")) << slurp(root_ / "bin/qlmc32.trc");
  EXPECT_TRUE(Traced(":MUST MODIFY csiccpr TO HANDLE THIS PROCESS\n"));
  EXPECT_TRUE(Traced(":notepad\n"));
}

// ---- IPC services between two processes ----------------------------------------------

TEST_F(Ipc, TheRingHoldsTenMessagesAndRefusesTheEleventh) {
  Pipe go, results, bye;
  const pid_t child = forked([&] {  // the sender; made before the parent's IPC state exists
    go.take();
    const IpcInit init = Init();
    IpcHandle *h = nullptr;
    const std::vector<char> big(4001, 'b');  // the initializers run in order
    int rc[14] = {ipcCreate(&init), ipcRequestService("IPCTEST", "TOPIC", &h), ipcSend(h, big.data(), 4001),
                  ipcSend(h, big.data(), 4000)};
    for (int i = 1; i <= 10; ++i) {
      const std::string m = "msg-" + std::to_string(i);
      rc[3 + i] = ipcSend(h, m.data(), static_cast<int>(m.size()));
    }
    (void)!::write(results.fd[1], rc, sizeof rc);
    bye.take();
    ipcDeleteService(&h);
    ipcDelete();
    return 0;
  });
  qlm::SetTrace(1);
  const IpcInit init = Init();
  ASSERT_EQ(0, ipcCreate(&init));
  IpcHandle *h = nullptr;
  ASSERT_EQ(0, ipcProvideService("IPCTEST", "TOPIC", &h));
  EXPECT_EQ(kNotConnected, h->serviceStatus);
  go.put();
  pollfd results_in{results.fd[0], POLLIN, 0};
  ASSERT_TRUE(eventually([&] { return ::poll(&results_in, 1, 0) == 1; }));  // pumping serves the pokes
  int rc[14];
  ASSERT_EQ(static_cast<ssize_t>(sizeof rc), ::read(results.fd[0], rc, sizeof rc));
  // Create, request, 4001 bytes refused, 4000 bytes, nine messages, the eleventh poke refused.
  EXPECT_EQ((std::vector<int>{0, 0, kErrNotAllowed, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, kErrGeneral}),
            std::vector<int>(rc, rc + 14));
  EXPECT_TRUE(Traced("Got more data that we can handle!"));

  // The first partner took over the registration handle.
  EXPECT_EQ(kConnected, h->serviceStatus);
  EXPECT_EQ(1, ipcState().numServices);
  EXPECT_EQ(10, h->pServStr->msgCount);

  // A short capacity: filled, -8; the next get delivers the next message.
  EXPECT_EQ(Get(h, 10), std::tuple(kErrTruncated, 0, std::string(10, 'b')));
  for (int i = 1; i <= 9; ++i) EXPECT_EQ(Get(h), std::tuple(0, 0, "msg-" + std::to_string(i)));
  // Empty ring: at once with waitTime 0, nothing delivered; after a wait, the seconds waited.
  EXPECT_EQ(Get(h), std::tuple(kErrTimeout, 0, ""));
  EXPECT_EQ(Get(h, 4096, 2), std::tuple(kErrTimeout, 2, ""));

  // The partner goes: status 1, and gets answer -21.
  bye.put();
  exitStatus(child);
  EXPECT_TRUE(eventually([&] { return h->serviceStatus == kClosed; }));
  EXPECT_EQ(Get(h, 4096, 1), std::tuple(kErrNoPartner, 1, ""));
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

  EXPECT_EQ(kErrNotAllowed, ipcSend(a, "x", 1));  // a server service
  EXPECT_EQ(kErrNoPartner, std::get<0>(Get(a)));
  EXPECT_EQ(kErrGeneral, ipcSend(nullptr, "x", 1));
  IpcHandle stray{};
  EXPECT_EQ(kErrGeneral, std::get<0>(Get(&stray)));
  PostQuitMessage(0);
  EXPECT_EQ(kErrQuit, std::get<0>(Get(a, 16, 1)));

  ipcDeleteService(&b);
  EXPECT_EQ(kErrNoServer, ipcRequestService("NOBODY", "TOPIC", &c));  // nobody provides it
  EXPECT_EQ(nullptr, c);
  EXPECT_EQ(1, ipcState().numServices);
  ipcDeleteService(&a);
  EXPECT_EQ(0, ipcState().numServices);
  EXPECT_TRUE(std::filesystem::is_empty(root_ / "run"));  // every endpoint is gone
  ipcDelete();
  EXPECT_EQ(0, ipcState().maxServices);
}

TEST_F(Ipc, AClientServiceAgainstAPeer) {
  static std::string received;
  static std::uintptr_t answer;
  static HCONV peerConv;
  DWORD peer = 0;
  ASSERT_EQ(DMLERR_NO_ERROR,
            DdeInitializeA(&peer, [](UINT type, UINT, HCONV conv, HSZ, HSZ, HDDEDATA data, ULONG_PTR, ULONG_PTR) {
              if (type == XTYP_CONNECT) return reinterpret_cast<HDDEDATA>(1);
              if (type == XTYP_CONNECT_CONFIRM) peerConv = conv;
              if (type != XTYP_POKE) return static_cast<HDDEDATA>(nullptr);
              received.resize(DdeGetData(data, nullptr, 0, 0));
              DdeGetData(data, reinterpret_cast<LPBYTE>(received.data()), static_cast<DWORD>(received.size()), 0);
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
  EXPECT_EQ(kErrNotAllowed, std::get<0>(Get(h)));
  answer = DDE_FACK;
  EXPECT_EQ(0, ipcSend(h, "hi", 2));
  EXPECT_EQ("hi", received);
  answer = 0;
  EXPECT_EQ(kErrGeneral, ipcSend(h, "no", 2));  // refused poke

  DdeDisconnect(peerConv);  // the partner closes
  EXPECT_TRUE(eventually([&] { return h->serviceStatus == kClosed; }));
  EXPECT_EQ(kErrNoPartner, ipcSend(h, "hi", 2));
  ipcDeleteService(&h);
  ipcDelete();
  DdeUninitialize(peer);
  DdeFreeStringHandle(peer, name);
}

}  // namespace
