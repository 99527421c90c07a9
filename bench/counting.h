// Counters of the calls that cost a request: heap allocations (malloc, calloc,
// realloc; operator new goes through malloc) and flushes of a file to disk (fsync,
// fdatasync).
//
// counting.cc replaces the allocator in the benchmark's own process, and, built as
// the preloaded library qlm_counting, in the Request Manager the benchmarks start:
// there the counters live in the file named by QLM_COUNT_FILE, which the benchmark
// maps to read them.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

namespace qlm::bench {

struct Counts {
  std::atomic<std::uint64_t> allocations{0};
  std::atomic<std::uint64_t> flushes{0};
};

// This process's counters.
Counts &ownCounts();

// The counters of the processes started with `preloadEnv()` in their environment.
class SharedCounts {
 public:
  explicit SharedCounts(const std::string &file);
  std::uint64_t allocations() const;
  std::uint64_t flushes() const;

 private:
  const Counts *counts_ = nullptr;
};

}  // namespace qlm::bench
