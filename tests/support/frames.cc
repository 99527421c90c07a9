#include "frames.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "files.h"

namespace qlm::test {

Buf cat(std::initializer_list<Buf> parts) {
  Buf out;
  for (const Buf &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Buf le32(std::initializer_list<std::uint32_t> words) {
  Buf b;
  for (std::uint32_t w : words)
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
  return b;
}

Buf le16(std::uint16_t v) { return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)}; }
std::uint16_t tokenOf(const Buf &connect) {
  return connect.size() < 24 ? 0 : static_cast<std::uint16_t>(connect[22] | connect[23] << 8);
}

Buf text(const std::string &s) { return Buf(s.begin(), s.end()); }

Buf name9(const char *name) {
  Buf b = text(name);
  b.resize(9, 0);
  return b;
}

Buf connectFrame(const char *service, const char *topic, std::uint32_t pid, std::uint32_t instance,
                 std::uint16_t token) {
  return cat({le32({1}), name9(service), name9(topic), le16(token), le32({pid, instance})});
}
Buf replyFrame(std::uint32_t accepted) { return le32({2, accepted}); }
Buf pokeFrame(const char *item, const Buf &data, long length, std::uint16_t acks) {
  const auto n = static_cast<std::uint32_t>(length >= 0 ? length : static_cast<long>(data.size()));
  return cat({le32({3, 1}), name9(item), {0}, le16(acks), le32({n}), data});
}
Buf ackFrame(std::uint32_t status) { return le32({4, status}); }
Buf executeFrame(const char *command) {
  return cat({le32({5, static_cast<std::uint32_t>(std::strlen(command))}), text(command)});
}

int rawSocket(const std::string &path, bool listen) {
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  const auto *sa = reinterpret_cast<sockaddr *>(&a);
  if (path.empty() || (listen ? ::bind(fd, sa, sizeof a) != 0 || ::listen(fd, 4) != 0 : ::connect(fd, sa, sizeof a) != 0)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::string endpointOf(const std::string &dir, const char *service) {
  const std::vector<std::string> names = listDir(dir, std::string(service) + ".");
  return names.empty() ? "" : dir + "/" + names[0];
}

void sendAll(int fd, const Buf &b) { (void)!::send(fd, b.data(), b.size(), MSG_NOSIGNAL); }

Buf receiveFrame(int fd) {
  Buf b(8192);
  const ssize_t n = ::recv(fd, b.data(), b.size(), 0);
  b.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return b;
}

int rawConnect(int fd, const char *service, const char *topic, std::uint32_t pid, std::uint32_t instance) {
  sendAll(fd, connectFrame(service, topic, pid, instance));
  timeval tv{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  const Buf r = receiveFrame(fd);
  return r.size() == 8 ? static_cast<int>(r[4]) : -1;
}

}  // namespace qlm::test
