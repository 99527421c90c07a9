// Fuzz target: the library's response readers. A fake link stands in for the
// transport: each request the library sends is answered with messages cut from the
// input. Most answers get a correct header segment (response identifier, the
// request's reference, handle and return code from the input) followed by the
// input's bytes as items, so that the readers behind the header check are reached;
// others are the input's bytes as they are. Every reader family is driven, single
// records, lists and mixed lists, with guard bytes around the caller's areas: a
// reader that writes outside them, or a count beyond what was asked, aborts.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "interface/context_table.h"
#include "interface/exchange.h"
#include "interface/state.h"
#include "qlmc32.h"
#include "reader_calls.h"
#include "interface/buffer.h"
#include "rmil/message.h"

namespace {

using namespace qlm;
using namespace qlm::fuzz;

// The input, consumed from the front.
struct Input {
  const std::uint8_t *p;
  std::size_t n;
  std::uint8_t byte() {
    if (n == 0) return 0;
    --n;
    return *p++;
  }
  std::size_t take(std::size_t want, const std::uint8_t **out) {
    const std::size_t k = want < n ? want : n;
    *out = p;
    p += k;
    n -= k;
    return k;
  }
};
Input g_in{nullptr, 0};
int g_requestId = 0;  // of the last request sent

int Send(const void *data, int length) {
  // The request identifier (item 3000) of the request, for the answer's header.
  rmil::Message m = rmil::Message::reading(static_cast<const std::uint8_t *>(data), length);
  g_requestId = 0;
  for (rmil::Item i; m.next(&i) == rmil::Read::Item;)
    if (i.id == wire::kRequestId) g_requestId = std::atoi(std::string(i.value).c_str());
  return 0;
}

int Receive(void *buffer, int *length) {
  if (g_in.n == 0) return -21;  // the peer has gone: the reader ends with a failure
  const std::uint8_t flags = g_in.byte();
  const std::size_t want = g_in.byte() | (static_cast<std::size_t>(g_in.byte()) << 8);
  const std::uint8_t *body = nullptr;
  const std::size_t got = g_in.take(want % 4096, &body);
  auto *out = static_cast<std::uint8_t *>(buffer);
  if (flags & 1) {  // the bytes as they are
    const std::size_t k = got < static_cast<std::size_t>(*length) ? got : static_cast<std::size_t>(*length);
    std::memcpy(out, body, k);
    *length = static_cast<int>(k);
    return got > k ? -8 : 0;
  }
  std::uint8_t storage[wire::kBufSize];
  rmil::Message m(storage);
  m.clear();
  m.addNumber(wire::kResponseId, (flags & 2) ? g_requestId : g_requestId + 1);
  m.addNumber(wire::kReference, (flags & 4) ? ifc().requestRef - 1 : ifc().requestRef);
  if (flags & 8) m.addRaw(wire::kHandle, "HANDLE0001");
  m.addNumber(wire::kReturnCode, (flags & 16) ? (flags >> 5) : 0);
  m.endSegment();
  m.setMoreData((flags & 32) != 0);
  std::size_t at = static_cast<std::size_t>(m.length());
  const std::size_t room = wire::kBufSize - at;
  const std::size_t k = got < room ? got : room;
  std::memcpy(storage + at, body, k);
  at += k;
  wire::putU16(storage + wire::kLengthAt, static_cast<std::uint16_t>(at));  // rmilLen covers the items
  const std::size_t give = at < static_cast<std::size_t>(*length) ? at : static_cast<std::size_t>(*length);
  std::memcpy(out, storage, give);
  *length = static_cast<int>(give);
  return 0;
}
int Active() { return 0; }
constexpr Link kLink{Send, Receive, Active};


}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  ::setenv("QLM_ROOTDIR", "/nonexistent-qlm-fuzz-root", 1);  // no trace file is written
  cfSetLink(&kLink);
  if (cfRmilInit() != 0) std::abort();
  ifc().interfaceOpen = 1;
  cfSetReceiveTimeoutValue(0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 2) return 0;
  g_in = Input{data + 2, size - 2};
  const auto &calls = Calls();
  OpenFuzzContext();  // requests of every family go out
  calls[data[0] % calls.size()](1 + data[1] % kMaxCapacity);
  return 0;
}
