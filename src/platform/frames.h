// The frames of a conversation, each one SOCK_SEQPACKET packet, as both ends write
// and read them. Integers little-endian, reserved bytes 0, names NUL-padded:
//
//   CONNECT        32 bytes  u32 kind; service (9); topic (9); u16 token; u32 pid; u32 instance
//   CONNECT_REPLY   8 bytes  u32 kind; u32 1 accepted, 0 refused
//   POKE       24 + L bytes  u32 kind; u32 format; item (9); 1 reserved; u16 acks; u32 L; L data bytes
//   ACK             8 bytes  u32 kind; u32 status (DDE_FACK, DDE_FBUSY or 0)
//   EXECUTE     8 + L bytes  u32 kind; u32 L; L command bytes
//
// token (0: none) names the connecting side's conversation to its partner, which
// may then acknowledge a POKE of it inside a POKE of its own on another
// conversation between the same two instances: that POKE's `acks` is the token.
// A peer that writes these bytes as reserved (0) neither asks for nor sends that.
//
// encode() gives a frame's bytes (encode(&f) writes them into `f`, reusing its
// capacity, so that a frame made again and again allocates nothing); decode() takes a frame of its kind and says whether
// it holds together (its size, and the length fields against it).
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qlm::platform {

using Frame = std::vector<std::uint8_t>;
using FrameView = std::span<const std::uint8_t>;

enum FrameKind : std::uint32_t { kConnect = 1, kConnectReply = 2, kPoke = 3, kAck = 4, kExecute = 5 };
inline constexpr std::size_t kMaxName = 8;  // characters of a service, topic or item name

// A frame's bytes in a new vector.
template <typename F>
Frame Encoded(const F &frame) {
  Frame f;
  frame.encode(&f);
  return f;
}

// The kind of a frame of at least `minimum` bytes, else 0.
std::uint32_t KindOf(FrameView f, std::size_t minimum = 4);

struct ConnectFrame {
  std::string service, topic;  // as written (the reader does not change their case)
  std::uint32_t pid = 0, instance = 0;
  std::uint16_t token = 0;
  void encode(Frame *out) const;
  Frame encode() const { return Encoded(*this); }
  static bool decode(FrameView f, ConnectFrame *out);
};

struct ConnectReplyFrame {
  bool accepted = false;
  void encode(Frame *out) const;
  Frame encode() const { return Encoded(*this); }
  static bool decode(FrameView f, ConnectReplyFrame *out);
};

// POKE and EXECUTE: a transaction of a client. Its data is a view into the frame.
struct PokeFrame {
  std::uint32_t format = 0;
  std::string item;
  FrameView data;
  std::uint16_t acks = 0;  // the token of a conversation of the receiver whose oldest POKE this accepts
  void encode(Frame *out) const;
  Frame encode() const { return Encoded(*this); }
  static bool decode(FrameView f, PokeFrame *out);
  // Sets `acks` in an encoded POKE.
  static void setAcks(Frame *poke, std::uint16_t token);
};

struct ExecuteFrame {
  FrameView command;
  void encode(Frame *out) const;
  Frame encode() const { return Encoded(*this); }
  static bool decode(FrameView f, ExecuteFrame *out);
};

struct AckFrame {
  std::uint32_t status = 0;
  void encode(Frame *out) const;
  Frame encode() const { return Encoded(*this); }
  static bool decode(FrameView f, AckFrame *out);
};

}  // namespace qlm::platform
