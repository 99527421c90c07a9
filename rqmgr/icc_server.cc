#include "icc_server.h"

#include <unistd.h>
#ifndef _WIN32
#include <poll.h>
#include <sys/syscall.h>
#endif

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "wire/coding.h"
#include "wire/wire.h"

namespace qlm::rqmgr {

namespace {

IccServer *gServer = nullptr;
volatile std::sig_atomic_t gStopRequested = 0;

namespace icc = wire::icc;
using wire::getU32;
using wire::putU32;

constexpr UINT_PTR kTimerId = 1;
constexpr UINT kTimerMs = 500;

// The ICC header of a message to a client: a command or data, and its key.
void putHeader(std::uint8_t *m, bool command, int key) {
  putU32(m + icc::kIsCmdAt, command ? 1 : 0);
  putU32(m + icc::kKeyAt, static_cast<std::uint32_t>(key));
}

IccServer::Message iccMessage(bool command, int key, std::size_t length) {
  IccServer::Message m(length, 0);
  putHeader(m.data(), command, key);
  return m;
}

// A service name of 1..8 letters, digits or '_', in upper case; empty when not one.
std::string serviceName(const std::uint8_t *field, std::size_t width) {
  std::string s;
  for (std::size_t i = 0; i < width && field[i] != 0; ++i) {
    const char c = static_cast<char>(field[i]);
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    if (!ok || s.size() == 8) return {};
    s += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  }
  return s;
}

std::string printable(const std::uint8_t *field, std::size_t width) {
  std::string s;
  for (std::size_t i = 0; i < width && field[i] != 0; ++i) s += (field[i] >= 0x20 && field[i] < 0x7F) ? char(field[i]) : '?';
  return s;
}

}  // namespace

IccServer::IccServer(Service &service, LogFn log) : service_(service), log_(std::move(log)) { gServer = this; }

IccServer::~IccServer() {
  stop();
  if (gServer == this) gServer = nullptr;
}

void IccServer::requestStop() { gStopRequested = 1; }

void IccServer::watchOwner(pid_t pid) {
  owner_ = pid;
#ifdef SYS_pidfd_open
  ownerFd_.reset(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
#endif
}

// Whether the owner has ended: its pidfd readable, or (without pidfds) the process
// of its pid has ended.
bool IccServer::ownerGone() {
  if (owner_ <= 0) return false;
#ifdef SYS_pidfd_open
  if (ownerFd_.valid()) {
    pollfd p{ownerFd_.get(), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
  }
#endif
  return ProcessEnded(owner_);
}

bool IccServer::start() {
  if (DdeInitializeA(&inst_, &IccServer::callback, APPCLASS_STANDARD, 0) != DMLERR_NO_ERROR) {
    log_("cannot create the DDE instance");
    return false;
  }
  BatchAcks(inst_);  // a request answered at once: its answer and its ACK wake the client once
  control_ = DdeCreateStringHandleA(inst_, wire::kControlService, CP_WINANSI);
  controlTopic_ = DdeCreateStringHandleA(inst_, wire::kControlTopic, CP_WINANSI);
  data_ = DdeCreateStringHandleA(inst_, wire::kDataService, CP_WINANSI);
  dataTopic_ = DdeCreateStringHandleA(inst_, wire::kCourier, CP_WINANSI);
  registered_ = true;
  if (DdeNameService(inst_, control_, nullptr, DNS_REGISTER) == nullptr ||
      DdeNameService(inst_, data_, nullptr, DNS_REGISTER) == nullptr) {
    log_(std::string("cannot register the services ") + wire::kControlService + " and " + wire::kDataService +
         " (DDE error " + std::to_string(DdeGetLastError(inst_)) + ")");
    return false;
  }
  return true;
}

void IccServer::stop() {
  if (inst_ == 0) return;
  KillTimer(nullptr, kTimerId);
  for (auto &[key, c] : clients_)
    if (c.reply) DdeDisconnect(c.reply);
  clients_.clear();
  for (auto &[conv, p] : refused_) DdeDisconnect(conv);
  refused_.clear();
  if (registered_) DdeNameService(inst_, nullptr, nullptr, DNS_UNREGISTER);
  for (HSZ h : {control_, controlTopic_, data_, dataTopic_})
    if (h) DdeFreeStringHandle(inst_, h);
  DdeUninitialize(inst_);
  inst_ = 0;
  registered_ = false;
}

void IccServer::timerProc(HWND, UINT, UINT_PTR, DWORD) {
  IccServer *s = gServer;
  if (s == nullptr) return;
#ifdef _WIN32
  // DDEML tells nothing when a partner's process ends: its clients are dropped here.
  for (auto it = s->clients_.begin(); it != s->clients_.end();) {
    const int key = it->first;
    const DWORD pid = it->second.partner.pid;
    ++it;
    if (ProcessEnded(static_cast<long>(pid))) s->forget(key, "dropped: its process has ended", true);
  }
#endif
  s->service_.idle();
  if (gStopRequested) {
    s->log_("termination signal: ending");
    s->stopping_ = true;
  } else if (s->clients_.empty() && s->ownerGone()) {
    s->log_("the application it was started for (process " + std::to_string(s->owner_) + ") has ended: ending");
    s->stopping_ = true;
  }
}

void IccServer::run() {
  SetTimer(nullptr, kTimerId, kTimerMs, &IccServer::timerProc);
  // A request that only read is answered before its transaction ends: the ACKs
  // held for its answer go out, then the transaction ends, before the next wait.
  service_.lingerReads(true);
  MSG m;
  while (!stopping_) {
    SendHeldAcks();
    service_.settle();
    const BOOL r = GetMessageA(&m, nullptr, 0, 0);
    if (r == 0) break;
    if (r < 0) {
      log_("the message pump failed");
      break;
    }
    TranslateMessage(&m);
    DispatchMessageA(&m);
    drain();
  }
  service_.settle();
  service_.lingerReads(false);
  KillTimer(nullptr, kTimerId);
}

HDDEDATA IccServer::callback(UINT type, UINT, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data, ULONG_PTR data1,
                             ULONG_PTR data2) {
  IccServer *s = gServer;
  if (s == nullptr) return nullptr;
  switch (type) {
    case XTYP_CONNECT: {  // hsz1 topic, hsz2 service; data2: the server's own instance
      const bool control = DdeCmpStringHandles(hsz2, s->control_) == 0 && DdeCmpStringHandles(hsz1, s->controlTopic_) == 0;
      const bool dataCh = DdeCmpStringHandles(hsz2, s->data_) == 0 && DdeCmpStringHandles(hsz1, s->dataTopic_) == 0;
      return reinterpret_cast<HDDEDATA>(static_cast<std::uintptr_t>((control || dataCh) && data2 == 0 ? 1 : 0));
    }
    case XTYP_CONNECT_CONFIRM: {
      Event e = Event::of(Event::Confirm, conv);
      e.control = DdeCmpStringHandles(hsz1, s->controlTopic_) == 0;
      ConversationPartner(conv, &e.partner.pid, &e.partner.instance);
      s->queue_.push_back(std::move(e));
      return nullptr;
    }
    case XTYP_POKE: {
      Event e = Event::of(Event::Poke, conv);
      if (!s->spareData_.empty()) {
        e.data = std::move(s->spareData_.back());
        s->spareData_.pop_back();
      }
      const DWORD size = DdeGetData(data, nullptr, 0, 0);
      e.data.resize(size);
      if (size > 0) e.data.resize(DdeGetData(data, e.data.data(), size, 0));
      s->queue_.push_back(std::move(e));
      return reinterpret_cast<HDDEDATA>(static_cast<std::uintptr_t>(DDE_FACK));
    }
    case XTYP_XACT_COMPLETE: {
      Event e = Event::of(Event::Complete, conv);
      e.detail = data != nullptr ? 1 : 0;
      s->queue_.push_back(std::move(e));
      return nullptr;
    }
    case XTYP_DISCONNECT: {
      Event e = Event::of(Event::Disconnect, conv);
      e.detail = data1;
      s->queue_.push_back(std::move(e));
      return nullptr;
    }
    default:
      return nullptr;
  }
}

void IccServer::drain() {
  constexpr std::size_t kSpareData = 8;
  while (queueHead_ < queue_.size() && !stopping_) {
    Event e = std::move(queue_[queueHead_++]);
    switch (e.type) {
      case Event::Confirm:
        convs_[e.conv] = e;
        break;
      case Event::Poke:
        onPoke(e);
        break;
      case Event::Complete:
        onComplete(e);
        break;
      case Event::Disconnect:
        onDisconnect(e);
        break;
    }
    if (e.data.capacity() > 0 && spareData_.size() < kSpareData) {
      e.data.clear();
      spareData_.push_back(std::move(e.data));
    }
  }
  if (queueHead_ == queue_.size()) {
    queue_.clear();
    queueHead_ = 0;
  }
}

namespace {
const char *dropReason(ULONG_PTR why) {
  switch (why) {
    case kDropNotReading: return "dropped: it does not read what is sent to it";
    case kDropNoAck: return "dropped: it did not acknowledge an answer in time";
    case kDropNoReply: return "dropped: its service did not answer the connection in time";
    case kDropRefused: return "dropped: its service refused the connection";
    default: return "disconnected";
  }
}
}  // namespace

void IccServer::onDisconnect(const Event &e) {
  if (auto it = convs_.find(e.conv); it != convs_.end()) {
    const Partner p = it->second.partner;
    convs_.erase(it);
    if (Client *c = clientOf(p)) forget(c->key, dropReason(e.detail), e.detail != kDropPartnerClosed);
    return;
  }
  if (refused_.erase(e.conv) > 0) return;
  if (Client *c = clientByReply(e.conv)) {
    c->reply = nullptr;  // closed: the handle is no longer valid
    forget(c->key, dropReason(e.detail), true);
  }
}

void IccServer::onComplete(const Event &e) {
  if (auto it = refused_.find(e.conv); it != refused_.end()) {  // the refusal was taken: done
    DdeDisconnect(e.conv);
    refused_.erase(it);
    return;
  }
  Client *c = clientByReply(e.conv);
  if (c == nullptr) return;
  if (e.detail == 0) return forget(c->key, "dropped: it refused an answer", true);
  if (c->unacked > 0) --c->unacked;
  if (!feed(*c)) return;
  // Its answers delivered: the next request that waited is carried out.
  while (c->outbox.empty() && c->unacked == 0 && !c->requests.empty() && !stopping_) {
    const Message next = std::move(c->requests.front());
    c->requests.pop_front();
    const int key = c->key;
    serve(*c, next.data(), next.size());
    auto it = clients_.find(key);
    if (it == clients_.end()) return;
    c = &it->second;
  }
  if (c->endWaits && c->requests.empty() && !stopping_) forget(c->key, "ended");
}

std::string IccServer::partnerText(const Partner &p) const {
  return std::to_string(p.pid) + "." + std::to_string(p.instance);
}

IccServer::Client *IccServer::clientOf(const Partner &p) {
  for (auto &[key, c] : clients_)
    if (c.partner.pid == p.pid && c.partner.instance == p.instance) return &c;
  return nullptr;
}

IccServer::Client *IccServer::clientByReply(HCONV conv) {
  for (auto &[key, c] : clients_)
    if (c.reply == conv) return &c;
  return nullptr;
}

// One log line about what a conversation sent; after kMaxWarnings of them, silence.
void IccServer::warn(HCONV conv, const std::string &text) {
  auto it = convs_.find(conv);
  if (it == convs_.end()) return;
  const int n = ++it->second.warnings;
  if (n < kMaxWarnings) log_(text);
  else if (n == kMaxWarnings) log_(text + "; further faults of this conversation are not logged");
}

void IccServer::onPoke(const Event &e) {
  auto conv = convs_.find(e.conv);
  if (conv == convs_.end()) return;  // the conversation closed meanwhile
  const Partner p = conv->second.partner;
  const std::uint8_t *m = e.data.data();
  const std::size_t n = e.data.size();
  if (n < icc::kHeader) {
    warn(e.conv, "instance " + partnerText(p) + ": ICC message of " + std::to_string(n) + " bytes ignored");
    return;
  }
  const std::uint32_t isCmd = getU32(m + icc::kIsCmdAt);
  if (isCmd == 0) {
    Client *c = clientOf(p);
    if (c == nullptr) return warn(e.conv, "instance " + partnerText(p) + ": request before Init ignored");
    if (c->outbox.empty() && c->unacked == 0) {
      // A request that may take long is acknowledged before it is served; one
      // answered at once has its ACK sent with the answer (BatchAcks).
      if (Service::mayWait(m + icc::kHeader, n - icc::kHeader)) SendHeldAcks();
      return serve(*c, m + icc::kHeader, n - icc::kHeader);
    }
    if (c->requests.size() >= kMaxWaitingRequests)
      return forget(c->key, "dropped: it sends requests faster than it takes their answers", true);
    c->requests.emplace_back(m + icc::kHeader, m + n);
    return;
  }
  const std::uint32_t cmd = n >= icc::kEndLength ? getU32(m + icc::kCmdAt) : 0;
  if (isCmd == 1 && cmd == icc::kInit) return onInit(p, m, n);
  if (isCmd == 1 && cmd == icc::kEnd) {
    Client *c = clientOf(p);
    if (c != nullptr && c->requests.empty()) forget(c->key, "ended");
    else if (c != nullptr) c->endWaits = true;  // after the requests it sent before
    return;
  }
  warn(e.conv, "instance " + partnerText(p) + ": unknown ICC message (isIccCmd " + std::to_string(isCmd) +
                   ", iccCmd " + std::to_string(cmd) + ") ignored");
}

int IccServer::newKey() const {
  for (int k = 1; k <= icc::kMaxKey; ++k)
    if (!clients_.count(k)) return k;
  return 0;
}

void IccServer::onInit(const Partner &p, const std::uint8_t *m, std::size_t n) {
  if (p.pid == static_cast<DWORD>(::getpid())) {  // never answer ourselves
    log_("instance " + partnerText(p) + " is this server itself: Init ignored");
    return;
  }
  if (Client *old = clientOf(p)) forget(old->key, "initialised again");
  Client c;
  c.partner = p;
  c.service = n >= icc::kInitMinimum ? serviceName(m + icc::kInitServiceAt, icc::kInitServiceWidth) : std::string();
  const bool valid = !c.service.empty();
  c.key = valid ? newKey() : 0;
  if (!valid) {
    log_("instance " + partnerText(p) + ": malformed Init refused");
    c.service = wire::kClientService;
  } else if (c.key == 0) {
    log_("instance " + partnerText(p) + ": Init refused, every client key is in use");
  }
  char name[64];
  if (!InstanceServiceName(name, sizeof name, c.service.c_str(), p.pid, p.instance)) {
    log_("instance " + partnerText(p) + ": its service name does not fit: Init not answered");
    return;
  }
  // The answer goes to the client's own service; its CONNECT_REPLY is not waited for.
  HSZ service = DdeCreateStringHandleA(inst_, name, CP_WINANSI);
  c.reply = ConnectNoWait(inst_, service, dataTopic_);
  DdeFreeStringHandle(inst_, service);
  if (c.reply == nullptr) {
    log_("instance " + partnerText(p) + ": cannot connect to " + name + " to answer its Init");
    return;
  }
  Message rsp = iccMessage(true, c.key, icc::kResponseLength);
  putU32(rsp.data() + icc::kCmdAt, icc::kInitResponse);
  wire::putI16(rsp.data() + icc::kResponseKeyAt, static_cast<std::int16_t>(c.key));
  std::memcpy(rsp.data() + icc::kResponseVersionAt, kServerVersion,
              std::min(sizeof kServerVersion - 1, std::size_t{icc::kVersionWidth}));
  if (c.key == 0) {
    if (DdeClientTransaction(rsp.data(), static_cast<DWORD>(rsp.size()), c.reply, dataTopic_, CF_TEXT, XTYP_POKE,
                             TIMEOUT_ASYNC, nullptr) != nullptr)
      refused_[c.reply] = p;
    else
      DdeDisconnect(c.reply);
    return;
  }
  log_("client " + std::to_string(c.key) + " connected: instance " + partnerText(p) + ", service " + c.service +
       ", version " +
       (n > icc::kInitVersionAt ? printable(m + icc::kInitVersionAt, std::min<std::size_t>(n - icc::kInitVersionAt, icc::kVersionWidth))
                                : std::string()));
  const int key = c.key;
  c.outbox.push_back(std::move(rsp));
  Client &added = clients_[key] = std::move(c);
  feed(added);
}

void IccServer::serve(Client &c, const std::uint8_t *request, std::size_t length) {
  const int key = c.key;
  Answer a = service_.handle(key, request, length);
  if (a.shutdown && asService_) {
    log_("client " + std::to_string(key) + ": shutdown request: running as a service, not ending");
    return;
  }
  if (a.shutdown) {
    log_("client " + std::to_string(key) + ": shutdown request: ending");
    stopping_ = true;
    return;
  }
  for (const Bytes &msg : a.messages) {
    answer_.assign(icc::kHeader, 0);
    putHeader(answer_.data(), false, key);
    answer_.insert(answer_.end(), msg.begin(), msg.end());
    if (!c.outbox.empty() || c.unacked >= kAnswerWindow) c.outbox.push_back(answer_);  // waits its turn
    else if (!hand(c, answer_)) return;
  }
}

// Hands one message to the transport. false when the client was dropped.
bool IccServer::hand(Client &c, const Message &m) {
  if (c.reply == nullptr || DdeClientTransaction(const_cast<std::uint8_t *>(m.data()), static_cast<DWORD>(m.size()),
                                                 c.reply, dataTopic_, CF_TEXT, XTYP_POKE, TIMEOUT_ASYNC,
                                                 nullptr) == nullptr) {
    forget(c.key, "not reachable (DDE error " + std::to_string(DdeGetLastError(inst_)) + ")", true);
    return false;
  }
  ++c.unacked;
  return true;
}

// Hands the client's waiting messages to the transport, up to kAnswerWindow
// unacknowledged. false when the client was dropped.
bool IccServer::feed(Client &c) {
  while (!c.outbox.empty() && c.unacked < kAnswerWindow) {
    if (!hand(c, c.outbox.front())) return false;
    c.outbox.pop_front();
  }
  return true;
}

// Forgets the client and closes its contexts. hangUp: it misbehaved or cannot be
// reached: its conversations are closed too, so that its next call fails at once.
void IccServer::forget(int key, const std::string &why, bool hangUp) {
  auto it = clients_.find(key);
  if (it == clients_.end()) return;
  const Partner p = it->second.partner;
  service_.forgetClient(key);
  if (it->second.reply) DdeDisconnect(it->second.reply);
  log_("client " + std::to_string(key) + " " + why + ": instance " + partnerText(p));
  clients_.erase(it);
  if (!hangUp) return;
  for (auto c = convs_.begin(); c != convs_.end();) {
    if (c->second.partner.pid == p.pid && c->second.partner.instance == p.instance) {
      DdeDisconnect(c->first);
      c = convs_.erase(c);
    } else {
      ++c;
    }
  }
}

}  // namespace qlm::rqmgr
