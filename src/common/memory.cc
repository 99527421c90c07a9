// Buffers (module cscomonx) and the out-of-memory path (module cslongjc).
//
// The recovery point is a plain function that carries out the final steps itself
// (exit line of SetupLongJump with the value, end of the process), so it needs
// nothing of the stack of SetupLongJump. It works the same whether or not
// SetupLongJump has run. The trace is finished after its exit line, so that the
// shutdown run by the library's destructor at exit adds no lines after it; a second
// memory failure during that shutdown ends the process at once with _exit(1).
#include "common/memory.h"

#include <unistd.h>

#include <cstdlib>

#include "common/trace.h"

namespace qlm {
namespace {

constexpr const char kBufModule[] = "cscomonx";
constexpr const char kJumpModule[] = "cslongjc";

bool g_failForTest = false;
bool g_recovering = false;

[[noreturn]] void RecoveryPoint(int value) {
  if (g_recovering) _exit(value);
  g_recovering = true;
  QLM_TRACE_EXIT(kJumpModule, "SetupLongJump", value);
  FinishTrace();
  std::exit(value);
}

}  // namespace

int GetBuf(void **pp, std::size_t size) {
  QLM_TRACE_ENTRY(kBufModule, "GetBuf");
  QLM_TRACE_INT(kBufModule, "mlc_size", size);
  if (pp == nullptr) {
    QLM_TRACE_EXIT(kBufModule, "GetBuf", -1);
    return -1;
  }
  // A zero-byte request still yields a distinct block, never a null pointer.
  void *block = g_failForTest ? nullptr : std::calloc(size != 0 ? size : 1, 1);
  *pp = block;
  if (block == nullptr) OutOfMemoryHandler();
  QLM_TRACE_EXIT(kBufModule, "GetBuf", 0);
  return 0;
}

void FreeBuf(void **pp) {
  if (pp == nullptr || *pp == nullptr) return;
  std::free(*pp);
  *pp = nullptr;
}

int SetupLongJump() {
  QLM_TRACE_ENTRY(kJumpModule, "SetupLongJump");
  QLM_TRACE_EXIT(kJumpModule, "SetupLongJump", 0);
  return 0;
}

void OutOfMemoryHandler() {
  SetTrace(1);
  TraceEntry(kJumpModule, __LINE__, "OutOfMemoryHandler");
  RecoveryPoint(1);
}

void SetAllocationFailureForTest(bool fail) { g_failForTest = fail; }

}  // namespace qlm
