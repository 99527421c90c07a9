// SQLite's memory for the Request Manager: blocks kept for reuse by size, so that
// serving a request, once the statements have run once, takes nothing from the heap.
#pragma once

#include <cstddef>

struct sqlite3_mem_methods;

namespace qlm::rqmgr {

// Sizes of the kept blocks: powers of two from kPoolMinBlock to kPoolMaxBlock bytes;
// larger ones come from the heap and go back to it. Each size keeps at most
// kPoolKeptBytes of free blocks (so about 3.5 MiB in all at the most).
inline constexpr std::size_t kPoolMinBlock = 16;
inline constexpr std::size_t kPoolMaxBlock = 64 * 1024;
inline constexpr std::size_t kPoolKeptBytes = 256 * 1024;

// The allocator's entry points, as SQLite takes them.
const sqlite3_mem_methods &pooledSqliteMemory();

// Gives SQLite the allocator above: before SQLite is used in the process (it is
// refused afterwards, and SQLite keeps its own). false when refused.
bool usePooledSqliteMemory();

}  // namespace qlm::rqmgr
