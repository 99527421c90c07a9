#include "request.h"

#include <algorithm>
#include <cstring>

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
  for (;;) {
    const auto at = msg.cursor().read;
    std::uint16_t id;
    int len;
    if (msg.getNextItem(&id, nullptr, &len) != Read::Item) return;
    std::string_view v(reinterpret_cast<const char *>(msg.data()) + at + 4, len);
    if (id == hdr::kRequestId && out->id < 0) out->id = static_cast<int>(digits(v, 5));
    if (id == hdr::kReference && out->reference == "0" && validReference(v)) out->reference = v;
  }
}

// Splits the message into segments; false when its structure does not hold.
bool readSegments(Message &msg, int length, std::vector<Segment> *segs) {
  const int numSegs = msg.numSegs();
  if (numSegs < 1 || msg.length() != length) return false;
  for (int seg = 1;; ++seg) {
    Segment s;
    for (;;) {
      const auto at = msg.cursor().read;
      std::uint16_t id;
      int len;
      const Read r = msg.getNextItem(&id, nullptr, &len);
      if (r == Read::EndOfData) return false;
      if (r == Read::SegmentEnd) break;
      s.items.push_back({id, std::string_view(reinterpret_cast<const char *>(msg.data()) + at + 4, len)});
    }
    segs->push_back(std::move(s));
    if (seg == numSegs) break;
    if (msg.moveToNextSeg() != 0) return false;
  }
  return msg.cursor().read + 4 == length;  // the last segment end is the last item
}

bool readHeader(const Segment &h, Request *r) {
  for (const Item &i : h.items) {
    switch (i.id) {
      case hdr::kRequestId:
        if (digits(i.value, 5) < 0) return false;
        break;
      case hdr::kHandle:
      case hdr::kProjectHandle:
        if (i.value.size() > kHandleWidth) return false;
        if (i.id == hdr::kHandle && r->handle.empty()) r->handle = i.value;
        if (i.id == hdr::kProjectHandle && r->projectHandle.empty()) r->projectHandle = i.value;
        break;
      case hdr::kReturnRecord:
        r->wantRecord = digits(i.value, 5) == kWantRecord;
        break;
      case hdr::kRelation:
        if ((r->relation = digits(i.value, 5)) < 0) return false;
        break;
      case hdr::kRelatedKey:
        r->related = i.value;
        break;
      case hdr::kStartEntry:
      case hdr::kNumEntries: {
        const long n = parsePaging(i.value);
        if (n < 1 || n > 65535) return false;
        (i.id == hdr::kStartEntry ? r->list.start : r->list.count) = n;
        break;
      }
      case hdr::kSelectField:
      case hdr::kSortField: {
        const long n = digits(i.value, 5);
        if (n < 1 || n > 65535) return false;
        (i.id == hdr::kSelectField ? r->list.selectField : r->list.sortField) = static_cast<std::uint16_t>(n);
        break;
      }
      case hdr::kOperator: {
        const long n = digits(i.value, 5);
        if (n < static_cast<long>(Op::Gt) || n > static_cast<long>(Op::Le)) return false;
        r->list.op = static_cast<Op>(n);
        r->list.hasOp = true;
        break;
      }
      case hdr::kSelectValue:
        r->list.value = i.value;
        r->list.hasValue = true;
        break;
      case hdr::kSortOrder:  // anything but the descending code sorts ascending
        r->list.descending = digits(i.value, 5) == kDescending;
        break;
      default:
        break;
    }
  }
  return r->id >= 0 && h.find(hdr::kReference) != nullptr && validReference(h.find(hdr::kReference)->value);
}

}  // namespace

long Segment::type() const {
  const Item *t = find(rmil::kSegType);
  return t ? digits(t->value, 5) : -1;
}

long parsePaging(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i == text.size() || text[i] < '0' || text[i] > '9') return -1;
  long n = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) n = std::min(n * 10 + (text[i] - '0'), 1000000L);
  return n;
}

Err decodeRequest(const std::uint8_t *bytes, std::size_t length, Request *out) {
  const int kept = static_cast<int>(std::min<std::size_t>(length, rmil::kBufSize));
  if (kept > 0) std::memcpy(out->raw.data(), bytes, kept);
  Message msg(out->raw.data());
  msg.received(kept);
  readEarlyHeader(msg, out);
  if (length < static_cast<std::size_t>(rmil::kHeaderSize) || length > static_cast<std::size_t>(rmil::kBufSize))
    return Err::Malformed;
  msg.rewind();
  std::vector<Segment> segs;
  if (!readSegments(msg, kept, &segs) || !readHeader(segs.front(), out)) return Err::Malformed;
  out->data.assign(segs.begin() + 1, segs.end());
  return Err::None;
}

}  // namespace qlm::rqmgr
