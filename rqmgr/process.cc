#include "process.h"

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>

#include "platform/windows.h"

namespace qlm::rqmgr {

namespace {

// The fields of /proc/<pid>/stat after the command name: "S ppid ..."; empty when
// the file cannot be read (no /proc, or the process is gone).
std::string statTail(std::int64_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return {};
  const std::size_t paren = line.rfind(')');
  return paren == std::string::npos || paren + 2 >= line.size() ? std::string() : line.substr(paren + 2);
}

// Field `n` (1-based, counting the state as field 3 as proc(5) does) of the tail.
std::string statField(const std::string &tail, int n) {
  std::size_t at = 0;
  for (int field = 3; field < n && at != std::string::npos; ++field) {
    at = tail.find(' ', at);
    if (at != std::string::npos) ++at;
  }
  if (at == std::string::npos) return {};
  return tail.substr(at, tail.find(' ', at) - at);
}

}  // namespace

bool processAlive(std::int64_t pid) { return !ProcessEnded(static_cast<long>(pid)); }

const std::string &processToken() {
  static const std::string token = [] {
    const std::int64_t pid = getpid();
    return std::to_string(pid) + ":" + statField(statTail(pid), 22);
  }();
  return token;
}

bool tokenAlive(const std::string &token) {
  const std::size_t colon = token.find(':');
  const std::int64_t pid = std::atoll(token.substr(0, colon).c_str());
  if (!processAlive(pid)) return false;
  const std::string start = colon == std::string::npos ? std::string() : token.substr(colon + 1);
  return start.empty() || statField(statTail(pid), 22) == start;
}

}  // namespace qlm::rqmgr
