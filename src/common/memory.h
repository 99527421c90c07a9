// All dynamic memory of the library goes through GetBuf / FreeBuf.
// Running out of memory is fatal: tracing is switched on, the entry line of
// OutOfMemoryHandler and the exit line of SetupLongJump (with 1) are written,
// and the process ends with exit status 1. No caller ever sees a failed allocation.
// Those two lines stay the last of the trace file: nothing written after them (for
// example by the library's shutdown at exit) reaches the file. The recovery point
// is a direct call of these final steps, so it works whether or not SetupLongJump ran.
// GetBuf traces (when tracing is on) its entry, the value line "mlc_size" and its exit.
#pragma once
#include <cstddef>

namespace qlm {

// 0 when *pp holds a new zero-filled block of `size` bytes; -1 when pp is null.
int GetBuf(void **pp, std::size_t size);
// Releases *pp when it is not null and sets it to null (freeing twice is harmless).
void FreeBuf(void **pp);

template <class T> int GetBuf(T **pp, std::size_t size) { return GetBuf(reinterpret_cast<void **>(pp), size); }
template <class T> void FreeBuf(T **pp) { FreeBuf(reinterpret_cast<void **>(pp)); }

// Records the recovery point (returns 0). Called first thing by QlmOpenCInterface.
int SetupLongJump();
// Does not return: trace on, entry line, then the recovery point ends the process with 1.
[[noreturn]] void OutOfMemoryHandler();

// Test hook: when set, the next allocations of GetBuf fail (to exercise the fatal path).
void SetAllocationFailureForTest(bool fail);

}  // namespace qlm
