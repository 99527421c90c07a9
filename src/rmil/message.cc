#include "rmil/message.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace qlm::rmil {

using namespace wire;

namespace {
void putInt(std::uint8_t *p, int v) { putI16(p, static_cast<std::int16_t>(v)); }
}  // namespace

void Message::setLength(int v) { putInt(buf_ + kLengthAt, v); }

void Message::clear() {
  std::memset(buf_, 0, kBufSize);
  putInt(buf_ + kBufLenAt, kBufSize);
  setLength(kHeaderSize);
  write_ = read_ = segStart_ = kHeaderSize;
  segNo_ = 1;
  end_ = kBufSize;
}

void Message::received(int length) {
  end_ = length < 0 ? 0 : (length > kBufSize ? kBufSize : length);
  write_ = end_;
  rewind();
}

int Message::length() const { return getI16(buf_ + kLengthAt); }
int Message::numSegs() const { return getI16(buf_ + kNumSegsAt); }
bool Message::moreData() const { return getI16(buf_ + kMoreDataAt) != 0; }
void Message::setMoreData(bool more) { putInt(buf_ + kMoreDataAt, more ? 1 : 0); }

bool Message::addRaw(std::uint16_t nameId, std::string_view value) {
  const int len = static_cast<int>(value.size());
  if (len > kBufSize || write_ + kItemHeader + len > end_) return false;
  putInt(buf_ + write_, len);
  putU16(buf_ + write_ + 2, nameId);
  if (len) std::memcpy(buf_ + write_ + kItemHeader, value.data(), len);
  write_ += kItemHeader + len;
  setLength(length() + kItemHeader + len);
  return true;
}

bool Message::addItem(std::uint16_t nameId, const char *value, int width) {
  int len = 0;
  if (value != nullptr && width > 0) {
    while (len < width && value[len] != '\0') ++len;
    while (len > 0 && value[len - 1] == ' ') --len;
  }
  return addRaw(nameId, std::string_view(value ? value : "", len));
}

bool Message::addNumber(std::uint16_t nameId, long value) {
  char text[24];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return addRaw(nameId, std::string_view(text, static_cast<std::size_t>(end - text)));
}

bool Message::addSegType(std::int16_t keyNameId) { return addNumber(kSegType, keyNameId); }

bool Message::endSegment() {
  if (!addRaw(kSegEnd, {})) return false;
  putInt(buf_ + kNumSegsAt, numSegs() + 1);
  return true;
}

Message Message::reading(const std::uint8_t *bytes, int length) {
  Message m(const_cast<std::uint8_t *>(bytes));  // only read: received() and the readers never write
  m.received(length);
  return m;
}

Read Message::itemAt(int pos, Item *item) const {
  if (pos < kHeaderSize || pos + kItemHeader > end_) return Read::EndOfData;
  const int len = getI16(buf_ + pos);
  if (len < 0 || pos + kItemHeader + len > end_) return Read::EndOfData;
  item->id = getU16(buf_ + pos + 2);
  item->value = std::string_view(reinterpret_cast<const char *>(buf_) + pos + kItemHeader, len);
  return item->id == kSegEnd ? Read::SegmentEnd : Read::Item;
}

Read Message::next(Item *item) {
  const Read r = itemAt(read_, item);
  if (r == Read::EndOfData) return r;
  read_ += kItemHeader + static_cast<int>(item->value.size());
  if (r == Read::SegmentEnd) {
    segStart_ = read_;
    ++segNo_;
  }
  return r;
}

namespace {
// The value into the reader's area (at most kMaxValue bytes) and its full length.
Read copyOut(const Item &item, char *value, int *length) {
  const int len = static_cast<int>(item.value.size());
  if (value) std::memcpy(value, item.value.data(), len < kMaxValue ? len : kMaxValue);
  if (length) *length = len;
  return Read::Item;
}
}  // namespace

Read Message::getNextItem(std::uint16_t *nameId, char *value, int *length) {
  Item item;
  const Read r = itemAt(read_, &item);
  if (r != Read::Item) return r;  // a segment end stays under the read position
  next(&item);
  if (nameId) *nameId = item.id;
  return copyOut(item, value, length);
}

Read Message::getItem(std::uint16_t wanted, char *value, int *length) const {
  if (read_ + kItemHeader > end_) return Read::EndOfData;
  Item item;
  for (int pos = segStart_;; pos += kItemHeader + static_cast<int>(item.value.size())) {
    const Read r = itemAt(pos, &item);
    if (r != Read::Item) return r;
    if (item.id == wanted) return copyOut(item, value, length);
  }
}

int Message::moveToNextSeg() {
  if (segNo_ == numSegs()) return -1;
  Item item;
  for (;;) {
    const Read r = next(&item);
    if (r == Read::EndOfData) return -2;
    if (r == Read::SegmentEnd) return 0;
  }
}

bool Message::isErrorSeg() const {
  return getItem(kErrorNumber, nullptr, nullptr) == Read::Item;
}

bool Message::segType(long *value) const {
  char text[kValueArea] = {};
  int len = 0;
  if (getItem(kSegType, text, &len) != Read::Item) return false;
  if (value) *value = std::strtol(text, nullptr, 10);
  return true;
}

}  // namespace qlm::rmil
