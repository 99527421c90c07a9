#include "bench_support.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "qlmc32.h"

namespace qlm::bench {

Installed::Installed() {
  unsetenv("QLM_DOUBLE_SCRIPT");
  if (QlmOpenCInterface() != 0) throw std::runtime_error("the interface does not open");
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
    while (recv(fds[1], in.data(), in.size(), 0) > 0)
      if (send(fds[1], out.data(), out.size(), 0) < 0) break;
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

void RawPeer::pingPong(int requestBytes) {
  static std::vector<char> buf(8192, 'q');
  if (send(fd_, buf.data(), requestBytes, 0) < 0 || recv(fd_, buf.data(), buf.size(), 0) < 0)
    throw std::runtime_error("ping-pong");
}

}  // namespace qlm::bench
