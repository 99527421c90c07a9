#include "process.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/windows.h"

namespace qlm::rqmgr {

bool processAlive(std::int64_t pid) { return !ProcessEnded(static_cast<long>(pid)); }

const std::string &processToken() {
  static const std::string token = [] {
    const std::int64_t pid = getpid();
    return std::to_string(pid) + ":" + ProcessStartMark(static_cast<long>(pid));
  }();
  return token;
}

bool tokenAlive(const std::string &token) {
  const std::size_t colon = token.find(':');
  const std::int64_t pid = std::atoll(token.substr(0, colon).c_str());
  if (!processAlive(pid)) return false;
  const std::string start = colon == std::string::npos ? std::string() : token.substr(colon + 1);
  return start.empty() || ProcessStartMark(static_cast<long>(pid)) == start;
}

}  // namespace qlm::rqmgr
