// What the files of the platform layer share among themselves (not for the library).
#pragma once
#include <sys/types.h>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/windows.h"
#include "wire/coding.h"

namespace qlm::platform {

using Clock = std::chrono::steady_clock;

// A descriptor of a DDE instance that the pump watches for `events`; `id` names it in
// kWmDdeEvent (wParam; lParam carries the events found).
struct PollSource {
  int fd;
  std::uintptr_t id;
  short events;
};
// The source id of the layer's own work: time limits that passed, conversations it
// ended. Due when NextDdeDeadline() has passed.
inline constexpr std::uintptr_t kTimeLimitsSource = 0;

// dde.cc: the listening endpoints that accept now and every conversation of the
// process (with POLLOUT while it has frames to send).
void CollectDdeSources(std::vector<PollSource> &out);
// dde.cc: when the layer's own work is due next (time_point::min(): at once).
Clock::time_point NextDdeDeadline();
// dde.cc: handles what is waiting on source `id` (one connection, queued frames the
// socket takes now, one frame, or the end of a conversation; for kTimeLimitsSource
// the time limits) and calls the instance's callback. Nothing for an unknown id.
void ServiceDdeSource(std::uintptr_t id, short revents);

// pump.cc: dispatches events (timers and DDE, never WM_QUIT) until done() holds or the
// deadline passes. Returns done().
bool PumpUntil(const std::function<bool()> &done, Clock::time_point deadline);

// rundir.cc: makes `path` (mode 0700) unless it exists, then checks that it is a
// directory of the user's own without group or other permissions. 0, or -1 (errno).
int MakePrivateDir(const std::string &path);

// Frame kinds and sizes of the conversation wire.
enum FrameKind : std::uint32_t { kConnect = 1, kConnectReply = 2, kPoke = 3, kAck = 4, kExecute = 5 };
inline constexpr std::size_t kConnectSize = 32;
inline constexpr std::size_t kConnectReplySize = 8;
inline constexpr std::size_t kPokeHeader = 24;
inline constexpr std::size_t kExecuteHeader = 8;
inline constexpr std::size_t kAckSize = 8;
inline constexpr std::size_t kNameField = 9;  // 8 characters and a NUL
inline constexpr std::size_t kMaxName = 8;

std::string Upper(const char *s);

// This process's id, asked of the system once (and again in a forked child).
pid_t ProcessId();

}  // namespace qlm::platform
