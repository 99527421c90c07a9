// SQLite's pooled memory: what SQLite relies on (sizes, alignment, contents kept by
// a reallocation, blocks apart from one another) under a random mix of calls, and
// freed blocks used again. The Request Manager runs SQLite on it in every
// end-to-end test.
#include "sqlite_memory.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <random>
#include <vector>

namespace qlm::rqmgr {
namespace {

struct Block {
  unsigned char *p;
  int n;
  unsigned char fill;
};

bool Intact(const Block &b) {
  for (int i = 0; i < b.n; ++i)
    if (b.p[i] != b.fill) return false;
  return true;
}

TEST(SqliteMemory, BlocksKeepTheirBytesAndComeBackForReuse) {
  const sqlite3_mem_methods &m = pooledSqliteMemory();
  std::mt19937 rng(7);
  std::vector<Block> live;
  auto size = [&] {  // mostly small, some past the largest kept size
    const int kind = static_cast<int>(rng() % 10);
    return kind < 7 ? static_cast<int>(rng() % 600) + 1
                    : kind < 9 ? static_cast<int>(rng() % 8000) + 1
                               : static_cast<int>(kPoolMaxBlock) + static_cast<int>(rng() % 5000);
  };
  for (int step = 0; step < 20000; ++step) {
    const int op = static_cast<int>(rng() % 3);
    if (op == 0 || live.empty()) {
      const int n = size();
      Block b{static_cast<unsigned char *>(m.xMalloc(m.xRoundup(n))), n, static_cast<unsigned char>(rng())};
      ASSERT_NE(b.p, nullptr);
      ASSERT_EQ(reinterpret_cast<std::uintptr_t>(b.p) % 16, 0u);
      ASSERT_GE(m.xSize(b.p), n);
      ASSERT_EQ(m.xSize(b.p), m.xRoundup(n));
      std::fill(b.p, b.p + n, b.fill);
      live.push_back(b);
    } else {
      const std::size_t at = rng() % live.size();
      Block &b = live[at];
      ASSERT_TRUE(Intact(b)) << "step " << step;  // no other block wrote over it
      if (op == 1) {
        const int n = size();
        auto *q = static_cast<unsigned char *>(m.xRealloc(b.p, n));
        ASSERT_NE(q, nullptr);
        ASSERT_GE(m.xSize(q), n);
        b.p = q;
        b.n = std::min(b.n, n);
        ASSERT_TRUE(Intact(b)) << "step " << step;  // what fits was kept
        b.n = n;
        std::fill(b.p, b.p + n, b.fill);
      } else {
        m.xFree(b.p);
        live[at] = live.back();
        live.pop_back();
      }
    }
  }
  for (const Block &b : live) {
    EXPECT_TRUE(Intact(b));
    m.xFree(b.p);
  }
  // A freed block is the next one given for its size.
  void *a = m.xMalloc(100);
  m.xFree(a);
  EXPECT_EQ(m.xMalloc(100), a);
  m.xFree(a);
  EXPECT_EQ(m.xMalloc(0), nullptr);
  m.xFree(nullptr);
  EXPECT_EQ(m.xSize(nullptr), 0);
}

}  // namespace
}  // namespace qlm::rqmgr
