// The Request Manager process (module csiccpr).
#include "link/process.h"

#include <cstdio>
#include <cstring>

#include "common/debug.h"
#include "common/memory.h"
#include "common/trace.h"
#include "link/ipc.h"
#include "platform/windows.h"
#include "wire/wire.h"

namespace qlm::process {

namespace {
constexpr const char *kMod = "csiccpr";
constexpr UINT kTryAgain = 16;
constexpr UINT kFirstSuccess = 32;
constexpr const char kMarks[] = "??????????????????????????????????????????????";  // 46

struct KnownProgram {
  const char *name;
  const char *title;
};
constexpr KnownProgram kPrograms[] = {
    {wire::kRequestManager, wire::kRequestManagerTitle},
    {wire::kSessionStatus, wire::kSessionStatusTitle},
};
// The QLM_DEBUG line of a failed start, by WinExec's code.
void DebugStartFailure(UINT rc, const char *dir, const char *name) {
  if (!DebugOn()) return;
  const char *why = rc == 2    ? "the program is not there (is the installation root complete? `qlm init` lays one out)"
                    : rc == 3  ? "its directory, or the run directory, is missing or not usable"
                    : rc == 5  ? "permission denied (the program is not executable, or the run directory is not yours)"
                    : rc == kExecEndedFirst ? "it ended during its start"
                                            : "it could not be started";
  DebugLine("open: starting the Request Manager %s%s: %s (code %u)", dir, name, why, static_cast<unsigned>(rc));
  if (rc == kExecEndedFirst) DebugServerLog(30);
}

}  // namespace

int IsRunning(const char *name) {
  QLM_TRACE_ENTRY(kMod, "IsRunning");
  int rc = 0;
  const KnownProgram *known = nullptr;
  for (const KnownProgram &p : kPrograms)
    if (name != nullptr && std::strcmp(name, p.name) == 0) known = &p;
  if (known != nullptr) {
    rc = FindWindowA(nullptr, known->title) != nullptr ? 1 : 0;
  } else {
    QLM_TRACE(kMod, kMarks);
    QLM_TRACE(kMod, "MUST MODIFY csiccpr TO HANDLE THIS PROCESS");
    QLM_TRACE(kMod, name != nullptr ? name : "");
    QLM_TRACE(kMod, kMarks);
  }
  QLM_TRACE_EXIT(kMod, "IsRunning", rc);
  return rc;
}

int StartProcess(const char *name, const char *directory, const char *args) {
  QLM_TRACE_ENTRY(kMod, "StartProcess");
  const char *dir = directory != nullptr ? directory : "";
  const std::size_t dirLen = std::strlen(dir);
  const char *slash = dirLen > 0 && dir[dirLen - 1] != '/' ? "/" : "";
  const bool withArgs = args != nullptr && *args != '\0';
  // The program's path in double quotes, so that an installation root with blanks
  // stays one argument.
  const std::size_t size = dirLen + 1 + std::strlen(name) + 3 + (withArgs ? std::strlen(args) : 0) + 1;
  char *line = nullptr;
  GetBuf(&line, size);
  std::snprintf(line, size, "\"%s%s%s\"%s%s", dir, slash, name, withArgs ? " " : "", withArgs ? args : "");
  UINT rcWinExec = WinExec(line, SW_HIDE);
  for (int tries = 1; rcWinExec == kTryAgain && tries < kStartTries; ++tries) {
    ipc::ipcReleaseCPU();
    rcWinExec = WinExec(line, SW_HIDE);
  }
  FreeBuf(&line);
  int rc = 0;
  if (rcWinExec < kFirstSuccess) {
    DebugStartFailure(rcWinExec, dir, name);
    QLM_TRACE(kMod, "Unable to start process!");
    QLM_TRACE_INT(kMod, "rcWinExec", rcWinExec);
    rc = kStartFailed;
  }
  QLM_TRACE_EXIT(kMod, "StartProcess", rc);
  return rc;
}

}  // namespace qlm::process
