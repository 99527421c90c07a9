// DDE over AF_UNIX / SOCK_SEQPACKET: instances, names, endpoints, conversations and
// their frames. See platform/windows.h for what each call promises.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <utility>

#include "platform/internal.h"

namespace qlm::platform {

std::string Upper(const char *s) {
  std::string r(s != nullptr ? s : "");
  for (char &c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

namespace {

// ---- names --------------------------------------------------------------------

struct Atom {
  std::string name;  // as first created
  int refs = 0;
};
// The layer's state is never destroyed, so that the library may still use it while
// the process ends (its unload path runs after the static destructors).
std::map<std::string, Atom *> &g_atoms = *new std::map<std::string, Atom *>;  // by upper-case name
constexpr std::size_t kMaxAtom = 255;

HSZ AcquireAtom(const std::string &name) {
  Atom *&a = g_atoms[Upper(name.c_str())];
  if (a == nullptr) a = new Atom{name, 0};
  ++a->refs;
  return reinterpret_cast<HSZ>(a);
}

void ReleaseAtom(HSZ h) {
  Atom *a = reinterpret_cast<Atom *>(h);
  if (a == nullptr || --a->refs > 0) return;
  g_atoms.erase(Upper(a->name.c_str()));
  delete a;
}

const std::string *AtomName(HSZ h) {
  Atom *a = reinterpret_cast<Atom *>(h);
  return a != nullptr ? &a->name : nullptr;
}

// A plain service or topic name: 1..8 characters, no '.', '/' or NUL games.
bool PlainName(const std::string &n) {
  return !n.empty() && n.size() <= kMaxName && n.find_first_of("./") == std::string::npos;
}

// "<SERVICE>.<pid>.<n>": the parts, or false.
bool ParseInstanceName(const std::string &s, std::string *service, DWORD *pid, DWORD *inst) {
  const std::size_t d1 = s.find('.');
  if (d1 == std::string::npos) return false;
  const std::size_t d2 = s.find('.', d1 + 1);
  if (d2 == std::string::npos) return false;
  auto number = [](const std::string &t, DWORD *out) {
    if (t.empty() || t.size() > 10 || t.find_first_not_of("0123456789") != std::string::npos)
      return false;
    unsigned long long v = std::stoull(t);
    if (v == 0 || v > 0xFFFFFFFFull) return false;
    *out = static_cast<DWORD>(v);
    return true;
  };
  *service = s.substr(0, d1);
  return PlainName(*service) && number(s.substr(d1 + 1, d2 - d1 - 1), pid) &&
         number(s.substr(d2 + 1), inst);
}

// ---- data objects -------------------------------------------------------------

constexpr std::uint32_t kDataMagic = 0x44444544;  // "DEDD"
struct DataObject {
  std::uint32_t magic = kDataMagic;
  std::vector<BYTE> bytes;
  UINT fmt = 0;
};

DataObject *AsData(HDDEDATA h) {
  auto *d = reinterpret_cast<DataObject *>(h);
  return d != nullptr && d->magic == kDataMagic ? d : nullptr;
}

HDDEDATA NewData(const BYTE *p, std::size_t n, UINT fmt) {
  auto *d = new DataObject;
  d->bytes.assign(p, p + n);
  d->fmt = fmt;
  return reinterpret_cast<HDDEDATA>(d);
}

void DeleteData(HDDEDATA h) {
  if (DataObject *d = AsData(h)) {
    d->magic = 0;
    delete d;
  }
}

// ---- instances, endpoints, conversations --------------------------------------

struct Listener {
  std::uintptr_t id;
  std::string service;  // upper case
  std::string path;
  int fd;
  Clock::time_point pausedUntil{};  // accepting paused (descriptors ran out) until then
  int backoffMs = 0;
};

struct Instance {
  DWORD number;
  PFNCALLBACK callback;
  UINT lastError = DMLERR_NO_ERROR;
  std::vector<Listener> listeners;
};

enum class Phase { AwaitConnect, AwaitReply, Open };

// A frame waiting for the socket to take it; `txn` for a POKE or EXECUTE, which is
// sent only while fewer than kMaxUnacked transactions wait for their ACK.
struct OutFrame {
  std::vector<std::uint8_t> bytes;
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
  int fd;
  bool server;
  Phase phase;
  std::string service, topic;  // plain names, upper case
  DWORD partnerPid, partnerInst;
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
  std::deque<InFlight> inflight;
};

// A conversation the layer ended itself: its instance hears XTYP_DISCONNECT with the
// reason in dwData1 at the next dispatch.
struct Notice {
  DWORD inst;
  std::uintptr_t conv;
  ULONG_PTR reason;
  ULONG_PTR same;
};

std::map<DWORD, Instance> &g_instances = *new std::map<DWORD, Instance>;  // by idInst (= the number)
std::map<std::uintptr_t, Conv> &g_convs = *new std::map<std::uintptr_t, Conv>;
std::vector<Notice> &g_notices = *new std::vector<Notice>;
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

// Hands queued frames to the socket while it takes them (never waiting) and the
// partner keeps up with its ACKs. false: the conversation is broken.
bool Flush(Conv &c) {
  if (c.fd < 0 || c.phase != Phase::Open) return true;  // held until the conversation opens
  while (!c.out.empty()) {
    OutFrame &f = c.out.front();
    if (f.txn != 0 && Unacked(c) >= kMaxUnacked) return true;
    const ssize_t r = ::send(c.fd, f.bytes.data(), f.bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (r < 0) return false;
    if (f.txn != 0)
      c.inflight.push_back({f.txn, f.async, false,
                            f.async ? Clock::now() + std::chrono::milliseconds(kAckLimitMs)
                                    : Clock::time_point::max()});
    c.outBytes -= f.bytes.size();
    c.out.pop_front();
  }
  return true;
}

enum class Queued { Ok, TooBig, Overflow, Broken };

// Queues a frame behind the others of the conversation and sends what the socket takes.
Queued Enqueue(Conv &c, std::vector<std::uint8_t> bytes, DWORD txn = 0, bool async = false) {
  if (c.out.size() >= kMaxQueuedFrames || c.outBytes + bytes.size() > kMaxQueuedBytes) return Queued::Overflow;
  if (c.out.empty() && c.fd >= 0 && c.phase == Phase::Open && (txn == 0 || Unacked(c) < kMaxUnacked)) {
    ssize_t r;
    do r = ::send(c.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    while (r < 0 && errno == EINTR);
    if (r >= 0) {
      if (txn != 0)
        c.inflight.push_back({txn, async, false,
                              async ? Clock::now() + std::chrono::milliseconds(kAckLimitMs)
                                    : Clock::time_point::max()});
      return Queued::Ok;
    }
    if (errno == EMSGSIZE) return Queued::TooBig;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return Queued::Broken;
  }
  c.outBytes += bytes.size();
  c.out.push_back({std::move(bytes), txn, async});
  return Queued::Ok;
}

// A frame that must go out at once on a socket of no conversation (yet): the refusal
// of a CONNECT. Never waits; a peer that does not read loses it.
void SendNow(int fd, const void *p, std::size_t n) {
  ssize_t r;
  do r = ::send(fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
  while (r < 0 && errno == EINTR);
}

// One packet, without waiting. 1 read, 0 the partner closed (or sent a frame far
// larger than any valid one, which ends the conversation), -1 nothing there.
int RecvFrame(int fd, std::vector<std::uint8_t> *out) {
  static std::uint8_t scratch[kMaxFrame];
  ssize_t n;
  do n = ::recv(fd, scratch, sizeof scratch, MSG_TRUNC | MSG_DONTWAIT);
  while (n < 0 && errno == EINTR);
  if (n < 0) return (errno == EAGAIN || errno == EWOULDBLOCK) ? -1 : 0;
  if (n == 0 || static_cast<std::size_t>(n) > sizeof scratch) return 0;  // frames are never empty
  out->assign(scratch, scratch + n);
  return 1;
}

std::string NameField(const std::uint8_t *p) {
  std::size_t n = 0;
  while (n < kMaxName && p[n] != 0) ++n;
  return std::string(reinterpret_cast<const char *>(p), n);
}

void PutName(std::uint8_t *p, const std::string &name) {
  std::memset(p, 0, kNameField);
  std::memcpy(p, name.data(), std::min(name.size(), kMaxName));
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

void CloseConv(std::uintptr_t id) {
  if (Conv *c = FindConv(id)) {
    if (c->fd >= 0) ::close(c->fd);
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
    ::close(c->fd);
    c->fd = -1;
    return;
  }
  const DWORD inst = c->inst;
  const ULONG_PTR same = SameInstance(*c);
  ::close(c->fd);
  c->fd = -1;
  g_convs.erase(id);
  Callback(inst, XTYP_DISCONNECT, 0, id, "", "", nullptr, same);
}

void SendAck(std::uintptr_t id, std::uint32_t status) {
  Conv *c = FindConv(id);
  if (c == nullptr) return;
  std::vector<std::uint8_t> f(kAckSize);
  qlm::wire::putU32(f.data(), kAck);
  qlm::wire::putU32(f.data() + 4, status);
  const Queued q = Enqueue(*c, std::move(f));
  if (q != Queued::Ok) Drop(id, q == Queued::Overflow ? kDropNotReading : kDropPartnerClosed);
}

std::uint32_t AckStatus(HDDEDATA r) {
  const auto v = reinterpret_cast<std::uintptr_t>(r);
  if (v & DDE_FACK) return DDE_FACK;
  if (v & DDE_FBUSY) return DDE_FBUSY;
  return 0;
}

// Server side: the CONNECT frame of a newly accepted connection. A CONNECT must name
// the listener's service and the connecting process's own pid.
void OnConnectFrame(std::uintptr_t id, const std::vector<std::uint8_t> &f, const std::string &listenerService) {
  Conv *c = FindConv(id);
  std::uint8_t reply[kConnectReplySize];
  qlm::wire::putU32(reply, kConnectReply);
  qlm::wire::putU32(reply + 4, 0);
  if (f.size() != kConnectSize || qlm::wire::getU32(f.data()) != kConnect ||
      Upper(NameField(f.data() + 4).c_str()) != listenerService ||
      qlm::wire::getU32(f.data() + 24) != static_cast<std::uint32_t>(c->peerPid)) {
    SendNow(c->fd, reply, sizeof reply);
    CloseConv(id);
    return;
  }
  c->service = Upper(NameField(f.data() + 4).c_str());
  c->topic = Upper(NameField(f.data() + 13).c_str());
  c->partnerPid = qlm::wire::getU32(f.data() + 24);
  c->partnerInst = qlm::wire::getU32(f.data() + 28);
  c->deadline = Clock::time_point::max();
  const DWORD inst = c->inst;
  const std::string topic = c->topic, service = c->service;
  const ULONG_PTR same = SameInstance(*c);
  HDDEDATA ok = Callback(inst, XTYP_CONNECT, 0, 0, topic, service, nullptr, same);
  c = FindConv(id);
  if (c == nullptr) return;
  if (ok == nullptr) {
    SendNow(c->fd, reply, sizeof reply);
    CloseConv(id);
    return;
  }
  qlm::wire::putU32(reply + 4, 1);
  c->phase = Phase::Open;
  SendNow(c->fd, reply, sizeof reply);  // the first frame: a fresh socket takes it
  Callback(inst, XTYP_CONNECT_CONFIRM, 0, id, topic, service, nullptr, same);
}

// Server side: one POKE or EXECUTE of an open conversation; its ACK.
void OnServerFrame(std::uintptr_t id, const std::vector<std::uint8_t> &f) {
  Conv *c = FindConv(id);
  const std::uint32_t kind = f.size() >= 4 ? qlm::wire::getU32(f.data()) : 0;
  const DWORD inst = c->inst;
  const std::string topic = c->topic;
  const ULONG_PTR same = SameInstance(*c);
  if (kind == kPoke) {
    if (f.size() < kPokeHeader || qlm::wire::getU32(f.data() + 20) != f.size() - kPokeHeader) return SendAck(id, 0);
    const UINT fmt = qlm::wire::getU32(f.data() + 4);
    HDDEDATA data = NewData(f.data() + kPokeHeader, f.size() - kPokeHeader, fmt);
    HDDEDATA r = Callback(inst, XTYP_POKE, fmt, id, topic, NameField(f.data() + 8), data, same);
    DeleteData(data);
    SendAck(id, AckStatus(r));
  } else if (kind == kExecute) {
    if (f.size() < kExecuteHeader || qlm::wire::getU32(f.data() + 4) != f.size() - kExecuteHeader) return SendAck(id, 0);
    HDDEDATA data = NewData(f.data() + kExecuteHeader, f.size() - kExecuteHeader, 0);
    HDDEDATA r = Callback(inst, XTYP_EXECUTE, 0, id, topic, "", data, same);
    DeleteData(data);
    SendAck(id, AckStatus(r));
  }
  // Any other frame from a client has no meaning and is dropped.
}

// Client side: CONNECT_REPLY while connecting, ACKs afterwards.
void OnClientFrame(std::uintptr_t id, const std::vector<std::uint8_t> &f) {
  Conv *c = FindConv(id);
  const std::uint32_t kind = f.size() >= 8 ? qlm::wire::getU32(f.data()) : 0;
  if (c->phase == Phase::AwaitReply) {
    if (kind != kConnectReply || f.size() != kConnectReplySize) return;
    c->reply = qlm::wire::getU32(f.data() + 4) == 1 ? 1 : 0;
    if (!c->asyncConnect) return;  // DdeConnect, waiting, takes it from here
    if (c->reply != 1) return Drop(id, kDropRefused);
    c->phase = Phase::Open;
    c->deadline = Clock::time_point::max();
    if (!Flush(*c)) Drop(id, kDropPartnerClosed);
    return;
  }
  if (kind != kAck || f.size() != kAckSize || c->inflight.empty()) return;  // an ACK of nothing: dropped
  const InFlight t = c->inflight.front();
  c->inflight.pop_front();
  const std::uint32_t status = qlm::wire::getU32(f.data() + 4);
  if (t.stale) {
  } else if (!t.async) {
    if (t.txn == c->waitingTxn) {
      c->acked = true;
      c->ackStatus = status;
    }
  } else {
    const DWORD inst = c->inst;
    const std::string topic = c->topic;
    const ULONG_PTR ok = (status & DDE_FACK) ? 1 : 0;
    Callback(inst, XTYP_XACT_COMPLETE, 0, id, topic, topic, reinterpret_cast<HDDEDATA>(ok), status, t.txn);
    c = FindConv(id);
    if (c == nullptr) return;
  }
  if (!Flush(*c)) Drop(id, kDropPartnerClosed);  // a transaction held back may go now
}

std::size_t Handshaking() {
  std::size_t n = 0;
  for (const auto &[id, c] : g_convs) n += c.server && c.phase == Phase::AwaitConnect;
  return n;
}

void Accept(Instance &inst, Listener &l) {
  int fd = ::accept4(l.fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) {
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
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != ::geteuid()) {
    ::close(fd);
    return;
  }
  std::size_t fromPeer = 0;
  for (const auto &[id, c] : g_convs) fromPeer += c.server && c.peerPid == cred.pid;
  if (fromPeer >= kMaxConversationsPerPeer) {
    ::close(fd);
    return;
  }
  if (Handshaking() >= kMaxHandshakes) {  // the oldest silent connection makes room
    for (auto &[id, c] : g_convs)
      if (c.server && c.phase == Phase::AwaitConnect) {
        CloseConv(id);
        break;
      }
  }
  Conv c(inst.number, fd, true, Phase::AwaitConnect, l.service, "", 0, 0);
  c.peerPid = cred.pid;
  c.deadline = Clock::now() + std::chrono::milliseconds(kHandshakeLimitMs);
  g_convs.emplace(g_nextId++, std::move(c));
}

std::string EndpointPath(const char *dir, const std::string &service, DWORD pid, DWORD inst) {
  char name[64];
  InstanceServiceName(name, sizeof name, service.c_str(), pid, inst);
  return std::string(dir) + "/" + name;
}

void CloseListener(const Listener &l) {
  ::close(l.fd);
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
// the descriptor (non-blocking), or -1 (a refusing endpoint is unlinked).
int ConnectEndpoint(const std::string &path, DWORD pid) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return -1;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
    if (errno == ECONNREFUSED) ::unlink(path.c_str());
    ::close(fd);
    return -1;
  }
  struct ucred cred{};
  socklen_t len = sizeof cred;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != ::geteuid() ||
      static_cast<DWORD>(cred.pid) != pid) {  // an endpoint named for another process
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

void CollectDdeSources(std::vector<PollSource> &out) {
  out.clear();
  const Clock::time_point now = Clock::now();
  if (g_convs.size() < kMaxConversations)  // at the cap new connections wait in the backlog
    for (auto &[id, inst] : g_instances)
      for (const Listener &l : inst.listeners)
        if (l.pausedUntil <= now) out.push_back({l.fd, l.id, POLLIN});
  for (auto &[id, c] : g_convs)
    if (c.fd >= 0) {
      const bool sending = !c.out.empty() && c.phase == Phase::Open &&
                           (c.out.front().txn == 0 || Unacked(c) < kMaxUnacked);
      out.push_back({c.fd, id, static_cast<short>(POLLIN | (sending ? POLLOUT : 0))});
    }
}

Clock::time_point NextDdeDeadline() {
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
void ServiceDdeTimeLimits() {
  const Clock::time_point now = Clock::now();
  for (auto &[id, inst] : g_instances)
    for (Listener &l : inst.listeners)
      if (l.pausedUntil != Clock::time_point{} && l.pausedUntil <= now) l.pausedUntil = {};
  std::vector<std::pair<std::uintptr_t, ULONG_PTR>> expired;
  for (auto &[id, c] : g_convs) {
    if (c.deadline <= now) expired.push_back({id, c.server ? kDropHandshake : kDropNoReply});
    else if (!c.inflight.empty() && c.inflight.front().async && c.inflight.front().deadline <= now)
      expired.push_back({id, kDropNoAck});
  }
  for (auto [id, reason] : expired) Drop(id, reason);
  std::vector<Notice> notices;
  notices.swap(g_notices);
  for (const Notice &n : notices) Callback(n.inst, XTYP_DISCONNECT, 0, n.conv, "", "", nullptr, n.same, n.reason);
}

void ServiceDdeSource(std::uintptr_t id, short revents) {
  if (id == kTimeLimitsSource) return ServiceDdeTimeLimits();
  for (auto &[n, inst] : g_instances)
    for (Listener &l : inst.listeners)
      if (l.id == id) return Accept(inst, l);
  Conv *c = FindConv(id);
  if (c == nullptr) return;
  if ((revents & POLLOUT) != 0 && !Flush(*c)) return PartnerClosed(id);
  if ((revents & ~POLLOUT) == 0) return;
  std::vector<std::uint8_t> f;
  const int r = RecvFrame(c->fd, &f);
  if (r < 0) return;
  if (r == 0) return PartnerClosed(id);
  if (!c->server) return OnClientFrame(id, f);
  if (c->phase == Phase::AwaitConnect) return OnConnectFrame(id, f, c->service);
  OnServerFrame(id, f);
}

}  // namespace qlm::platform

using namespace qlm::platform;

UINT DdeInitializeA(DWORD *pidInst, PFNCALLBACK pfnCallback, DWORD, DWORD) {
  if (pidInst == nullptr || *pidInst != 0 || pfnCallback == nullptr) return DMLERR_INVALIDPARAMETER;
  const DWORD n = ++g_counter;
  g_instances[n] = Instance{n, pfnCallback, DMLERR_NO_ERROR, {}};
  *pidInst = n;
  return DMLERR_NO_ERROR;
}

BOOL DdeUninitialize(DWORD idInst) {
  Instance *inst = FindInstance(idInst);
  if (inst == nullptr) return FALSE;
  for (auto it = g_convs.begin(); it != g_convs.end();) {
    if (it->second.inst == idInst) {
      ::close(it->second.fd);
      it = g_convs.erase(it);
    } else {
      ++it;
    }
  }
  for (const Listener &l : inst->listeners) CloseListener(l);
  g_notices.erase(std::remove_if(g_notices.begin(), g_notices.end(), [idInst](const Notice &n) { return n.inst == idInst; }),
                  g_notices.end());
  g_instances.erase(idInst);
  return TRUE;
}

HSZ DdeCreateStringHandleA(DWORD, LPCSTR psz, int) {
  if (psz == nullptr || std::strlen(psz) > kMaxAtom) return nullptr;
  return AcquireAtom(psz);
}

BOOL DdeFreeStringHandle(DWORD, HSZ hsz) {
  if (hsz == nullptr) return FALSE;
  ReleaseAtom(hsz);
  return TRUE;
}

int DdeCmpStringHandles(HSZ hsz1, HSZ hsz2) {
  if (hsz1 == hsz2) return 0;
  if (hsz1 == nullptr) return -1;
  if (hsz2 == nullptr) return 1;
  const int r = Upper(AtomName(hsz1)->c_str()).compare(Upper(AtomName(hsz2)->c_str()));
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

DWORD DdeQueryStringA(DWORD, HSZ hsz, LPSTR psz, DWORD cchMax, int) {
  const std::string *name = AtomName(hsz);
  if (name == nullptr) return 0;
  if (psz != nullptr && cchMax > 0) {
    const std::size_t n = std::min<std::size_t>(name->size(), cchMax - 1);
    std::memcpy(psz, name->data(), n);
    psz[n] = '\0';
  }
  return static_cast<DWORD>(name->size());
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
  Listener l{g_nextId++, service, EndpointPath(dir, service, ::getpid(), inst->number), -1};
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, l.path.c_str(), std::min(l.path.size() + 1, sizeof addr.sun_path - 1));
  l.fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  ::unlink(l.path.c_str());  // a leftover of a dead process that had our pid
  if (l.fd < 0 || ::bind(l.fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
      ::listen(l.fd, 64) != 0) {
    if (l.fd >= 0) ::close(l.fd);
    inst->lastError = DMLERR_SYS_ERROR;
    return nullptr;
  }
  inst->listeners.push_back(l);
  return ok;
}

namespace {

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

  std::uint8_t frame[kConnectSize] = {};
  qlm::wire::putU32(frame, kConnect);
  PutName(frame + 4, service);
  PutName(frame + 13, topic);
  qlm::wire::putU32(frame + 24, static_cast<std::uint32_t>(::getpid()));
  qlm::wire::putU32(frame + 28, inst->number);

  for (const Candidate &cand : candidates) {
    if (g_convs.size() >= kMaxConversations) break;
    const int fd = ConnectEndpoint(cand.path, cand.pid);
    if (fd < 0) continue;
    ssize_t sent;
    do sent = ::send(fd, frame, sizeof frame, MSG_NOSIGNAL | MSG_DONTWAIT);
    while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(sizeof frame)) {
      ::close(fd);
      continue;
    }
    const std::uintptr_t id = g_nextId++;
    Conv conv(idInst, fd, false, Phase::AwaitReply, service, topic, cand.pid, cand.inst);
    conv.asyncConnect = !wait;
    if (!wait) conv.deadline = Clock::now() + std::chrono::milliseconds(kConnectReplyMs);  // DdeConnect waits itself
    g_convs.emplace(id, std::move(conv));
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

}  // namespace

HCONV DdeConnect(DWORD idInst, HSZ hszService, HSZ hszTopic, PCONVCONTEXT) {
  return Connect(idInst, hszService, hszTopic, true);
}

BOOL DdeDisconnect(HCONV hConv) {
  if (FindConv(ConvId(hConv)) == nullptr) return FALSE;
  CloseConv(ConvId(hConv));
  return TRUE;
}

HDDEDATA DdeCreateDataHandle(DWORD idInst, LPBYTE pSrc, DWORD cb, DWORD cbOff, HSZ, UINT wFmt, UINT) {
  if (FindInstance(idInst) == nullptr) return nullptr;
  HDDEDATA h = NewData(nullptr, 0, wFmt);
  DataObject *d = AsData(h);
  d->bytes.assign(static_cast<std::size_t>(cbOff) + cb, 0);
  if (pSrc != nullptr && cb > 0) std::memcpy(d->bytes.data() + cbOff, pSrc, cb);
  return h;
}

BOOL DdeFreeDataHandle(HDDEDATA hData) {
  if (AsData(hData) == nullptr) return FALSE;
  DeleteData(hData);
  return TRUE;
}

DWORD DdeGetData(HDDEDATA hData, LPBYTE pDst, DWORD cbMax, DWORD cbOff) {
  const DataObject *d = AsData(hData);
  if (d == nullptr) return 0;
  if (pDst == nullptr) return static_cast<DWORD>(d->bytes.size());
  if (cbOff >= d->bytes.size()) return 0;
  const std::size_t n = std::min<std::size_t>(cbMax, d->bytes.size() - cbOff);
  std::memcpy(pDst, d->bytes.data() + cbOff, n);
  return static_cast<DWORD>(n);
}

HDDEDATA DdeClientTransaction(LPBYTE pData, DWORD cbData, HCONV hConv, HSZ hszItem, UINT wFmt,
                              UINT wType, DWORD dwTimeout, LPDWORD pdwResult) {
  const std::uintptr_t id = ConvId(hConv);
  std::vector<std::uint8_t> payload;
  if (cbData == 0xFFFFFFFF) {
    HDDEDATA h = reinterpret_cast<HDDEDATA>(pData);
    if (const DataObject *d = AsData(h)) payload = d->bytes;
    DeleteData(h);
  } else if (pData != nullptr) {
    payload.assign(pData, pData + cbData);
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

  std::vector<std::uint8_t> frame;
  if (wType == XTYP_POKE) {
    frame.assign(kPokeHeader, 0);
    qlm::wire::putU32(frame.data(), kPoke);
    qlm::wire::putU32(frame.data() + 4, wFmt);
    const std::string *item = AtomName(hszItem);
    PutName(frame.data() + 8, item != nullptr ? Upper(item->c_str()) : c->topic);
    qlm::wire::putU32(frame.data() + 20, static_cast<std::uint32_t>(payload.size()));
  } else {
    frame.assign(kExecuteHeader, 0);
    qlm::wire::putU32(frame.data(), kExecute);
    qlm::wire::putU32(frame.data() + 4, static_cast<std::uint32_t>(payload.size()));
  }
  frame.insert(frame.end(), payload.begin(), payload.end());
  if (frame.size() > kMaxFrame) return fail(DMLERR_MEMORY_ERROR);
  if (g_nextTxn == 0) g_nextTxn = 1;  // 0 names no transaction
  const DWORD txn = g_nextTxn++;
  switch (Enqueue(*c, std::move(frame), txn, async)) {
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

BOOL ConversationPartner(HCONV hConv, DWORD *pid, DWORD *instance) {
  const Conv *c = FindConv(ConvId(hConv));
  if (c == nullptr) return FALSE;
  if (pid != nullptr) *pid = c->partnerPid;
  if (instance != nullptr) *instance = c->partnerInst;
  return TRUE;
}

bool InstanceServiceName(char *out, std::size_t size, const char *service, DWORD pid, DWORD instance) {
  const int n = std::snprintf(out, size, "%s.%u.%u", platform::Upper(service).c_str(),
                              static_cast<unsigned>(pid), static_cast<unsigned>(instance));
  return n > 0 && static_cast<std::size_t>(n) < size;
}

}  // namespace qlm
