// RMIL: the tagged message format of every request and response.
//
// A message is a 10-byte header followed by items, back to back:
//   header: i16 rmilBufLen (3072), i16 rmilLen (bytes in use, header included),
//           i16 rmilNumSegs, u16 reserved (0), i16 rmilMoreData (continuation follows)
//   item:   i16 length L, u16 name ID, L value bytes (text, no terminator)
// All integers little-endian. A segment ends with the item (0, 49). Segment 1 is
// the header segment; each further segment holds one record (opened by the
// segment-type item 9983 whose value is the key field's name ID) or an error (40).
//
// Message is the buffer and its cursor. It knows nothing of the library's state:
// its operations report plain results, and the library's cf* functions turn them
// into return codes and error numbers. The Request Manager uses the same class.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qlm::rmil {

inline constexpr int kBufSize = 3072;
inline constexpr int kHeaderSize = 10;
inline constexpr int kMaxCopy = 130;          // value bytes a reader copies out
inline constexpr int kValueArea = kMaxCopy + 1;

inline constexpr std::uint16_t kSegEnd = 49;
inline constexpr std::uint16_t kSegType = 9983;
inline constexpr std::uint16_t kErrorNumber = 40;

enum class Read { Item = 1, SegmentEnd = 0, EndOfData = -1 };

class Message {
 public:
  // `storage` must hold kBufSize bytes and outlive the message.
  explicit Message(std::uint8_t *storage) : buf_(storage) {}

  std::uint8_t *data() { return buf_; }
  const std::uint8_t *data() const { return buf_; }

  // Zero the buffer, write the empty header, reset the cursor (end limit = 3072).
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
  bool empty() const { return length() == kHeaderSize; }

  // Reading. `value` receives at most 130 bytes and is zero-terminated when the
  // caller passes a 131-byte area; `length` gets the item's full length.
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
  void rewind() { setCursor({kHeaderSize, kHeaderSize, 1}); }
  int writePos() const { return write_; }
  int endLimit() const { return end_; }

 private:
  // Reads the item at `pos` within the end limit; EndOfData when it does not fit.
  Read itemAt(int pos, std::uint16_t *nameId, const std::uint8_t **value, int *length) const;
  void setLength(int v);

  std::uint8_t *buf_;
  int write_ = kHeaderSize;
  int end_ = kBufSize;
  int read_ = kHeaderSize;
  int segStart_ = kHeaderSize;
  int segNo_ = 1;
};

// Little-endian helpers shared with the link and the server.
inline std::int16_t getI16(const std::uint8_t *p) { return static_cast<std::int16_t>(p[0] | (p[1] << 8)); }
inline std::uint16_t getU16(const std::uint8_t *p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline void putU16(std::uint8_t *p, std::uint16_t v) { p[0] = v & 0xFF; p[1] = v >> 8; }

}  // namespace qlm::rmil
