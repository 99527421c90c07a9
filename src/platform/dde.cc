// DDE over AF_UNIX / SOCK_SEQPACKET: instances, endpoints and conversations, each
// conversation a watcher of the message pump; the frames are platform/frames.h's,
// names names.cc's, data objects data.cc's. See platform/windows.h for what each
// call promises.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <utility>

#include "platform/frames.h"
#include "platform/internal.h"
#include "platform/unique_fd.h"

namespace qlm::platform {

namespace {

constexpr int kListenBacklog = 64;  // connections an endpoint holds before they are accepted

struct Listener {
  std::uintptr_t id;
  std::string service;  // upper case
  std::string path;
  UniqueFd fd;
  WatchId watch = 0;
  Clock::time_point pausedUntil{};  // accepting paused (descriptors ran out) until then
  int backoffMs = 0;
};

struct Instance {
  DWORD number;
  PFNCALLBACK callback;
  UINT lastError = DMLERR_NO_ERROR;
  std::vector<Listener> listeners;
  bool batchAcks = false;  // qlm::BatchAcks
};

enum class Phase { AwaitConnect, AwaitReply, Open };

// A frame waiting for the socket to take it; `txn` for a POKE or EXECUTE, which is
// sent only while fewer than kMaxUnacked transactions wait for their ACK.
struct OutFrame {
  Frame bytes;
  DWORD txn = 0;  // the transaction's id; 0 for other frames
  bool async = false;
};
// A transaction sent and not yet acknowledged. ACKs come in the order of the frames.
struct InFlight {
  DWORD txn;
  bool async;
  bool stale = false;  // a synchronous wait gave up on it: its ACK is dropped
  Clock::time_point deadline;  // asynchronous ones: the partner must ACK by then
};

struct Conv {
  Conv(DWORD i, int f, bool srv, Phase p, std::string svc, std::string top, DWORD pid, DWORD pinst)
      : inst(i), fd(f), server(srv), phase(p), service(std::move(svc)), topic(std::move(top)),
        partnerPid(pid), partnerInst(pinst) {}
  DWORD inst;
  UniqueFd fd;
  WatchId watch = 0;
  bool server;
  Phase phase;
  std::string service, topic;  // plain names, upper case
  DWORD partnerPid, partnerInst;
  // Client side: the token this side's CONNECT gave (its ACKs may come inside the
  // partner's POKEs); server side: the partner's token, 0 when it gave none.
  std::uint16_t token = 0;
  int reply = -1;           // CONNECT_REPLY status, client side
  bool closed = false;      // the partner closed before the conversation was open
  bool asyncConnect = false;  // opened by ConnectNoWait: nobody waits for the reply
  pid_t peerPid = 0;        // server side: the connecting process, from SO_PEERCRED
  Clock::time_point deadline = Clock::time_point::max();  // CONNECT or CONNECT_REPLY due
  DWORD waitingTxn = 0;     // a synchronous transaction waits for this one's ACK
  bool acked = false;
  std::uint32_t ackStatus = 0;
  std::deque<OutFrame> out;  // frames the socket did not take yet
  std::size_t outBytes = 0;
  std::vector<InFlight> inflight;  // oldest first (a vector: its room is reused)
};

// A conversation the layer ended itself: its instance hears XTYP_DISCONNECT with the
// reason in dwData1 at the next dispatch.
struct Notice {
  DWORD inst;
  std::uintptr_t conv;
  ULONG_PTR reason;
  ULONG_PTR same;
};

// The layer's state is never destroyed, so that the library may still use it while
// the process ends (its unload path runs after the static destructors).
std::map<DWORD, Instance> &g_instances = *new std::map<DWORD, Instance>;  // by idInst (= the number)
std::map<std::uintptr_t, Conv> &g_convs = *new std::map<std::uintptr_t, Conv>;
std::vector<Notice> &g_notices = *new std::vector<Notice>;
// ACKs held until the process next waits (qlm::BatchAcks), in the order of their frames.
struct HeldAck {
  std::uintptr_t conv;
  std::uint32_t status;
};
std::vector<HeldAck> &g_heldAcks = *new std::vector<HeldAck>;
std::uintptr_t g_nextId = 1;
DWORD g_counter = 0;
DWORD g_nextTxn = 1;

Instance *FindInstance(DWORD id) {
  auto it = g_instances.find(id);
  return it == g_instances.end() ? nullptr : &it->second;
}

Conv *FindConv(std::uintptr_t id) {
  auto it = g_convs.find(id);
  return it == g_convs.end() ? nullptr : &it->second;
}

std::uintptr_t ConvId(HCONV h) { return reinterpret_cast<std::uintptr_t>(h); }
HCONV ConvHandle(std::uintptr_t id) { return reinterpret_cast<HCONV>(id); }

void SetError(DWORD inst, UINT err) {
  if (Instance *i = FindInstance(inst)) i->lastError = err;
}

// Transactions whose ACK is awaited; one a synchronous wait gave up on no longer
// holds back the next (a partner that never acknowledged it would wedge the
// conversation otherwise), though its ACK, when it comes, is still matched.
std::size_t Unacked(const Conv &c) {
  return static_cast<std::size_t>(
      std::count_if(c.inflight.begin(), c.inflight.end(), [](const InFlight &t) { return !t.stale; }));
}

void SentTransaction(Conv &c, DWORD txn, bool async) {
  if (txn == 0) return;
  c.inflight.push_back(
      {txn, async, false, async ? Clock::now() + std::chrono::milliseconds(kAckLimitMs) : Clock::time_point::max()});
}

// Hands queued frames to the socket while it takes them (never waiting) and the
// partner keeps up with its ACKs. false: the conversation is broken.
bool Flush(Conv &c) {
  if (!c.fd.valid() || c.phase != Phase::Open) return true;  // held until the conversation opens
  while (!c.out.empty()) {
    OutFrame &f = c.out.front();
    if (f.txn != 0 && Unacked(c) >= kMaxUnacked) return true;
    const ssize_t r = ::send(c.fd.get(), f.bytes.data(), f.bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (r < 0) return false;
    SentTransaction(c, f.txn, f.async);
    c.outBytes -= f.bytes.size();
    c.out.pop_front();
  }
  return true;
}

enum class Queued { Ok, TooBig, Overflow, Broken };

// Queues a frame behind the others of the conversation and sends what the socket
// takes. The bytes are copied only when they must wait.
Queued Enqueue(Conv &c, FrameView bytes, DWORD txn = 0, bool async = false) {
  if (c.out.size() >= kMaxQueuedFrames || c.outBytes + bytes.size() > kMaxQueuedBytes) return Queued::Overflow;
  if (c.out.empty() && c.fd.valid() && c.phase == Phase::Open && (txn == 0 || Unacked(c) < kMaxUnacked)) {
    ssize_t r;
    do r = ::send(c.fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    while (r < 0 && errno == EINTR);
    if (r >= 0) {
      SentTransaction(c, txn, async);
      return Queued::Ok;
    }
    if (errno == EMSGSIZE) return Queued::TooBig;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return Queued::Broken;
  }
  c.outBytes += bytes.size();
  c.out.push_back({Frame(bytes.begin(), bytes.end()), txn, async});
  return Queued::Ok;
}

// A frame that must go out at once on a socket of no conversation (yet): the refusal
// of a CONNECT. Never waits; a peer that does not read loses it.
void SendNow(int fd, const Frame &f) {
  ssize_t r;
  do r = ::send(fd, f.data(), f.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  while (r < 0 && errno == EINTR);
}

// One packet, without waiting, in a buffer that the next call reuses. 1 read, 0 the
// partner closed (or sent a frame far larger than any valid one, which ends the
// conversation), -1 nothing there.
int RecvFrame(int fd, FrameView *out) {
  static std::uint8_t scratch[kMaxFrame];
  ssize_t n;
  do n = ::recv(fd, scratch, sizeof scratch, MSG_TRUNC | MSG_DONTWAIT);
  while (n < 0 && errno == EINTR);
  if (n < 0) return (errno == EAGAIN || errno == EWOULDBLOCK) ? -1 : 0;
  if (n == 0 || static_cast<std::size_t>(n) > sizeof scratch) return 0;  // frames are never empty
  *out = FrameView(scratch, static_cast<std::size_t>(n));
  return 1;
}

bool SameInstance(const Conv &c) {
  const Instance *i = FindInstance(c.inst);
  return i != nullptr && c.partnerPid == static_cast<DWORD>(qlm::platform::ProcessId()) &&
         c.partnerInst == i->number;
}

// Calls the instance's callback with name handles that live for the call only.
HDDEDATA Callback(DWORD inst, UINT type, UINT fmt, std::uintptr_t conv, const std::string &n1,
                  const std::string &n2, HDDEDATA data, ULONG_PTR same, ULONG_PTR data1 = 0) {
  Instance *i = FindInstance(inst);
  if (i == nullptr) return nullptr;
  PFNCALLBACK cb = i->callback;
  HSZ h1 = n1.empty() ? nullptr : AcquireAtom(n1);
  HSZ h2 = n2.empty() ? nullptr : AcquireAtom(n2);
  HDDEDATA r = cb(type, fmt, ConvHandle(conv), h1, h2, data, data1, same);
  ReleaseAtom(h1);
  ReleaseAtom(h2);
  return r;
}

// The conversation's socket goes: no longer watched, closed.
void CloseSocket(Conv &c) {
  Unwatch(std::exchange(c.watch, 0));
  c.fd.reset();
}

void CloseConv(std::uintptr_t id) {
  if (Conv *c = FindConv(id)) {
    CloseSocket(*c);
    g_convs.erase(id);
  }
}

// The layer ends a conversation itself (a partner that does not keep up, or that let
// a time limit pass): it is closed at once and its instance is told at the next
// dispatch, as if the partner had closed it, with the reason.
void Drop(std::uintptr_t id, ULONG_PTR reason) {
  Conv *c = FindConv(id);
  if (c == nullptr) return;
  const bool told = c->phase == Phase::Open || c->asyncConnect;
  if (told) g_notices.push_back({c->inst, id, reason, static_cast<ULONG_PTR>(SameInstance(*c))});
  CloseConv(id);
}

// The partner closed: XTYP_DISCONNECT once the conversation was open, then it is gone.
void PartnerClosed(std::uintptr_t id) {
  Conv *c = FindConv(id);
  if (c->phase != Phase::Open) {  // not established yet: whoever waits on it sees `closed`
    if (c->asyncConnect || c->server) return Drop(id, kDropPartnerClosed);
    c->closed = true;
    CloseSocket(*c);
    return;
  }
  const DWORD inst = c->inst;
  const ULONG_PTR same = SameInstance(*c);
  CloseConv(id);
  Callback(inst, XTYP_DISCONNECT, 0, id, "", "", nullptr, same);
}

void SendAck(std::uintptr_t id, std::uint32_t status) {
  Conv *c = FindConv(id);
  if (c == nullptr) return;
  static Frame &ack = *new Frame;  // never destroyed, like the rest of the layer's state
  AckFrame{status}.encode(&ack);
  const Queued q = Enqueue(*c, ack);
  if (q != Queued::Ok) Drop(id, q == Queued::Overflow ? kDropNotReading : kDropPartnerClosed);
}

// The held ACKs go out (those of conversations still there), before the pump waits.
void SendAcksHeld() {
  for (std::size_t i = 0; i < g_heldAcks.size(); ++i) SendAck(g_heldAcks[i].conv, g_heldAcks[i].status);
  g_heldAcks.clear();
}

// Whether conversation `a` joins instance `inst` of this process with instance
// <pid>.<pinst>.
bool Joins(const Conv &a, DWORD inst, DWORD pid, DWORD pinst) {
  return a.inst == inst && a.partnerPid == pid && a.partnerInst == pinst;
}

// The held ACK that the POKE about to go on client conversation `b` carries instead of
// a frame of its own, taken off the held list: the oldest held ACK of a conversation
// between the same two instances whose partner gave a token, when it accepts and that
// conversation has no frame waiting (ACKs keep their order). None: conv 0.
HeldAck CarryHeldAck(const Conv &b) {
  if (b.phase != Phase::Open || !b.out.empty() || Unacked(b) >= kMaxUnacked) return {};  // the POKE waits itself
  for (auto held = g_heldAcks.begin(); held != g_heldAcks.end(); ++held) {
    const Conv *a = FindConv(held->conv);
    if (a == nullptr || !a->server || !Joins(*a, b.inst, b.partnerPid, b.partnerInst)) continue;
    if (a->token == 0 || held->status != DDE_FACK || !a->out.empty()) return {};
    const HeldAck carried = *held;
    g_heldAcks.erase(held);
    return carried;
  }
  return {};
}

void OnClientFrame(std::uintptr_t id, FrameView f);

// A POKE received from instance <pid>.<pinst> by instance `inst` accepted the oldest
// transaction of this side's conversation with token `token` to that same instance
// (none: 0). A token of another partner's conversation is not taken from this one.
void AckCarried(DWORD inst, DWORD pid, DWORD pinst, std::uint16_t token) {
  if (token == 0) return;
  for (auto &[aid, a] : g_convs)
    if (!a.server && a.token == token && a.phase == Phase::Open && Joins(a, inst, pid, pinst)) {
      static const Frame &accepted = *new Frame(AckFrame{DDE_FACK}.encode());
      return OnClientFrame(aid, accepted);
    }
}

std::uint32_t AckStatus(HDDEDATA r) {
  const auto v = reinterpret_cast<std::uintptr_t>(r);
  if (v & DDE_FACK) return DDE_FACK;
  if (v & DDE_FBUSY) return DDE_FBUSY;
  return 0;
}

// Server side: the CONNECT frame of a newly accepted connection. A CONNECT must name
// the listener's service and the connecting process's own pid.
void OnConnectFrame(std::uintptr_t id, FrameView f, const std::string &listenerService) {
  Conv *c = FindConv(id);
  ConnectFrame connect;
  if (!ConnectFrame::decode(f, &connect) || Upper(connect.service.c_str()) != listenerService ||
      connect.pid != static_cast<std::uint32_t>(c->peerPid)) {
    SendNow(c->fd.get(), ConnectReplyFrame{false}.encode());
    CloseConv(id);
    return;
  }
  c->service = Upper(connect.service.c_str());
  c->topic = Upper(connect.topic.c_str());
  c->partnerPid = connect.pid;
  c->partnerInst = connect.instance;
  c->token = connect.token;
  c->deadline = Clock::time_point::max();
  const DWORD inst = c->inst;
  const std::string topic = c->topic, service = c->service;
  const ULONG_PTR same = SameInstance(*c);
  HDDEDATA ok = Callback(inst, XTYP_CONNECT, 0, 0, topic, service, nullptr, same);
  c = FindConv(id);
  if (c == nullptr) return;
  if (ok == nullptr) {
    SendNow(c->fd.get(), ConnectReplyFrame{false}.encode());
    CloseConv(id);
    return;
  }
  c->phase = Phase::Open;
  SendNow(c->fd.get(), ConnectReplyFrame{true}.encode());  // the first frame: a fresh socket takes it
  Callback(inst, XTYP_CONNECT_CONFIRM, 0, id, topic, service, nullptr, same);
}

// Server side: one POKE or EXECUTE of an open conversation; its ACK, sent now or,
// for an instance that batches its ACKs, held until the process waits.
void OnServerFrame(std::uintptr_t id, FrameView f) {
  Conv *c = FindConv(id);
  const DWORD inst = c->inst;
  const std::string topic = c->topic;
  const ULONG_PTR same = SameInstance(*c);
  auto ack = [id, inst](std::uint32_t status) {
    const Instance *i = FindInstance(inst);
    if (i != nullptr && i->batchAcks) return g_heldAcks.push_back({id, status});
    SendAck(id, status);
  };
  HDDEDATA data = nullptr, r = nullptr;
  switch (KindOf(f)) {
    case kPoke: {
      PokeFrame poke;
      if (!PokeFrame::decode(f, &poke)) return ack(0);
      data = NewData(poke.data.data(), poke.data.size(), poke.format);
      const std::uint16_t acks = poke.acks;  // (the frame's buffer is read again by the callback's waits)
      const DWORD pid = c->partnerPid, pinst = c->partnerInst;
      r = Callback(inst, XTYP_POKE, poke.format, id, topic, poke.item, data, same);
      DeleteData(data);
      ack(AckStatus(r));
      return AckCarried(inst, pid, pinst, acks);
    }
    case kExecute: {
      ExecuteFrame execute;
      if (!ExecuteFrame::decode(f, &execute)) return ack(0);
      data = NewData(execute.command.data(), execute.command.size(), 0);
      r = Callback(inst, XTYP_EXECUTE, 0, id, topic, "", data, same);
      break;
    }
    default:
      return;  // any other frame from a client has no meaning and is dropped
  }
  DeleteData(data);
  ack(AckStatus(r));
}

// Client side: CONNECT_REPLY while connecting, ACKs afterwards.
void OnClientFrame(std::uintptr_t id, FrameView f) {
  Conv *c = FindConv(id);
  if (c->phase == Phase::AwaitReply) {
    ConnectReplyFrame reply;
    if (!ConnectReplyFrame::decode(f, &reply)) return;
    c->reply = reply.accepted ? 1 : 0;
    if (!c->asyncConnect) return;  // DdeConnect, waiting, takes it from here
    if (!reply.accepted) return Drop(id, kDropRefused);
    c->phase = Phase::Open;
    c->deadline = Clock::time_point::max();
    if (!Flush(*c)) Drop(id, kDropPartnerClosed);
    return;
  }
  AckFrame ack;
  if (!AckFrame::decode(f, &ack) || c->inflight.empty()) return;  // an ACK of nothing: dropped
  const InFlight t = c->inflight.front();
  c->inflight.erase(c->inflight.begin());
  if (t.stale) {
  } else if (!t.async) {
    if (t.txn == c->waitingTxn) {
      c->acked = true;
      c->ackStatus = ack.status;
    }
  } else {
    const DWORD inst = c->inst;
    const std::string topic = c->topic;
    const ULONG_PTR ok = (ack.status & DDE_FACK) ? 1 : 0;
    Callback(inst, XTYP_XACT_COMPLETE, 0, id, topic, topic, reinterpret_cast<HDDEDATA>(ok), ack.status, t.txn);
    c = FindConv(id);
    if (c == nullptr) return;
  }
  if (!Flush(*c)) Drop(id, kDropPartnerClosed);  // a transaction held back may go now
}

// Whether the ACKs a conversation of this side's transactions receives are read along
// with the process's next event instead of waking it (qlm::BatchAcks): nothing waits
// for them now (no synchronous transaction, no frame held back by the window).
bool AcksReadAlong(const Conv &c) {
  if (c.server || c.phase != Phase::Open || c.waitingTxn != 0 || !c.out.empty() || Unacked(c) >= kMaxUnacked)
    return false;
  const Instance *i = FindInstance(c.inst);
  return i != nullptr && i->batchAcks;
}

// What a conversation's socket is watched for: frames (only its end while its ACKs
// are read along), and room for its queue while it has frames the partner may take now.
short ConvEvents(std::uintptr_t id) {
  const Conv *c = FindConv(id);
  if (c == nullptr || !c->fd.valid()) return 0;
  if (AcksReadAlong(*c)) return POLLRDHUP;
  const bool sending =
      !c->out.empty() && c->phase == Phase::Open && (c->out.front().txn == 0 || Unacked(*c) < kMaxUnacked);
  return static_cast<short>(POLLIN | (sending ? POLLOUT : 0));
}

// Whether the pump delivers the conversation with every wake-up: its ACKs are read
// along and some are outstanding.
bool ReadAlong(std::uintptr_t id) {
  const Conv *c = FindConv(id);
  return c != nullptr && c->fd.valid() && !c->inflight.empty() && AcksReadAlong(*c);
}

// The ACKs that arrived on a conversation whose ACKs are read along, until none is
// outstanding; `toEnd`: its socket showed its end, which is read too (a bounded
// number of frames either way: a partner may keep sending).
void ReadAcks(std::uintptr_t id, bool toEnd) {
  for (std::size_t n = 0; n <= kMaxUnacked * 2; ++n) {
    Conv *c = FindConv(id);
    if (c == nullptr || !c->fd.valid() || (c->inflight.empty() && !toEnd)) return;
    FrameView f;
    const int r = RecvFrame(c->fd.get(), &f);
    if (r < 0) return;
    if (r == 0) return PartnerClosed(id);
    OnClientFrame(id, f);
  }
}

// Queued frames the socket takes now, one frame, or the end of the conversation.
void OnConvReady(std::uintptr_t id, short revents) {
  Conv *c = FindConv(id);
  if (c == nullptr || !c->fd.valid()) return;
  if ((revents & POLLOUT) != 0 && !Flush(*c)) return PartnerClosed(id);
  if ((revents & ~POLLOUT) == 0) return;
  if (AcksReadAlong(*c)) return ReadAcks(id, (revents & ~POLLIN) != 0);
  FrameView f;
  const int r = RecvFrame(c->fd.get(), &f);
  if (r < 0) return;
  if (r == 0) return PartnerClosed(id);
  if (!c->server) return OnClientFrame(id, f);
  if (c->phase == Phase::AwaitConnect) return OnConnectFrame(id, f, c->service);
  OnServerFrame(id, f);
}

// A new conversation of an instance, watched by the pump; its id.
std::uintptr_t AddConv(Conv conv) {
  const std::uintptr_t id = g_nextId++;
  const int fd = conv.fd.get();
  Conv &c = g_convs.emplace(id, std::move(conv)).first->second;
  c.watch = Watch({fd, [id] { return ConvEvents(id); }, nullptr, [id](short r) { OnConvReady(id, r); },
                   [id] { return ReadAlong(id); }});
  return id;
}

std::size_t Handshaking() {
  std::size_t n = 0;
  for (const auto &[id, c] : g_convs) n += c.server && c.phase == Phase::AwaitConnect;
  return n;
}

void Accept(Instance &inst, Listener &l) {
  UniqueFd fd(::accept4(l.fd.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
  if (!fd.valid()) {
    // Out of descriptors or memory: the connection stays in the backlog and the
    // listener is left alone for a while (doubling up to a second), instead of being
    // found ready again at once.
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      l.backoffMs = std::clamp(l.backoffMs * 2, kAcceptBackoffMinMs, kAcceptBackoffMaxMs);
      l.pausedUntil = Clock::now() + std::chrono::milliseconds(l.backoffMs);
    }
    return;
  }
  l.backoffMs = 0;
  struct ucred cred{};
  socklen_t len = sizeof cred;
  if (::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != ::geteuid()) return;
  std::size_t fromPeer = 0;
  for (const auto &[id, c] : g_convs) fromPeer += c.server && c.peerPid == cred.pid;
  if (fromPeer >= kMaxConversationsPerPeer) return;
  if (Handshaking() >= kMaxHandshakes) {  // the oldest silent connection makes room
    for (auto &[id, c] : g_convs)
      if (c.server && c.phase == Phase::AwaitConnect) {
        CloseConv(id);
        break;
      }
  }
  Conv c(inst.number, fd.release(), true, Phase::AwaitConnect, l.service, "", 0, 0);
  c.peerPid = cred.pid;
  c.deadline = Clock::now() + std::chrono::milliseconds(kHandshakeLimitMs);
  AddConv(std::move(c));
}

// The listener of id `lid` of instance `number`, or null.
Listener *FindListener(DWORD number, std::uintptr_t lid, Instance **inst) {
  *inst = FindInstance(number);
  if (*inst == nullptr) return nullptr;
  for (Listener &l : (*inst)->listeners)
    if (l.id == lid) return &l;
  return nullptr;
}

// A listener accepts while it is not resting and the process is under its cap of
// conversations (new connections wait in the backlog meanwhile).
short ListenerEvents(DWORD number, std::uintptr_t lid) {
  Instance *inst = nullptr;
  const Listener *l = FindListener(number, lid, &inst);
  return l != nullptr && g_convs.size() < kMaxConversations && l->pausedUntil <= Clock::now() ? POLLIN : 0;
}

void OnListenerReady(DWORD number, std::uintptr_t lid) {
  Instance *inst = nullptr;
  if (Listener *l = FindListener(number, lid, &inst)) Accept(*inst, *l);
}

std::string EndpointPath(const char *dir, const std::string &service, DWORD pid, DWORD inst) {
  char name[64];
  InstanceServiceName(name, sizeof name, service.c_str(), pid, inst);
  return std::string(dir) + "/" + name;
}

void CloseListener(Listener &l) {
  Unwatch(std::exchange(l.watch, 0));
  l.fd.reset();
  ::unlink(l.path.c_str());
}

struct Candidate {
  DWORD pid, inst;
  std::string path;
};

// The endpoints of `service` in the run directory, lowest pid and instance first.
std::vector<Candidate> Endpoints(const char *dir, const std::string &service) {
  std::vector<Candidate> out;
  DIR *d = ::opendir(dir);
  if (d == nullptr) return out;
  while (struct dirent *e = ::readdir(d)) {
    std::string svc;
    Candidate c;
    if (ParseInstanceName(e->d_name, &svc, &c.pid, &c.inst) && Upper(svc.c_str()) == service) {
      c.path = std::string(dir) + "/" + e->d_name;
      out.push_back(c);
    }
  }
  ::closedir(d);
  std::sort(out.begin(), out.end(), [](const Candidate &a, const Candidate &b) {
    return a.pid != b.pid ? a.pid < b.pid : a.inst < b.inst;
  });
  return out;
}

// Connects a socket to `path`, whose listener must be process `pid` of this user:
// the descriptor (non-blocking), or an empty one (a refusing endpoint is unlinked).
UniqueFd ConnectEndpoint(const std::string &path, DWORD pid) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return UniqueFd();
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.valid()) return fd;
  if (::connect(fd.get(), reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
    if (errno == ECONNREFUSED) ::unlink(path.c_str());
    return UniqueFd();
  }
  struct ucred cred{};
  socklen_t len = sizeof cred;
  if (::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != ::geteuid() ||
      static_cast<DWORD>(cred.pid) != pid)  // an endpoint named for another process
    return UniqueFd();
  return fd;
}

// When the layer's own work is due next (time_point::min(): at once): notices to
// tell, listeners to wake, connections and transactions whose time limit passes.
Clock::time_point NextDeadline() {
  Clock::time_point t = g_notices.empty() ? Clock::time_point::max() : Clock::time_point::min();
  for (auto &[id, inst] : g_instances)
    for (const Listener &l : inst.listeners)
      if (l.pausedUntil != Clock::time_point{}) t = std::min(t, l.pausedUntil);
  for (auto &[id, c] : g_convs) {
    t = std::min(t, c.deadline);
    if (!c.inflight.empty() && c.inflight.front().async) t = std::min(t, c.inflight.front().deadline);
  }
  return t;
}

// The time limits that passed, and the conversations the layer ended: a silent new
// connection is closed, an unanswered asynchronous connect or transaction ends its
// conversation; each dropped conversation's instance hears XTYP_DISCONNECT.
void OnTimeLimits() {
  const Clock::time_point now = Clock::now();
  for (auto &[id, inst] : g_instances)
    for (Listener &l : inst.listeners)
      if (l.pausedUntil != Clock::time_point{} && l.pausedUntil <= now) l.pausedUntil = {};
  std::vector<std::pair<std::uintptr_t, ULONG_PTR>> expired;
  auto ackLate = [now](const Conv &c) {
    return !c.inflight.empty() && c.inflight.front().async && c.inflight.front().deadline <= now;
  };
  for (auto &[id, c] : g_convs) {
    if (c.deadline <= now) expired.push_back({id, c.server ? kDropHandshake : kDropNoReply});
    else if (ackLate(c)) expired.push_back({id, kDropNoAck});
  }
  for (auto [id, reason] : expired) {
    if (reason == kDropNoAck) ReadAcks(id, false);  // ACKs read along may be there already
    const Conv *c = FindConv(id);
    if (c != nullptr && (reason != kDropNoAck || ackLate(*c))) Drop(id, reason);
  }
  std::vector<Notice> notices;
  notices.swap(g_notices);
  for (const Notice &n : notices) Callback(n.inst, XTYP_DISCONNECT, 0, n.conv, "", "", nullptr, n.same, n.reason);
}

// The layer's time limits, watched from the first instance on.
void WatchTimeLimits() {
  static const WatchId watch = Watch({-1, nullptr, NextDeadline, [](short) { OnTimeLimits(); }, nullptr});
  (void)watch;
}

// A token for a new client conversation: one no other client conversation of this
// process holds (they are far fewer than the tokens).
std::uint16_t NewToken() {
  static std::uint16_t last = 0;
  for (;;) {
    if (++last == 0) continue;
    if (std::none_of(g_convs.begin(), g_convs.end(), [](const auto &c) { return !c.second.server && c.second.token == last; }))
      return last;
  }
}

// What DdeConnect and qlm::ConnectNoWait share: the names checked, the candidates
// found, a socket connected to one of them and its CONNECT sent. `wait`: DdeConnect's
// wait for each reply; without it the first candidate that takes the CONNECT is
// returned still awaiting its reply.
HCONV Connect(DWORD idInst, HSZ hszService, HSZ hszTopic, bool wait) {
  Instance *inst = FindInstance(idInst);
  if (inst == nullptr) return nullptr;
  const std::string *svcName = AtomName(hszService), *topicName = AtomName(hszTopic);
  std::string service;
  DWORD pid = 0, number = 0;
  const bool specific = svcName != nullptr && ParseInstanceName(*svcName, &service, &pid, &number);
  if (!specific && svcName != nullptr) service = *svcName;
  service = Upper(service.c_str());
  if (!PlainName(service) || topicName == nullptr || !PlainName(*topicName)) {
    inst->lastError = DMLERR_INVALIDPARAMETER;
    return nullptr;
  }
  const std::string topic = Upper(topicName->c_str());
  const char *dir = qlm::RunDirectory();
  if (dir == nullptr) {
    inst->lastError = DMLERR_SYS_ERROR;
    return nullptr;
  }
  std::vector<Candidate> candidates;
  if (specific)
    candidates.push_back({pid, number, EndpointPath(dir, service, pid, number)});
  else
    candidates = Endpoints(dir, service);

  const std::uint16_t token = NewToken();
  const Frame connect =
      ConnectFrame{service, topic, static_cast<std::uint32_t>(::getpid()), inst->number, token}.encode();
  for (const Candidate &cand : candidates) {
    if (g_convs.size() >= kMaxConversations) break;
    UniqueFd fd = ConnectEndpoint(cand.path, cand.pid);
    if (!fd.valid()) continue;
    ssize_t sent;
    do sent = ::send(fd.get(), connect.data(), connect.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(connect.size())) continue;
    Conv conv(idInst, fd.release(), false, Phase::AwaitReply, service, topic, cand.pid, cand.inst);
    conv.token = token;
    conv.asyncConnect = !wait;
    if (!wait) conv.deadline = Clock::now() + std::chrono::milliseconds(kConnectReplyMs);  // DdeConnect waits itself
    const std::uintptr_t id = AddConv(std::move(conv));
    if (!wait) return ConvHandle(id);
    PumpUntil([id] {
      const Conv *c = FindConv(id);
      return c == nullptr || c->reply >= 0 || c->closed;
    }, Clock::now() + std::chrono::milliseconds(kConnectReplyMs));
    Conv *c = FindConv(id);
    if (c != nullptr && c->reply == 1 && !c->closed) {
      c->phase = Phase::Open;
      c->deadline = Clock::time_point::max();
      return ConvHandle(id);
    }
    CloseConv(id);
  }
  SetError(idInst, DMLERR_NO_CONV_ESTABLISHED);
  return nullptr;
}

// The frame of a transaction, in `out`: a POKE of `item` (the topic when none), or an
// EXECUTE.
void TransactionFrame(const Conv &c, UINT wType, UINT wFmt, HSZ hszItem, FrameView payload, Frame *out) {
  if (wType == XTYP_EXECUTE) return ExecuteFrame{payload}.encode(out);
  const std::string *item = AtomName(hszItem);
  PokeFrame{wFmt, item != nullptr ? Upper(item->c_str()) : c.topic, payload}.encode(out);
}

}  // namespace

bool InstanceExists(DWORD idInst) { return FindInstance(idInst) != nullptr; }

}  // namespace qlm::platform

using namespace qlm::platform;

UINT DdeInitializeA(DWORD *pidInst, PFNCALLBACK pfnCallback, DWORD, DWORD) {
  if (pidInst == nullptr || *pidInst != 0 || pfnCallback == nullptr) return DMLERR_INVALIDPARAMETER;
  WatchTimeLimits();
  BeforeWait(SendAcksHeld);
  const DWORD n = ++g_counter;
  g_instances[n] = Instance{n, pfnCallback, DMLERR_NO_ERROR, {}};
  *pidInst = n;
  return DMLERR_NO_ERROR;
}

BOOL DdeUninitialize(DWORD idInst) {
  Instance *inst = FindInstance(idInst);
  if (inst == nullptr) return FALSE;
  std::vector<std::uintptr_t> convs;
  for (const auto &[id, c] : g_convs)
    if (c.inst == idInst) convs.push_back(id);
  for (std::uintptr_t id : convs) CloseConv(id);
  for (Listener &l : inst->listeners) CloseListener(l);
  g_notices.erase(std::remove_if(g_notices.begin(), g_notices.end(), [idInst](const Notice &n) { return n.inst == idInst; }),
                  g_notices.end());
  g_instances.erase(idInst);
  return TRUE;
}

HDDEDATA DdeNameService(DWORD idInst, HSZ hsz1, HSZ, UINT afCmd) {
  Instance *inst = FindInstance(idInst);
  if (inst == nullptr) return nullptr;
  const HDDEDATA ok = reinterpret_cast<HDDEDATA>(1);
  const std::string service = hsz1 != nullptr ? Upper(AtomName(hsz1)->c_str()) : "";
  if (afCmd & DNS_UNREGISTER) {
    auto &ls = inst->listeners;
    auto keep = std::stable_partition(ls.begin(), ls.end(), [&](const Listener &l) {
      return hsz1 != nullptr && l.service != service;
    });
    const bool found = keep != ls.end();
    std::for_each(keep, ls.end(), CloseListener);
    ls.erase(keep, ls.end());
    if (!found) inst->lastError = DMLERR_INVALIDPARAMETER;
    return found ? ok : nullptr;
  }
  if (!(afCmd & DNS_REGISTER)) return ok;  // filter flags: nothing to do
  if (!PlainName(service)) {
    inst->lastError = DMLERR_INVALIDPARAMETER;
    return nullptr;
  }
  for (const Listener &l : inst->listeners)
    if (l.service == service) return ok;
  const char *dir = qlm::RunDirectory();
  if (dir == nullptr) {
    inst->lastError = DMLERR_SYS_ERROR;
    return nullptr;
  }
  Listener l{g_nextId++, service, EndpointPath(dir, service, ::getpid(), inst->number), {}};
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, l.path.c_str(), std::min(l.path.size() + 1, sizeof addr.sun_path - 1));
  l.fd.reset(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  ::unlink(l.path.c_str());  // a leftover of a dead process that had our pid
  if (!l.fd.valid() || ::bind(l.fd.get(), reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
      ::listen(l.fd.get(), kListenBacklog) != 0) {
    inst->lastError = DMLERR_SYS_ERROR;
    return nullptr;
  }
  const DWORD number = inst->number;
  const std::uintptr_t lid = l.id;
  l.watch = Watch({l.fd.get(), [number, lid] { return ListenerEvents(number, lid); }, nullptr,
                   [number, lid](short) { OnListenerReady(number, lid); }, nullptr});
  inst->listeners.push_back(std::move(l));
  return ok;
}

HCONV DdeConnect(DWORD idInst, HSZ hszService, HSZ hszTopic, PCONVCONTEXT) {
  return Connect(idInst, hszService, hszTopic, true);
}

BOOL DdeDisconnect(HCONV hConv) {
  if (FindConv(ConvId(hConv)) == nullptr) return FALSE;
  CloseConv(ConvId(hConv));
  return TRUE;
}

HDDEDATA DdeClientTransaction(LPBYTE pData, DWORD cbData, HCONV hConv, HSZ hszItem, UINT wFmt,
                              UINT wType, DWORD dwTimeout, LPDWORD pdwResult) {
  const std::uintptr_t id = ConvId(hConv);
  // A data handle passed in is the call's: it goes when the call ends.
  struct Owned {
    HDDEDATA h;
    ~Owned() { DeleteData(h); }
  } owned{cbData == 0xFFFFFFFF ? reinterpret_cast<HDDEDATA>(pData) : nullptr};
  FrameView payload;
  if (owned.h != nullptr) {
    if (const std::vector<BYTE> *bytes = DataBytes(owned.h)) payload = *bytes;
  } else if (pData != nullptr) {
    payload = FrameView(pData, cbData);
  }
  if (pdwResult != nullptr) *pdwResult = 0;
  Conv *c = FindConv(id);
  const bool pendingConnect = c != nullptr && c->asyncConnect && c->phase == Phase::AwaitReply;
  if (c == nullptr || c->server || (c->phase != Phase::Open && !(pendingConnect && dwTimeout == TIMEOUT_ASYNC))) {
    if (c != nullptr) SetError(c->inst, DMLERR_NO_CONV_ESTABLISHED);
    else
      for (auto &[n, inst] : g_instances) inst.lastError = DMLERR_NO_CONV_ESTABLISHED;
    return nullptr;
  }
  const DWORD inst = c->inst;
  auto fail = [inst](UINT error) -> HDDEDATA {
    SetError(inst, error);
    return nullptr;
  };
  const bool async = dwTimeout == TIMEOUT_ASYNC;
  if (c->waitingTxn != 0) return fail(DMLERR_REENTRANCY);
  if (wType != XTYP_POKE && wType != XTYP_EXECUTE) return fail(DMLERR_INVALIDPARAMETER);

  static Frame &frame = *new Frame;  // never destroyed, like the rest of the layer's state
  TransactionFrame(*c, wType, wFmt, hszItem, payload, &frame);
  if (frame.size() > kMaxFrame) return fail(DMLERR_MEMORY_ERROR);
  if (g_nextTxn == 0) g_nextTxn = 1;  // 0 names no transaction
  const DWORD txn = g_nextTxn++;
  const HeldAck carried = wType == XTYP_POKE ? CarryHeldAck(*c) : HeldAck{};
  if (carried.conv != 0) PokeFrame::setAcks(&frame, FindConv(carried.conv)->token);
  const Queued queued = Enqueue(*c, frame, txn, async);
  if (queued != Queued::Ok && carried.conv != 0) SendAck(carried.conv, carried.status);  // it goes on its own
  switch (queued) {
    case Queued::Ok: break;
    case Queued::TooBig: return fail(DMLERR_MEMORY_ERROR);
    case Queued::Overflow:
      Drop(id, kDropNotReading);
      return fail(DMLERR_SERVER_DIED);
    case Queued::Broken:
      Drop(id, kDropPartnerClosed);
      return fail(DMLERR_SERVER_DIED);
  }
  if (async) {
    if (pdwResult != nullptr) *pdwResult = txn;
    return reinterpret_cast<HDDEDATA>(static_cast<std::uintptr_t>(txn));
  }

  c->waitingTxn = txn;
  c->acked = false;
  PumpUntil([id] {
    const Conv *k = FindConv(id);
    return k == nullptr || k->acked;
  }, Clock::now() + std::chrono::milliseconds(dwTimeout));
  c = FindConv(id);
  if (c == nullptr) return fail(DMLERR_SERVER_DIED);
  c->waitingTxn = 0;
  if (!c->acked) {
    // Not sent yet: it never will be. Sent: its ACK, when it comes, is dropped.
    auto unsent = std::find_if(c->out.begin(), c->out.end(), [txn](const OutFrame &f) { return f.txn == txn; });
    if (unsent != c->out.end()) {
      c->outBytes -= unsent->bytes.size();
      c->out.erase(unsent);
    }
    for (InFlight &t : c->inflight)
      if (t.txn == txn) t.stale = true;
    return fail(wType == XTYP_POKE ? DMLERR_POKEACKTIMEOUT : DMLERR_EXECACKTIMEOUT);
  }
  if (pdwResult != nullptr) *pdwResult = c->ackStatus;
  if (c->ackStatus & DDE_FACK) return reinterpret_cast<HDDEDATA>(1);
  return fail((c->ackStatus & DDE_FBUSY) ? DMLERR_BUSY : DMLERR_NOTPROCESSED);
}

UINT DdeGetLastError(DWORD idInst) {
  Instance *inst = FindInstance(idInst);
  if (inst == nullptr) return DMLERR_DLL_NOT_INITIALIZED;
  const UINT e = inst->lastError;
  inst->lastError = DMLERR_NO_ERROR;
  return e;
}

namespace qlm {

HCONV ConnectNoWait(DWORD idInst, HSZ hszService, HSZ hszTopic) {
  return Connect(idInst, hszService, hszTopic, false);
}

void SendHeldAcks() { SendAcksHeld(); }

BOOL BatchAcks(DWORD idInst) {
  Instance *i = FindInstance(idInst);
  if (i == nullptr) return FALSE;
  i->batchAcks = true;
  return TRUE;
}

BOOL ConversationPartner(HCONV hConv, DWORD *pid, DWORD *instance) {
  const Conv *c = FindConv(ConvId(hConv));
  if (c == nullptr) return FALSE;
  if (pid != nullptr) *pid = c->partnerPid;
  if (instance != nullptr) *instance = c->partnerInst;
  return TRUE;
}

}  // namespace qlm
