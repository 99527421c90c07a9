// ICC client (module csiccclx): the library's one conversation with the Request
// Manager, carried by the IPC services.
//
// The message area holds 8 + 4000 bytes, so that every length iccSend accepts fits it
// (the IPC layer then refuses more than 4000 bytes in all); receiving always offers
// the 3988 bytes of kMessageArea, and a longer message fails with -8. The area is
// cleared before the Init Response is received, so a short reply reads as zeros
// (no Init Response, key 0). A message shorter than the 8-byte header counts as a
// data message without data.
#include "link/icc.h"

#include <cstring>

#include "common/debug.h"
#include "common/paths.h"
#include "common/trace.h"
#include "link/ipc.h"
#include "link/process.h"
#include "platform/windows.h"
#include "wire/coding.h"
#include "wire/wire.h"

extern "C" void *__dso_handle;  // this module's instance: the handle the IPC layer asks for

namespace qlm::icc {

namespace {

using namespace wire::icc;
using wire::getU32;
using wire::putU32;

constexpr const char *kMod = "csiccclx";
constexpr int kMaxData = 4000;
constexpr int kInitWait = 15;     // seconds for the Init Response
constexpr int kReceiveWait = 5;   // seconds per receive attempt

struct IccState {
  ipc::IpcHandle *own = nullptr;      // set while started
  ipc::IpcHandle *control = nullptr;
  ipc::IpcHandle *data = nullptr;
  std::int16_t clientKey = 0;
  char version[kVersionWidth] = {};
  std::uint8_t area[kHeader + kMaxData + 1] = {};  // + a terminator for tracing data as text
};

IccState &icc() {
  static IccState state;
  return state;
}

// The ICC header of a message: a command or data, and the key (sign-extended).
void PutHeader(std::uint8_t *m, bool command) {
  putU32(m + kIsCmdAt, command ? 1 : 0);
  putU32(m + kKeyAt, static_cast<std::uint32_t>(static_cast<std::int32_t>(icc().clientKey)));
}

// Everything iccStart made, in reverse.
void Cleanup() {
  IccState &s = icc();
  ipc::ipcDeleteService(&s.own);
  ipc::ipcCloseService(&s.control);
  ipc::ipcCloseService(&s.data);
  ipc::ipcDelete();
}

// Init: a command with key 0, our service name, our version.
void BuildInit(std::uint8_t *m) {
  std::memset(m, 0, kInitLength);
  putU32(m + kIsCmdAt, 1);
  putU32(m + kCmdAt, kInit);
  std::memcpy(m + kInitServiceAt, wire::kClientService, sizeof wire::kClientService);
  std::memcpy(m + kInitVersionAt, kClientVersion, sizeof kClientVersion);
}

int Handshake() {
  IccState &s = icc();
  BuildInit(s.area);
  int rc = ipc::ipcSend(s.control, s.area, kInitLength);
  if (rc != 0) {
    QLM_TRACE(kMod, "Error from ipcSend!");
    return rc;
  }
  std::memset(s.area, 0, sizeof s.area);
  int length = kMessageArea, wait = kInitWait;
  rc = ipc::ipcGet(s.own, s.area, &length, &wait);
  if (rc != 0) {
    QLM_TRACE(kMod, "Error from ipcGet!");
    return rc;
  }
  const std::uint32_t cmd = getU32(s.area + kCmdAt);
  if (cmd != kInitResponse) {
    QLM_TRACE(kMod, "Expected Init Response!");
    QLM_TRACE_INT(kMod, "pProt->iccCmd", cmd);
    return kErrProtocol;
  }
  s.clientKey = wire::getI16(s.area + kResponseKeyAt);
  std::memcpy(s.version, s.area + kResponseVersionAt, kVersionWidth);
  QLM_TRACE_INT(kMod, "(int)ClientKey", s.clientKey);
  if (TraceOn()) {
    char text[kVersionWidth + 1] = {};
    std::memcpy(text, s.version, kVersionWidth);
    TraceLine("", kMod, __LINE__, text);
  }
  if (s.clientKey > 0) return kOk;
  QLM_TRACE(kMod, "Got rejected by RM!");
  return kErrGeneral;
}

// Answers come from the Request Manager's process alone (its identity was checked when
// the control conversation was made): no other process can slip one in.
int OnlyFromTheServer() {
  DWORD server = 0;
  if (!ConversationPartner(icc().control->hConvApp, &server, nullptr) || server == 0) return kErrGeneral;
  ipc::ipcAcceptOnlyFrom(server);
  return kOk;
}

int StartIfNeeded() {
  if (icc().own != nullptr) return kOk;
  const int rc = iccStart();
  if (rc != 0) QLM_TRACE(kMod, "iccStart error!");
  return rc;
}

}  // namespace

int iccStart() {
  QLM_TRACE_ENTRY(kMod, "iccStart");
  IccState &s = icc();
  int rc = kOk;
  PrepareRunDir();  // before the Request Manager is looked for: it is found there, and started with it
  if (process::IsRunning(wire::kRequestManager) == 0) {
    char dir[kPathMax];
    if (GetBinDir(dir, 1) != kPathOk) dir[0] = '\0';
    rc = process::StartProcess(wire::kRequestManager, dir, nullptr);
    if (rc != 0) {
      QLM_TRACE(kMod, "Could not start RM!");
      QLM_TRACE_EXIT(kMod, "iccStart", rc);
      return rc;
    }
  }
  ipc::IpcInit init{};
  std::memcpy(init.name, wire::kClientService, sizeof wire::kClientService);
  init.maxServices = 0;
  init.maxMessages = 0;
  init.platformDependentData = &__dso_handle;

  if (s.own != nullptr) {
    QLM_TRACE(kMod, "iccStart has been called already!");
    rc = kErrGeneral;
  } else if ((rc = ipc::ipcCreate(&init)) != 0) {
    QLM_TRACE(kMod, "Error from ipcCreate!");
  } else if ((rc = ipc::ipcProvideService(wire::kClientService, wire::kCourier, &s.own)) != 0) {
    QLM_TRACE(kMod, "Error from ipcProvideService!");
    ipc::ipcDelete();
  } else if ((rc = ipc::ipcRequestService(wire::kControlService, wire::kControlTopic, &s.control)) != 0 ||
             (rc = ipc::ipcRequestService(wire::kDataService, wire::kCourier, &s.data)) != 0) {
    DebugLine("open: connecting to the Request Manager's services in the run directory %s failed (%d)",
              KnownRunDirectory() != nullptr ? KnownRunDirectory() : "?", rc);
    if (rc == ipc::kErrNoServer)
      QLM_TRACE(kMod, "Req Manager not running!");
    else
      QLM_TRACE(kMod, "Error from ipcRequestService!");
    Cleanup();
  } else if ((rc = OnlyFromTheServer()) != 0 || (rc = Handshake()) != 0) {
    DebugLine("open: the Request Manager did not accept this application (%d)", rc);
    Cleanup();
  }
  QLM_TRACE_EXIT(kMod, "iccStart", rc);
  return rc;
}

void iccEnd() {
  QLM_TRACE_ENTRY(kMod, "iccEnd");
  IccState &s = icc();
  if (s.data != nullptr) {
    PutHeader(s.area, true);
    putU32(s.area + kCmdAt, kEnd);
    ipc::ipcSend(s.control, s.area, kEndLength);
    ipc::ipcCloseService(&s.control);
    ipc::ipcCloseService(&s.data);
  }
  if (s.own != nullptr) ipc::ipcDeleteService(&s.own);
  ipc::ipcDelete();
  QLM_TRACE_EXIT(kMod, "iccEnd", 0);
}

int iccSend(const void *data, int length) {
  QLM_TRACE_ENTRY(kMod, "iccSend");
  IccState &s = icc();
  int rc = StartIfNeeded();
  if (rc == kOk && (length < 0 || length > kMaxData)) {
    QLM_TRACE(kMod, "DataLen invalid!");
    QLM_TRACE_INT(kMod, "theDataLen", length);
    rc = kErrStart;
  } else if (rc == kOk) {
    PutHeader(s.area, false);
    if (length > 0) std::memcpy(s.area + kHeader, data, static_cast<std::size_t>(length));
    rc = ipc::ipcSend(s.data, s.area, kHeader + length);
    if (rc != 0) QLM_TRACE(kMod, "ipcSend error!");
  }
  QLM_TRACE_EXIT(kMod, "iccSend", rc);
  return rc;
}

namespace {
int Receive(void *buffer, int *length, int waitSeconds) {
  IccState &s = icc();
  int rc = StartIfNeeded();
  while (rc == kOk) {
    int messageLength = kMessageArea, wait = waitSeconds;
    std::memset(s.area, 0, kHeader);
    rc = ipc::ipcGet(s.own, s.area, &messageLength, &wait);
    if (rc != 0) {
      QLM_TRACE(kMod, "ipcGet!");
      break;
    }
    QLM_TRACE_INT(kMod, "dataLen", messageLength);
    if (getU32(s.area + kIsCmdAt) == 1) {
      QLM_TRACE(kMod, "Got ICC data.");
      rc = iccProcessCmd(s.area, messageLength);
      if (rc != 0) QLM_TRACE(kMod, "iccProcessCmd!");
      continue;
    }
    const int dataLength = messageLength > kHeader ? messageLength - kHeader : 0;
    if (TraceOn()) {
      s.area[kHeader + dataLength] = 0;
      TraceLine("", kMod, __LINE__, reinterpret_cast<const char *>(s.area + kHeader));
    }
    if (*length >= dataLength) {
      *length = dataLength;
    } else {
      QLM_TRACE(kMod, "Data truncated!");
      rc = kErrTruncated;
    }
    if (*length > 0) std::memcpy(buffer, s.area + kHeader, static_cast<std::size_t>(*length));
    break;
  }
  return rc;
}
}  // namespace

int iccReceive(void *buffer, int *length) {
  QLM_TRACE_ENTRY(kMod, "iccReceive");
  const int rc = Receive(buffer, length, kReceiveWait);
  QLM_TRACE_EXIT(kMod, "iccReceive", rc);
  return rc;
}

int iccTakePending(void *buffer, int *length) {
  QLM_TRACE_ENTRY(kMod, "iccTakePending");
  int rc = kErrNoPartner;
  if (icc().own != nullptr) {
    ipc::ipcDeliverPending();
    rc = Receive(buffer, length, 0);
  }
  QLM_TRACE_EXIT(kMod, "iccTakePending", rc);
  return rc;
}

int iccProcessCmd(const void *, int) {
  QLM_TRACE_ENTRY(kMod, "iccProcessCmd");
  QLM_TRACE_EXIT(kMod, "iccProcessCmd", 0);
  return kOk;
}

int iccIsRMActive() {
  QLM_TRACE_ENTRY(kMod, "iccIsRMActive");
  const int rc = process::IsRunning(wire::kRequestManager) > 0 ? 0 : 1;
  QLM_TRACE_EXIT(kMod, "iccIsRMActive", rc);
  return rc;
}

int iccPeerActive() {
  // The conversations close when the Request Manager ends, and a wait for its answer
  // ends with them; its window (a system call) is looked for only without them.
  const IccState &s = icc();
  const bool linked = s.control != nullptr && s.data != nullptr && s.control->serviceStatus == ipc::kConnected &&
                      s.data->serviceStatus == ipc::kConnected;
  return linked ? 0 : iccIsRMActive();
}

std::int16_t ClientKey() { return icc().clientKey; }
const char *RequestManagerVersion() { return icc().version; }

}  // namespace qlm::icc
