// The wire: what the library, the Request Manager and any program that speaks for
// either (the test double included) agree on about the bytes they exchange and the
// names they meet under. Shared by writer and reader alike, written once here; the
// record layouts and request identifiers are the record tables' (src/records).
// Integers travel little-endian (wire/coding.h).
#pragma once
#include <cstdint>

namespace qlm::wire {

// ---------------------------------------------------------------------------
// RMIL messages
//
// A message is a 10-byte header followed by items, back to back:
//   header: i16 rmilBufLen (3072), i16 rmilLen (bytes in use, header included),
//           i16 rmilNumSegs, u16 reserved (0), i16 rmilMoreData (continuation follows)
//   item:   i16 length L, u16 name ID, L value bytes (text, no terminator)
// A segment ends with the item (0, kSegEnd). Segment 1 is the header segment; each
// further segment holds one record (opened by the segment-type item whose value is
// the record's segment type) or an error (segment type kErrorSegType).

inline constexpr int kBufSize = 3072;
inline constexpr int kHeaderSize = 10;
inline constexpr int kBufLenAt = 0, kLengthAt = 2, kNumSegsAt = 4, kMoreDataAt = 8;
inline constexpr int kItemHeader = 4;  // i16 length, u16 name ID
inline constexpr int kMaxValue = 130;  // value bytes a reader takes of one item

// Name IDs of the message's structure.
inline constexpr std::uint16_t kSegEnd = 49;
inline constexpr std::uint16_t kSegType = 9983;

// Header segment. Requests: request identifier, handle (101 when an agent opens under
// its project, else 102), return-record flag, reference, relation and related key,
// list qualifiers. Responses: response identifier, the request's reference, an
// assigned handle, return code.
inline constexpr std::uint16_t kRequestId = 3000, kResponseId = 3001, kReference = 100, kProjectHandle = 101,
                               kHandle = 102, kReturnCode = 103, kReturnRecord = 104, kSelectValue = 126,
                               kOperator = 127, kSelectField = 128, kSortOrder = 129, kSortField = 130,
                               kStartEntry = 131, kNumEntries = 132, kRelatedKey = 133, kRelation = 134;
inline constexpr int kHandleWidth = 10;

// Values of header items: the return-record flag (104), the relation parameter of a
// request without a related record (134), operator codes (127), sort orders (129).
inline constexpr int kNoRecord = 10000, kWantRecord = 10001;
inline constexpr std::uint16_t kNoRelation = 10001;
enum class Op : int { Gt = 10011, Lt = 10012, Eq = 10013, Ne = 10014, Ge = 10015, Le = 10016 };
inline constexpr int kAscending = 10017, kDescending = 10018;
// Paging numbers (131, 132) lie in 1..kMaxPaging.
inline constexpr long kMaxPaging = 65535;

// Error segment: its segment type is the name ID of the error number; the message,
// then the explanation and the response in up to kTextPieces pieces each (51-54,
// 61-64), every piece at most kMaxValue bytes.
inline constexpr std::uint16_t kErrorNumber = 40, kErrorMessage = 41, kExplanation = 51, kResponse = 61;
inline constexpr std::uint16_t kErrorSegType = kErrorNumber;
inline constexpr int kTextPieces = 4;

// ---------------------------------------------------------------------------
// ICC messages: every message between the library and the Request Manager is one
// poke. An 8-byte header, u32 isIccCmd (1 command, 0 data) and u32 ClientKey (the
// 16-bit key sign-extended); a data message carries one RMIL message after it, a
// command its u32 iccCmd.
namespace icc {
inline constexpr int kHeader = 8;
inline constexpr int kIsCmdAt = 0, kKeyAt = 4, kCmdAt = 8;
enum Cmd : std::uint32_t { kInit = 1, kInitResponse = 2, kEnd = 3 };
// Init (client to server, control service): the client's service name in a 12-byte
// field, then its version, the first 29 bytes of a 30-byte field. A server reads it
// when it holds the service name at least.
inline constexpr int kInitLength = 53, kInitServiceAt = 12, kInitServiceWidth = 12, kInitVersionAt = 24;
inline constexpr int kInitMinimum = kInitVersionAt;
// Init Response (server to the client's service): the key again as i16, zeros, the
// server's version (30 bytes, NUL-padded). Key 0 refuses; keys are 1..kMaxKey.
inline constexpr int kResponseLength = 54, kResponseKeyAt = 12, kResponseVersionAt = 24, kVersionWidth = 30;
inline constexpr int kMaxKey = 32767;
// End (client to server, control service): the header and the command alone.
inline constexpr int kEndLength = 12;
}  // namespace icc

// ---------------------------------------------------------------------------
// Names: the DDE services and topics of the ICC conversations, the programs, their
// window titles (a window tells that a program runs) and the Request Manager's lock
// file, all in the run directory.

inline constexpr char kClientService[] = "CAPIAPP";    // each library instance's own, topic kCourier
inline constexpr char kCourier[] = "COURIER";          // the topic of the data conversations
inline constexpr char kControlService[] = "REQMNGRI";  // Init and End
inline constexpr char kControlTopic[] = "RMICC";
inline constexpr char kDataService[] = "REQMNGR";      // requests

inline constexpr char kRequestManager[] = "qlmrqmgr";
inline constexpr char kRequestManagerTitle[] = "Quillmar - Request Manager";
inline constexpr char kServerLock[] = "qlmrqmgr.lock";
// In the run directory while its Request Manager runs as a service (qlmrqmgr --service):
// applications then end their conversation without the shutdown request.
inline constexpr char kServiceMark[] = "qlmrqmgr.service";
inline constexpr char kSessionStatus[] = "qlmvnph";
inline constexpr char kSessionStatusTitle[] = "Quillmar Session Status";

}  // namespace qlm::wire
