// What the files of the platform layer share among themselves (not for the library).
#pragma once
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/windows.h"

namespace qlm::platform {

using Clock = std::chrono::steady_clock;

// ---- the pump's watchers (pump.cc) -----------------------------------------------
//
// The message pump waits on the watchers registered with it besides the thread
// timers and the quit message. A watcher asks, before every wait, for the events of
// its descriptor it wants (0 or no descriptor: none) and for the time its own work
// falls due (time_point::max(): never); the pump delivers a kWmDdeEvent for it when
// one of those happens, and DispatchMessageA calls its `ready` with the events found
// (0 when its time came). Ready watchers take turns. A watcher whose `along` holds
// after a wait is delivered too (POLLIN), before the ready ones, whatever its
// descriptor showed: what it reads costs no wake-up of its own.
struct Watcher {
  int fd = -1;
  std::function<short()> events;
  std::function<Clock::time_point()> due;
  std::function<void(short revents)> ready;
  std::function<bool()> along;
};
using WatchId = std::uintptr_t;
WatchId Watch(Watcher w);
// Forgets a watcher; an event of it that waits for dispatch is dropped.
void Unwatch(WatchId id);

// Work to do each time before the pump waits for events (one hook, set once).
void BeforeWait(void (*hook)());

// Dispatches events (timers and watchers, never WM_QUIT) until done() holds or the
// deadline passes. Returns done().
bool PumpUntil(const std::function<bool()> &done, Clock::time_point deadline);

// ---- names (names.cc) -------------------------------------------------------------

std::string Upper(const char *s);
// The handle of a name, one reference more; the name of a handle (null for none).
HSZ AcquireAtom(const std::string &name);
void ReleaseAtom(HSZ h);
const std::string *AtomName(HSZ h);
// A plain service or topic name: 1..8 characters, no '.' or '/'.
bool PlainName(const std::string &n);
// "<SERVICE>.<pid>.<n>": its parts, or false.
bool ParseInstanceName(const std::string &s, std::string *service, DWORD *pid, DWORD *inst);

// ---- data objects (data.cc) ---------------------------------------------------------

// A data object of `offset` zero bytes, then the `n` bytes at `p` (zeros when null).
HDDEDATA NewData(const BYTE *p, std::size_t n, UINT fmt, std::size_t offset = 0);
void DeleteData(HDDEDATA h);
// The bytes of a data object; null for a handle that is not one.
const std::vector<BYTE> *DataBytes(HDDEDATA h);

// dde.cc: whether a DDE instance of this number exists.
bool InstanceExists(DWORD idInst);

// ---- the rest -------------------------------------------------------------------------

// window.cc: whether an open file description other than `fd`'s holds a write lock
// over the whole file (the lock of a window or of the server).
bool LockHeld(int fd);

// rundir.cc: makes `path` (mode 0700) unless it exists, then checks that it is a
// directory of the user's own without group or other permissions. 0, or -1 (errno).
int MakePrivateDir(const std::string &path);

// This process's id, asked of the system once (and again in a forked child).
pid_t ProcessId();

}  // namespace qlm::platform
