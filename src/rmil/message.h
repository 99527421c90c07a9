// RMIL: the tagged message format of every request and response (its layout:
// wire/wire.h).
//
// Message is the buffer and its cursor. It knows nothing of the library's state:
// its operations report plain results, and the library's cf* functions turn them
// into return codes and error numbers. The Request Manager uses the same class.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "wire/coding.h"
#include "wire/wire.h"

namespace qlm::rmil {

// The area a reader copies a value into: kMaxValue bytes and a terminator.
inline constexpr int kValueArea = wire::kMaxValue + 1;

enum class Read { Item = 1, SegmentEnd = 0, EndOfData = -1 };

// One item as it lies in a message: its name ID and its value bytes.
struct Item {
  std::uint16_t id = 0;
  std::string_view value;
};

class Message {
 public:
  // `storage` must hold wire::kBufSize bytes and outlive the message.
  explicit Message(std::uint8_t *storage) : buf_(storage) {}
  // A message over `length` received bytes (at most kBufSize of them are read) that
  // is only read, never written; the bytes must outlive it.
  static Message reading(const std::uint8_t *bytes, int length);

  std::uint8_t *data() { return buf_; }
  const std::uint8_t *data() const { return buf_; }

  // Zero the buffer, write the empty header, reset the cursor (end limit = kBufSize).
  void clear();
  // After a message of `length` bytes was placed in the buffer: end limit = length,
  // cursor on the first item of segment 1.
  void received(int length);

  // Writing. false when the item does not fit (nothing written).
  // The value's length: up to `width` bytes or the first zero byte, less trailing blanks.
  bool addItem(std::uint16_t nameId, const char *value, int width);
  // Exactly `value` (no trimming).
  bool addRaw(std::uint16_t nameId, std::string_view value);
  bool addNumber(std::uint16_t nameId, long value);
  bool addSegType(std::int16_t keyNameId);
  bool endSegment();  // adds 1 to rmilNumSegs
  void setMoreData(bool more);

  // Header fields.
  int length() const;      // rmilLen
  int numSegs() const;     // rmilNumSegs
  bool moreData() const;   // rmilMoreData != 0
  bool empty() const { return length() == wire::kHeaderSize; }

  // The item walker: the item under the read cursor, which moves past it; after a
  // segment end (Read::SegmentEnd, item id kSegEnd) the cursor is on the next
  // segment. EndOfData, the cursor left alone, when no whole item lies before the
  // end limit. Every reader of the message walks with it.
  Read next(Item *item);

  // Reading. `value` receives at most 130 bytes and is zero-terminated when the
  // caller passes a 131-byte area; `length` gets the item's full length. A segment
  // end stays under the read cursor.
  Read getNextItem(std::uint16_t *nameId, char *value, int *length);
  Read getItem(std::uint16_t nameId, char *value, int *length) const;
  // 0 moved, -1 already on the last segment, -2 end of data met first.
  int moveToNextSeg();
  bool isErrorSeg() const;
  // Whether the current segment has a segment-type item, and its value.
  bool segType(long *value) const;

  struct Cursor { int read, segStart, segNo; };
  Cursor cursor() const { return {read_, segStart_, segNo_}; }
  void setCursor(Cursor c) { read_ = c.read; segStart_ = c.segStart; segNo_ = c.segNo; }
  void rewind() { setCursor({wire::kHeaderSize, wire::kHeaderSize, 1}); }
  int writePos() const { return write_; }
  int endLimit() const { return end_; }

 private:
  // Reads the item at `pos` within the end limit; EndOfData when it does not fit.
  Read itemAt(int pos, Item *item) const;
  void setLength(int v);

  std::uint8_t *buf_;
  int write_ = wire::kHeaderSize;
  int end_ = wire::kBufSize;
  int read_ = wire::kHeaderSize;
  int segStart_ = wire::kHeaderSize;
  int segNo_ = 1;
};

}  // namespace qlm::rmil
