// IPC services, table utilities (module csipcut): finding services and handles in
// the service table, adding server handles, making and freeing service structures.
#include <cstring>

#include "common/memory.h"
#include "link/ipc_internal.h"

namespace qlm::ipc {

namespace {
constexpr const char *kMod = "csipcut";
}  // namespace

bool NameFits(const char *module, int line, const char *name, const char *complaint) {
  if (name != nullptr && std::strlen(name) <= static_cast<std::size_t>(kMaxNameLength)) return true;
  if (TraceOn()) TraceLine("", module, line, complaint);
  return false;
}

int FreeSlot() {
  IpcState &st = ipcState();
  for (int i = 0; i < st.maxServices && st.pServicePArray != nullptr; ++i)
    if (st.pServicePArray[i] == nullptr) return i;
  return -1;
}

IpcService *NewService(const char *module, const char *service, const char *topic, char type) {
  IpcState &st = ipcState();
  IpcService *s = nullptr;
  if (GetBuf(&s, sizeof *s) != 0 ||
      (type == 'S' && GetBuf(&s->msgQueue, sizeof(std::uint8_t *) * (st.maxMessages > 0 ? st.maxMessages : 1)) != 0)) {
    if (TraceOn()) TraceLine("", module, __LINE__, "GetBuf error!");
    FreeBuf(&s);
    return nullptr;
  }
  s->serviceType = type;
  std::strncpy(s->serviceName, service, kMaxNameLength);
  std::strncpy(s->topicName, topic, kMaxNameLength);
  s->hszService = DdeCreateStringHandleA(st.idInst, s->serviceName, CP_WINANSI);
  s->hszTopic = DdeCreateStringHandleA(st.idInst, s->topicName, CP_WINANSI);
  s->hszItem = DdeCreateStringHandleA(st.idInst, s->topicName, CP_WINANSI);
  return s;
}

void FreeService(IpcService **service, bool registered) {
  IpcState &st = ipcState();
  IpcService *s = *service;
  if (s == nullptr) return;
  DdeFreeStringHandle(st.idInst, s->hszTopic);
  DdeFreeStringHandle(st.idInst, s->hszItem);
  if (registered) DdeNameService(st.idInst, s->hszService, nullptr, DNS_UNREGISTER);
  DdeFreeStringHandle(st.idInst, s->hszService);
  if (s->msgQueue != nullptr)
    for (int i = 0; i < st.maxMessages; ++i) FreeBuf(&s->msgQueue[i]);
  FreeBuf(&s->msgQueue);
  FreeBuf(service);
}

int ipcCheckService(const char *service, const char *topic) {
  QLM_TRACE_ENTRY(kMod, "ipcCheckService");
  IpcState &st = ipcState();
  int rc = -1;
  if (st.maxServices == 0) {
    QLM_TRACE(kMod, "ipcCreate has not been called yet");
  } else if (service == nullptr || std::strlen(service) > static_cast<std::size_t>(kMaxNameLength)) {
    QLM_TRACE(kMod, "Invalid service name.");
  } else if (topic == nullptr || std::strlen(topic) > static_cast<std::size_t>(kMaxNameLength)) {
    QLM_TRACE(kMod, "Invalid topic name.");
  } else if (st.numServices >= st.maxServices) {
    QLM_TRACE(kMod, "Too many services open already!");
  } else {
    for (int i = 0; i < st.maxServices && rc < 0; ++i) {
      const IpcHandle *h = st.pServicePArray[i];
      if (h != nullptr && std::strcmp(h->pServStr->serviceName, service) == 0 &&
          std::strcmp(h->pServStr->topicName, topic) == 0)
        rc = i;
    }
    if (rc >= 0)
      QLM_TRACE_NAMES(kMod, "Found match for Service and Topic Name!", service, topic);
    else
      QLM_TRACE_NAMES(kMod, "No match for Service and Topic Name!", service, topic);
  }
  QLM_TRACE_EXIT(kMod, "ipcCheckService", rc);
  return rc;
}

int ipcServiceIndex(const IpcHandle *handle) {
  QLM_TRACE_ENTRY(kMod, "ipcServiceIndex");
  IpcState &st = ipcState();
  int rc = -1;
  if (handle == nullptr) {
    QLM_TRACE(kMod, "Handle is NULL!");
  } else if (st.pServicePArray == nullptr) {
    QLM_TRACE(kMod, "pServicePArray is NULL!");
  } else {
    for (int i = 0; i < st.maxServices && rc < 0; ++i)
      if (st.pServicePArray[i] == handle) rc = i;
    if (rc < 0) QLM_TRACE(kMod, "Did not find a match for service handle!");
  }
  QLM_TRACE_EXIT(kMod, "ipcServiceIndex", rc);
  return rc;
}

int ipcAddService(const char *service, const char *topic, HCONV conv, IpcHandle **handle) {
  QLM_TRACE_ENTRY(kMod, "ipcAddService");
  IpcState &st = ipcState();
  *handle = nullptr;
  int rc = 0;
  IpcService *s = nullptr;
  bool made = false;
  const int found = ipcCheckService(service, topic);
  if (found >= 0) {
    QLM_TRACE(kMod, "Service structure already exists.");
    s = st.pServicePArray[found]->pServStr;
  } else {
    QLM_TRACE(kMod, "Service structure does not exist.");
    s = NewService(kMod, service, topic, 'S');
    made = true;
  }
  IpcHandle *h = nullptr;
  bool reused = false;
  if (s == nullptr) {
    rc = -1;
  } else {
    for (int i = 0; i < st.maxServices && st.pServicePArray != nullptr; ++i) {
      IpcHandle *e = st.pServicePArray[i];
      if (e == nullptr || e->pServStr != s) continue;
      if (e->hConvApp == nullptr && !reused) {
        QLM_TRACE(kMod, "Found un-connected service struct.");
        h = e;
        reused = true;
      } else if (e->hConvApp == conv) {
        QLM_TRACE(kMod, "Found service for the same app!");
        QLM_TRACE_INT(kMod, "serviceStatus", e->serviceStatus);
      }
    }
    if (!reused && GetBuf(&h, sizeof *h) != 0) {
      QLM_TRACE(kMod, "GetBuf error!");
      rc = -1;
    }
  }
  if (rc == 0) {
    h->pServStr = s;
    h->hConvApp = conv;
    if (!reused) {
      const int slot = FreeSlot();
      if (slot < 0) {
        QLM_TRACE(kMod, "Logic error!!!");
        FreeBuf(&h);
        rc = -1;
      } else {
        st.pServicePArray[slot] = h;
        ++st.numServices;
      }
    }
  }
  if (rc == 0)
    *handle = h;
  else if (made)
    FreeService(&s, false);
  QLM_TRACE_EXIT(kMod, "ipcAddService", rc);
  return rc;
}

}  // namespace qlm::ipc
