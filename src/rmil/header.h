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
#include <cstddef>
#include <cstdint>

#include "qlmc32.h"

namespace qlm {

inline constexpr int kNoRecord = 10000;     // return-record flag: no record wanted
inline constexpr int kWantRecord = 10001;   // record wanted; also "no related record"

// Offsets of the list qualifier record (108 bytes) and the small one (30 bytes),
// as the public records lay them out.
namespace lq {
inline constexpr int kSelectField = offsetof(QlmListQual, selectfield),
                     kFieldWidth = sizeof(QlmListQual::selectfield),
                     kOperator = offsetof(QlmListQual, operator_),
                     kSelectValue = offsetof(QlmListQual, selectvalue),
                     kSortField = offsetof(QlmListQual, sortfield),
                     kSortOrder = offsetof(QlmListQual, sortorder),
                     kStartEntry = offsetof(QlmListQual, startentry),
                     kNumEntries = offsetof(QlmListQual, numentries), kSize = sizeof(QlmListQual);
inline constexpr int kSmallStart = offsetof(QlmSmallListQual, startentry),
                     kSmallNum = offsetof(QlmSmallListQual, numentries), kSmallSize = sizeof(QlmSmallListQual);
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
