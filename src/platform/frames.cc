#include "platform/frames.h"

#include <algorithm>
#include <cstring>

#include "wire/coding.h"

namespace qlm::platform {

namespace {
constexpr std::size_t kConnectSize = 32, kReplySize = 8, kPokeHeader = 24, kExecuteHeader = 8, kAckSize = 8;
constexpr std::size_t kConnectService = 4, kConnectTopic = 13, kConnectPid = 24, kConnectInstance = 28;
constexpr std::size_t kPokeFormat = 4, kPokeItem = 8, kPokeLength = 20, kExecuteLength = 4, kValueAt = 4;

// A frame of `size` bytes, zero-filled, of `kind`.
Frame Start(FrameKind kind, std::size_t size) {
  Frame f(size, 0);
  wire::putU32(f.data(), kind);
  return f;
}

void PutName(std::uint8_t *p, const std::string &name) {
  std::memcpy(p, name.data(), std::min(name.size(), kMaxName));
}

std::string NameAt(const std::uint8_t *p) {
  std::size_t n = 0;
  while (n < kMaxName && p[n] != 0) ++n;
  return std::string(reinterpret_cast<const char *>(p), n);
}

std::uint32_t U32At(FrameView f, std::size_t at) { return wire::getU32(f.data() + at); }

// The data after a header whose length field at `lengthAt` must say how many bytes follow.
bool Data(FrameView f, std::size_t header, std::size_t lengthAt, FrameView *out) {
  if (f.size() < header || U32At(f, lengthAt) != f.size() - header) return false;
  *out = f.subspan(header);
  return true;
}

Frame WithData(Frame header, FrameView data) {
  header.insert(header.end(), data.begin(), data.end());
  return header;
}
}  // namespace

std::uint32_t KindOf(FrameView f, std::size_t minimum) {
  return f.size() >= std::max<std::size_t>(minimum, 4) ? U32At(f, 0) : 0;
}

Frame ConnectFrame::encode() const {
  Frame f = Start(kConnect, kConnectSize);
  PutName(f.data() + kConnectService, service);
  PutName(f.data() + kConnectTopic, topic);
  wire::putU32(f.data() + kConnectPid, pid);
  wire::putU32(f.data() + kConnectInstance, instance);
  return f;
}

bool ConnectFrame::decode(FrameView f, ConnectFrame *out) {
  if (f.size() != kConnectSize || KindOf(f) != kConnect) return false;
  *out = {NameAt(f.data() + kConnectService), NameAt(f.data() + kConnectTopic), U32At(f, kConnectPid),
          U32At(f, kConnectInstance)};
  return true;
}

Frame ConnectReplyFrame::encode() const {
  Frame f = Start(kConnectReply, kReplySize);
  wire::putU32(f.data() + kValueAt, accepted ? 1 : 0);
  return f;
}

bool ConnectReplyFrame::decode(FrameView f, ConnectReplyFrame *out) {
  if (f.size() != kReplySize || KindOf(f) != kConnectReply) return false;
  out->accepted = U32At(f, kValueAt) == 1;
  return true;
}

Frame PokeFrame::encode() const {
  Frame f = Start(kPoke, kPokeHeader);
  wire::putU32(f.data() + kPokeFormat, format);
  PutName(f.data() + kPokeItem, item);
  wire::putU32(f.data() + kPokeLength, static_cast<std::uint32_t>(data.size()));
  return WithData(std::move(f), data);
}

bool PokeFrame::decode(FrameView f, PokeFrame *out) {
  if (KindOf(f) != kPoke || !Data(f, kPokeHeader, kPokeLength, &out->data)) return false;
  out->format = U32At(f, kPokeFormat);
  out->item = NameAt(f.data() + kPokeItem);
  return true;
}

Frame ExecuteFrame::encode() const {
  Frame f = Start(kExecute, kExecuteHeader);
  wire::putU32(f.data() + kExecuteLength, static_cast<std::uint32_t>(command.size()));
  return WithData(std::move(f), command);
}

bool ExecuteFrame::decode(FrameView f, ExecuteFrame *out) {
  return KindOf(f) == kExecute && Data(f, kExecuteHeader, kExecuteLength, &out->command);
}

Frame AckFrame::encode() const {
  Frame f = Start(kAck, kAckSize);
  wire::putU32(f.data() + kValueAt, status);
  return f;
}

bool AckFrame::decode(FrameView f, AckFrame *out) {
  if (f.size() != kAckSize || KindOf(f) != kAck) return false;
  out->status = U32At(f, kValueAt);
  return true;
}

}  // namespace qlm::platform
