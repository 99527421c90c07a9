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
  QLM_TRACE_ENTRY(kMod, "cfAddProjEntry");
  ProjEntry *e = nullptr;
  int rc = kRcOk;
  if (GetBuf(&e, sizeof(ProjEntry)) != 0) {
    rc = fail(kErrNoMemory, kRcFailed);
  } else {
    std::memcpy(e->name, name, kNameWidth);
    std::memcpy(e->projHandle, projHandle, kHandleWidth);
    ProjEntry **tail = &g_head;
    while (*tail) tail = &(*tail)->next;
    *tail = e;
    ++g_count;
  }
  QLM_TRACE_EXIT(kMod, "cfAddProjEntry", rc);
  return rc;
}

int cfGetProjEntry(const char *name, ProjEntry *out) {
  ProjEntry **link = findLink(name);
  if (!link) return 0;
  if (out) *out = **link;
  return 1;
}

int cfModProjEntry(const char *name, std::uint16_t selector, const char *handle) {
  QLM_TRACE_ENTRY(kMod, "cfModProjEntry");
  ProjEntry **link = findLink(name);
  char *target = nullptr;
  if (link) {
    switch (selector) {
      case kSelAdbk: target = (*link)->adbkHandle; break;
      case kSelMbox: target = (*link)->mboxHandle; break;
      case kSelMsys: target = (*link)->msysHandle; break;
      default: break;
    }
  }
  int rc = kRcOk;
  if (target)
    std::memcpy(target, handle, kHandleWidth);
  else
    rc = fail(kErrMalformed, kRcFailed);
  QLM_TRACE_EXIT(kMod, "cfModProjEntry", rc);
  return rc;
}

int cfDeleteProjEntry(const char *name) {
  QLM_TRACE_ENTRY(kMod, "cfDeleteProjEntry");
  ProjEntry **link = findLink(name);
  int rc = kRcOk;
  if (!link) {
    rc = fail(kErrMalformed, kRcFailed);
  } else {
    ProjEntry *gone = *link;
    *link = gone->next;
    FreeBuf(&gone);
    --g_count;
  }
  QLM_TRACE_EXIT(kMod, "cfDeleteProjEntry", rc);
  return rc;
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
