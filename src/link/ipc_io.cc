// IPC services, moving messages: sending one as a poke (module csipcsnd) and taking
// one from a server service's ring, waiting in the message pump (module csipcget).
#include <cstring>

#include "common/memory.h"
#include "link/ipc_internal.h"

namespace qlm::ipc {

namespace {
constexpr const char *kModSend = "csipcsnd";
constexpr const char *kModGet = "csipcget";
constexpr int kPendingEvents = 64;  // events ipcDeliverPending delivers at most

bool PartnerConnected(const IpcService *s) {
  const IpcState &st = ipcState();
  for (int i = 0; i < st.maxServices; ++i) {
    const IpcHandle *h = st.pServicePArray[i];
    if (h != nullptr && h->pServStr == s && h->serviceStatus == kConnected) return true;
  }
  return false;
}

// Pumps messages until the ring of `s` holds a message, `waitTime` seconds (two
// timer ticks each) have passed, or the partner connected when the wait began has
// gone (no message can come then; the events already there, such as the ends of
// that process's other conversations, are delivered too). -6 on a quit message, else 0.
int Wait(const IpcService *s, int waitTime) {
  IpcState &st = ipcState();
  const bool partner = PartnerConnected(s);
  MSG msg;
  do {
    if (!GetMessageA(&msg, nullptr, 0, 0)) return kErrQuit;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  } while (s->msgCount == 0 && st.ticks / 2 < waitTime && (!partner || PartnerConnected(s)));
  if (partner && !PartnerConnected(s)) ipcDeliverPending();
  return 0;
}

}  // namespace

int ipcSend(IpcHandle *handle, const void *data, int length) {
  QLM_TRACE_ENTRY(kModSend, "ipcSend");
  IpcState &st = ipcState();
  int rc = 0;
  if (ipcServiceIndex(handle) < 0) {
    QLM_TRACE(kModSend, "Invalid service handle!");
    rc = -1;
  } else {
    IpcService *s = handle->pServStr;
    QLM_TRACE(kModSend, s->serviceName);
    QLM_TRACE_INT(kModSend, "length", length);
    if (s->serviceType == 'S') {
      QLM_TRACE(kModSend, "Cannot send on SERVER service!");
      rc = -2;
    } else if (handle->serviceStatus != kConnected) {
      QLM_TRACE_INT(kModSend, "ipcSrvc->serviceStatus", handle->serviceStatus);
      QLM_TRACE(kModSend, "SERVER has closed already!");
      rc = kErrNoPartner;
    } else if (length > kMaxSend || length < 0) {
      QLM_TRACE(kModSend, "Data too large!");
      rc = -2;
    } else if (HDDEDATA hData = DdeCreateDataHandle(st.idInst, static_cast<LPBYTE>(const_cast<void *>(data)),
                                                    static_cast<DWORD>(length), 0, s->hszItem, CF_TEXT, 0);
               hData == nullptr) {
      QLM_TRACE(kModSend, "Could not create data handle.");
      rc = -1;
    } else if (DWORD result = 0;
               DdeClientTransaction(reinterpret_cast<LPBYTE>(hData), 0xFFFFFFFF, handle->hConvApp, s->hszItem,
                                    CF_TEXT, XTYP_POKE, kPokeTimeoutMs, &result) == nullptr) {
      QLM_TRACE(kModSend, "Could not send the request.");
      QLM_TRACE_INT(kModSend, "(int)DdeGetLastError(idInst)", DdeGetLastError(st.idInst));
      rc = -1;
    }
  }
  QLM_TRACE_EXIT(kModSend, "ipcSend", rc);
  return rc;
}

int ipcGet(IpcHandle *handle, void *buffer, int *length, int *waitTime) {
  QLM_TRACE_ENTRY(kModGet, "ipcGet");
  IpcState &st = ipcState();
  QLM_TRACE_INT(kModGet, "*waitTime", *waitTime);
  int rc = 0;
  IpcService *s = nullptr;
  if (ipcServiceIndex(handle) < 0) {
    QLM_TRACE(kModGet, "Invalid service handle!");
    rc = -1;
  } else if ((s = handle->pServStr)->serviceType == 'C') {
    QLM_TRACE(kModGet, "Cannot receive on CLIENT service!");
    rc = -2;
  } else if (s->msgCount == 0) {
    const UINT_PTR timer = SetTimer(nullptr, 0, WaitUnitMs() / 2, timerSet);
    if (timer == 0) {
      QLM_TRACE(kModGet, "SetTimer error!");
      rc = kErrTimer;
    } else {
      st.ticks = 0;
      if (*waitTime > 0) rc = Wait(s, *waitTime);
      KillTimer(nullptr, timer);
      if (rc == 0) {
        *waitTime = st.ticks / 2;
        if (s->msgCount == 0) {
          *length = 0;
          rc = PartnerConnected(s) ? kErrTimeout : kErrNoPartner;
        }
      }
    }
  }
  if (rc == 0) {
    const std::uint8_t *slot = s->msgQueue[s->readIndex];  // the slot keeps its block
    std::int32_t size;
    std::memcpy(&size, slot + kSlotLengthAt, sizeof size);
    if (*length < size) {
      rc = kErrTruncated;
    } else {
      *length = size;
    }
    if (*length > 0) std::memcpy(buffer, slot + kSlotDataAt, static_cast<std::size_t>(*length));
    --s->msgCount;
    s->readIndex = (s->readIndex + 1) % st.maxMessages;
  }
  QLM_TRACE_EXIT(kModGet, "ipcGet", rc);
  return rc;
}

void ipcDeliverPending() {
  MSG msg;
  for (int i = 0; i < kPendingEvents && PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); ++i) {
    if (msg.message == WM_QUIT) break;  // left for the application's own loop
    if (msg.message == WM_TIMER) PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);
    DispatchMessageA(&msg);
  }
}

}  // namespace qlm::ipc
