// Decoding one RMIL request as it came off the wire.
//
// Nothing that the message says about itself is trusted: the message must be
// 10..3072 bytes, its rmilLen must equal the bytes received, every item must lie
// inside the message, every one of its rmilNumSegs segments must end with a segment
// end, and the last segment end must be the message's last item. Anything else is
// malformed (30001); so are a missing or non-numeric request identifier (3000) or
// request reference (100), and header values the library never writes (a handle
// longer than 10 bytes, paging numbers outside 1-65535, an unknown operator code).
//
// On failure the request still carries the identifier and the reference when they
// could be read from the header's first items, so that the error answer can echo
// them; an unreadable reference is answered as "0".
#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "errors.h"
#include "rmil/message.h"

namespace qlm::rqmgr {

// The operator codes of item 127 (wire/wire.h).
using wire::Op;

using rmil::Item;

struct Segment {
  std::vector<Item> items;
  // The first item with this name ID, or null.
  const Item *find(std::uint16_t id) const;
  // The segment-type value, or -1 when the segment has none or it is not a number.
  long type() const;
};

// The list qualifiers of the header (items 126-132).
struct ListQuery {
  long start = 1;            // 131, 1-based
  long count = 65535;        // 132
  std::uint16_t selectField = 0;  // 128; 0: no selection field
  Op op = Op::Eq;            // 127
  bool hasOp = false;
  std::string value;         // 126 (blank-trimmed as sent)
  bool hasValue = false;
  std::uint16_t sortField = 0;    // 130; 0: the entity's own order
  bool descending = false;   // 129 == 10018
  // A selection applies when a field is named together with an operator or a value.
  bool selects() const { return selectField != 0 && (hasOp || hasValue); }
};

struct Request {
  int id = -1;                    // item 3000; -1 when unreadable
  std::string reference = "0";    // item 100 as sent
  std::string handle;             // item 102
  std::string projectHandle;      // item 101
  bool wantRecord = false;        // item 104 is "10001"
  long relation = 0;              // item 134; 0 when absent
  std::string related;            // item 133
  ListQuery list;
  std::span<const Segment> data;  // the segments after the header

  // The bytes the items point into.
  std::array<std::uint8_t, wire::kBufSize> raw{};
  // Every segment, the header first; kept with their capacity from one request
  // to the next, so that a request object that is reused allocates nothing.
  std::vector<Segment> segments;
};

// Decodes `length` bytes into `out`, fresh or used for an earlier request. Err::None,
// or Err::Malformed with id and reference as far as they could be read.
Err decodeRequest(const std::uint8_t *bytes, std::size_t length, Request *out);

// The identifier (item 3000; -1 when unreadable) and relation (item 134; 0 when
// absent) in the header of a request, read in place.
void peekRequest(const std::uint8_t *bytes, std::size_t length, int *id, long *relation);

}  // namespace qlm::rqmgr
