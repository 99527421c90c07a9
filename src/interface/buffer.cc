#include "interface/buffer.h"

#include <cstring>

#include "common/memory.h"
#include "common/trace.h"
#include "interface/errors.h"
#include "interface/state.h"

namespace qlm {

namespace {
constexpr const char *kMod = "cfrmil";
std::uint8_t *g_buffer = nullptr;
// Until the interface opens, the message works on a zeroed static area so
// that nothing ever reads through a null buffer.
std::uint8_t g_idle[wire::kBufSize];
rmil::Message g_message(g_idle);
}  // namespace

rmil::Message &cfMessage() { return g_message; }
bool cfBufferAllocated() { return g_buffer != nullptr; }

int cfRmilInit() {
  TraceScope trace(kMod, "cfRmilInit");
  if (g_buffer == nullptr && GetBuf(&g_buffer, wire::kBufSize) != 0) return trace.result(fail(kErrNoMemory, kRcFailed));
  g_message = rmil::Message(g_buffer);
  g_message.clear();
  return kRcOk;
}

void cfRmilClear() { g_message.clear(); }

void cfFreeBuffer() {
  FreeBuf(&g_buffer);
  g_message = rmil::Message(g_idle);
  g_message.clear();
}

int cfAddItem(std::uint16_t nameId, const char *value, std::int16_t width) {
  return g_message.addItem(nameId, value, width) ? kRcOk : fail(kErrMalformed, kRcFailed);
}

int cfAddNumber(std::uint16_t nameId, long value) {
  return g_message.addNumber(nameId, value) ? kRcOk : fail(kErrMalformed, kRcFailed);
}

int cfAddNameID(std::int16_t nameId) {
  return g_message.addSegType(nameId) ? kRcOk : fail(kErrMalformed, kRcFailed);
}

int cfEndSegDlmt() { return g_message.endSegment() ? kRcOk : fail(kErrMalformed, kRcFailed); }

namespace {
int readResult(rmil::Read r, int length, std::int16_t *out) {
  if (r == rmil::Read::EndOfData) return fail(kErrMalformed, kRcFailed);
  if (r == rmil::Read::Item && out) *out = static_cast<std::int16_t>(length);
  return r == rmil::Read::Item ? 1 : 0;
}
}  // namespace

int cfGetNextItem(std::uint16_t *nameId, char *value, std::int16_t *length) {
  int len = 0;
  const rmil::Read r = g_message.getNextItem(nameId, value, &len);
  return readResult(r, len, length);
}

int cfGetItem(std::uint16_t nameId, char *value, std::int16_t *length) {
  int len = 0;
  const rmil::Read r = g_message.getItem(nameId, value, &len);
  return readResult(r, len, length);
}

int cfMoveToNextSeg() {
  int r = g_message.moveToNextSeg();
  return r == -2 ? fail(kErrMalformed, kRcFailed) : r;
}

int cfIsBufferEmpty() { return g_message.empty() ? 1 : 0; }
int cfGetRmilLength() { return g_message.length(); }
int cfIsMoreDataToRcv() { return g_message.moreData() ? 1 : 0; }
int cfIsErrorSeg() { return g_message.isErrorSeg() ? 1 : 0; }

int cfFindErrorSeg() {
  rmil::Message &m = g_message;
  const rmil::Message::Cursor saved = m.cursor();
  m.rewind();
  int found = 1;
  while (m.moveToNextSeg() == 0) {
    if (m.isErrorSeg()) {
      cfGetRMILErrorText();
      found = 0;
      break;
    }
  }
  m.setCursor(saved);
  return found;
}

}  // namespace qlm
