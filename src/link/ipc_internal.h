// What the files of the IPC services share among themselves.
#pragma once
#include <cstddef>
#include <cstdint>

#include "common/trace.h"
#include "link/ipc.h"

namespace qlm::ipc {

// A slot of a server service's ring keeps its block from one message to the next
// (made larger when a message does not fit): the message's length (32 bits), the
// block's room for data (32 bits), the data.
inline constexpr std::size_t kSlotLengthAt = 0, kSlotRoomAt = 4, kSlotDataAt = 8;
inline constexpr std::uint32_t kSlotMinimumRoom = 8 + kMaxSend;  // an ICC header and the largest message

// A zero-filled service structure of `type` ('C' or 'S') with both names and the string
// handles of service, topic and item (= topic); a server's gets its empty ring.
// Null when an allocation failed ("GetBuf error!" is traced).
IpcService *NewService(const char *module, const char *service, const char *topic, char type);
// Frees the string handles (unregistering the service name first when `registered`),
// every queued message, the ring and the structure; clears *service. Handles are the
// caller's to free.
void FreeService(IpcService **service, bool registered);
// The first free table index, or -1.
int FreeSlot();
// Whether the name fits the 8 characters of a name field; traces `complaint` when not.
bool NameFits(const char *module, int line, const char *name, const char *complaint);

}  // namespace qlm::ipc

// A text line followed by the service and topic names it is about.
#define QLM_TRACE_NAMES(mod, text, service, topic) \
  do {                                             \
    QLM_TRACE(mod, text);                          \
    QLM_TRACE(mod, service);                       \
    QLM_TRACE(mod, topic);                         \
  } while (0)
