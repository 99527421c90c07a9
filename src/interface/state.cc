#include "interface/state.h"

namespace qlm {

InterfaceState &ifc() {
  static InterfaceState state;
  return state;
}

bool isBlank(const char *field, int width) {
  for (int i = 0; i < width; ++i)
    if (field[i] != ' ') return false;
  return true;
}

}  // namespace qlm
