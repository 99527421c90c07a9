// Helpers of the unit tests: a private temporary directory, small files, forked
// children, and waiting for a condition with a generous bound.
#pragma once
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>

#include "platform/windows.h"

namespace qlm::testing {

// A directory under /tmp (short, so that run directories and roots within it stay
// inside the path limits), removed with everything in it at the end of the scope.
class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/qlmtXXXXXX";
    path_ = ::mkdtemp(name);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string &path, const std::string &text, mode_t mode = 0644) {
  std::ofstream(path) << text;
  ::chmod(path.c_str(), mode);
}

inline std::string ReadFile(const std::string &path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline bool Exists(const std::string &path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

inline mode_t Mode(const std::string &path) {
  struct stat st{};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

// A pipe for handing single bytes between a parent and its forked child. The taking
// side never writes: Take closes its write end, so that it sees the end of the pipe
// (instead of waiting for ever) when the writing side ends first.
struct Pipe {
  int fd[2] = {-1, -1};
  Pipe() { (void)!::pipe(fd); }
  ~Pipe() { ::close(fd[0]), ::close(fd[1]); }
  void Put(char c = 'g') const { (void)!::write(fd[1], &c, 1); }
  char Take() {
    ::close(std::exchange(fd[1], -1));
    char c = 0;
    return ::read(fd[0], &c, 1) == 1 ? c : 0;
  }
};

// Runs `body` in a forked child, which ends with body's result as its exit status.
template <class F>
pid_t Fork(F body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  return pid;
}

// The exit status of child `pid` once it ended; -1 when it did not exit.
inline int ExitStatus(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Polls `done` every 10 ms (dispatching the process's messages in between) until it
// holds or `boundMs` passed; returns done(). The bound is a safety net, not a timing
// assertion.
template <class F>
bool Eventually(F done, int boundMs = 10000) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return done();
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Dispatches every message that is already there.
inline void Drain() {
  MSG m;
  for (int i = 0; i < 1000 && PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE); ++i) DispatchMessageA(&m);
}

}  // namespace qlm::testing
