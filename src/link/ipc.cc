// IPC services, setting up and tearing down (module csipcsvx): the module, server
// services, client services.
#include <cstring>

#include "common/memory.h"
#include "link/ipc_internal.h"

namespace qlm::ipc {

namespace {
constexpr const char *kMod = "csipcsvx";
}  // namespace

IpcState &ipcState() {
  static IpcState state;
  return state;
}

int ipcCreate(const IpcInit *pInit) {
  QLM_TRACE_ENTRY(kMod, "ipcCreate");
  IpcState &st = ipcState();
  int rc = -1;
  if (pInit == nullptr) {
    QLM_TRACE(kMod, "pInit is NULL!");
  } else if (st.maxServices != 0) {
    QLM_TRACE(kMod, "ipcCreate has been called already!");
  } else if (pInit->platformDependentData == nullptr) {
    QLM_TRACE(kMod, "platformDependentData is NULL!");
  } else if (DWORD id = 0; DdeInitializeA(&id, qlmipcDDECallBack, APPCLASS_STANDARD, 0) != DMLERR_NO_ERROR) {
    QLM_TRACE(kMod, "DDE initialization failure.");
  } else {
    st.idInst = id;
    st.lpDdeProc = qlmipcDDECallBack;
    const int size = pInit->maxServices > 0 ? pInit->maxServices : kDefaultServices;
    if (GetBuf(&st.pServicePArray, sizeof(IpcHandle *) * size) != 0) {
      QLM_TRACE(kMod, "GetBuf error!");
      DdeUninitialize(st.idInst);
      st = IpcState{};
    } else {
      st.maxServices = size;
      st.maxMessages = pInit->maxMessages > 0 ? pInit->maxMessages : kDefaultMessages;
      st.numServices = 0;
      rc = 0;
    }
  }
  QLM_TRACE_EXIT(kMod, "ipcCreate", rc);
  return rc;
}

void ipcDelete() {
  QLM_TRACE_ENTRY(kMod, "ipcDelete");
  IpcState &st = ipcState();
  if (st.maxServices == 0) QLM_TRACE(kMod, "ipcCreate or ipcOpen not called yet!");
  if (st.numServices > 0) QLM_TRACE(kMod, "There are services still open!");
  if (st.idInst != 0) {
    QLM_TRACE(kMod, "DdeUninitialize");
    QLM_TRACE_PTR(kMod, "(void *)idInst", static_cast<std::uintptr_t>(st.idInst));
    DdeUninitialize(st.idInst);
    st.idInst = 0;
    if (st.lpDdeProc != nullptr)
      QLM_TRACE(kMod, "FreeProcInstance");
    else
      QLM_TRACE(kMod, "lpDdeProc is NULL!");
    st.lpDdeProc = nullptr;
    FreeBuf(&st.pServicePArray);
    st.maxServices = 0;
    st.onlyPartner = 0;
  } else {
    QLM_TRACE(kMod, "idInst is 0!");
  }
  QLM_TRACE_EXIT(kMod, "ipcDelete", 0);
}

int ipcProvideService(const char *service, const char *topic, IpcHandle **handle) {
  QLM_TRACE_ENTRY(kMod, "ipcProvideService");
  IpcState &st = ipcState();
  *handle = nullptr;
  int rc = 0;
  if (st.maxServices == 0) QLM_TRACE(kMod, "ipcCreate or ipcOpen not called yet!");
  if (!NameFits(kMod, __LINE__, service, "Invalid service name.") ||
      !NameFits(kMod, __LINE__, topic, "Invalid topic name.")) {
    rc = -1;
  } else if (ipcCheckService(service, topic) >= 0) {
    QLM_TRACE(kMod, "Service did not pass ipcCheckService!");
    rc = -1;
  } else if (IpcHandle *h = nullptr; (rc = ipcAddService(service, topic, nullptr, &h)) != 0) {
    QLM_TRACE(kMod, "ipcAddService error!");
  } else if (DdeNameService(st.idInst, h->pServStr->hszService, nullptr, DNS_REGISTER) == nullptr) {
    QLM_TRACE(kMod, "DdeNameService error!");
    ipcDeleteService(&h);
    rc = -1;
  } else {
    *handle = h;
  }
  QLM_TRACE_EXIT(kMod, "ipcProvideService", rc);
  return rc;
}

int ipcRequestService(const char *service, const char *topic, IpcHandle **handle) {
  QLM_TRACE_ENTRY(kMod, "ipcRequestService");
  IpcState &st = ipcState();
  *handle = nullptr;
  int rc = 0;
  IpcService *s = nullptr;
  IpcHandle *h = nullptr;
  int slot = -1;
  if (!NameFits(kMod, __LINE__, service, "Invalid service name.") ||
      !NameFits(kMod, __LINE__, topic, "Invalid topic name.")) {
    rc = -1;
  } else if (ipcCheckService(service, topic) >= 0) {
    QLM_TRACE(kMod, "Did not pass ipcCheckService!");
    rc = -1;
  } else if ((s = NewService(kMod, service, topic, 'C')) == nullptr) {
    rc = -1;
  } else if (GetBuf(&h, sizeof *h) != 0) {
    QLM_TRACE(kMod, "GetBuf error!");
    rc = -1;
  } else if ((slot = FreeSlot()) < 0) {
    QLM_TRACE(kMod, "Logic error!!!");
    rc = -1;
  }
  if (rc != 0) {
    FreeBuf(&h);
    FreeService(&s, false);
  } else {
    h->pServStr = s;
    st.pServicePArray[slot] = h;
    ++st.numServices;
    if (HCONV conv = DdeConnect(st.idInst, s->hszService, s->hszTopic, nullptr); conv != nullptr) {
      h->hConvApp = conv;
      h->serviceStatus = kConnected;
      *handle = h;
    } else {
      QLM_TRACE(kMod, "Did not get confirmation in time!");
      ipcDeleteService(&h);
      rc = kErrNoServer;
    }
  }
  QLM_TRACE_EXIT(kMod, "ipcRequestService", rc);
  return rc;
}

void ipcDeleteService(IpcHandle **handle) {
  QLM_TRACE_ENTRY(kMod, "ipcDeleteService");
  IpcState &st = ipcState();
  if (handle == nullptr) {
    QLM_TRACE(kMod, "Handle is NULL!");
  } else if (const int index = ipcServiceIndex(*handle); index < 0) {
    QLM_TRACE(kMod, "Invalid service handle!");
  } else {
    IpcService *s = (*handle)->pServStr;
    if (s->serviceType == 'C') {
      QLM_TRACE(kMod, "CLIENT");
      QLM_TRACE_PTR(kMod, "(void *)(*ipcSrvc)->hConvApp", (*handle)->hConvApp);
      if ((*handle)->serviceStatus == kConnected && (*handle)->hConvApp != nullptr) {
        QLM_TRACE(kMod, "Calling DdeDisconnect");
        DdeDisconnect((*handle)->hConvApp);
      }
      FreeBuf(&st.pServicePArray[index]);
      --st.numServices;
    } else {
      QLM_TRACE(kMod, "SERVER");
      for (int i = 0; i < st.maxServices; ++i) {
        IpcHandle *&e = st.pServicePArray[i];
        if (e == nullptr || e->pServStr != s) continue;
        QLM_TRACE_PTR(kMod, "(void *)pService->hConvApp", e->hConvApp);
        FreeBuf(&e);
        --st.numServices;
      }
    }
    FreeService(&s, s->serviceType == 'S');
    *handle = nullptr;
  }
  QLM_TRACE_EXIT(kMod, "ipcDeleteService", 0);
}

void ipcCloseService(IpcHandle **handle) {
  QLM_TRACE_ENTRY(kMod, "ipcCloseService");
  ipcDeleteService(handle);
  QLM_TRACE_EXIT(kMod, "ipcCloseService", 0);
}

}  // namespace qlm::ipc
