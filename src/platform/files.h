// The POSIX file calls of the Request Manager (open, fsync, mkdir, directories), in
// both builds. On Windows they are the C runtime's (io.h, dirent.h) with what POSIX
// has and it lacks made up as follows:
//   - O_CLOEXEC: the descriptor is not inherited (_O_NOINHERIT), and the file is
//     opened in binary mode (every open of the server names O_CLOEXEC);
//   - O_NOFOLLOW, O_NOCTTY: nothing (no links are made in the server's directories);
//   - fsync is _commit; a directory needs no flush after a rename (SyncDirectory);
//   - lstat is stat; X_OK asks nothing beyond existence; mkdir ignores the mode (the
//     directories under the user's profile are the user's own).
#pragma once
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#ifdef _WIN32
#include <direct.h>
#include <io.h>

#undef O_CLOEXEC
#define O_CLOEXEC (_O_NOINHERIT | _O_BINARY)
#define O_NOFOLLOW 0
#define O_NOCTTY 0
#undef X_OK
#define X_OK 0
#define POSIX_FADV_SEQUENTIAL 0
inline int posix_fadvise(int, long, long, int) { return 0; }
inline int fsync(int fd) { return _commit(fd); }
inline int lstat(const char *path, struct stat *st) { return stat(path, st); }
inline int mkdir(const char *path, int) { return _mkdir(path); }
#endif

namespace qlm {

// Whether a file's owner is the user this process runs as (POSIX: its effective
// user); on Windows the files under the installation count as the user's own.
inline bool OwnedByUser(const struct stat &st) {
#ifdef _WIN32
  (void)st;
  return true;
#else
  return st.st_uid == ::geteuid();
#endif
}

// Makes `dir` and each missing directory above it (new ones with `mode`). true when
// `dir` is a directory at the end; else false with errno of the step that failed.
inline bool MakeDirs(const std::string &dir, int mode) {
  for (std::size_t s = dir.find('/', 1);; s = dir.find('/', s + 1)) {
    const std::string part = s == std::string::npos ? dir : dir.substr(0, s);
    if (!part.empty() && ::mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return false;
    if (s == std::string::npos) break;
  }
  struct stat st{};
  if (::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
  errno = ENOTDIR;
  return false;
}

// Makes a rename in `dir` durable: fsync of the directory on POSIX; nothing to do on
// Windows. false when the directory cannot be opened or flushed.
inline bool SyncDirectory(const std::string &dir) {
#ifdef _WIN32
  (void)dir;
  return true;
#else
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool flushed = fd >= 0 && ::fsync(fd) == 0;
  if (fd >= 0) ::close(fd);
  return flushed;
#endif
}

}  // namespace qlm
