#include "transfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "platform/files.h"

namespace qlm::rqmgr {

namespace {
void closeFd(int &fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}
}  // namespace

std::string resolvePath(const std::string &exchangeDir, std::string_view name) {
  if (!name.empty() && name.front() == '/') return std::string(name);
  return exchangeDir + "/" + std::string(name);
}

SourceFile::~SourceFile() { closeFd(fd_); }

bool SourceFile::open(const std::string &path) {
  closeFd(fd_);
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd_ < 0) return false;
  struct stat st{};
  if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    closeFd(fd_);
    errno = EINVAL;
    return false;
  }
  size_ = st.st_size;
  posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
  return true;
}

long SourceFile::read(void *buffer, std::size_t n) {
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, n);
    if (got >= 0) return static_cast<long>(got);
    if (errno != EINTR) return -1;
  }
}

bool isDirectory(const std::string &path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool writableDirectory(const std::string &dir) { return isDirectory(dir) && access(dir.c_str(), W_OK | X_OK) == 0; }

std::string directoryOf(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

TargetFile::~TargetFile() {
  if (fd_ >= 0) {
    closeFd(fd_);
    ::unlink(temp_.c_str());
  }
}

bool TargetFile::open(const std::string &path) {
  path_ = path;
  const std::size_t slash = path.rfind('/');
  temp_ = path.substr(0, slash + 1) + "." + path.substr(slash + 1) + ".part";
  fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  return fd_ >= 0;
}

bool TargetFile::write(const void *bytes, std::size_t n) {
  const char *p = static_cast<const char *>(bytes);
  while (n > 0) {
    const ssize_t put = ::write(fd_, p, n);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    p += put;
    n -= static_cast<std::size_t>(put);
  }
  return true;
}

bool TargetFile::commit() {
  if (fsync(fd_) != 0) return false;
  if (::close(fd_) != 0) {
    fd_ = -1;
    ::unlink(temp_.c_str());
    return false;
  }
  fd_ = -1;
  if (std::rename(temp_.c_str(), path_.c_str()) != 0) {
    ::unlink(temp_.c_str());
    return false;
  }
  return SyncDirectory(directoryOf(path_));
}

bool copyFile(SourceFile &in, TargetFile &out, std::int64_t limit, std::int64_t *copied) {
  std::vector<char> piece(kCopyBytes);
  *copied = 0;
  for (;;) {
    const long got = in.read(piece.data(), piece.size());
    if (got < 0) return false;
    if (got == 0) return true;
    if ((*copied += got) > limit || !out.write(piece.data(), static_cast<std::size_t>(got))) return false;
  }
}

std::string MessageBodies::pathOf(std::int64_t id) const { return dir_ + "/" + std::to_string(id); }

void MessageBodies::remove(std::int64_t id) const { ::unlink(pathOf(id).c_str()); }

int MessageBodies::unlinked(const std::string &path) { return ::unlink(path.c_str()) == 0 ? 1 : 0; }

std::vector<std::pair<std::int64_t, std::string>> MessageBodies::olderThan(long ageSeconds) const {
  std::vector<std::pair<std::int64_t, std::string>> out;
  DIR *d = ::opendir(dir_.c_str());
  if (d == nullptr) return out;
  const std::time_t before = std::time(nullptr) - ageSeconds;
  while (const dirent *e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = dir_ + "/" + name;
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_mtime > before) continue;
    const bool numeric = name.find_first_not_of("0123456789") == std::string::npos && name.size() <= 18;
    out.emplace_back(numeric ? std::atoll(name.c_str()) : -1, path);
  }
  ::closedir(d);
  return out;
}

}  // namespace qlm::rqmgr
