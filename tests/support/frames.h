// The transport's frames written out byte by byte, independently of the layer's own
// encoder (platform/frames.h), and raw sockets that speak them: a peer that
// misbehaves, or a test that checks every byte.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace qlm::test {

using Buf = std::vector<std::uint8_t>;

Buf cat(std::initializer_list<Buf> parts);
Buf le32(std::initializer_list<std::uint32_t> words);  // each word little-endian
Buf le16(std::uint16_t v);
// The token of a CONNECT frame (0: none, or not a CONNECT).
std::uint16_t tokenOf(const Buf &connect);
Buf text(const std::string &s);
Buf name9(const char *name);  // a name field: 8 characters and a NUL, NUL-padded

// token: the conversation's token (0: none, as a peer that keeps the bytes reserved).
Buf connectFrame(const char *service, const char *topic, std::uint32_t pid, std::uint32_t instance,
                 std::uint16_t token = 0);
Buf replyFrame(std::uint32_t accepted);
// A POKE of `data` whose length field says `length` (its size unless given); `acks`:
// the token of the receiver's conversation whose oldest POKE it accepts (0: none).
Buf pokeFrame(const char *item, const Buf &data, long length = -1, std::uint16_t acks = 0);
Buf ackFrame(std::uint32_t status);
Buf executeFrame(const char *command);

// An AF_UNIX SOCK_SEQPACKET socket connected to (or listening at) `path`; -1 when that
// fails.
int rawSocket(const std::string &path, bool listen = false);
// The first endpoint "<SERVICE>.<pid>.<n>" of `service` in run directory `dir`, or "".
std::string endpointOf(const std::string &dir, const char *service);
void sendAll(int fd, const Buf &b);
// One packet (empty when the socket closed or failed).
Buf receiveFrame(int fd);
// CONNECT claiming <pid>.<instance>; the CONNECT_REPLY status (-1: none, closed).
int rawConnect(int fd, const char *service, const char *topic, std::uint32_t pid, std::uint32_t instance);

}  // namespace qlm::test
