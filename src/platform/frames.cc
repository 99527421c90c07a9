#include "platform/frames.h"

#include <algorithm>
#include <cstring>

#include "wire/coding.h"

namespace qlm::platform {

namespace {
constexpr std::size_t kConnectSize = 32, kReplySize = 8, kPokeHeader = 24, kExecuteHeader = 8, kAckSize = 8;
constexpr std::size_t kConnectService = 4, kConnectTopic = 13, kConnectToken = 22, kConnectPid = 24, kConnectInstance = 28;
constexpr std::size_t kPokeFormat = 4, kPokeItem = 8, kPokeAcks = 18, kPokeLength = 20, kExecuteLength = 4, kValueAt = 4;

// `f` becomes a frame of `size` bytes, zero-filled, of `kind` (its capacity is reused).
std::uint8_t *Start(Frame *f, FrameKind kind, std::size_t size) {
  f->assign(size, 0);
  wire::putU32(f->data(), kind);
  return f->data();
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

}  // namespace

std::uint32_t KindOf(FrameView f, std::size_t minimum) {
  return f.size() >= std::max<std::size_t>(minimum, 4) ? U32At(f, 0) : 0;
}

void ConnectFrame::encode(Frame *out) const {
  std::uint8_t *f = Start(out, kConnect, kConnectSize);
  PutName(f + kConnectService, service);
  PutName(f + kConnectTopic, topic);
  wire::putU16(f + kConnectToken, token);
  wire::putU32(f + kConnectPid, pid);
  wire::putU32(f + kConnectInstance, instance);
}

bool ConnectFrame::decode(FrameView f, ConnectFrame *out) {
  if (f.size() != kConnectSize || KindOf(f) != kConnect) return false;
  *out = {NameAt(f.data() + kConnectService), NameAt(f.data() + kConnectTopic), U32At(f, kConnectPid),
          U32At(f, kConnectInstance), wire::getU16(f.data() + kConnectToken)};
  return true;
}

void ConnectReplyFrame::encode(Frame *out) const {
  wire::putU32(Start(out, kConnectReply, kReplySize) + kValueAt, accepted ? 1 : 0);
}

bool ConnectReplyFrame::decode(FrameView f, ConnectReplyFrame *out) {
  if (f.size() != kReplySize || KindOf(f) != kConnectReply) return false;
  out->accepted = U32At(f, kValueAt) == 1;
  return true;
}

void PokeFrame::encode(Frame *out) const {
  std::uint8_t *f = Start(out, kPoke, kPokeHeader);
  wire::putU32(f + kPokeFormat, format);
  PutName(f + kPokeItem, item);
  wire::putU16(f + kPokeAcks, acks);
  wire::putU32(f + kPokeLength, static_cast<std::uint32_t>(data.size()));
  out->insert(out->end(), data.begin(), data.end());
}

void PokeFrame::setAcks(Frame *poke, std::uint16_t token) { wire::putU16(poke->data() + kPokeAcks, token); }

bool PokeFrame::decode(FrameView f, PokeFrame *out) {
  if (KindOf(f) != kPoke || !Data(f, kPokeHeader, kPokeLength, &out->data)) return false;
  out->format = U32At(f, kPokeFormat);
  out->item = NameAt(f.data() + kPokeItem);
  out->acks = wire::getU16(f.data() + kPokeAcks);
  return true;
}

void ExecuteFrame::encode(Frame *out) const {
  wire::putU32(Start(out, kExecute, kExecuteHeader) + kExecuteLength, static_cast<std::uint32_t>(command.size()));
  out->insert(out->end(), command.begin(), command.end());
}

bool ExecuteFrame::decode(FrameView f, ExecuteFrame *out) {
  return KindOf(f) == kExecute && Data(f, kExecuteHeader, kExecuteLength, &out->command);
}

void AckFrame::encode(Frame *out) const { wire::putU32(Start(out, kAck, kAckSize) + kValueAt, status); }

bool AckFrame::decode(FrameView f, AckFrame *out) {
  if (f.size() != kAckSize || KindOf(f) != kAck) return false;
  out->status = U32At(f, kValueAt);
  return true;
}

}  // namespace qlm::platform
