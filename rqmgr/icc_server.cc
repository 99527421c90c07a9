#include "icc_server.h"

#include <algorithm>
#include <csignal>
#include <cstring>

namespace qlm::rqmgr {

namespace {

IccServer *gServer = nullptr;
volatile std::sig_atomic_t gStopRequested = 0;

constexpr UINT_PTR kTimerId = 1;
constexpr UINT kTimerMs = 500;
constexpr std::size_t kIccHeader = 8;
constexpr std::size_t kInitMinimum = 24;  // through the client's service name
constexpr int kMaxKey = 32767;

std::uint32_t le32(const std::uint8_t *p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void putLe32(std::uint8_t *p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
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

bool IccServer::start() {
  if (DdeInitializeA(&inst_, &IccServer::callback, APPCLASS_STANDARD, 0) != DMLERR_NO_ERROR) {
    log_("cannot create the DDE instance");
    return false;
  }
  control_ = DdeCreateStringHandleA(inst_, "REQMNGRI", CP_WINANSI);
  controlTopic_ = DdeCreateStringHandleA(inst_, "RMICC", CP_WINANSI);
  data_ = DdeCreateStringHandleA(inst_, "REQMNGR", CP_WINANSI);
  dataTopic_ = DdeCreateStringHandleA(inst_, "COURIER", CP_WINANSI);
  registered_ = true;
  if (DdeNameService(inst_, control_, nullptr, DNS_REGISTER) == nullptr ||
      DdeNameService(inst_, data_, nullptr, DNS_REGISTER) == nullptr) {
    log_("cannot register the services REQMNGRI and REQMNGR (DDE error " + std::to_string(DdeGetLastError(inst_)) +
         ")");
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
  if (registered_) DdeNameService(inst_, nullptr, nullptr, DNS_UNREGISTER);
  for (HSZ h : {control_, controlTopic_, data_, dataTopic_})
    if (h) DdeFreeStringHandle(inst_, h);
  DdeUninitialize(inst_);
  inst_ = 0;
  registered_ = false;
}

void IccServer::timerProc(HWND, UINT, UINT_PTR, DWORD) {
  if (gStopRequested && gServer) {
    gServer->log_("termination signal: ending");
    gServer->stopping_ = true;
  }
}

void IccServer::run() {
  SetTimer(nullptr, kTimerId, kTimerMs, &IccServer::timerProc);
  MSG m;
  while (!stopping_) {
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
  KillTimer(nullptr, kTimerId);
}

HDDEDATA IccServer::callback(UINT type, UINT, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data, ULONG_PTR, ULONG_PTR) {
  IccServer *s = gServer;
  if (s == nullptr) return nullptr;
  switch (type) {
    case XTYP_CONNECT: {  // hsz1 topic, hsz2 service
      const bool control = DdeCmpStringHandles(hsz2, s->control_) == 0 && DdeCmpStringHandles(hsz1, s->controlTopic_) == 0;
      const bool dataCh = DdeCmpStringHandles(hsz2, s->data_) == 0 && DdeCmpStringHandles(hsz1, s->dataTopic_) == 0;
      return reinterpret_cast<HDDEDATA>(static_cast<std::uintptr_t>(control || dataCh ? 1 : 0));
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
      const DWORD size = DdeGetData(data, nullptr, 0, 0);
      e.data.resize(size);
      if (size > 0) e.data.resize(DdeGetData(data, e.data.data(), size, 0));
      s->queue_.push_back(std::move(e));
      return reinterpret_cast<HDDEDATA>(static_cast<std::uintptr_t>(DDE_FACK));
    }
    case XTYP_DISCONNECT:
      s->queue_.push_back(Event::of(Event::Disconnect, conv));
      return nullptr;
    default:
      return nullptr;
  }
}

void IccServer::drain() {
  while (!queue_.empty() && !stopping_) {
    Event e = std::move(queue_.front());
    queue_.pop_front();
    switch (e.type) {
      case Event::Confirm:
        convs_[e.conv] = e;
        break;
      case Event::Poke:
        onPoke(e);
        break;
      case Event::Disconnect: {
        if (auto it = convs_.find(e.conv); it != convs_.end()) {
          const Partner p = it->second.partner;
          convs_.erase(it);
          if (Client *c = clientOf(p)) forget(c->key, "disconnected");
          break;
        }
        for (auto &[key, c] : clients_) {
          if (c.reply != e.conv) continue;
          c.reply = nullptr;  // closed by the client: the handle is no longer valid
          forget(key, "disconnected");
          break;
        }
        break;
      }
    }
  }
}

std::string IccServer::partnerText(const Partner &p) const {
  return std::to_string(p.pid) + "." + std::to_string(p.instance);
}

IccServer::Client *IccServer::clientOf(const Partner &p) {
  for (auto &[key, c] : clients_)
    if (c.partner.pid == p.pid && c.partner.instance == p.instance) return &c;
  return nullptr;
}

void IccServer::onPoke(const Event &e) {
  auto conv = convs_.find(e.conv);
  if (conv == convs_.end()) return;  // the conversation closed meanwhile
  const Partner p = conv->second.partner;
  const std::uint8_t *m = e.data.data();
  const std::size_t n = e.data.size();
  if (n < kIccHeader) {
    log_("instance " + partnerText(p) + ": ICC message of " + std::to_string(n) + " bytes ignored");
    return;
  }
  const std::uint32_t isCmd = le32(m);
  if (isCmd == 0) return onData(p, m + kIccHeader, n - kIccHeader);
  const std::uint32_t cmd = n >= 12 ? le32(m + 8) : 0;
  if (isCmd == 1 && cmd == 1) return onInit(p, m, n);
  if (isCmd == 1 && cmd == 3) {
    if (Client *c = clientOf(p)) forget(c->key, "ended");
    return;
  }
  log_("instance " + partnerText(p) + ": unknown ICC message (isIccCmd " + std::to_string(isCmd) + ", iccCmd " +
       std::to_string(cmd) + ") ignored");
}

int IccServer::newKey() const {
  for (int k = 1; k <= kMaxKey; ++k)
    if (!clients_.count(k)) return k;
  return 0;
}

void IccServer::onInit(const Partner &p, const std::uint8_t *m, std::size_t n) {
  if (Client *old = clientOf(p)) forget(old->key, "initialised again");
  Client c;
  c.partner = p;
  c.service = n >= kInitMinimum ? serviceName(m + 12, 12) : std::string();
  const bool valid = !c.service.empty();
  c.key = valid ? newKey() : 0;
  if (!valid) {
    log_("instance " + partnerText(p) + ": malformed Init refused");
    c.service = "CAPIAPP";
  } else if (c.key == 0) {
    log_("instance " + partnerText(p) + ": Init refused, every client key is in use");
  }
  char name[64];
  if (!InstanceServiceName(name, sizeof name, c.service.c_str(), p.pid, p.instance)) {
    log_("instance " + partnerText(p) + ": its service name does not fit: Init not answered");
    return;
  }
  HSZ service = DdeCreateStringHandleA(inst_, name, CP_WINANSI);
  c.reply = DdeConnect(inst_, service, dataTopic_, nullptr);
  DdeFreeStringHandle(inst_, service);
  if (c.reply == nullptr) {
    log_("instance " + partnerText(p) + ": cannot connect to " + name + " to answer its Init");
    return;
  }
  std::uint8_t rsp[kInitResponseLength] = {};
  putLe32(rsp, 1);
  putLe32(rsp + 4, static_cast<std::uint32_t>(c.key));
  putLe32(rsp + 8, 2);
  rmil::putU16(rsp + 12, static_cast<std::uint16_t>(c.key));
  std::memcpy(rsp + 24, kServerVersion, std::min(sizeof kServerVersion - 1, std::size_t{kVersionWidth}));
  const bool sent = poke(c, rsp, sizeof rsp);
  if (c.key == 0 || !sent) {
    if (c.reply) DdeDisconnect(c.reply);
    return;
  }
  log_("client " + std::to_string(c.key) + " connected: instance " + partnerText(p) + ", service " + c.service +
       ", version " + (n > 24 ? printable(m + 24, std::min<std::size_t>(n - 24, kVersionWidth)) : std::string()));
  clients_[c.key] = std::move(c);
}

void IccServer::onData(const Partner &p, const std::uint8_t *rmil, std::size_t n) {
  Client *c = clientOf(p);
  if (c == nullptr) {
    log_("instance " + partnerText(p) + ": request before Init ignored");
    return;
  }
  const int key = c->key;
  Answer a = service_.handle(key, rmil, n);
  if (a.shutdown) {
    log_("client " + std::to_string(key) + ": shutdown request: ending");
    stopping_ = true;
    return;
  }
  for (const Bytes &msg : a.messages) {
    std::vector<std::uint8_t> icc(kIccHeader + msg.size());
    putLe32(icc.data(), 0);
    putLe32(icc.data() + 4, static_cast<std::uint32_t>(key));
    std::memcpy(icc.data() + kIccHeader, msg.data(), msg.size());
    auto it = clients_.find(key);  // a poke's wait may have taken the client away
    if (it == clients_.end()) return;
    if (!poke(it->second, icc.data(), icc.size())) {
      forget(key, "not reachable");
      return;
    }
  }
}

bool IccServer::poke(Client &c, const std::uint8_t *data, std::size_t n) {
  DWORD result = 0;
  if (DdeClientTransaction(const_cast<LPBYTE>(data), static_cast<DWORD>(n), c.reply, dataTopic_, CF_TEXT, XTYP_POKE,
                           kPokeTimeoutMs, &result) != nullptr)
    return true;
  log_("client " + std::to_string(c.key) + ": answer not delivered (DDE error " +
       std::to_string(DdeGetLastError(inst_)) + ")");
  return false;
}

void IccServer::forget(int key, const char *why) {
  auto it = clients_.find(key);
  if (it == clients_.end()) return;
  service_.forgetClient(key);
  if (it->second.reply) DdeDisconnect(it->second.reply);
  log_("client " + std::to_string(key) + " " + why + ": instance " + partnerText(it->second.partner));
  clients_.erase(it);
}

}  // namespace qlm::rqmgr
