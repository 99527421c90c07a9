// See sqlite_memory.h. A block is a 16-byte header (its size class, and the size
// asked for a heap block) followed by what SQLite uses; a free block of a class
// links to the next through its first bytes. One lock: SQLite may allocate from
// several threads of a process that shares it (the server itself has one).
#include "sqlite_memory.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace qlm::rqmgr {

namespace {

constexpr std::size_t kHeader = 16;  // keeps SQLite's blocks aligned to 16 bytes
constexpr int kMinShift = std::countr_zero(kPoolMinBlock);
constexpr int kClasses = std::countr_zero(kPoolMaxBlock) - kMinShift + 1;
constexpr std::uint32_t kHeapClass = 0xFFFF;  // a block larger than the largest class

struct Header {
  std::uint32_t sizeClass;
  std::uint32_t unused;
  std::uint64_t heapSize;  // the usable size of a heap block
};
static_assert(sizeof(Header) == kHeader);

struct FreeBlock {
  FreeBlock *next;
};

// A lock held for a few instructions: a flag spun on.
class SpinLock {
 public:
  void lock() {
    while (flag_.test_and_set(std::memory_order_acquire)) {
    }
  }
  void unlock() { flag_.clear(std::memory_order_release); }

 private:
  std::atomic_flag flag_ = ATOMIC_FLAG_INIT;
};

struct Guard {
  explicit Guard(SpinLock &l) : l_(l) { l_.lock(); }
  ~Guard() { l_.unlock(); }
  Guard(const Guard &) = delete;
  Guard &operator=(const Guard &) = delete;
  SpinLock &l_;
};

struct Pool {
  SpinLock lock;
  std::array<FreeBlock *, kClasses> free{};
  std::array<std::size_t, kClasses> kept{};  // free blocks of each class
};

Pool &pool() {
  static Pool &p = *new Pool;  // never destroyed: SQLite may free after static destructors
  return p;
}

constexpr std::size_t classSize(int c) { return kPoolMinBlock << c; }

int classOf(std::size_t n) {
  if (n <= kPoolMinBlock) return 0;
  return static_cast<int>(std::bit_width(n - 1)) - kMinShift;
}

Header *headerOf(void *p) { return reinterpret_cast<Header *>(static_cast<char *>(p) - kHeader); }

// A block of `usable` bytes from the heap, headed by its class.
void *Fresh(std::uint32_t sizeClass, std::size_t usable) {
  auto *h = static_cast<Header *>(std::malloc(kHeader + usable));
  if (h == nullptr) return nullptr;
  *h = Header{sizeClass, 0, sizeClass == kHeapClass ? usable : 0};
  return reinterpret_cast<char *>(h) + kHeader;
}

void *Malloc(int n) {
  if (n <= 0) return nullptr;
  const auto size = static_cast<std::size_t>(n);
  if (size > kPoolMaxBlock) return Fresh(kHeapClass, size);
  const auto c = static_cast<std::size_t>(classOf(size));
  Pool &p = pool();
  {
    Guard hold(p.lock);
    if (FreeBlock *b = p.free[c]; b != nullptr) {
      p.free[c] = b->next;
      --p.kept[c];
      return b;
    }
  }
  return Fresh(static_cast<std::uint32_t>(c), classSize(static_cast<int>(c)));
}

void Free(void *ptr) {
  if (ptr == nullptr) return;
  Header *h = headerOf(ptr);
  if (h->sizeClass != kHeapClass) {
    const auto c = static_cast<std::size_t>(h->sizeClass);
    Pool &p = pool();
    Guard hold(p.lock);
    if (p.kept[c] * classSize(static_cast<int>(c)) < kPoolKeptBytes) {
      auto *b = static_cast<FreeBlock *>(ptr);
      b->next = p.free[c];
      p.free[c] = b;
      ++p.kept[c];
      return;
    }
  }
  std::free(h);
}

int Size(void *ptr) {
  if (ptr == nullptr) return 0;
  const Header *h = headerOf(ptr);
  return static_cast<int>(h->sizeClass == kHeapClass ? h->heapSize : classSize(static_cast<int>(h->sizeClass)));
}

// SQLite keeps the block itself when the new size rounds up to the old one: this
// moves it to a block of the new size.
void *Realloc(void *ptr, int n) {
  if (ptr == nullptr) return Malloc(n);
  if (n <= 0) {
    Free(ptr);
    return nullptr;
  }
  void *q = Malloc(n);
  if (q == nullptr) return nullptr;  // SQLite keeps the old block
  std::memcpy(q, ptr, static_cast<std::size_t>(std::min(Size(ptr), n)));
  Free(ptr);
  return q;
}

int Roundup(int n) {
  if (n <= 0) return 0;
  const auto size = static_cast<std::size_t>(n);
  if (size > kPoolMaxBlock) return static_cast<int>((size + 7) & ~std::size_t{7});
  return static_cast<int>(classSize(classOf(size)));
}

int Init(void *) { return SQLITE_OK; }
void Shutdown(void *) {}

}  // namespace

const sqlite3_mem_methods &pooledSqliteMemory() {
  static const sqlite3_mem_methods methods{Malloc, Free, Realloc, Size, Roundup, Init, Shutdown, nullptr};
  return methods;
}

bool usePooledSqliteMemory() {
  return sqlite3_config(SQLITE_CONFIG_MALLOC, &pooledSqliteMemory()) == SQLITE_OK;
}

}  // namespace qlm::rqmgr
