// The transport helpers over the real DDEML: who the partner of a conversation is,
// and connecting to one application's own service. See platform/win32/windows.h.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/windows.h"

namespace {

// The process that owns the partner's window of a conversation; 0 when unknown.
DWORD PartnerProcess(HCONV conv) {
  CONVINFO info{};
  info.cb = sizeof info;
  if (conv == nullptr || DdeQueryConvInfo(conv, QID_SYNC, &info) == 0 || info.hwndPartner == nullptr) return 0;
  DWORD pid = 0;
  GetWindowThreadProcessId(info.hwndPartner, &pid);
  return pid;
}

// "<SERVICE>.<pid>.<n>": the service and the pid; false when the name is not one.
bool SplitInstanceName(const char *name, std::string *service, DWORD *pid) {
  const char *dot = std::strchr(name, '.');
  if (dot == nullptr || dot == name || dot - name > 8) return false;
  char *end = nullptr;
  const unsigned long v = std::strtoul(dot + 1, &end, 10);
  if (end == dot + 1 || *end != '.' || v == 0) return false;
  service->assign(name, dot);
  *pid = static_cast<DWORD>(v);
  return true;
}

}  // namespace

namespace qlm {

BOOL ConversationPartner(HCONV hConv, DWORD *pid, DWORD *instance) {
  const DWORD p = PartnerProcess(hConv);
  if (p == 0) return FALSE;
  if (pid != nullptr) *pid = p;
  if (instance != nullptr) *instance = 0;  // DDEML does not tell; one instance per process serves
  return TRUE;
}

bool InstanceServiceName(char *out, std::size_t size, const char *service, DWORD pid, DWORD instance) {
  std::string upper(service);
  for (char &c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  const int n = std::snprintf(out, size, "%s.%lu.%lu", upper.c_str(), static_cast<unsigned long>(pid),
                              static_cast<unsigned long>(instance));
  return n > 0 && static_cast<std::size_t>(n) < size;
}

// DDEML knows no name for one instance: every application registers the same
// service. The first that accepts a DdeConnect to the plain name is taken when it is
// of the wanted process (the usual case: one application); otherwise every instance
// of the service is connected with DdeConnectList and the one of that process kept.
HCONV ConnectNoWait(DWORD idInst, HSZ hszService, HSZ hszTopic) {
  char name[256];
  std::string service;
  DWORD pid = 0;
  if (DdeQueryStringA(idInst, hszService, name, sizeof name, CP_WINANSI) == 0 ||
      !SplitInstanceName(name, &service, &pid))
    return nullptr;
  HSZ plain = DdeCreateStringHandleA(idInst, service.c_str(), CP_WINANSI);
  HCONV found = DdeConnect(idInst, plain, hszTopic, nullptr);
  if (found != nullptr && PartnerProcess(found) != pid) {
    DdeDisconnect(found);
    found = nullptr;
    // The others are ended one by one; the list itself, holding the one kept, goes
    // with the instance (DdeDisconnectList would end that one too).
    if (HCONVLIST list = DdeConnectList(idInst, plain, hszTopic, nullptr, nullptr); list != nullptr) {
      for (HCONV c = DdeQueryNextServer(list, nullptr); c != nullptr; c = DdeQueryNextServer(list, c)) {
        if (found == nullptr && PartnerProcess(c) == pid)
          found = c;
        else
          DdeDisconnect(c);
      }
    }
  }
  DdeFreeStringHandle(idInst, plain);
  return found;
}

}  // namespace qlm
