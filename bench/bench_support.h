// Shared pieces of the benchmarks: a raw socket peer and the library's session.
#pragma once
#include <sys/types.h>

#include <string>

#include <memory>

#include "counting.h"
#include "installation.h"

namespace qlm::bench {

// The benchmarks' one installation, with the interface open and so its real
// Request Manager running, its allocations and flushes counted (counting.h); it
// lives until the process ends.
struct Installed {
  test::Installation inst;
  std::unique_ptr<SharedCounts> server;  // the Request Manager's counters
  Installed();
  const std::string &root() const { return inst.root(); }
};
Installed &session();

// The peak resident memory (VmHWM) of the session's Request Manager in MiB, or -1.
double serverPeakMiB();

// A child process at the other end of an AF_UNIX SOCK_SEQPACKET pair that answers
// every packet with one packet of `replyBytes`.
class RawPeer {
 public:
  explicit RawPeer(int replyBytes);
  ~RawPeer();
  // One two-hop exchange: send `requestBytes`, wait for the reply.
  void pingPong(int requestBytes);
  // A request of `requestBytes` answered by `replies` packets back to back.
  void stream(int requestBytes, int replies);
  pid_t pid() const { return child_; }

 private:
  int fd_ = -1;
  pid_t child_ = -1;
};

}  // namespace qlm::bench
