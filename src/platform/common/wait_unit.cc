// The platform layer's parts that are the same in both builds (POSIX and Windows).
#include <cstdlib>

#include "platform/windows.h"

namespace qlm {

DWORD WaitUnitMs() {
  static const DWORD unit = [] {
    const char *v = std::getenv("QLM_WAIT_SCALE_MS");
    const long ms = v != nullptr ? std::strtol(v, nullptr, 10) : 0;
    return ms > 0 ? static_cast<DWORD>(ms) : 1000u;
  }();
  return unit;
}

}  // namespace qlm
