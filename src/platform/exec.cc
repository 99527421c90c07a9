// Starting a program and the readiness handshake of both sides: WinExec with its
// readiness pipe, SignalReady, the server lock of the start-up order; and Sleep.
// See platform/windows.h.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>

#include "platform/internal.h"
#include "platform/unique_fd.h"

extern char **environ;

namespace {

constexpr UINT kExecStarted = 33;
constexpr int kChildReadyFd = 3;  // where the child finds the readiness pipe
constexpr int kChildErrorFd = 4;  // where an exec failure is reported (closed by exec)
constexpr int kEndedGraceMs = 200;  // how long a closed pipe is watched for the child's end

qlm::UniqueFd &g_serverLock = *new qlm::UniqueFd;  // never destroyed, like the layer's other state

// The command line split at blanks; double quotes keep blanks inside an argument.
std::vector<std::string> SplitCommandLine(const char *line) {
  std::vector<std::string> args;
  std::string cur;
  bool quoted = false, any = false;
  for (const char *p = line; *p != '\0'; ++p) {
    if (*p == '"') {
      quoted = !quoted;
      any = true;
    } else if (*p == ' ' && !quoted) {
      if (any) args.push_back(cur);
      cur.clear();
      any = false;
    } else {
      cur += *p;
      any = true;
    }
  }
  if (any) args.push_back(cur);
  return args;
}

UINT ExecFailure(int err) {
  switch (err) {
    case ENOENT: return 2;
    case ENOTDIR: return 3;
    case EACCES:
    case EPERM: return 5;
    default: return 11;
  }
}

bool ReadAll(int fd, void *p, std::size_t n) {
  auto *b = static_cast<char *>(p);
  while (n > 0) {
    const ssize_t r = ::read(fd, b, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    b += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

// A pipe whose two ends close with their scope.
struct Pipe {
  qlm::UniqueFd read, write;
  bool open() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    read.reset(fds[0]);
    write.reset(fds[1]);
    return true;
  }
};

// The grandchild: its own session (made by the first child), /dev/null for the standard
// streams, the readiness pipe at kChildReadyFd and nothing else of the caller's.
[[noreturn]] void RunChild(int readyFd, int errorFd, char *const argv[], char *const envp[]) {
  const int ready = ::fcntl(readyFd, F_DUPFD, 10);
  const int error = ::fcntl(errorFd, F_DUPFD_CLOEXEC, 10);
  const int null = ::open("/dev/null", O_RDWR);
  if (ready < 0 || error < 0 || null < 0) ::_exit(127);
  ::dup2(null, 0);
  ::dup2(null, 1);
  ::dup2(null, 2);
  ::dup2(ready, kChildReadyFd);
  ::dup2(error, kChildErrorFd);
  ::fcntl(kChildErrorFd, F_SETFD, FD_CLOEXEC);
  ::close_range(kChildErrorFd + 1, ~0u, 0);
  ::signal(SIGPIPE, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::execvpe(argv[0], argv, envp);
  const int err = errno;
  ssize_t ignored = ::write(kChildErrorFd, &err, sizeof err);
  (void)ignored;
  ::_exit(127);
}

}  // namespace

UINT WinExec(LPCSTR lpCmdLine, UINT) {
  const std::vector<std::string> args = SplitCommandLine(lpCmdLine != nullptr ? lpCmdLine : "");
  if (args.empty()) return 2;
  const char *runDir = qlm::RunDirectory();
  if (runDir == nullptr) return (errno == EPERM || errno == EACCES) ? 5 : 3;

  // Everything the children need is made before the fork.
  std::vector<char *> argv;
  for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> envStore;
  for (char **e = environ; *e != nullptr; ++e)
    if (std::strncmp(*e, "QLM_READY_FD=", 13) != 0 && std::strncmp(*e, "QLM_RUNDIR=", 11) != 0 &&
        std::strncmp(*e, "QLM_OWNER_PID=", 14) != 0)
      envStore.emplace_back(*e);
  envStore.push_back("QLM_READY_FD=" + std::to_string(kChildReadyFd));
  envStore.push_back("QLM_OWNER_PID=" + std::to_string(::getpid()));
  envStore.push_back(std::string("QLM_RUNDIR=") + runDir);
  std::vector<char *> envp;
  for (std::string &e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);

  Pipe ready, error, pidPipe;
  if (!ready.open() || !error.open() || !pidPipe.open()) return 0;

  const pid_t first = ::fork();
  if (first == 0) {
    ::setsid();
    const pid_t child = ::fork();
    if (child == 0) RunChild(ready.write.get(), error.write.get(), argv.data(), envp.data());
    ssize_t ignored = ::write(pidPipe.write.get(), &child, sizeof child);
    (void)ignored;
    ::_exit(0);
  }
  ready.write.reset();
  error.write.reset();
  pidPipe.write.reset();
  pid_t child = -1;
  const bool forked = first > 0 && ReadAll(pidPipe.read.get(), &child, sizeof child) && child > 0;
  if (first > 0)
    while (::waitpid(first, nullptr, 0) < 0 && errno == EINTR) {
    }
  if (!forked) return 0;

  int err = 0;
  if (ReadAll(error.read.get(), &err, sizeof err)) return ExecFailure(err);  // EOF: the exec succeeded

  pollfd p{ready.read.get(), POLLIN, 0};
  int n;
  do n = ::poll(&p, 1, static_cast<int>(kReadyWaitMs));
  while (n < 0 && errno == EINTR);
  if (n <= 0) return kExecStarted;  // the wait ended with the program still running
  char byte;
  ssize_t r;
  do r = ::read(ready.read.get(), &byte, 1);
  while (r < 0 && errno == EINTR);
  if (r > 0) return kExecStarted;
  // Closed without the byte: ready, unless the program ended.
  for (int waited = 0; waited <= kEndedGraceMs; waited += 5) {
    if (qlm::ProcessEnded(child)) return kExecEndedFirst;
    Sleep(5);
  }
  return kExecStarted;
}

void Sleep(DWORD dwMilliseconds) {
  timespec ts{static_cast<time_t>(dwMilliseconds / 1000), static_cast<long>(dwMilliseconds % 1000) * 1000000L};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

namespace qlm {

bool ProcessEnded(long pid) {
  if (pid <= 0 || ::kill(static_cast<pid_t>(pid), 0) != 0) return pid <= 0 || errno == ESRCH;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);  // without /proc: kill() has the last word
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos || close + 2 >= line.size()) return false;
  const char state = line[close + 2];
  return state == 'Z' || state == 'X';
}

int SignalReady() {
  const char *v = std::getenv("QLM_READY_FD");
  if (v == nullptr || *v == '\0') return 0;
  const UniqueFd fd(std::atoi(v));
  ::unsetenv("QLM_READY_FD");
  const char byte = 'R';
  ssize_t r;
  do r = ::write(fd.get(), &byte, 1);
  while (r < 0 && errno == EINTR);
  return r == 1 ? 0 : -1;
}

ServerLock AcquireServerLock(const char *lockName, const char *title) {
  const char *dir = RunDirectory();
  if (dir == nullptr || g_serverLock.valid()) return ServerLock::Failed;
  UniqueFd fd(::open((std::string(dir) + "/" + lockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!fd.valid()) return ServerLock::Failed;
  // Another server runs or is starting: it is ready once its window exists. One that
  // is ending lets the lock go without a window: then this one takes its place.
  for (DWORD waited = 0; waited <= kReadyWaitMs; waited += 20) {
    struct flock fl{};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    if (::fcntl(fd.get(), F_OFD_SETLK, &fl) == 0) {
      g_serverLock = std::move(fd);
      return ServerLock::Acquired;
    }
    if (errno != EAGAIN && errno != EACCES) break;
    if (FindWindowA(nullptr, title) != nullptr) {
      fd.reset();
      SignalReady();
      return ServerLock::OtherReady;
    }
    Sleep(20);
  }
  return ServerLock::Failed;
}

void ReleaseServerLock() { g_serverLock.reset(); }

}  // namespace qlm
