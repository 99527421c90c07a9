// The library's one message buffer (allocated at open) and the cf* operations on it. Results: 0 success, 12 with last error 20010 (no room,
// end of data) or 20020 (no buffer); readers return 1 for an item, 0 at a segment end.
#pragma once
#include <cstdint>

#include "rmil/message.h"

namespace qlm {

rmil::Message &cfMessage();

int cfRmilInit();
void cfRmilClear();
void cfFreeBuffer();
bool cfBufferAllocated();

int cfAddItem(std::uint16_t nameId, const char *value, std::int16_t width);
int cfAddNumber(std::uint16_t nameId, long value);  // the number in decimal
int cfAddNameID(std::int16_t nameId);
int cfEndSegDlmt();

// value: an area of at least 131 bytes (filled with zero bytes by the callers).
int cfGetNextItem(std::uint16_t *nameId, char *value, std::int16_t *length);
int cfGetItem(std::uint16_t nameId, char *value, std::int16_t *length);
int cfMoveToNextSeg();  // 0 moved, -1 on the last segment, 12 end of data

int cfIsBufferEmpty();
int cfGetRmilLength();
int cfIsMoreDataToRcv();
int cfIsErrorSeg();
// 0 when an error segment was found (its texts are taken), 1 when there is none.
int cfFindErrorSeg();

}  // namespace qlm
