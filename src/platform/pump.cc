// The message pump: thread timers, the quit message and the events of the watchers
// registered with it (platform/internal.h), waited for with ppoll. See
// platform/windows.h.
#include <poll.h>
#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <map>
#include <vector>

#include "platform/internal.h"

namespace qlm::platform {
namespace {

struct Timer {
  UINT_PTR id;
  UINT period;  // ms
  TIMERPROC proc;
  Clock::time_point due;
};

std::vector<Timer> &g_timers = *new std::vector<Timer>;  // never destroyed, like the DDE state
UINT_PTR g_nextTimer = 1;
std::map<WatchId, Watcher> &g_watchers = *new std::map<WatchId, Watcher>;
WatchId g_nextWatch = 1;
bool g_quit = false;
int g_quitCode = 0;
std::size_t g_roundRobin = 0;  // where the next scan of ready descriptors begins

DWORD TickCount() {
  return static_cast<DWORD>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count());
}

void Fill(MSG *m, UINT message, WPARAM w, LPARAM l) {
  *m = MSG{nullptr, message, w, l, TickCount(), {0, 0}};
}

Timer *EarliestTimer() {
  auto it = std::min_element(g_timers.begin(), g_timers.end(),
                             [](const Timer &a, const Timer &b) { return a.due < b.due; });
  return it == g_timers.end() ? nullptr : &*it;
}

// The watcher whose own work is due first, and when.
std::pair<WatchId, Clock::time_point> EarliestDue() {
  std::pair<WatchId, Clock::time_point> first{0, Clock::time_point::max()};
  for (const auto &[id, w] : g_watchers)
    if (w.due)
      if (const Clock::time_point t = w.due(); t < first.second) first = {id, t};
  return first;
}

// What one ppoll found ready and has not been delivered yet: a wake-up delivers
// every ready watcher in turn (beginning after the one that came first last time)
// before the pump polls again.
struct Ready {
  WatchId id;
  short revents;
};
std::vector<Ready> &g_ready = *new std::vector<Ready>;
std::size_t g_nextReady = 0;
// The poll set, kept between calls so that a wait allocates nothing.
std::vector<WatchId> &g_polled = *new std::vector<WatchId>;
std::vector<pollfd> &g_fds = *new std::vector<pollfd>;
void (*g_beforeWait)() = nullptr;

// How long the pump looks for events before it blocks: QLM_SPIN_US microseconds,
// kSpinMicros when unset, never for 0 (or anything that is not a number).
std::chrono::nanoseconds SpinTime() {
  static const std::chrono::nanoseconds spin = [] {
    const char *v = std::getenv("QLM_SPIN_US");
    if (v == nullptr) return std::chrono::nanoseconds(std::chrono::microseconds(kSpinMicros));
    char *end = nullptr;
    const long us = std::strtol(v, &end, 10);
    const bool valid = end != v && *end == '\0' && us > 0;
    return std::chrono::nanoseconds(std::chrono::microseconds(valid ? std::min(us, 1000000L) : 0));
  }();
  return spin;
}

// ppoll over the poll set until `until` (time_point::max(): no limit). Before a wait
// of more than the spin time, the set is looked at without waiting, the processor
// given away before each look, until something is ready or the spin time has passed:
// an event that comes within microseconds (the answer to a request just sent, the
// next request of a client) is then taken without the process being put to sleep
// and woken, which costs more than the event itself where a waking processor must
// first leave a deep sleep (virtual machines).
int Poll(Clock::time_point until) {
  const Clock::time_point start = Clock::now();
  if (const std::chrono::nanoseconds spin = SpinTime(); spin.count() > 0 && until - start > spin) {
    timespec zero{};
    do {
      sched_yield();  // first: a partner on this processor runs at once
      if (const int n = ::ppoll(g_fds.data(), g_fds.size(), &zero, nullptr); n != 0) return n;
    } while (Clock::now() - start < spin);
  }
  if (until == Clock::time_point::max()) return ::ppoll(g_fds.data(), g_fds.size(), nullptr, nullptr);
  const auto ns = std::max<std::int64_t>(
      0, std::chrono::duration_cast<std::chrono::nanoseconds>(until - Clock::now()).count());
  const timespec left{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  return ::ppoll(g_fds.data(), g_fds.size(), &left, nullptr);
}

// The next event that the last ppoll found, of a watcher that is still there.
bool NextReady(MSG *m) {
  while (g_nextReady < g_ready.size()) {
    const Ready r = g_ready[g_nextReady++];
    if (g_watchers.count(r.id) != 0) {
      Fill(m, kWmDdeEvent, r.id, r.revents);
      return true;
    }
  }
  return false;
}

// The next message. wait: block until there is one or `deadline` passes; remove: take a
// WM_QUIT or a timer expiry away; withQuit: report a posted quit. false: nothing.
bool Next(MSG *m, bool wait, Clock::time_point deadline, bool remove, bool withQuit) {
  for (;;) {
    if (withQuit && g_quit) {
      Fill(m, WM_QUIT, static_cast<WPARAM>(g_quitCode), 0);
      if (remove) g_quit = false;
      return true;
    }
    const Clock::time_point now = Clock::now();
    Timer *t = EarliestTimer();
    if (t != nullptr && t->due <= now) {
      Fill(m, WM_TIMER, t->id, reinterpret_cast<LPARAM>(t->proc));
      if (remove) {
        t->due += std::chrono::milliseconds(t->period);
        if (t->due <= now) t->due = now + std::chrono::milliseconds(t->period);
      }
      return true;
    }
    const auto [dueWatch, watchDue] = EarliestDue();
    if (watchDue <= now) {
      Fill(m, kWmDdeEvent, dueWatch, 0);
      return true;
    }
    if (NextReady(m)) return true;
    if (g_beforeWait != nullptr) g_beforeWait();
    g_polled.clear();
    g_fds.clear();
    for (const auto &[id, w] : g_watchers)
      if (const short events = w.fd >= 0 && w.events ? w.events() : 0; events != 0) {
        g_polled.push_back(id);
        g_fds.push_back({w.fd, events, 0});
      }

    Clock::time_point until = wait ? deadline : now;
    if (t != nullptr) until = std::min(until, t->due);
    until = std::min(until, watchDue);
    const int n = Poll(until);  // at once when not waiting: `until` is now
    if (n < 0 && errno != EINTR) return false;
    if (n > 0) {
      g_ready.clear();
      g_nextReady = 0;
      for (std::size_t j = 0; j < g_fds.size(); ++j)
        if (g_fds[j].revents == 0)
          if (const Watcher &w = g_watchers.at(g_polled[j]); w.along && w.along())
            g_ready.push_back({g_polled[j], POLLIN});
      const std::size_t alongs = g_ready.size(), first = g_roundRobin;
      for (std::size_t i = 0; i < g_fds.size(); ++i) {
        const std::size_t j = (first + i) % g_fds.size();
        if (g_fds[j].revents == 0) continue;
        if (g_ready.size() == alongs) g_roundRobin = j + 1;  // the next wake-up begins after this one
        g_ready.push_back({g_polled[j], g_fds[j].revents});
      }
      if (NextReady(m)) return true;
    }
    if (!wait || Clock::now() >= deadline) return false;
  }
}

}  // namespace

WatchId Watch(Watcher w) {
  const WatchId id = g_nextWatch++;
  g_watchers.emplace(id, std::move(w));
  return id;
}

void Unwatch(WatchId id) { g_watchers.erase(id); }

void BeforeWait(void (*hook)()) { g_beforeWait = hook; }

bool PumpUntil(const std::function<bool()> &done, Clock::time_point deadline) {
  while (!done()) {
    MSG m;
    if (!Next(&m, true, deadline, true, false)) return done();
    DispatchMessageA(&m);
  }
  return true;
}

}  // namespace qlm::platform

using namespace qlm::platform;

UINT_PTR SetTimer(HWND, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
  if (lpTimerFunc == nullptr) return 0;
  const UINT period = std::max(uElapse, 1u);
  const Clock::time_point due = Clock::now() + std::chrono::milliseconds(period);
  for (Timer &t : g_timers)
    if (t.id == nIDEvent) {
      t = Timer{t.id, period, lpTimerFunc, due};
      return t.id;
    }
  g_timers.push_back(Timer{g_nextTimer++, period, lpTimerFunc, due});
  return g_timers.back().id;
}

BOOL KillTimer(HWND, UINT_PTR uIDEvent) {
  auto it = std::find_if(g_timers.begin(), g_timers.end(), [&](const Timer &t) { return t.id == uIDEvent; });
  if (it == g_timers.end()) return FALSE;
  g_timers.erase(it);
  return TRUE;
}

BOOL GetMessageA(MSG *lpMsg, HWND, UINT, UINT) {
  if (lpMsg == nullptr) return -1;
  while (!Next(lpMsg, true, Clock::time_point::max(), true, true)) {
  }
  return lpMsg->message == WM_QUIT ? 0 : 1;
}

BOOL TranslateMessage(const MSG *) { return FALSE; }

LRESULT DispatchMessageA(const MSG *lpMsg) {
  if (lpMsg == nullptr) return 0;
  if (lpMsg->message == WM_TIMER && lpMsg->lParam != 0)
    reinterpret_cast<TIMERPROC>(lpMsg->lParam)(lpMsg->hwnd, WM_TIMER, lpMsg->wParam, lpMsg->time);
  else if (lpMsg->message == kWmDdeEvent) {
    if (auto it = g_watchers.find(lpMsg->wParam); it != g_watchers.end()) {
      const auto ready = it->second.ready;  // the watcher may go while it runs
      ready(static_cast<short>(lpMsg->lParam));
    }
  }
  return 0;
}

BOOL PeekMessageA(MSG *lpMsg, HWND, UINT, UINT, UINT wRemoveMsg) {
  MSG scratch;
  return Next(lpMsg != nullptr ? lpMsg : &scratch, false, Clock::now(), (wRemoveMsg & PM_REMOVE) != 0, true)
             ? TRUE
             : FALSE;
}

void PostQuitMessage(int nExitCode) {
  g_quit = true;
  g_quitCode = nExitCode;
}
