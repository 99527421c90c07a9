// IPC services: named, message-oriented channels between two processes of one
// machine, over DDE (modules csipcsvx, csipcget, csipcsnd, csipcutw, csipcut).
//
// A process provides server services (service name, topic name) and receives their
// messages into a ring per service; it requests (connects to) a partner's services
// as a client and sends to them. Every message is one poke of bytes whose item name
// is the topic name. Waiting for a message pumps the thread's messages under a timer
// of half a second, so that the pokes, which arrive as callbacks of the pump, fill
// the ring. Everything runs on the calling thread; nothing here is reentrant.
//
// Results: 0, or
//   -1 invalid handle, wrong initialisation state, name check, allocation, table
//      full, a platform call failed (a refused poke included)
//   -2 not allowed on this kind of service, or more than 4000 bytes to send
//   -4 the timer did not start          -6 a quit message arrived while waiting
//   -7 the wait ended without a message while a partner is connected
//   -8 the message was longer than the caller's capacity (the capacity was filled)
//  -20 a connection found no server     -21 the partner is not (or no partner is) connected
//
// Choices of this implementation:
//   - service and topic names longer than 8 characters are refused outright by
//     ipcProvideService and ipcRequestService (traced "Invalid service name." /
//     "Invalid topic name."), so that no name is ever cut;
//   - ipcCreate changes nothing when it fails (the module stays not created);
//   - ipcProvideService fails with -1 ("DdeNameService error!") when the platform
//     cannot register the service name, and undoes the service;
//   - one second of the waiting loop is WaitUnitMs() (1000 ms; a test aid shortens it).
#pragma once
#include <cstdint>

#include "platform/windows.h"

namespace qlm::ipc {

inline constexpr int kOk = 0;
inline constexpr int kErrGeneral = -1;
inline constexpr int kErrNotAllowed = -2;
inline constexpr int kErrTimer = -4;
inline constexpr int kErrQuit = -6;
inline constexpr int kErrTimeout = -7;
inline constexpr int kErrTruncated = -8;
inline constexpr int kErrNoServer = -20;
inline constexpr int kErrNoPartner = -21;

inline constexpr int kDefaultServices = 20;
inline constexpr int kDefaultMessages = 10;
inline constexpr int kMaxNameLength = 8;
inline constexpr int kMaxSend = 4000;        // bytes in one message
inline constexpr DWORD kPokeTimeoutMs = 5000;

// serviceStatus of a handle.
inline constexpr std::int32_t kNotConnected = 0;  // a server's registration
inline constexpr std::int32_t kClosed = 1;        // closed by the partner
inline constexpr std::int32_t kConnected = 2;

struct IpcInit {
  char name[kMaxNameLength + 1];   // the application's service name
  std::int32_t maxServices;        // size of the service table; 0 means 20
  std::int32_t maxMessages;        // depth of each server service's ring; 0 means 10
  void *platformDependentData;     // the module's instance handle; must not be null
};

// A queued message sits in its slot's block (ipc_internal.h), which the slot keeps.
struct IpcService {
  char serviceName[kMaxNameLength + 1];
  char topicName[kMaxNameLength + 1];
  char serviceType;          // 'C' client (a connection to a partner), 'S' server
  std::uint8_t **msgQueue;   // server: maxMessages slots; client: null
  std::int32_t msgCount;
  std::int32_t readIndex;
  std::int32_t writeIndex;
  HSZ hszService;
  HSZ hszTopic;
  HSZ hszItem;               // the topic name again
};

// One table entry. A server service has one handle for its registration and one for
// each further partner conversation, all sharing one IpcService.
struct IpcHandle {
  IpcService *pServStr;
  std::int32_t serviceStatus;
  HCONV hConvApp;
};

// The module's state, one per process. Created while maxServices is not 0.
struct IpcState {
  DWORD idInst = 0;
  PFNCALLBACK lpDdeProc = nullptr;
  IpcHandle **pServicePArray = nullptr;  // maxServices entries; null is free
  std::int32_t maxServices = 0;
  std::int32_t maxMessages = 0;
  std::int32_t numServices = 0;          // occupied entries
  std::int32_t ticks = 0;                // raised by timerSet
  DWORD onlyPartner = 0;                 // when set: the one process whose connections are taken
};
IpcState &ipcState();

int ipcCreate(const IpcInit *pInit);
void ipcDelete();
// *handle: the registration handle of the new server service, or null.
int ipcProvideService(const char *service, const char *topic, IpcHandle **handle);
// *handle: the connected client handle, or null.
int ipcRequestService(const char *service, const char *topic, IpcHandle **handle);
// Frees the handle (a server service: every handle of it, its names and its ring;
// a connected client service is disconnected first) and clears *handle.
void ipcDeleteService(IpcHandle **handle);
void ipcCloseService(IpcHandle **handle);
int ipcSend(IpcHandle *handle, const void *data, int length);
// length: in the capacity of `buffer`, out the bytes delivered (0 when none).
// waitTime: in seconds to wait, out seconds waited. REQUIRES length and waitTime.
int ipcGet(IpcHandle *handle, void *buffer, int *length, int *waitTime);
void ipcReleaseCPU();
// From now on, connections to this process's server services are taken only from
// process `pid` (0: from any); others are closed as soon as they are confirmed.
void ipcAcceptOnlyFrom(DWORD pid);
// Delivers the events that are already waiting, without waiting for more (a bounded
// number, since a peer may keep sending): pokes that arrived fill the rings.
void ipcDeliverPending();

int ipcAddService(const char *service, const char *topic, HCONV conv, IpcHandle **handle);
int ipcServiceIndex(const IpcHandle *handle);
int ipcCheckService(const char *service, const char *topic);
void timerSet(HWND hwnd, UINT message, UINT_PTR idEvent, DWORD time);

}  // namespace qlm::ipc

// The DDE callback of the module, called by the platform during the message pump.
extern "C" __attribute__((visibility("default"))) HDDEDATA qlmipcDDECallBack(
    UINT wType, UINT wFmt, HCONV hConv, HSZ hsz1, HSZ hsz2, HDDEDATA hData, ULONG_PTR dwData1,
    ULONG_PTR dwData2);
