// The session-wide parts of the platform layer on Windows: the server lock (a named
// mutex), whether a process has ended, and the run directory, which Windows does not
// need (windows and DDE services are found in the desktop session).
#include <string>

#include "platform/service_mark.h"
#include "platform/windows.h"

#include <tlhelp32.h>

namespace qlm {
namespace {

HANDLE g_serverLock = nullptr;

// The name of the server's mutex: of this session ("Local\"), per lock name.
std::string MutexName(const char *lockName) { return std::string("Local\\Quillmar-") + lockName; }

}  // namespace

const char *RunDirectory() { return "(desktop session)"; }
const char *KnownRunDirectory() { return RunDirectory(); }
int PrepareRunDir() { return 0; }
void RemoveRunDir() {}
int SignalReady() { return 0; }  // WinExec waits until the server pumps messages
// The service mode (a Request Manager left running by the applications' closes) is
// the POSIX build's; on Windows the last close always ends the server.
bool ServiceRuns() { return false; }
// DDEML acknowledges each transaction itself, as the callback returns: there are no
// ACKs to hold back or send early.
BOOL BatchAcks(DWORD) { return TRUE; }
void SendHeldAcks() {}

ServerLock AcquireServerLock(const char *lockName, const char *title) {
  if (g_serverLock != nullptr) return ServerLock::Failed;
  HANDLE m = CreateMutexA(nullptr, FALSE, MutexName(lockName).c_str());
  if (m == nullptr) return ServerLock::Failed;
  // Another server runs or is starting: it is ready once its window exists. One that
  // ends lets the mutex go (or ends holding it: abandoned); then this one takes it.
  for (DWORD waited = 0; waited <= kReadyWaitMs; waited += 20) {
    const DWORD w = WaitForSingleObject(m, 0);
    if (w == WAIT_OBJECT_0 || w == WAIT_ABANDONED) {
      g_serverLock = m;
      return ServerLock::Acquired;
    }
    if (w != WAIT_TIMEOUT) break;
    if (FindWindowA(nullptr, title) != nullptr) {
      CloseHandle(m);
      return ServerLock::OtherReady;
    }
    Sleep(20);
  }
  CloseHandle(m);
  return ServerLock::Failed;
}

void ReleaseServerLock() {
  if (g_serverLock == nullptr) return;
  ReleaseMutex(g_serverLock);
  CloseHandle(g_serverLock);
  g_serverLock = nullptr;
}

bool ProcessEnded(long pid) {
  if (pid <= 0) return true;
  HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (h == nullptr) return GetLastError() != ERROR_ACCESS_DENIED;  // another user's process runs
  const bool ended = WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
  CloseHandle(h);
  return ended;
}

std::string ProcessStartMark(long pid) {
  HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (h == nullptr) return {};
  FILETIME created{}, exited{}, kernel{}, user{};
  const bool known = GetProcessTimes(h, &created, &exited, &kernel, &user) != 0;
  CloseHandle(h);
  if (!known) return {};
  return std::to_string((static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime);
}

long StarterProcess() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32 e{};
  e.dwSize = sizeof e;
  long parent = 0;
  const DWORD self = GetCurrentProcessId();
  for (BOOL more = Process32First(snap, &e); more; more = Process32Next(snap, &e))
    if (e.th32ProcessID == self) parent = static_cast<long>(e.th32ParentProcessID);
  CloseHandle(snap);
  return parent;
}

namespace {
void (*g_stop)() = nullptr;
BOOL WINAPI OnConsoleEvent(DWORD) {
  if (g_stop != nullptr) g_stop();
  return TRUE;
}
}  // namespace

void OnEndRequest(void (*stop)()) {
  g_stop = stop;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

}  // namespace qlm
