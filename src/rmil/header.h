// Request and response headers (segment 1 of every message).
//
// Request header items: 3000 request identifier, 101/102 context handle,
// 104 return-record flag, 100 request reference, 134/133 relation, and for lists
// 131 startentry, 132 numentries, 126 selection value, 127 operator, 128 selection
// field, 129 sort order, 130 sort field. Response header items: 3001 response
// identifier, 100 reference, 102 handle, 103 return code.
//
// Results: 0, 8 or 4 with a last error number (context refusals, paging limits),
// 12 with 20010 (buffer full, malformed or mismatched response).
#pragma once
#include <cstdint>

namespace qlm {

inline constexpr int kNoRecord = 10000;     // return-record flag: no record wanted
inline constexpr int kWantRecord = 10001;   // record wanted; also "no related record"

// Offsets of the list qualifier record (108 bytes) and the small one (30 bytes).
namespace lq {
inline constexpr int kSelectField = 20, kFieldWidth = 25, kOperator = 45, kSelectValue = 47,
                     kSortField = 72, kSortOrder = 97, kStartEntry = 98, kNumEntries = 103,
                     kSize = 108;
inline constexpr int kSmallStart = 20, kSmallNum = 25, kSmallSize = 30;
}  // namespace lq

// context: 20 characters, or null for requests without a context (47, 258).
int cfAddRequestIDandHandle(const char *context, std::int16_t requestId);
int cfAddRetField(int value);
int cfAddReqRef(int reference);
int cfAddRelParmAndValue(const char *key, int relParm, int width);
int cfAddRequestQualifier(const char *listQualifier);
int cfAddSmallRequestQualifier(const char *smallQualifier);
int cfGetHeader(const char *context, std::uint16_t *returnCode, std::uint16_t expectedId);

// A paging number: its five characters alone, leading blanks skipped, then decimal
// digits up to the first non-digit. -1 when no digit follows the leading blanks.
long parsePagingNumber(const char *five);
// Operator and sort order codes of items 127 and 129.
int operatorCode(const char *two);
int sortOrderCode(char order);

}  // namespace qlm
