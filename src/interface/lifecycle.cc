// Opening and closing the interface, and the library's unload path.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "common/config.h"
#include "common/debug.h"
#include "common/memory.h"
#include "common/paths.h"
#include "common/trace.h"
#include "interface/context_table.h"
#include "interface/errors.h"
#include "interface/exchange.h"
#include "interface/state.h"
#include "link/icc.h"
#include "platform/service_mark.h"
#include "platform/windows.h"
#include "qlmc32.h"
#include "interface/buffer.h"

namespace qlm {

namespace {
constexpr const char *kModOpen = "cfopen";
constexpr const char *kModClose = "cfclose";
constexpr const char *kModDll = "cfwindll";

void readTraceSetting(const char *root) {
  char path[kPathMax + 16];
  std::snprintf(path, sizeof path, "%squillmar.ini", root);
  char *value = ReadINIFile(path, "Traces", "Clang_Logic");
  if (value != nullptr && std::toupper(static_cast<unsigned char>(value[0])) == 'Y') {
    SetTrace(1);
    TraceEntry(kModOpen, __LINE__, "QlmOpenCInterface");
  }
  FreeBuf(&value);
}

int open() {
  if (ifc().interfaceOpen) return fail(kErrAlreadyOpen, kRcRefused);
  SetupLongJump();
  char root[kPathMax] = {};
  if (const int rc = GetRootDir(root, 1); rc != kPathOk) {
    DebugLine("open: the installation root: %s",
              rc == kPathTooLong    ? "QLM_ROOTDIR holds more than 39 characters (use a shorter path or a link)"
              : rc == kPathBadColon ? "QLM_ROOTDIR holds a colon"
                                    : "QLM_ROOTDIR is not set and /etc/quillmar/6.1/RootDir cannot be read");
    return fail(kErrNoRootDir, kRcRefused);
  }
  readTraceSetting(root);
  if (cfGetErrorFileName() != 0) {
    DebugLine("open: the error text file of %s: its name cannot be made", root);
    return fail(kErrMalformed, kRcFailed);
  }
  if (const int rc = icc::iccStart(); rc != 0) {
    DebugLine("open: the link to the Request Manager of %s failed (%d)", root, rc);
    return fail(kErrNoLink, kRcFailed);
  }
  ifc().linkStarted = 1;
  cfLinkStarted();
  if (int rc = cfRmilInit(); rc != kRcOk) return rc;
  cfClearProjTable();
  ifc().interfaceOpen = 1;
  return kRcOk;
}

// How long closing waits for the Request Manager to end, in one-second steps. A
// server that is still there then is left running (it ends by itself once this
// application has ended), so that no application hangs in its close or its exit.
constexpr int kEndWaitSeconds = 30;

// End the link and wait, in one-second steps, until the Request Manager has gone
// (at most kEndWaitSeconds).
void endLinkAndWait() {
  icc::iccEnd();
  int waited = 0;
  while (icc::iccIsRMActive() == 0 && waited++ < kEndWaitSeconds) {
    Sleep(WaitUnitMs());
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
  }
  const bool gone = icc::iccIsRMActive() != 0;
  if (!gone) QLM_TRACE(kModClose, "The Request Manager did not end: left running");
  ifc().linkStarted = 0;
  cfFreeBuffer();
  if (gone) RemoveRunDir();  // the application's own run directory, once the server has gone
}

// A Request Manager that runs as a service is left running: the conversation ends
// without the shutdown request.
void leaveService() {
  icc::iccEnd();
  ifc().linkStarted = 0;
  cfFreeBuffer();
}

// Process detach: a library unloaded (or a process ending) with the link started
// shuts the Request Manager down like a close, and the interface counts as closed.
#ifndef _WIN32
__attribute__((destructor))
#endif
void unload() {
  if (!ifc().linkStarted) return;
  TraceScope trace(kModDll, "DllMain");
  if (ServiceRuns()) {
    leaveService();
  } else {
    cfShutdownRM();
    endLinkAndWait();
  }
  ifc().interfaceOpen = 0;
  cfClearProjTable();
  trace.result(1);
}

int closeInterface() {
  if (!ifc().interfaceOpen) return fail(kErrNotOpen, kRcRefused);
  // A shutdown request that fails while the Request Manager runs fails the close; once
  // it has gone, nothing is left to shut down.
  if (ServiceRuns()) {
    leaveService();
  } else {
    if (const int rc = cfShutdownRM(); rc != kRcOk && icc::iccIsRMActive() == 0) return rc;
    endLinkAndWait();
  }
  ifc().interfaceOpen = 0;
  std::memset(ifc().errorFileName, 0, sizeof ifc().errorFileName);
  cfClearProjTable();
  return kRcOk;
}
}  // namespace

}  // namespace qlm

#ifdef _WIN32
// The unload path on Windows, without an ELF destructor. FreeLibrary: the shutdown
// above runs under the loader lock; it only exchanges window messages with the
// Request Manager on this thread (DDEML starts and waits for no thread and loads no
// library), and its waits are bounded, so the lock holds nothing it needs. Process
// end: nothing; the other threads are gone, and the Request Manager ends on its own.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) qlm::unload();
  return TRUE;
}
#endif

extern "C" QLM_API QlmRc QlmOpenCInterface(void) {
  const int rc = qlm::open();
  QLM_TRACE_EXIT(qlm::kModOpen, "QlmOpenCInterface", rc);
  return static_cast<QlmRc>(rc);
}

extern "C" QLM_API QlmRc QlmCloseCInterface(void) { QLM_TRACED(qlm::kModClose, "QlmCloseCInterface", qlm::closeInterface()); }
