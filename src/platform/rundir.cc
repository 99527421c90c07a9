// The run directory: where it is, making it private, sweeping the ones of ended
// applications. See qlm::RunDirectory in platform/windows.h.
#include <pthread.h>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/internal.h"
#include "platform/unique_fd.h"
#include "wire/wire.h"

namespace qlm {
namespace {

std::string &g_dir = *new std::string;  // the last directory handed out; never destroyed

bool Shared() {
  const char *v = std::getenv("QLM_RUNDIR");
  return v != nullptr && *v != '\0';
}

std::string Base() {
  const char *xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg != nullptr && *xdg != '\0') return std::string(xdg) + "/quillmar";
  return "/tmp/quillmar-" + std::to_string(::geteuid());
}

std::string OwnDir() { return Base() + "/" + std::to_string(::getpid()); }

std::string Trimmed(std::string p) {
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

int RemoveEntry(const char *path, const struct stat *, int, struct FTW *) {
  ::remove(path);
  return 0;
}

void RemoveTree(const std::string &path) {
  ::nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

// A directory under <base> named by the pid of a process that has ended.
bool Abandoned(const char *name) {
  char *end = nullptr;
  const long pid = std::strtol(name, &end, 10);
  if (end == name || *end != '\0' || pid <= 0 || pid == ::getpid()) return false;
  return ProcessEnded(pid);
}

// Whether a process still holds the server lock of run directory `dir`: its server
// still runs (it ends by itself, its application having gone) and keeps the
// directory until then.
bool ServerLockHeld(const std::string &dir) {
  const UniqueFd fd(::open((dir + "/" + wire::kServerLock).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  return fd.valid() && platform::LockHeld(fd.get());
}

}  // namespace

namespace platform {

int MakePrivateDir(const std::string &path) {
  const bool made = ::mkdir(path.c_str(), 0700) == 0;
  if (!made && errno != EEXIST) return -1;
  // Looked at without following a link: a link in its place (whoever made it) is
  // refused, never the directory it points to taken instead.
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) return errno = (errno == ELOOP || errno == ENOTDIR) ? EPERM : errno, -1;
  struct stat st{};
  if (::fstat(fd.get(), &st) != 0) return -1;
  if (made && st.st_uid == ::geteuid()) {
    ::fchmod(fd.get(), 0700);  // whatever the umask took away
    st.st_mode = (st.st_mode & ~07777) | 0700;
  }
  if (st.st_uid != ::geteuid()) return errno = EPERM, -1;
  if ((st.st_mode & 077) != 0) return errno = EACCES, -1;
  return 0;
}

}  // namespace platform

const char *RunDirectory() {
  std::string dir;
  if (Shared()) {
    dir = Trimmed(std::getenv("QLM_RUNDIR"));
  } else {
    if (platform::MakePrivateDir(Base()) != 0) return nullptr;
    dir = OwnDir();
  }
  if (dir.size() > kMaxRunDirLength) {
    errno = ENAMETOOLONG;
    return nullptr;
  }
  if (platform::MakePrivateDir(dir) != 0) return nullptr;
  g_dir = dir;
  return g_dir.c_str();
}

namespace platform {
pid_t ProcessId() {
  static pid_t pid = [] {
    ::pthread_atfork(nullptr, nullptr, [] { pid = ::getpid(); });
    return ::getpid();
  }();
  return pid;
}
}  // namespace platform

const char *KnownRunDirectory() {
  static std::string &validatedFor = *new std::string;  // the setting g_dir was checked for
  const char *env = std::getenv("QLM_RUNDIR");
  const std::string setting = env ? env : "";
  if (!g_dir.empty() && setting == validatedFor) return g_dir.c_str();
  const char *dir = RunDirectory();
  if (dir != nullptr) validatedFor = setting;
  return dir;
}

int PrepareRunDir() {
  if (RunDirectory() == nullptr) return -1;
  if (Shared()) return 0;
  const std::string base = Base();
  DIR *d = ::opendir(base.c_str());
  if (d == nullptr) return 0;
  std::vector<std::string> stale;
  while (struct dirent *e = ::readdir(d))
    if (Abandoned(e->d_name)) stale.push_back(base + "/" + e->d_name);
  ::closedir(d);
  for (const std::string &p : stale) {
    struct stat st{};
    if (::lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && !ServerLockHeld(p))
      RemoveTree(p);
  }
  return 0;
}

void RemoveRunDir() {
  if (Shared()) return;
  g_dir.clear();
  const std::string dir = OwnDir();
  struct stat st{};
  if (::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()) RemoveTree(dir);
}

}  // namespace qlm
