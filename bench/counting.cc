// See counting.h. Built twice: into the benchmark (QLM_COUNT_SHARED unset: the
// allocator of the benchmark's process is counted) and as the preloaded library of
// the Request Manager (QLM_COUNT_SHARED: allocations and flushes are counted in the
// file QLM_COUNT_FILE names).
#include "counting.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);
}

namespace qlm::bench {

namespace {

#ifdef QLM_COUNT_SHARED
// The counters in the shared file, mapped at the first count (getenv, open and mmap
// do not allocate); the process's own ones when there is no such file.
Counts *Mapped() {
  static Counts *counts = [] {
    static Counts own;
    const char *file = std::getenv("QLM_COUNT_FILE");
    const int fd = file != nullptr ? ::open(file, O_RDWR | O_CLOEXEC) : -1;
    if (fd < 0) return &own;
    void *p = ::mmap(nullptr, sizeof(Counts), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    return p == MAP_FAILED ? &own : static_cast<Counts *>(p);
  }();
  return counts;
}
#endif

Counts *Current() {
#ifdef QLM_COUNT_SHARED
  return Mapped();
#else
  static Counts own;
  return &own;
#endif
}

void Allocated() { Current()->allocations.fetch_add(1, std::memory_order_relaxed); }

}  // namespace

Counts &ownCounts() { return *Current(); }

#ifndef QLM_COUNT_SHARED
SharedCounts::SharedCounts(const std::string &file) {
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0 || ::ftruncate(fd, sizeof(Counts)) != 0) throw std::runtime_error("counter file " + file);
  void *p = ::mmap(nullptr, sizeof(Counts), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  if (p == MAP_FAILED) throw std::runtime_error("counter file " + file);
  counts_ = static_cast<const Counts *>(p);
}
std::uint64_t SharedCounts::allocations() const { return counts_->allocations.load(); }
std::uint64_t SharedCounts::flushes() const { return counts_->flushes.load(); }
#endif

}  // namespace qlm::bench

// The replacements are exported whatever the build's default visibility.
#define QLM_EXPORT __attribute__((visibility("default")))

extern "C" {

QLM_EXPORT void *malloc(size_t n) {
  qlm::bench::Allocated();
  return __libc_malloc(n);
}
QLM_EXPORT void *calloc(size_t n, size_t size) {
  qlm::bench::Allocated();
  return __libc_calloc(n, size);
}
QLM_EXPORT void *realloc(void *p, size_t n) {
  qlm::bench::Allocated();
  return __libc_realloc(p, n);
}
QLM_EXPORT void free(void *p) { __libc_free(p); }

#ifdef QLM_COUNT_SHARED
QLM_EXPORT int fsync(int fd) {
  qlm::bench::Current()->flushes.fetch_add(1, std::memory_order_relaxed);
  return static_cast<int>(::syscall(SYS_fsync, fd));
}
QLM_EXPORT int fdatasync(int fd) {
  qlm::bench::Current()->flushes.fetch_add(1, std::memory_order_relaxed);
  return static_cast<int>(::syscall(SYS_fdatasync, fd));
}
#endif

}  // extern "C"
