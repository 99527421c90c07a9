#include "interface/context_table.h"

#include <cctype>
#include <cstring>

#include "common/memory.h"
#include "common/trace.h"
#include "interface/state.h"

namespace qlm {

namespace {
constexpr const char *kMod = "cfhantab";
ProjEntry *g_head = nullptr;
int g_count = 0;


// strncasecmp stops at a zero byte; names are compared over all 20 bytes.
bool matches(const ProjEntry &e, const char *name) {
  for (int i = 0; i < kNameWidth; ++i) {
    unsigned char x = static_cast<unsigned char>(e.name[i]), y = static_cast<unsigned char>(name[i]);
    if (std::tolower(x) != std::tolower(y)) return false;
  }
  return true;
}

ProjEntry **findLink(const char *name) {
  for (ProjEntry **link = &g_head; *link; link = &(*link)->next)
    if (matches(**link, name)) return link;
  return nullptr;
}
}  // namespace

int cfAddProjEntry(const char *name, const char *projHandle) {
  TraceScope trace(kMod, "cfAddProjEntry");
  ProjEntry *e = nullptr;
  if (GetBuf(&e, sizeof(ProjEntry)) != 0) return trace.result(fail(kErrNoMemory, kRcFailed));
  std::memcpy(e->name, name, kNameWidth);
  std::memcpy(e->projHandle, projHandle, kHandleWidth);
  ProjEntry **tail = &g_head;
  while (*tail) tail = &(*tail)->next;
  *tail = e;
  ++g_count;
  return kRcOk;
}

int cfGetProjEntry(const char *name, ProjEntry *out) {
  ProjEntry **link = findLink(name);
  if (!link) return 0;
  if (out) *out = **link;
  return 1;
}

int cfModProjEntry(const char *name, std::uint16_t selector, const char *handle) {
  TraceScope trace(kMod, "cfModProjEntry");
  ProjEntry **link = findLink(name);
  if (!link) return trace.result(fail(kErrMalformed, kRcFailed));
  char *target = nullptr;
  switch (selector) {
    case kSelAdbk: target = (*link)->adbkHandle; break;
    case kSelMbox: target = (*link)->mboxHandle; break;
    case kSelMsys: target = (*link)->msysHandle; break;
    default: return trace.result(fail(kErrMalformed, kRcFailed));
  }
  std::memcpy(target, handle, kHandleWidth);
  return kRcOk;
}

int cfDeleteProjEntry(const char *name) {
  TraceScope trace(kMod, "cfDeleteProjEntry");
  ProjEntry **link = findLink(name);
  if (!link) return trace.result(fail(kErrMalformed, kRcFailed));
  ProjEntry *gone = *link;
  *link = gone->next;
  FreeBuf(&gone);
  --g_count;
  return kRcOk;
}

void cfClearProjTable() {
  while (g_head) {
    ProjEntry *gone = g_head;
    g_head = gone->next;
    FreeBuf(&gone);
  }
  g_count = 0;
}

int cfProjCount() { return g_count; }

}  // namespace qlm
