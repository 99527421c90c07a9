#include "request.h"

#include <algorithm>
#include <cstring>

#include "rmil/codes.h"

namespace qlm::rqmgr {

using rmil::Message;
using rmil::Read;

const Item *Segment::find(std::uint16_t id) const {
  for (const Item &i : items)
    if (i.id == id) return &i;
  return nullptr;
}

namespace {

// A decimal number of 1..maxDigits digits and nothing else; -1 otherwise.
long digits(std::string_view v, std::size_t maxDigits) {
  if (v.empty() || v.size() > maxDigits) return -1;
  long n = 0;
  for (char c : v) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

// A request reference as the library writes it ("%d", at most 10 characters).
bool validReference(std::string_view v) {
  if (!v.empty() && v.front() == '-') v.remove_prefix(1);
  return v.size() <= 9 && digits(v, 9) >= 0;
}

// Identifier and reference from the first items of the header, as far as they can be
// read; used for the answer to a request that is malformed further on.
void readEarlyHeader(Message &msg, Request *out) {
  for (Item i; msg.next(&i) == Read::Item;) {
    if (i.id == wire::kRequestId && out->id < 0) out->id = static_cast<int>(digits(i.value, 5));
    if (i.id == wire::kReference && out->reference == "0" && validReference(i.value)) out->reference = i.value;
  }
}

// Splits the message into segments, the first `*used` of `segs` (those after them
// are kept for their capacity); false when its structure does not hold.
bool readSegments(Message &msg, int length, std::vector<Segment> *segs, std::size_t *used) {
  const int numSegs = msg.numSegs();
  if (numSegs < 1 || msg.length() != length) return false;
  for (int seg = 1; seg <= numSegs; ++seg) {
    if (*used == segs->size()) segs->emplace_back();
    Segment &s = (*segs)[(*used)++];
    s.items.clear();
    Read r;
    for (Item i; (r = msg.next(&i)) == Read::Item;) s.items.push_back(i);
    if (r == Read::EndOfData) return false;
  }
  return msg.cursor().read == length;  // the last segment end is the last item
}

bool readHeader(const Segment &h, Request *r) {
  for (const Item &i : h.items) {
    switch (i.id) {
      case wire::kRequestId:
        if (digits(i.value, 5) < 0) return false;
        break;
      case wire::kHandle:
      case wire::kProjectHandle:
        if (i.value.size() > wire::kHandleWidth) return false;
        if (i.id == wire::kHandle && r->handle.empty()) r->handle = i.value;
        if (i.id == wire::kProjectHandle && r->projectHandle.empty()) r->projectHandle = i.value;
        break;
      case wire::kReturnRecord:
        r->wantRecord = digits(i.value, 5) == wire::kWantRecord;
        break;
      case wire::kRelation:
        if ((r->relation = digits(i.value, 5)) < 0) return false;
        break;
      case wire::kRelatedKey:
        r->related = i.value;
        break;
      case wire::kStartEntry:
      case wire::kNumEntries: {
        const long n = rmil::parsePaging(i.value);
        if (n < 1 || n > wire::kMaxPaging) return false;
        (i.id == wire::kStartEntry ? r->list.start : r->list.count) = n;
        break;
      }
      case wire::kSelectField:
      case wire::kSortField: {
        const long n = digits(i.value, 5);
        if (n < 1 || n > 0xFFFF) return false;  // a name ID
        (i.id == wire::kSelectField ? r->list.selectField : r->list.sortField) = static_cast<std::uint16_t>(n);
        break;
      }
      case wire::kOperator: {
        const long n = digits(i.value, 5);
        if (n < static_cast<long>(Op::Gt) || n > static_cast<long>(Op::Le)) return false;
        r->list.op = static_cast<Op>(n);
        r->list.hasOp = true;
        break;
      }
      case wire::kSelectValue:
        r->list.value = i.value;
        r->list.hasValue = true;
        break;
      case wire::kSortOrder:  // anything but the descending code sorts ascending
        r->list.descending = digits(i.value, 5) == wire::kDescending;
        break;
      default:
        break;
    }
  }
  return r->id >= 0 && h.find(wire::kReference) != nullptr && validReference(h.find(wire::kReference)->value);
}

}  // namespace

long Segment::type() const {
  const Item *t = find(wire::kSegType);
  return t ? digits(t->value, 5) : -1;
}

void peekRequest(const std::uint8_t *bytes, std::size_t length, int *id, long *relation) {
  *id = -1;
  *relation = 0;
  Message msg = Message::reading(bytes, static_cast<int>(std::min<std::size_t>(length, wire::kBufSize)));
  for (Item i; msg.next(&i) == Read::Item;) {
    if (i.id == wire::kRequestId && *id < 0) *id = static_cast<int>(digits(i.value, 5));
    if (i.id == wire::kRelation) *relation = digits(i.value, 5);
  }
}

Err decodeRequest(const std::uint8_t *bytes, std::size_t length, Request *out) {
  std::vector<Segment> segs = std::move(out->segments);
  *out = Request();
  out->segments = std::move(segs);
  const int kept = static_cast<int>(std::min<std::size_t>(length, wire::kBufSize));
  if (kept > 0) std::memcpy(out->raw.data(), bytes, kept);
  Message msg(out->raw.data());
  msg.received(kept);
  readEarlyHeader(msg, out);
  if (length < static_cast<std::size_t>(wire::kHeaderSize) || length > static_cast<std::size_t>(wire::kBufSize))
    return Err::Malformed;
  msg.rewind();
  std::size_t used = 0;
  if (!readSegments(msg, kept, &out->segments, &used) || !readHeader(out->segments.front(), out)) return Err::Malformed;
  out->data = std::span<const Segment>(out->segments).subspan(1, used - 1);
  return Err::None;
}

}  // namespace qlm::rqmgr
