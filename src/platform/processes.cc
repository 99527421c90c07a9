// Processes as the Request Manager sees them: when one started, and the requests to
// end. See ProcessStartMark and OnEndRequest in platform/windows.h.
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/windows.h"

namespace qlm {

namespace {
void (*g_stop)() = nullptr;
void OnSignal(int) {
  if (g_stop != nullptr) g_stop();
}
}  // namespace

std::string ProcessStartMark(long pid) {
  // Field 22 of /proc/<pid>/stat, counting the state after the command name as field 3.
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return {};
  std::size_t at = line.rfind(')');
  if (at == std::string::npos || at + 2 >= line.size()) return {};
  at += 2;
  for (int field = 3; field < 22 && at != std::string::npos; ++field) {
    at = line.find(' ', at);
    if (at != std::string::npos) ++at;
  }
  return at == std::string::npos ? std::string() : line.substr(at, line.find(' ', at) - at);
}

long StarterProcess() {
  const char *v = std::getenv("QLM_OWNER_PID");
  if (v == nullptr || *v == '\0') return 0;
  char *end = nullptr;
  const long pid = std::strtol(v, &end, 10);
  return *end == '\0' && pid > 0 && pid < 0x7FFFFFFF ? pid : 0;
}

void OnEndRequest(void (*stop)()) {
  g_stop = stop;
  std::signal(SIGPIPE, SIG_IGN);
  for (int s : {SIGTERM, SIGINT, SIGHUP}) std::signal(s, OnSignal);
}

}  // namespace qlm
