// Request and response headers (segment 1 of every message) in the library's message
// buffer, and the context table kept in step with them.
//
// A request header carries the request identifier, the handle of its context (the
// state checks of the context table first), the return-record flag, the reference,
// the relation and the list qualifier; a response header the response identifier,
// the reference, a handle and the return code (items: wire/wire.h).
//
// Results: 0, 8 or 4 with a last error number (context refusals, paging limits),
// 12 with 20010 (buffer full, malformed or mismatched response).
#pragma once
#include <cstdint>
#include <span>

#include "records/layout.h"

namespace qlm {

// context: 20 characters, or null for requests without a context (shutdown, list projects).
int cfAddRequestIDandHandle(const char *context, std::int16_t requestId);
int cfAddRetField(int value);
int cfAddReqRef(int reference);
// Item 134 `relParm`, and unless it is kNoRelation item 133 `key` (`width` bytes).
int cfAddRelParmAndValue(const char *key, int relParm, int width);
// The list qualifier record: startentry and numentries (each 1..65535), then the
// selection value, operator and sort order when not blank.
int cfAddRequestQualifier(const char *listQualifier);
// The small list qualifier record: its startentry and numentries.
int cfAddSmallRequestQualifier(const char *smallQualifier);
// Reads the response header: the response must be `expectedId` with the reference of
// the request just sent. A successful open, add, close or delete updates the context
// table. The cursor is left on segment 2.
int cfGetHeader(const char *context, std::uint16_t *returnCode, std::uint16_t expectedId);

// The numentries of a qualifier record whose paging fields are `paging` (-1 when not
// a number).
long cfNumEntries(const char *qualifier, std::span<const rec::Field> paging);

}  // namespace qlm
