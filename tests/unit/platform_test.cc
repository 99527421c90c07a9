// The POSIX stand-ins of the platform layer: the conversation frames byte for byte,
// the order of events, connecting, refused / busy / unanswered pokes, the message
// pump, window locks, the readiness pipe, the server lock and the run directory.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "frames.h"
#include "platform/windows.h"
#include "test_support.h"

namespace {

using namespace qlm::test;

// A raw peer's send; a failed one fails the test.
void Send(int fd, const Buf &b) { ASSERT_EQ(static_cast<ssize_t>(b.size()), ::send(fd, b.data(), b.size(), 0)); }
Buf Poke(const char *item, const char *data, std::uint32_t length) { return pokeFrame(item, text(data), length); }

// The name of a handle, in upper case.
std::string Name(HSZ h) {
  char buf[64] = {};
  DdeQueryStringA(0, h, buf, sizeof buf, CP_WINANSI);
  std::transform(buf, buf + sizeof buf, buf, [](char c) { return static_cast<char>(std::toupper(c)); });
  return buf;
}

// "<pid>.<instance>" of a conversation's partner.
std::string Partner(HCONV conv) {
  DWORD pid = 0, number = 0;
  return qlm::ConversationPartner(conv, &pid, &number) ? std::to_string(pid) + "." + std::to_string(number) : "none";
}

int LastError(DWORD inst) { return static_cast<int>(DdeGetLastError(inst)); }

// ---- a recording server callback -------------------------------------------------

// The answers are set by the test. Recorder N is the one callback Record<N> writes to.
struct Recorder;
Recorder *g_rec[3];
struct Recorder {
  explicit Recorder(int n) { g_rec[n] = this; }
  std::string seen;      // "<event> <name1> <name2> <data>;" for each event
  HCONV conv = nullptr;  // of the last event
  bool acceptConnect = true;
  std::uintptr_t pokeResult = DDE_FACK;
  int rawPeer = -1;         // when set, CONFIRM notes whether the CONNECT_REPLY is already there
  bool replyFirst = false;  // what it noted
  // What the events waiting now were; forgotten afterwards.
  std::string take() {
    drain();
    return std::exchange(seen, "");
  }
};

template <int N>
HDDEDATA Record(UINT type, UINT, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data, ULONG_PTR, ULONG_PTR) {
  static const std::map<UINT, std::string> kEvents = {{XTYP_CONNECT, "connect"}, {XTYP_CONNECT_CONFIRM, "confirm"},
                                                      {XTYP_POKE, "poke"}, {XTYP_EXECUTE, "execute"},
                                                      {XTYP_DISCONNECT, "disconnect"}};
  Recorder &r = *g_rec[N];
  std::string bytes(data != nullptr ? DdeGetData(data, nullptr, 0, 0) : 0, '\0');
  DdeGetData(data, reinterpret_cast<LPBYTE>(bytes.data()), static_cast<DWORD>(bytes.size()), 0);
  r.seen += kEvents.at(type) + " " + Name(hsz1) + " " + Name(hsz2) + " " + bytes + ";";
  r.conv = conv;
  std::uint8_t b[8];
  if (type == XTYP_CONNECT_CONFIRM && r.rawPeer >= 0)
    r.replyFirst = ::recv(r.rawPeer, b, sizeof b, MSG_PEEK | MSG_DONTWAIT) == 8;
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
  void TearDown() override { ::unsetenv("QLM_RUNDIR"); }

  DWORD NewInstance(PFNCALLBACK cb) {
    DWORD id = 0;
    EXPECT_EQ(DMLERR_NO_ERROR, DdeInitializeA(&id, cb, APPCLASS_STANDARD, 0));
    return id;
  }
  HSZ Hsz(DWORD inst, const char *s) { return DdeCreateStringHandleA(inst, s, CP_WINANSI); }
  // The endpoint names "<prefix>.*" in the run directory, sorted.
  std::vector<std::string> Endpoints(const std::string &prefix) { return listDir(dir_.path(), prefix + "."); }

  TempDir dir_;
};

using PlatformDde = PlatformTest;
using PlatformPump = PlatformTest;
using PlatformWindow = PlatformTest;
using PlatformExec = PlatformTest;
using PlatformRunDir = PlatformTest;

constexpr const char kTitle[] = "Quillmar - Request Manager";

// ---- DDE -------------------------------------------------------------------------

TEST_F(PlatformDde, ServerSideFramesAndOrderOfEvents) {
  Recorder rec{0};
  const DWORD inst = NewInstance(Record<0>);
  ASSERT_NE(nullptr, DdeNameService(inst, Hsz(inst, "Srv1"), nullptr, DNS_REGISTER));
  const std::vector<std::string> eps = Endpoints("SRV1");
  ASSERT_EQ(1u, eps.size());  // upper case on disk, <SERVICE>.<pid>.<n>
  EXPECT_EQ(0u, eps[0].find("SRV1." + std::to_string(::getpid()) + "."));

  // Accepted: XTYP_CONNECT (topic, service), CONNECT_REPLY 1, then CONFIRM.
  const int peer = rawSocket(dir_ / eps[0], false);
  rec.rawPeer = peer;
  const std::uint32_t self = static_cast<std::uint32_t>(::getpid());
  Send(peer, connectFrame("srv1", "Topic", self, 7));
  EXPECT_EQ("connect TOPIC SRV1 ;confirm TOPIC SRV1 ;", rec.take());
  EXPECT_TRUE(rec.replyFirst);
  const HCONV conv = rec.conv;
  EXPECT_EQ(std::to_string(self) + ".7", Partner(conv));
  EXPECT_EQ(replyFrame(1), receiveFrame(peer));

  // POKE: the callback's result becomes the ACK status (accepted, busy, refused).
  const std::pair<std::uintptr_t, std::uint32_t> answers[] = {{DDE_FACK, 0x8000}, {DDE_FBUSY, 0x4000}, {0, 0}};
  for (auto [result, status] : answers) {
    rec.pokeResult = result;
    Send(peer, Poke("TOPIC", "hello", 5));
    EXPECT_EQ("poke TOPIC TOPIC hello;", rec.take());
    EXPECT_EQ(conv, rec.conv);
    EXPECT_EQ(ackFrame(status), receiveFrame(peer));
  }

  // EXECUTE carries the command; a POKE whose length field lies is refused unheard.
  rec.pokeResult = DDE_FACK;
  Send(peer, executeFrame("[go]"));
  Send(peer, Poke("TOPIC", "hello", 9));
  EXPECT_EQ("execute TOPIC  [go];", rec.take());
  EXPECT_EQ(ackFrame(0x8000), receiveFrame(peer));
  EXPECT_EQ(ackFrame(0), receiveFrame(peer));

  ::close(peer);  // the partner closes: XTYP_DISCONNECT for the conversation
  EXPECT_EQ("disconnect   ;", rec.take());
  EXPECT_EQ(conv, rec.conv);

  // Refused: CONNECT_REPLY 0, the server closes, no CONFIRM.
  rec.acceptConnect = false;
  rec.rawPeer = -1;
  const int refused = rawSocket(dir_ / eps[0], false);
  Send(refused, connectFrame("SRV1", "TOPIC", self, 1));
  EXPECT_EQ("connect TOPIC SRV1 ;", rec.take());
  EXPECT_EQ(replyFrame(0), receiveFrame(refused));
  EXPECT_TRUE(receiveFrame(refused).empty());  // closed
  ::close(refused);

  EXPECT_NE(nullptr, DdeNameService(inst, Hsz(inst, "SRV1"), nullptr, DNS_UNREGISTER));
  EXPECT_TRUE(Endpoints("SRV1").empty());  // unlinked
  DdeUninitialize(inst);
}

TEST_F(PlatformDde, ClientFramesAndAcknowledgements) {
  // A raw server: records every frame and answers: CONNECT accepted, POKE accepted,
  // EXECUTE refused, POKE busy, POKE not answered in time, POKE answered after the
  // late refusal of the previous one.
  const std::string pid = std::to_string(::getpid());
  const int listener = rawSocket(dir_ / ("RAW." + pid + ".3"), true);
  std::vector<Buf> frames;
  std::thread server([&] {
    const int fd = ::accept(listener, nullptr, nullptr);
    const std::vector<std::vector<Buf>> answers = {{replyFrame(1)}, {ackFrame(0x8000)}, {ackFrame(0)},
                                                     {ackFrame(0x4000)}, {}, {ackFrame(0), ackFrame(0x8000)}};
    for (const std::vector<Buf> &replies : answers) {
      frames.push_back(receiveFrame(fd));
      for (const Buf &a : replies) Send(fd, a);
    }
    receiveFrame(fd);  // waits for the client to close
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
  EXPECT_EQ(pid + ".3", Partner(conv));

  const HSZ item = Hsz(inst, "topic");
  BYTE abc[] = {'a', 'b', 'c'}, cmd[] = {'[', 'x', ']'};
  DWORD result = 0;
  EXPECT_NE(nullptr, DdeClientTransaction(abc, 3, conv, item, CF_TEXT, XTYP_POKE, 5000, &result));
  EXPECT_EQ(0x8000u, result);
  EXPECT_EQ(nullptr, DdeClientTransaction(cmd, 3, conv, nullptr, 0, XTYP_EXECUTE, 5000, &result));
  EXPECT_EQ(DMLERR_NOTPROCESSED, LastError(inst));
  EXPECT_EQ(nullptr, DdeClientTransaction(abc, 3, conv, item, CF_TEXT, XTYP_POKE, 5000, &result));
  EXPECT_EQ(DMLERR_BUSY, LastError(inst));
  EXPECT_EQ(DMLERR_NO_ERROR, LastError(inst));  // reading resets it
  EXPECT_EQ(nullptr, DdeClientTransaction(abc, 3, conv, item, CF_TEXT, XTYP_POKE, 100, &result));
  EXPECT_EQ(DMLERR_POKEACKTIMEOUT, LastError(inst));
  // A data handle is consumed by the transaction; the late ACK above is not taken for this one.
  HDDEDATA h = DdeCreateDataHandle(inst, abc, 3, 0, item, CF_TEXT, 0);
  EXPECT_NE(nullptr, DdeClientTransaction(reinterpret_cast<LPBYTE>(h), 0xFFFFFFFF, conv, item, CF_TEXT,
                                          XTYP_POKE, 5000, &result));
  EXPECT_TRUE(DdeDisconnect(conv));
  server.join();
  ::close(listener);
  EXPECT_EQ(0, disconnects);  // the instance's own disconnect is not reported to it

  const Buf poke = Poke("TOPIC", "abc", 3);
  const std::uint16_t token = tokenOf(frames.at(0));  // the conversation's own
  EXPECT_NE(0, token);
  EXPECT_EQ((std::vector<Buf>{connectFrame("RAW", "TOPIC", static_cast<std::uint32_t>(::getpid()), inst, token), poke,
                              executeFrame("[x]"), poke, poke, poke}),
            frames);
  DdeUninitialize(inst);
}

TEST_F(PlatformDde, AnAckInsideThePartnersPokeEndsTheWaitForIt) {
  // A raw server (instance 6 of this process) that answers a POKE with a POKE to the
  // client's instance that carries the POKE's ACK; then the same from a connection
  // that claims another instance, whose ACK is not taken.
  static int pokes;
  pokes = 0;
  const DWORD inst = NewInstance([](UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) -> HDDEDATA {
    pokes += type == XTYP_POKE;
    return reinterpret_cast<HDDEDATA>(static_cast<std::uintptr_t>(type == XTYP_CONNECT || type == XTYP_POKE ? DDE_FACK : 0));
  });
  ASSERT_NE(nullptr, DdeNameService(inst, Hsz(inst, "BACK"), nullptr, DNS_REGISTER));
  const auto pid = static_cast<std::uint32_t>(::getpid());
  const std::string name = "RAWC." + std::to_string(pid) + ".6";
  const int listener = rawSocket(dir_ / name, true);
  std::vector<Buf> acks;
  std::thread server([&] {
    const int fd = ::accept(listener, nullptr, nullptr);
    const Buf connect = receiveFrame(fd);
    const std::uint16_t token = tokenOf(connect);
    Send(fd, replyFrame(1));
    for (std::uint32_t instance : {6u, 8u}) {
      receiveFrame(fd);  // the client's POKE
      const int back = rawSocket(dir_ / Endpoints("BACK")[0], false);
      rawConnect(back, "BACK", "T", pid, instance);
      Send(back, pokeFrame("T", text("answer"), -1, token));
      acks.push_back(receiveFrame(back));  // the ACK of the POKE itself
      ::close(back);
    }
    receiveFrame(fd);  // waits for the client to close
    ::close(fd);
  });
  const HCONV conv = DdeConnect(inst, Hsz(inst, name.c_str()), Hsz(inst, "T"), nullptr);
  ASSERT_NE(nullptr, conv);
  BYTE q[] = {'q'};
  DWORD result = 0;
  EXPECT_NE(nullptr, DdeClientTransaction(q, 1, conv, Hsz(inst, "T"), CF_TEXT, XTYP_POKE, 5000, &result));
  EXPECT_EQ(0x8000u, result);
  EXPECT_EQ(nullptr, DdeClientTransaction(q, 1, conv, Hsz(inst, "T"), CF_TEXT, XTYP_POKE, 300, &result));
  EXPECT_EQ(DMLERR_POKEACKTIMEOUT, LastError(inst));
  EXPECT_TRUE(DdeDisconnect(conv));
  server.join();
  ::close(listener);
  EXPECT_EQ(2, pokes);
  EXPECT_EQ((std::vector<Buf>{ackFrame(0x8000), ackFrame(0x8000)}), acks);
  DdeUninitialize(inst);
}

TEST_F(PlatformDde, AsynchronousTransactionsAndTheLimitsOfAPartner) {
  static std::vector<std::string> events;
  events.clear();
  const DWORD inst = NewInstance([](UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA data, ULONG_PTR d1,
                                    ULONG_PTR d2) -> HDDEDATA {
    if (type == XTYP_XACT_COMPLETE)
      events.push_back("complete " + std::to_string(d1) + " " + std::to_string(d2) + (data ? " ok" : " no"));
    if (type == XTYP_DISCONNECT) events.push_back("disconnect " + std::to_string(d1));
    if (type == XTYP_CONNECT) return reinterpret_cast<HDDEDATA>(std::uintptr_t{1});
    return nullptr;
  });
  const std::string pid = std::to_string(::getpid());
  const int listener = rawSocket(dir_ / ("RAWA." + pid + ".4"), true);
  const HSZ item = Hsz(inst, "T");
  const HCONV conv = qlm::ConnectNoWait(inst, Hsz(inst, ("RAWA." + pid + ".4").c_str()), item);
  ASSERT_NE(nullptr, conv);
  // Transactions queued before the reply go out once it accepts, in order.
  BYTE x[] = {'x'};
  DWORD ids[12] = {};
  for (DWORD &id : ids) ASSERT_NE(nullptr, DdeClientTransaction(x, 1, conv, item, CF_TEXT, XTYP_POKE, TIMEOUT_ASYNC, &id));
  const int peer = ::accept(listener, nullptr, nullptr);
  EXPECT_EQ(32u, receiveFrame(peer).size());  // CONNECT
  Send(peer, replyFrame(1));
  drain();
  // At most 8 are sent before their ACKs come.
  int sent = 0;
  for (std::uint8_t b[64]; ::recv(peer, b, sizeof b, MSG_DONTWAIT) > 0;) ++sent;
  EXPECT_EQ(8, sent);
  Send(peer, ackFrame(0x8000));
  Send(peer, ackFrame(0));
  drain();
  const std::string first = std::to_string(ids[0]), second = std::to_string(ids[1]);
  EXPECT_EQ((std::vector<std::string>{"complete " + first + " 32768 ok", "complete " + second + " 0 no"}), events);
  for (std::uint8_t b[64]; ::recv(peer, b, sizeof b, MSG_DONTWAIT) > 0;) ++sent;
  EXPECT_EQ(10, sent);  // two more went as two ACKs came
  // No further ACK within the time limit: the conversation is ended, and said why.
  EXPECT_TRUE(eventually([] { return !events.empty() && events.back().rfind("disconnect", 0) == 0; }, 8000));
  EXPECT_EQ("disconnect " + std::to_string(kDropNoAck), events.back());
  std::uint8_t b[64];
  ::recv(peer, b, sizeof b, 0);  // the rest of what was sent, then the end
  EXPECT_EQ(0, ::recv(peer, b, sizeof b, 0));
  ::close(peer);

  // A refused reply ends a conversation opened without waiting.
  const HCONV refused = qlm::ConnectNoWait(inst, Hsz(inst, ("RAWA." + pid + ".4").c_str()), item);
  const int peer2 = ::accept(listener, nullptr, nullptr);
  receiveFrame(peer2);
  Send(peer2, replyFrame(0));
  EXPECT_TRUE(eventually([] { return events.back() == "disconnect " + std::to_string(kDropRefused); }));
  EXPECT_FALSE(DdeDisconnect(refused));  // gone already
  ::close(peer2);
  ::close(listener);

  // The other end: a connection that never says CONNECT is closed after its time limit.
  ASSERT_NE(nullptr, DdeNameService(inst, Hsz(inst, "QUIET"), nullptr, DNS_REGISTER));
  const int silent = rawSocket(dir_ / Endpoints("QUIET")[0], false);
  EXPECT_TRUE(eventually([&] { return ::recv(silent, b, sizeof b, MSG_DONTWAIT) == 0; }, 5000));
  ::close(silent);
  DdeUninitialize(inst);
}

TEST_F(PlatformDde, BatchedAcksWakeNobodyForAnAckAlone) {
  // A server instance that batches its ACKs (qlm::BatchAcks), a raw client of it, and
  // a raw partner that its asynchronous pokes go to.
  static std::string events;
  events.clear();
  const DWORD inst = NewInstance([](UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR d1, ULONG_PTR) -> HDDEDATA {
    events += type == XTYP_POKE ? "poke;" : type == XTYP_XACT_COMPLETE ? "complete " + std::to_string(d1) + ";"
            : type == XTYP_DISCONNECT ? "disconnect;" : "";
    return reinterpret_cast<HDDEDATA>(static_cast<std::uintptr_t>(type == XTYP_CONNECT || type == XTYP_POKE ? DDE_FACK : 0));
  });
  ASSERT_TRUE(qlm::BatchAcks(inst));
  ASSERT_NE(nullptr, DdeNameService(inst, Hsz(inst, "BATCH"), nullptr, DNS_REGISTER));
  const int client = rawSocket(dir_ / Endpoints("BATCH")[0], false);
  Send(client, connectFrame("BATCH", "T", static_cast<std::uint32_t>(::getpid()), 9));
  drain();
  EXPECT_EQ(replyFrame(1), receiveFrame(client));

  // A POKE's ACK leaves when the process next waits, not when its callback returns;
  // a refused one keeps its place behind an accepted one.
  Send(client, Poke("T", "a", 1));
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  DispatchMessageA(&m);
  EXPECT_EQ("poke;", events);
  std::uint8_t b[8];
  EXPECT_LT(::recv(client, b, sizeof b, MSG_PEEK | MSG_DONTWAIT), 0);
  drain();
  EXPECT_EQ(ackFrame(0x8000), receiveFrame(client));
  Send(client, Poke("T", "b", 1));
  Send(client, Poke("T", "c", 7));
  drain();
  EXPECT_EQ(ackFrame(0x8000), receiveFrame(client));
  EXPECT_EQ(ackFrame(0), receiveFrame(client));

  // The instance's own asynchronous pokes: their ACKs do not wake it; they are read
  // before the next event that does, and their completions come first.
  const std::string pid = std::to_string(::getpid());
  const int listener = rawSocket(dir_ / ("RAWB." + pid + ".5"), true);
  const HSZ topic = Hsz(inst, "T");
  const HCONV conv = qlm::ConnectNoWait(inst, Hsz(inst, ("RAWB." + pid + ".5").c_str()), topic);
  const int partner = ::accept(listener, nullptr, nullptr);
  receiveFrame(partner);
  Send(partner, replyFrame(1));
  drain();
  BYTE x[] = {'x'};
  DWORD id1 = 0, id2 = 0, id3 = 0;
  ASSERT_NE(nullptr, DdeClientTransaction(x, 1, conv, topic, CF_TEXT, XTYP_POKE, TIMEOUT_ASYNC, &id1));
  ASSERT_NE(nullptr, DdeClientTransaction(x, 1, conv, topic, CF_TEXT, XTYP_POKE, TIMEOUT_ASYNC, &id2));
  receiveFrame(partner);
  receiveFrame(partner);
  Send(partner, ackFrame(0x8000));
  Send(partner, ackFrame(0x8000));
  events.clear();
  drain();
  EXPECT_EQ("", events);
  Send(client, Poke("T", "d", 1));
  drain();
  EXPECT_EQ("complete " + std::to_string(id1) + ";complete " + std::to_string(id2) + ";poke;", events);
  receiveFrame(client);

  // A client that gave a token, of the instance `conv` goes to (5): the ACK of its
  // POKE goes inside the instance's next POKE to it instead of a frame of its own; a
  // refusal goes as a frame.
  const int tokened = rawSocket(dir_ / Endpoints("BATCH")[0], false);
  Send(tokened, connectFrame("BATCH", "T", static_cast<std::uint32_t>(::getpid()), 5, 7));
  drain();
  EXPECT_EQ(replyFrame(1), receiveFrame(tokened));
  for (const Buf &poke : {Poke("T", "e", 1), Poke("T", "g", 7)}) {
    Send(tokened, poke);
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    DispatchMessageA(&m);
    ASSERT_NE(nullptr, DdeClientTransaction(x, 1, conv, topic, CF_TEXT, XTYP_POKE, TIMEOUT_ASYNC, &id3));
    const bool accepted = poke == Poke("T", "e", 1);
    EXPECT_EQ(pokeFrame("T", text("x"), -1, accepted ? 7 : 0), receiveFrame(partner));
    Send(partner, ackFrame(0x8000));
    drain();
    if (accepted) EXPECT_LT(::recv(tokened, b, sizeof b, MSG_DONTWAIT), 0);
    else EXPECT_EQ(ackFrame(0), receiveFrame(tokened));
  }
  ::close(tokened);
  EXPECT_TRUE(eventually([] { return events.find("disconnect;") != std::string::npos; }, 1000));

  // An ACK that only waits to be read is taken when its time limit comes: the
  // conversation goes on.
  ASSERT_NE(nullptr, DdeClientTransaction(x, 1, conv, topic, CF_TEXT, XTYP_POKE, TIMEOUT_ASYNC, &id3));
  receiveFrame(partner);
  Send(partner, ackFrame(0x8000));
  events.clear();
  EXPECT_TRUE(eventually([] { return !events.empty(); }, 8000));
  EXPECT_EQ("complete " + std::to_string(id3) + ";", events);

  // The partner's end still wakes the instance at once.
  events.clear();
  ::close(partner);
  EXPECT_TRUE(eventually([] { return !events.empty(); }, 1000));
  EXPECT_EQ("disconnect;", events);
  ::close(client);
  ::close(listener);
  DdeUninitialize(inst);
}

TEST_F(PlatformDde, ConnectsToTheFirstAcceptingOrTheNamedInstance) {
  Recorder a{0}, b{1}, c{2};
  const DWORD ia = NewInstance(Record<0>), ib = NewInstance(Record<1>), ic = NewInstance(Record<2>);
  ASSERT_NE(nullptr, DdeNameService(ia, Hsz(ia, "MULTI"), nullptr, DNS_REGISTER));
  ASSERT_NE(nullptr, DdeNameService(ib, Hsz(ib, "MULTI"), nullptr, DNS_REGISTER));
  const std::vector<std::string> eps = Endpoints("MULTI");
  ASSERT_EQ(2u, eps.size());

  // The plain name takes the lowest instance that accepts.
  ASSERT_NE(nullptr, DdeConnect(ic, Hsz(ic, "MULTI"), Hsz(ic, "T"), nullptr));
  EXPECT_EQ("connect T MULTI ;confirm T MULTI ;", a.take());
  EXPECT_EQ("", b.take());
  a.acceptConnect = false;
  const HCONV toB = DdeConnect(ic, Hsz(ic, "multi"), Hsz(ic, "T"), nullptr);
  ASSERT_NE(nullptr, toB);
  EXPECT_EQ("connect T MULTI ;", a.take());
  EXPECT_EQ("connect T MULTI ;confirm T MULTI ;", b.take());

  // The instance-specific name reaches that instance alone.
  b.acceptConnect = false;
  char name[32];
  ASSERT_TRUE(qlm::InstanceServiceName(name, sizeof name, "multi", static_cast<DWORD>(::getpid()), ib));
  EXPECT_EQ(eps[1], std::string(name));
  EXPECT_EQ(nullptr, DdeConnect(ic, Hsz(ic, name), Hsz(ic, "T"), nullptr));
  EXPECT_EQ(DMLERR_NO_CONV_ESTABLISHED, LastError(ic));
  EXPECT_EQ("", a.take());
  EXPECT_EQ("connect T MULTI ;", b.take());

  // A poke between instances of one process is delivered inside the transaction's wait.
  BYTE x[] = {'x'};
  EXPECT_NE(nullptr, DdeClientTransaction(x, 1, toB, Hsz(ic, "T"), CF_TEXT, XTYP_POKE, 5000, nullptr));
  EXPECT_EQ("poke T T x;", b.seen);

  // Ending an instance closes its conversations and endpoints.
  DdeUninitialize(ib);
  EXPECT_EQ("disconnect   ;", c.take());
  EXPECT_EQ(toB, c.conv);
  EXPECT_EQ(std::vector<std::string>{eps[0]}, Endpoints("MULTI"));
  EXPECT_EQ(nullptr, DdeClientTransaction(x, 1, toB, Hsz(ic, "T"), CF_TEXT, XTYP_POKE, 5000, nullptr));
  EXPECT_EQ(DMLERR_NO_CONV_ESTABLISHED, LastError(ic));
  DdeUninitialize(ia);
  DdeUninitialize(ic);
}

TEST_F(PlatformDde, StaleEndpointsAreRemovedAndNamesAreChecked) {
  ::close(rawSocket(dir_ / "STALE.1.1", true));  // a socket file nobody listens on any more
  Recorder rec{0};
  const DWORD inst = NewInstance(Record<0>);
  ASSERT_NE(nullptr, DdeNameService(inst, Hsz(inst, "STALE"), nullptr, DNS_REGISTER));
  ASSERT_EQ(2u, Endpoints("STALE").size());
  EXPECT_NE(nullptr, DdeConnect(inst, Hsz(inst, "STALE"), Hsz(inst, "T"), nullptr));
  EXPECT_EQ(1u, Endpoints("STALE").size());
  EXPECT_FALSE(exists(dir_ / "STALE.1.1"));

  EXPECT_EQ(nullptr, DdeConnect(inst, Hsz(inst, "NOBODY"), Hsz(inst, "T"), nullptr));
  EXPECT_EQ(DMLERR_NO_CONV_ESTABLISHED, LastError(inst));
  EXPECT_EQ(nullptr, DdeNameService(inst, Hsz(inst, "NINECHARS"), nullptr, DNS_REGISTER));
  EXPECT_EQ(DMLERR_INVALIDPARAMETER, LastError(inst));
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
  const TIMERPROC proc = [](HWND, UINT msg, UINT_PTR id, DWORD) { if (msg == WM_TIMER) fired.push_back(id); };
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
  EXPECT_EQ(nullptr, FindWindowA(nullptr, kTitle));
  HWND own = CreateWindowA("class", kTitle, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, own);
  EXPECT_EQ(own, FindWindowA(nullptr, kTitle));
  EXPECT_EQ(nullptr, CreateWindowA("class", kTitle, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr));  // one window per title
  EXPECT_EQ(0700u, modeOf(dir_ / "windows"));
  EXPECT_TRUE(DestroyWindow(own));
  EXPECT_EQ(nullptr, FindWindowA(nullptr, kTitle));

  // Another process's window: seen, not ours to destroy, gone with that process.
  Pipe made, bye;
  const pid_t child = forked([&] {
    made.put(CreateWindowA(nullptr, kTitle, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr) != nullptr ? 'y' : 'n');
    bye.take();
    return 0;  // without DestroyWindow
  });
  ASSERT_EQ('y', made.take());
  HWND other = FindWindowA(nullptr, kTitle);
  EXPECT_NE(nullptr, other);
  EXPECT_FALSE(DestroyWindow(other));
  EXPECT_EQ(nullptr, CreateWindowA(nullptr, kTitle, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr));
  bye.put();
  exitStatus(child);
  EXPECT_EQ(nullptr, FindWindowA(nullptr, kTitle));
  EXPECT_EQ(nullptr, FindWindowA(nullptr, "a/b"));
}

// ---- starting programs -------------------------------------------------------------

TEST_F(PlatformExec, TheReadinessPipe) {
  const std::string out = dir_ / "out";
  // Signals: writes the byte, then stays (its pid is noted so the test can end it).
  spit(dir_ / "ready.sh",
            "#!/bin/sh\necho \"$$ $QLM_READY_FD $QLM_RUNDIR\" > \"$1\"\nprintf R >&3\nexec sleep 30\n", 0755);
  // Closes the pipe without the byte and stays: counts as ready too.
  spit(dir_ / "closes.sh", "#!/bin/sh\necho $$ > \"$1\"\nexec 3>&-\nexec sleep 30\n", 0755);
  spit(dir_ / "exits.sh", "#!/bin/sh\nexit 1\n", 0755);
  spit(dir_ / "plain.txt", "not a program\n", 0644);

  EXPECT_LE(32u, WinExec((dir_ / "ready.sh " + out).c_str(), SW_HIDE));
  const std::string said = slurp(out);  // "<pid> <fd> <run directory>"
  EXPECT_EQ(" 3 " + dir_.path() + "\n", said.substr(said.find(' ')));
  EXPECT_EQ(nullptr, std::getenv("QLM_READY_FD"));  // the caller's environment is left alone
  EXPECT_EQ(0, kill(std::atoi(said.c_str()), SIGTERM));
  EXPECT_LE(32u, WinExec((dir_ / "closes.sh " + out).c_str(), SW_HIDE));
  EXPECT_EQ(0, kill(std::atoi(slurp(out).c_str()), SIGTERM));

  EXPECT_EQ(kExecEndedFirst, WinExec((dir_ / "exits.sh").c_str(), SW_HIDE));
  EXPECT_EQ(2u, WinExec((dir_ / "missing").c_str(), SW_HIDE));
  EXPECT_EQ(5u, WinExec((dir_ / "plain.txt").c_str(), SW_HIDE));
  EXPECT_EQ(2u, WinExec("", SW_HIDE));
}

TEST_F(PlatformExec, ASecondServerWaitsForTheWindowOrTheLock) {
  // A second server, started while this one holds the lock; 0 when it gets `want`.
  const auto second = [](qlm::ServerLock want) {
    Pipe go;
    const pid_t pid = forked([&] {
      qlm::ReleaseServerLock();  // the copy of the parent's descriptor
      go.take();
      return qlm::AcquireServerLock("qlmrqmgr.lock", kTitle) == want ? 0 : 1;
    });
    go.put();
    Sleep(50);  // it is waiting now (or soon)
    return pid;
  };
  ASSERT_EQ(qlm::ServerLock::Acquired, qlm::AcquireServerLock("qlmrqmgr.lock", kTitle));
  pid_t child = second(qlm::ServerLock::OtherReady);
  HWND w = CreateWindowA(nullptr, kTitle, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, w);
  EXPECT_EQ(0, exitStatus(child));
  DestroyWindow(w);

  // A server that ends lets the lock go without a window: the waiting one takes it.
  child = second(qlm::ServerLock::Acquired);
  qlm::ReleaseServerLock();
  EXPECT_EQ(0, exitStatus(child));
  EXPECT_EQ(qlm::ServerLock::Acquired, qlm::AcquireServerLock("qlmrqmgr.lock", kTitle));
  qlm::ReleaseServerLock();
}

// ---- run directory -------------------------------------------------------------------

TEST_F(PlatformRunDir, RefusesOpenForeignAndOverlongDirectories) {
  // The errno of the refusal of `dir` as $QLM_RUNDIR; 0 when it is taken.
  const auto refusal = [](const std::string &dir) {
    setenv("QLM_RUNDIR", dir.c_str(), 1);
    errno = 0;
    return qlm::RunDirectory() == nullptr ? errno : 0;
  };
  const std::string open = dir_ / "open";
  ASSERT_EQ(0, mkdir(open.c_str(), 0755));
  chmod(open.c_str(), 0755);
  EXPECT_EQ(EACCES, refusal(open));
  // Every call that needs the run directory fails.
  const DWORD inst = NewInstance(Record<0>);
  EXPECT_EQ(nullptr, DdeNameService(inst, Hsz(inst, "SRV"), nullptr, DNS_REGISTER));
  EXPECT_EQ(DMLERR_SYS_ERROR, LastError(inst));
  EXPECT_EQ(nullptr, DdeConnect(inst, Hsz(inst, "SRV"), Hsz(inst, "T"), nullptr));
  EXPECT_EQ(nullptr, CreateWindowA(nullptr, "W", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(nullptr, FindWindowA(nullptr, "W"));
  EXPECT_EQ(5u, WinExec("/bin/true", SW_HIDE));
  DdeUninitialize(inst);

  const std::string foreign = dir_ / "foreign";
  ASSERT_EQ(0, mkdir(foreign.c_str(), 0700));
  ASSERT_TRUE(geteuid() != 0 || chown(foreign.c_str(), 4321, 4321) == 0);
  EXPECT_EQ(EPERM, refusal(geteuid() == 0 ? foreign : "/"));
  EXPECT_EQ(ENAMETOOLONG, refusal(dir_.path() + "/" + std::string(qlm::kMaxRunDirLength, 'x')));
  EXPECT_EQ(0, refusal(dir_ / "fresh/"));
  EXPECT_EQ(dir_ / "fresh", std::string(qlm::RunDirectory()));
  EXPECT_EQ(0700u, modeOf(dir_ / "fresh"));
}

TEST_F(PlatformRunDir, TheApplicationsOwnDirectory) {
  unsetenv("QLM_RUNDIR");
  setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
  const std::string base = dir_ / "quillmar";
  const std::string own = base + "/" + std::to_string(getpid());
  // Leftovers: one of a process that ended, one of a live process, one not named by a pid.
  const pid_t gone = forked([] { return 0; });
  exitStatus(gone);
  const std::string dead = base + "/" + std::to_string(gone), live = base + "/" + std::to_string(getppid());
  for (const std::string &d : {base, dead, live, base + "/notes"}) ASSERT_EQ(0, mkdir(d.c_str(), 0700)) << d;
  spit(dead + "/REQMNGR." + std::to_string(gone) + ".1", "");

  ASSERT_EQ(0, qlm::PrepareRunDir());
  EXPECT_EQ(own, std::string(qlm::RunDirectory()));
  for (const std::string &d : {base, own}) EXPECT_EQ(0700u, modeOf(d)) << d;
  EXPECT_FALSE(exists(dead));
  EXPECT_TRUE(exists(live));
  EXPECT_TRUE(exists(base + "/notes"));

  // The program started gets the directory in its environment; ours has none.
  spit(dir_ / "env.sh", "#!/bin/sh\necho \"$QLM_RUNDIR\" > \"$1\"\n", 0755);
  WinExec((dir_ / "env.sh " + dir_ / "env.out").c_str(), SW_HIDE);
  EXPECT_TRUE(eventually([&] { return !slurp(dir_ / "env.out").empty(); }));
  EXPECT_EQ(own + "\n", slurp(dir_ / "env.out"));
  EXPECT_EQ(nullptr, std::getenv("QLM_RUNDIR"));

  HWND w = CreateWindowA(nullptr, "W", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);  // files inside go with the directory
  qlm::RemoveRunDir();
  DestroyWindow(w);
  EXPECT_FALSE(exists(own));
  EXPECT_TRUE(exists(live));
  unsetenv("XDG_RUNTIME_DIR");
}

TEST_F(PlatformRunDir, ALinkInPlaceOfTheBaseIsRefusedAndNothingBehindItIsSwept) {
  unsetenv("QLM_RUNDIR");
  setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
  // A directory of the user's own with what looks like an ended application's run
  // directory, and the base made a link to it: by another user (a fake owner, as
  // root), or by the user.
  const std::string victim = dir_ / "victim", leftover = dir_ / "victim/999999";
  ASSERT_EQ(0, mkdir(victim.c_str(), 0700));
  ASSERT_EQ(0, mkdir(leftover.c_str(), 0700));
  spit(leftover + "/precious", "data");
  ASSERT_EQ(0, symlink(victim.c_str(), (dir_ / "quillmar").c_str()));
  for (bool foreign : {true, false}) {
    if (foreign && geteuid() != 0) continue;  // only root can give a link another owner
    if (foreign) ASSERT_EQ(0, lchown((dir_ / "quillmar").c_str(), 54321, 54321));
    else ASSERT_EQ(0, lchown((dir_ / "quillmar").c_str(), geteuid(), getegid()));
    errno = 0;
    EXPECT_EQ(nullptr, qlm::RunDirectory());
    EXPECT_EQ(EPERM, errno);
    EXPECT_EQ(-1, qlm::PrepareRunDir());
    EXPECT_TRUE(exists(leftover + "/precious")) << (foreign ? "foreign link" : "own link");
  }
  // The same link as the run directory itself.
  setenv("QLM_RUNDIR", (dir_ / "quillmar").c_str(), 1);
  EXPECT_EQ(nullptr, qlm::RunDirectory());
  unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
