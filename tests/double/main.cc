// qlmrqmgr_double: a scriptable stand-in of the Request Manager that speaks the real
// transport, for tests that need answers a real server would never give.
//
// It starts like the Request Manager (server lock of the run directory, services
// "REQMNGRI"/"RMICC" and "REQMNGR"/"COURIER", the window "Quillmar - Request Manager",
// the ready byte), answers each Init by connecting to the client's instance-specific
// "CAPIAPP.<pid>.<n>"/"COURIER" and poking the Init Response there, answers data
// requests as its script says, and ends on End or on the shutdown request (request
// identifier 47) after destroying its window. It also ends by itself after
// QLM_DOUBLE_IDLE_MS (default 60000) ms without any event, so that a failed test
// leaves nothing running.
//
// Script: the file named by QLM_DOUBLE_SCRIPT (none: accept every Init, answer no
// request). One directive per line; blank lines and lines starting with '#' are skipped.
//   key N          ClientKey of accepted handshakes (default 1)
//   version TEXT   version string of the Init Response (default "double 1.0")
//   init accept    how the next Init is answered; the init lines are used in order,
//   init refuse      and every Init after them is accepted. refuse answers with
//   init silent      ClientKey 0; silent connects to the client's service but never
//   init wrongcmd    answers; wrongcmd answers with iccCmd 3 instead of 2.
//   request        starts the actions for the next data request (requests use these
//                  blocks in order; a request beyond them gets no answer). Actions:
//     reply HEX    a data message: the 8-byte ICC header (0, key) and the bytes HEX
//                  (blanks between bytes are allowed), in which
//                    {ref}    stands for the value of item 100 of the request,
//                    {reflen} for its length (16 bits, little-endian),
//                    {len}    for the length of the whole reply after the ICC header
//                             (16 bits, little-endian: the RMIL header's rmilLen);
//     icc N        an ICC command message: isIccCmd 1, key, iccCmd N (12 bytes);
//     raw N        a data message of exactly N bytes: the ICC header, then the
//                  letters A..Z over and over (fewer than 8: N zero bytes);
//     silent       nothing (the same as an empty block);
//     sleep MS     waits MS milliseconds before the next action;
//     die          ends at once with status 3, as a crash would.
//
// Log: the file named by QLM_DOUBLE_LOG gets one line per event, appended at once:
//   start <pid>
//   REQMNGRI <hex>     a poke received on the control service (Init, End)
//   REQMNGR <hex>      a poke received on the data service (requests)
//   sent ok|refused    the client's answer to a poke the double sent
//   end
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/windows.h"
#include "records/common.h"
#include "rmil/message.h"
#include "wire/coding.h"
#include "wire/wire.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace wire = qlm::wire;
namespace icc = qlm::wire::icc;
using wire::kControlService;
using wire::kDataService;

struct Action {
  std::string verb;
  std::string arg;
};

struct Script {
  std::int16_t key = 1;
  std::string version = "double 1.0";
  std::deque<std::string> inits;
  std::deque<std::vector<Action>> requests;
};

Script g_script;
DWORD g_inst = 0;
HWND g_window = nullptr;
std::map<HCONV, std::string> g_channels;  // conversations with clients: service name
std::map<std::pair<DWORD, DWORD>, HCONV> g_replies;  // client instance -> its CAPIAPP conversation
struct Poke {
  std::string channel;
  HCONV conv;
  Bytes data;
};
std::deque<Poke> g_pokes;  // handled after the poke was acknowledged
bool g_active = false;

void Log(const std::string &line) {
  if (const char *path = std::getenv("QLM_DOUBLE_LOG"); path != nullptr && *path != '\0')
    std::ofstream(path, std::ios::app) << line << std::endl;
}

std::string Hex(const Bytes &b) {
  std::string s;
  char x[3];
  for (std::uint8_t c : b) s.append(x, std::snprintf(x, sizeof x, "%02x", c));
  return s;
}

void ReadScript() {
  const char *path = std::getenv("QLM_DOUBLE_SCRIPT");
  if (path == nullptr || *path == '\0') return;
  std::ifstream in(path);
  std::string line;
  std::vector<Action> *block = nullptr;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string verb, arg;
    words >> verb;
    std::getline(words >> std::ws, arg);
    if (verb.empty() || verb[0] == '#') continue;
    if (verb == "key")
      g_script.key = static_cast<std::int16_t>(std::atoi(arg.c_str()));
    else if (verb == "version")
      g_script.version = arg;
    else if (verb == "init")
      g_script.inits.push_back(arg);
    else if (verb == "request")
      block = &g_script.requests.emplace_back();
    else if (block != nullptr)
      block->push_back({verb, arg});
  }
}

[[noreturn]] void Finish(int status) {
  if (g_window != nullptr) DestroyWindow(g_window);
  DdeNameService(g_inst, nullptr, nullptr, DNS_UNREGISTER);
  DdeUninitialize(g_inst);
  qlm::ReleaseServerLock();
  Log("end");
  std::exit(status);
}

void Send(HCONV conv, const Bytes &message) {
  if (conv == nullptr) return;
  HSZ item = DdeCreateStringHandleA(g_inst, wire::kCourier, CP_WINANSI);
  const bool ok = DdeClientTransaction(const_cast<std::uint8_t *>(message.data()), static_cast<DWORD>(message.size()),
                                       conv, item, CF_TEXT, XTYP_POKE, 5000, nullptr) != nullptr;
  DdeFreeStringHandle(g_inst, item);
  Log(ok ? "sent ok" : "sent refused");
}

Bytes Header(std::uint32_t isCmd) {
  Bytes h(icc::kHeader, 0);
  wire::putU32(h.data() + icc::kIsCmdAt, isCmd);
  wire::putU32(h.data() + icc::kKeyAt, static_cast<std::uint32_t>(static_cast<std::int32_t>(g_script.key)));
  return h;
}

// The client's own service, reached by its instance-specific name.
HCONV ReplyConversation(HCONV from) {
  DWORD pid = 0, inst = 0;
  qlm::ConversationPartner(from, &pid, &inst);
  HCONV &conv = g_replies[{pid, inst}];
  if (conv == nullptr) {
    char name[64];
    qlm::InstanceServiceName(name, sizeof name, wire::kClientService, pid, inst);
    HSZ service = DdeCreateStringHandleA(g_inst, name, CP_WINANSI);
    HSZ topic = DdeCreateStringHandleA(g_inst, wire::kCourier, CP_WINANSI);
    conv = DdeConnect(g_inst, service, topic, nullptr);
    DdeFreeStringHandle(g_inst, service);
    DdeFreeStringHandle(g_inst, topic);
  }
  return conv;
}

void AnswerInit(HCONV from) {
  std::string how = "accept";
  if (!g_script.inits.empty()) {
    how = g_script.inits.front();
    g_script.inits.pop_front();
  }
  HCONV reply = ReplyConversation(from);
  if (how == "silent") return;
  Bytes m(icc::kResponseLength, 0);
  wire::putU32(m.data() + icc::kIsCmdAt, 1);
  wire::putU32(m.data() + icc::kCmdAt, how == "wrongcmd" ? icc::kEnd : icc::kInitResponse);
  wire::putI16(m.data() + icc::kResponseKeyAt, how == "refuse" ? 0 : g_script.key);
  std::memcpy(m.data() + icc::kResponseVersionAt, g_script.version.data(),
              std::min<std::size_t>(g_script.version.size(), icc::kVersionWidth));
  Send(reply, m);
}

// The bytes of a reply line, placeholders filled in.
Bytes ReplyBytes(const std::string &line, const std::string &ref) {
  Bytes out;
  std::vector<std::size_t> lengthAt;
  std::istringstream words(line);
  std::string w;
  while (words >> w) {
    if (w == "{ref}") {
      out.insert(out.end(), ref.begin(), ref.end());
    } else if (w == "{reflen}") {
      out.resize(out.size() + 2);
      wire::putU16(out.data() + out.size() - 2, static_cast<std::uint16_t>(ref.size()));
    } else if (w == "{len}") {
      lengthAt.push_back(out.size());
      out.insert(out.end(), {0, 0});
    } else {
      for (std::size_t i = 0; i + 1 < w.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoul(w.substr(i, 2), nullptr, 16)));
    }
  }
  for (std::size_t at : lengthAt) wire::putU16(out.data() + at, static_cast<std::uint16_t>(out.size()));
  return out;
}

// Item `id` of the request's header segment, or "".
std::string HeaderItem(const Bytes &rmil, std::uint16_t id) {
  qlm::rmil::Message m = qlm::rmil::Message::reading(rmil.data(), static_cast<int>(rmil.size()));
  for (qlm::rmil::Item i; m.next(&i) == qlm::rmil::Read::Item;)
    if (i.id == id) return std::string(i.value);
  return "";
}

void AnswerRequest(HCONV from, const Bytes &message) {
  const Bytes rmil(message.begin() + std::min<std::size_t>(icc::kHeader, message.size()), message.end());
  if (HeaderItem(rmil, wire::kRequestId) == std::to_string(qlm::rec::kShutdown)) Finish(0);
  const std::string ref = HeaderItem(rmil, wire::kReference);
  if (g_script.requests.empty()) return;
  const std::vector<Action> actions = g_script.requests.front();
  g_script.requests.pop_front();
  for (const Action &a : actions) {
    if (a.verb == "reply") {
      Bytes m = Header(0);
      const Bytes body = ReplyBytes(a.arg, ref);
      m.insert(m.end(), body.begin(), body.end());
      Send(ReplyConversation(from), m);
    } else if (a.verb == "icc") {
      Bytes m = Header(1);
      m.resize(icc::kEndLength);
      wire::putU32(m.data() + icc::kCmdAt, static_cast<std::uint32_t>(std::atoi(a.arg.c_str())));
      Send(ReplyConversation(from), m);
    } else if (a.verb == "raw") {
      const std::size_t n = static_cast<std::size_t>(std::atoi(a.arg.c_str()));
      Bytes m = n >= icc::kHeader ? Header(0) : Bytes(n, 0);
      for (std::size_t i = m.size(); i < n; ++i) m.push_back(static_cast<std::uint8_t>('A' + (i - icc::kHeader) % 26));
      Send(ReplyConversation(from), m);
    } else if (a.verb == "sleep") {
      Sleep(static_cast<DWORD>(std::atoi(a.arg.c_str())));
    } else if (a.verb == "die") {
      Log("die");
      _exit(3);
    }
  }
}

void Handle(const Poke &p) {
  if (p.channel == kControlService) {
    const std::uint32_t cmd = p.data.size() >= icc::kEndLength ? wire::getU32(p.data.data() + icc::kCmdAt) : 0;
    if (cmd == icc::kInit) AnswerInit(p.conv);
    if (cmd == icc::kEnd) Finish(0);
  } else {
    AnswerRequest(p.conv, p.data);
  }
}

bool Is(HSZ h, const char *name) {
  HSZ n = DdeCreateStringHandleA(g_inst, name, CP_WINANSI);
  const bool same = DdeCmpStringHandles(h, n) == 0;
  DdeFreeStringHandle(g_inst, n);
  return same;
}

HDDEDATA Callback(UINT type, UINT, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data, ULONG_PTR, ULONG_PTR) {
  g_active = true;
  switch (type) {
    case XTYP_CONNECT: {
      const bool ok = (Is(hsz2, kControlService) && Is(hsz1, wire::kControlTopic)) ||
                      (Is(hsz2, kDataService) && Is(hsz1, wire::kCourier));
      return reinterpret_cast<HDDEDATA>(static_cast<std::uintptr_t>(ok));
    }
    case XTYP_CONNECT_CONFIRM:
      g_channels[conv] = Is(hsz2, kControlService) ? kControlService : kDataService;
      return nullptr;
    case XTYP_DISCONNECT:
      g_channels.erase(conv);
      std::erase_if(g_replies, [conv](const auto &r) { return r.second == conv; });
      return nullptr;
    case XTYP_POKE: {
      auto it = g_channels.find(conv);
      if (it == g_channels.end()) return nullptr;
      Bytes bytes(DdeGetData(data, nullptr, 0, 0));
      DdeGetData(data, bytes.data(), static_cast<DWORD>(bytes.size()), 0);
      Log(it->second + " " + Hex(bytes));
      g_pokes.push_back({it->second, conv, bytes});
      return reinterpret_cast<HDDEDATA>(static_cast<std::uintptr_t>(DDE_FACK));
    }
    default:
      return nullptr;
  }
}

void IdleCheck(HWND, UINT, UINT_PTR, DWORD) {
  if (!g_active) Finish(4);
  g_active = false;
}

}  // namespace

int main() {
  switch (qlm::AcquireServerLock(wire::kServerLock, wire::kRequestManagerTitle)) {
    case qlm::ServerLock::Acquired: break;
    case qlm::ServerLock::OtherReady: return 0;
    case qlm::ServerLock::Failed: return 1;
  }
  Log("start " + std::to_string(::getpid()));
  ReadScript();
  if (DdeInitializeA(&g_inst, Callback, APPCLASS_STANDARD, 0) != DMLERR_NO_ERROR) return 1;
  for (const char *service : {kControlService, kDataService}) {
    HSZ h = DdeCreateStringHandleA(g_inst, service, CP_WINANSI);
    if (DdeNameService(g_inst, h, nullptr, DNS_REGISTER) == nullptr) Finish(1);
  }
  g_window = CreateWindowA("STATIC", wire::kRequestManagerTitle, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  if (g_window == nullptr) Finish(1);
  qlm::SignalReady();

  const char *idle = std::getenv("QLM_DOUBLE_IDLE_MS");
  const long idleMs = idle != nullptr && std::atol(idle) > 0 ? std::atol(idle) : 60000;
  SetTimer(nullptr, 0, static_cast<UINT>(idleMs), IdleCheck);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    DispatchMessageA(&msg);
    while (!g_pokes.empty()) {
      const Poke p = g_pokes.front();
      g_pokes.pop_front();
      Handle(p);
    }
  }
  Finish(0);
}
