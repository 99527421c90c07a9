// The library's process-wide state, owned by the interface frame.
// One instance per process; the library serves one thread at a time.
#pragma once
#include <cstdint>

#include "qlmc32.h"

namespace qlm {

// Return codes of every exported function.
inline constexpr int kRcOk = 0;
inline constexpr int kRcNoErrorSegment = 1;
inline constexpr int kRcWarning = 4;
inline constexpr int kRcRefused = 8;
inline constexpr int kRcFailed = 12;

// Library error numbers, by the names the code uses; the numbers are those of
// the public header's QLM_ERRORS table.
enum LibError : int {
  kErrNoRootDir = QLM_ERR_NO_ROOTDIR,
  kErrMalformed = QLM_ERR_MALFORMED,
  kErrNoMemory = QLM_ERR_NO_MEMORY,
  kErrNoLink = QLM_ERR_NO_LINK,
  kErrAlreadyOpen = QLM_ERR_INTERFACE_OPEN,
  kErrProjOpen = QLM_ERR_PROJ_OPEN,
  kErrAdbkNotOpen = QLM_ERR_ADBK_NOT_OPEN,
  kErrMboxNotOpen = QLM_ERR_MBOX_NOT_OPEN,
  kErrProjNotOpen = QLM_ERR_PROJ_NOT_OPEN,
  kErrAdbkOpen = QLM_ERR_ADBK_OPEN,
  kErrMboxOpen = QLM_ERR_MBOX_OPEN,
  kErrNullRecord = QLM_ERR_NULL_RECORD,
  kErrNotOpen = QLM_ERR_INTERFACE_NOT_OPEN,
  kErrBlankContext = QLM_ERR_BLANK_CONTEXT,
  kErrClosedWithMbox = QLM_ERR_PROJ_CLOSED_MBOX_OPEN,
  kErrClosedWithAdbk = QLM_ERR_PROJ_CLOSED_ADBK_OPEN,
  kErrBlankKey = QLM_ERR_BLANK_KEY,
  kErrClosedWithBoth = QLM_ERR_PROJ_CLOSED_BOTH_OPEN,
  kErrSelectField = QLM_ERR_BAD_SELECTFIELD,
  kErrSortField = QLM_ERR_BAD_SORTFIELD,
  kErrNumEntries = QLM_ERR_BAD_NUMENTRIES,
  kErrStartEntry = QLM_ERR_BAD_STARTENTRY,
  kErrMsysNotOpen = QLM_ERR_MSYS_NOT_OPEN,
  kErrNoErrorFile = QLM_ERR_NO_ERROR_FILE,
};

struct InterfaceState {
  int interfaceOpen = 0;
  int linkStarted = 0;
  std::int32_t requestRef = 0;       // raised before every request
  char errorFileName[64] = {};
  int cfReturnCode = 0;              // the last library error number
  int rmilReturnCode = 0;            // the Request Manager's number from the last error segment
  int receiveTimeout = 10;           // receive attempts; -1 waits without limit
};

InterfaceState &ifc();

// Sets the last error number and returns `rc`.
inline int fail(int error, int rc) {
  ifc().cfReturnCode = error;
  return rc;
}

// A field of width w is blank when all its bytes are 0x20 (a zero byte is not blank).
bool isBlank(const char *field, int width);

}  // namespace qlm
