#include "bench_support.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "qlmc32.h"

namespace qlm::bench {

Installed::Installed() {
  unsetenv("QLM_DOUBLE_SCRIPT");
  const std::string counts = inst.root() + "/counts";
  server = std::make_unique<SharedCounts>(counts);
  setenv("QLM_COUNT_FILE", counts.c_str(), 1);
  setenv("LD_PRELOAD", QLM_COUNTING_PATH, 1);  // for the Request Manager the open starts
  const int opened = QlmOpenCInterface();
  unsetenv("LD_PRELOAD");
  if (opened != 0) throw std::runtime_error("the interface does not open");
}

Installed &session() {
  static auto *s = new Installed();  // ends with the process; the library's unload closes it
  return *s;
}

double serverPeakMiB() {
  std::ifstream status("/proc/" + std::to_string(test::Installation::serverPid(session().inst.run())) + "/status");
  std::string key;
  double kib = 0;
  while (status >> key)
    if (key == "VmHWM:" && status >> kib) return kib / 1024;
  return -1;
}

RawPeer::RawPeer(int replyBytes) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds) != 0) throw std::runtime_error("socketpair");
  child_ = fork();
  if (child_ == 0) {
    close(fds[0]);
    std::vector<char> in(8192), out(replyBytes, 'r');
    ssize_t got;
    while ((got = recv(fds[1], in.data(), in.size(), 0)) > 0) {
      // A request of 4 bytes or more names in its first 4 how many replies it wants.
      int replies = 1;
      if (got >= 4) std::memcpy(&replies, in.data(), sizeof replies);
      for (int i = 0; i < replies; ++i)
        if (send(fds[1], out.data(), out.size(), 0) < 0) _exit(0);
    }
    _exit(0);
  }
  close(fds[1]);
  fd_ = fds[0];
}

RawPeer::~RawPeer() {
  close(fd_);
  int status;
  waitpid(child_, &status, 0);
}

void RawPeer::pingPong(int requestBytes) { stream(requestBytes, 1); }

void RawPeer::stream(int requestBytes, int replies) {
  static std::vector<char> buf(8192, 'q');
  std::memcpy(buf.data(), &replies, sizeof replies);
  if (send(fd_, buf.data(), requestBytes, 0) < 0) throw std::runtime_error("raw request");
  for (int i = 0; i < replies; ++i)
    if (recv(fd_, buf.data(), buf.size(), 0) < 0) throw std::runtime_error("raw reply");
}

}  // namespace qlm::bench
