// IPC services, the window-system side (module csipcutw): the DDE callback that turns
// connections, disconnections and pokes into table and ring changes, the timer
// procedure of the waiting loop, and giving the processor away.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/memory.h"
#include "link/ipc_internal.h"

namespace qlm::ipc {

namespace {
constexpr const char *kMod = "csipcutw";

IpcHandle *FindHandle(bool (*match)(const IpcHandle *, const void *), const void *key) {
  const IpcState &st = ipcState();
  for (int i = 0; i < st.maxServices && st.pServicePArray != nullptr; ++i) {
    IpcHandle *h = st.pServicePArray[i];
    if (h != nullptr && match(h, key)) return h;
  }
  return nullptr;
}

IpcHandle *ByService(HSZ hsz) {
  return FindHandle([](const IpcHandle *h, const void *k) { return h->pServStr->hszService == k; }, hsz);
}

IpcHandle *ByConversation(HCONV conv) {
  return FindHandle([](const IpcHandle *h, const void *k) { return h->hConvApp == k; }, conv);
}

void OnConfirm(HSZ service, HCONV conv) {
  IpcHandle *h = ByService(service);
  if (h == nullptr) return;
  DWORD pid = 0;
  if (const DWORD only = ipcState().onlyPartner; only != 0 && (!ConversationPartner(conv, &pid, nullptr) || pid != only)) {
    QLM_TRACE(kMod, "Connection of another process refused!");
    DdeDisconnect(conv);
    return;
  }
  if (h->pServStr->serviceType != 'S') {
    QLM_TRACE(kMod, "Client should not get confirm!");
    return;
  }
  char serviceName[kMaxNameLength + 1], topicName[kMaxNameLength + 1];
  std::memcpy(serviceName, h->pServStr->serviceName, sizeof serviceName);
  std::memcpy(topicName, h->pServStr->topicName, sizeof topicName);
  IpcHandle *partner = nullptr;
  if (ipcAddService(serviceName, topicName, conv, &partner) != 0) {
    QLM_TRACE(kMod, "ipcAddService error!");
    return;
  }
  partner->hConvApp = conv;
  partner->serviceStatus = kConnected;
}

// Queues the poked bytes: DDE_FACK, or 0 (refused).
HDDEDATA OnPoke(HCONV conv, HSZ topic, HDDEDATA data) {
  const IpcState &st = ipcState();
  IpcHandle *h = ByConversation(conv);
  if (h == nullptr || h->pServStr->hszTopic != topic) {
    QLM_TRACE(kMod, "XTYP_POKE: hsz2 != topic we support");
    return nullptr;
  }
  IpcService *s = h->pServStr;
  if (s->msgCount >= st.maxMessages) {
    QLM_TRACE(kMod, "Got more data that we can handle!");
    return nullptr;
  }
  const DWORD size = DdeGetData(data, nullptr, 0, 0);
  if (static_cast<std::int32_t>(size) < 1) {
    QLM_TRACE(kMod, "Got zero byte data!");
    QLM_TRACE_INT(kMod, "size", size);
    QLM_TRACE_INT(kMod, "(int)DdeGetLastError(idInst)", DdeGetLastError(st.idInst));
    return nullptr;
  }
  std::uint8_t *&message = s->msgQueue[s->writeIndex];
  std::uint32_t room = 0;
  if (message != nullptr) std::memcpy(&room, message + kSlotRoomAt, sizeof room);
  if (room < size) {
    FreeBuf(&message);
    room = std::max<std::uint32_t>(size, kSlotMinimumRoom);
    if (GetBuf(&message, kSlotDataAt + room) != 0) {
      QLM_TRACE(kMod, "GetBuf error!");
      return nullptr;
    }
    std::memcpy(message + kSlotRoomAt, &room, sizeof room);
  }
  const DWORD copied = DdeGetData(data, message + kSlotDataAt, size, 0);
  if (copied == 0) {
    QLM_TRACE(kMod, "DdeGetData returned NULL!");
    QLM_TRACE_INT(kMod, "(int)DdeGetLastError(idInst)", DdeGetLastError(st.idInst));
    return nullptr;
  }
  const std::int32_t length = static_cast<std::int32_t>(copied);
  std::memcpy(message + kSlotLengthAt, &length, sizeof length);
  ++s->msgCount;
  s->writeIndex = (s->writeIndex + 1) % st.maxMessages;
  return reinterpret_cast<HDDEDATA>(static_cast<std::uintptr_t>(DDE_FACK));
}

}  // namespace

void timerSet(HWND, UINT, UINT_PTR, DWORD) {
  QLM_TRACE_ENTRY(kMod, "timerSet");
  IpcState &st = ipcState();
  QLM_TRACE_INT(kMod, "timerSet", st.ticks);
  ++st.ticks;
  QLM_TRACE_EXIT(kMod, "timerSet", 0);
}

void ipcAcceptOnlyFrom(DWORD pid) { ipcState().onlyPartner = pid; }

void ipcReleaseCPU() {
  QLM_TRACE_ENTRY(kMod, "ipcReleaseCPU");
  MSG msg;
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
  QLM_TRACE_EXIT(kMod, "ipcReleaseCPU", 0);
}

}  // namespace qlm::ipc

using namespace qlm::ipc;

extern "C" HDDEDATA qlmipcDDECallBack(UINT wType, UINT, HCONV hConv, HSZ hsz1, HSZ hsz2, HDDEDATA hData,
                                      ULONG_PTR, ULONG_PTR) {
  QLM_TRACE_ENTRY(kMod, "qlmipcDDECallBack");
  HDDEDATA result = nullptr;
  switch (wType) {
    case XTYP_CONNECT:
      QLM_TRACE(kMod, "XTYP_CONNECT");
      if (ByService(hsz2) != nullptr)
        result = reinterpret_cast<HDDEDATA>(static_cast<std::uintptr_t>(TRUE));
      else
        QLM_TRACE(kMod, "XTYP_CONNECT: hsz2 != service we support");
      break;
    case XTYP_CONNECT_CONFIRM:
      QLM_TRACE(kMod, "XTYP_CONNECT_CONFIRM");
      OnConfirm(hsz2, hConv);
      break;
    case XTYP_DISCONNECT:
      QLM_TRACE(kMod, "XTYP_DISCONNECT");
      if (IpcHandle *h = ByConversation(hConv)) h->serviceStatus = kClosed;
      break;
    case XTYP_POKE:
      QLM_TRACE(kMod, "XTYP_POKE");
      result = OnPoke(hConv, hsz1, hData);
      break;
    case XTYP_EXECUTE:
      QLM_TRACE(kMod, "XTYP_EXECUTE");
      if (ByConversation(hConv) != nullptr)
        result = reinterpret_cast<HDDEDATA>(static_cast<std::uintptr_t>(DDE_FACK));
      else
        QLM_TRACE(kMod, "Could not find ConvApp!");
      break;
    case XTYP_REQUEST:
      QLM_TRACE(kMod, "XTYP_REQUEST not supported!");
      break;
    case XTYP_ERROR:
      QLM_TRACE(kMod, "XTYP_ERROR not supported!");
      break;
    default:
      if (qlm::TraceOn()) {
        char text[32];
        std::snprintf(text, sizeof text, "default: wType:0x%4.4x", wType);
        qlm::TraceLine("", kMod, __LINE__, text);
      }
      break;
  }
  QLM_TRACE_EXIT(kMod, "qlmipcDDECallBack", reinterpret_cast<std::uintptr_t>(result));
  return result;
}
