#include "rmil/message.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qlm::rmil {

namespace {
inline void putI16(std::uint8_t *p, int v) { putU16(p, static_cast<std::uint16_t>(static_cast<std::int16_t>(v))); }
}  // namespace

void Message::setLength(int v) { putI16(buf_ + 2, v); }

void Message::clear() {
  std::memset(buf_, 0, kBufSize);
  putI16(buf_, kBufSize);
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

int Message::length() const { return getI16(buf_ + 2); }
int Message::numSegs() const { return getI16(buf_ + 4); }
bool Message::moreData() const { return getI16(buf_ + 8) != 0; }
void Message::setMoreData(bool more) { putI16(buf_ + 8, more ? 1 : 0); }

bool Message::addRaw(std::uint16_t nameId, std::string_view value) {
  const int len = static_cast<int>(value.size());
  if (len > kBufSize || write_ + 4 + len > end_) return false;
  putI16(buf_ + write_, len);
  putU16(buf_ + write_ + 2, nameId);
  if (len) std::memcpy(buf_ + write_ + 4, value.data(), len);
  write_ += 4 + len;
  setLength(length() + 4 + len);
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
  int n = std::snprintf(text, sizeof text, "%ld", value);
  return addRaw(nameId, std::string_view(text, n));
}

bool Message::addSegType(std::int16_t keyNameId) {
  char text[8];
  int n = std::snprintf(text, sizeof text, "%d", static_cast<int>(keyNameId));
  return addRaw(kSegType, std::string_view(text, n));
}

bool Message::endSegment() {
  if (!addRaw(kSegEnd, {})) return false;
  putI16(buf_ + 4, numSegs() + 1);
  return true;
}

Read Message::itemAt(int pos, std::uint16_t *nameId, const std::uint8_t **value, int *length) const {
  if (pos < kHeaderSize || pos + 4 > end_) return Read::EndOfData;
  const int len = getI16(buf_ + pos);
  if (len < 0 || pos + 4 + len > end_) return Read::EndOfData;
  *nameId = getU16(buf_ + pos + 2);
  *value = buf_ + pos + 4;
  *length = len;
  return *nameId == kSegEnd ? Read::SegmentEnd : Read::Item;
}

namespace {
void copyOut(char *out, const std::uint8_t *value, int len) {
  if (out) std::memcpy(out, value, len < kMaxCopy ? len : kMaxCopy);
}
}  // namespace

Read Message::getNextItem(std::uint16_t *nameId, char *value, int *length) {
  const std::uint8_t *v;
  int len;
  std::uint16_t id;
  Read r = itemAt(read_, &id, &v, &len);
  if (r != Read::Item) return r;  // a segment end stays under the read position
  copyOut(value, v, len);
  if (nameId) *nameId = id;
  if (length) *length = len;
  read_ += 4 + len;
  return Read::Item;
}

Read Message::getItem(std::uint16_t wanted, char *value, int *length) const {
  if (read_ + 4 > end_) return Read::EndOfData;
  for (int pos = segStart_;;) {
    const std::uint8_t *v;
    int len;
    std::uint16_t id;
    Read r = itemAt(pos, &id, &v, &len);
    if (r != Read::Item) return r;
    if (id == wanted) {
      copyOut(value, v, len);
      if (length) *length = len;
      return Read::Item;
    }
    pos += 4 + len;
  }
}

int Message::moveToNextSeg() {
  if (segNo_ == numSegs()) return -1;
  Read r;
  while ((r = getNextItem(nullptr, nullptr, nullptr)) == Read::Item) {
  }
  if (r == Read::EndOfData) return -2;
  read_ += 4;
  segStart_ = read_;
  ++segNo_;
  return 0;
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
