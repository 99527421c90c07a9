// The context table: one entry per open project, mapping its 20-character name
// (compared without regard to case) to the handles the Request Manager assigned.
// A handle is empty when its first byte is zero.
#pragma once
#include <cstdint>

#include "wire/wire.h"

namespace qlm {

inline constexpr int kNameWidth = 20;
using wire::kHandleWidth;

struct ProjEntry {
  char name[kNameWidth];
  char projHandle[kHandleWidth];
  char mboxHandle[kHandleWidth];
  char adbkHandle[kHandleWidth];
  char msysHandle[kHandleWidth];
  ProjEntry *next;
};

// Selectors of cfModProjEntry.
inline constexpr std::uint16_t kSelAdbk = 1, kSelMbox = 2, kSelMsys = 3;

int cfAddProjEntry(const char *name, const char *projHandle);           // 0, or 12/20020
int cfGetProjEntry(const char *name, ProjEntry *out);                   // 1 found, 0 not
int cfModProjEntry(const char *name, std::uint16_t selector, const char *handle);  // 0, or 12/20010
int cfDeleteProjEntry(const char *name);                                // 0, or 12/20010
void cfClearProjTable();
int cfProjCount();

inline bool handleSet(const char *h) { return h[0] != 0; }

}  // namespace qlm
