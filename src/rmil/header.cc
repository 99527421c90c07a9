#include "rmil/header.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/trace.h"
#include "interface/context_table.h"
#include "interface/state.h"
#include "rmil/cfrmil.h"

namespace qlm {

namespace {
constexpr const char *kModBuild = "cfbldhdr";
constexpr const char *kModGet = "cfgethdr";

enum : int { kIdShutdown = 47, kIdOpenProj = 250, kIdAddProj = 254, kIdListProj = 258,
             kIdCloseProj = 252, kIdOpenAdbk = 100, kIdOpenMbox = 350, kIdOpenMsys = 550,
             kIdRetrieveErrText = 590 };

int addNumberItem(std::uint16_t nameId, long value, std::int16_t width) {
  char text[24];
  std::snprintf(text, sizeof text, "%ld", value);
  return cfAddItem(nameId, text, width);
}

bool between(int v, int lo, int hi) { return v >= lo && v <= hi; }

// The handle item and the state checks of one request identifier.
int addHandle(const ProjEntry &e, int id) {
  if (between(id, 101, 140)) {
    if (!handleSet(e.adbkHandle)) return fail(kErrAdbkNotOpen, kRcRefused);
    return cfAddItem(102, e.adbkHandle, kHandleWidth);
  }
  if (between(id, 351, 429)) {
    if (!handleSet(e.mboxHandle)) return fail(kErrMboxNotOpen, kRcRefused);
    return cfAddItem(102, e.mboxHandle, kHandleWidth);
  }
  if (between(id, 551, 577)) {
    if (!handleSet(e.msysHandle)) return fail(kErrMsysNotOpen, kRcRefused);
    return cfAddItem(102, e.msysHandle, kHandleWidth);
  }
  const bool opensAgent = id == kIdOpenAdbk || id == kIdOpenMbox || id == kIdOpenMsys;
  if (opensAgent || id == kIdRetrieveErrText || between(id, 251, 289)) {
    if (!handleSet(e.projHandle)) return fail(kErrProjNotOpen, kRcRefused);
    if (id == kIdCloseProj && handleSet(e.adbkHandle)) return fail(kErrClosedWithAdbk, kRcWarning);
    if (id == kIdCloseProj && handleSet(e.mboxHandle)) return fail(kErrClosedWithMbox, kRcWarning);
    if (id == kIdOpenAdbk && handleSet(e.adbkHandle)) return fail(kErrAdbkOpen, kRcRefused);
    if (id == kIdOpenMbox && handleSet(e.mboxHandle)) return fail(kErrMboxOpen, kRcRefused);
    return cfAddItem(opensAgent ? 101 : 102, e.projHandle, kHandleWidth);
  }
  if (TraceOn()) {
    TraceLine("", kModBuild, __LINE__, "Unexpected Error");
    TraceInt(kModBuild, __LINE__, "RequestID", id);
  }
  return kRcOk;
}
}  // namespace

int cfAddRequestIDandHandle(const char *context, std::int16_t requestId) {
  QLM_TRACE_ENTRY(kModBuild, "cfAddRequestIDandHandle");
  const int id = requestId;
  int rc = addNumberItem(3000, id, 10);
  const bool noContext = id == kIdShutdown || id == kIdListProj;
  const bool createsContext = id == kIdOpenProj || id == kIdAddProj;
  if (rc == kRcOk && !noContext) {
    ProjEntry e{};
    const bool found = context != nullptr && cfGetProjEntry(context, &e) == 1;
    if (!found && !createsContext)
      rc = fail(kErrProjNotOpen, kRcRefused);
    else if (found && createsContext)
      rc = fail(kErrProjOpen, kRcRefused);
    else if (found)
      rc = addHandle(e, id);
  }
  QLM_TRACE_EXIT(kModBuild, "cfAddRequestIDandHandle", rc);
  return rc;
}

int cfAddRetField(int value) { return addNumberItem(104, value, 10); }

int cfAddReqRef(int reference) {
  char text[24];
  if (std::snprintf(text, sizeof text, "%d", reference) > 10) {
    ifc().requestRef = 0;
    std::strcpy(text, "0");
  }
  return cfAddItem(100, text, 10);
}

int cfAddRelParmAndValue(const char *key, int relParm, int width) {
  int rc = addNumberItem(134, relParm, 10);
  if (rc == kRcOk && relParm != kWantRecord) rc = cfAddItem(133, key, static_cast<std::int16_t>(width));
  return rc;
}

long parsePagingNumber(const char *five) {
  int i = 0;
  while (i < 5 && five[i] == ' ') ++i;
  if (i == 5 || !std::isdigit(static_cast<unsigned char>(five[i]))) return -1;
  long v = 0;
  for (; i < 5 && std::isdigit(static_cast<unsigned char>(five[i])); ++i) v = v * 10 + (five[i] - '0');
  return v;
}

int operatorCode(const char *two) {
  char op[3] = {two[0], two[1], 0};
  if (op[1] == ' ') op[1] = 0;
  static constexpr struct { const char *text; int code; } kOps[] = {
      {">", 10011}, {"<", 10012}, {"=", 10013}, {"<>", 10014}, {">=", 10015}, {"<=", 10016}};
  for (const auto &o : kOps)
    if (std::strcmp(op, o.text) == 0) return o.code;
  return 10013;
}

int sortOrderCode(char order) {
  // Anything but a descending order sorts ascending.
  return (order == 'D' || order == 'd') ? 10018 : 10017;
}

namespace {
int addPaging(const char *start, const char *num) {
  const long s = parsePagingNumber(start), n = parsePagingNumber(num);
  if (s < 1 || s > 65535) return fail(kErrStartEntry, kRcRefused);
  if (n < 1 || n > 65535) return fail(kErrNumEntries, kRcRefused);
  int rc = cfAddItem(131, start, 5);
  if (rc == kRcOk) rc = cfAddItem(132, num, 5);
  return rc;
}
}  // namespace

int cfAddRequestQualifier(const char *q) {
  QLM_TRACE_ENTRY(kModBuild, "cfAddRequestQualifier");
  int rc = addPaging(q + lq::kStartEntry, q + lq::kNumEntries);
  if (rc == kRcOk && !isBlank(q + lq::kSelectValue, 20)) rc = cfAddItem(126, q + lq::kSelectValue, 20);
  if (rc == kRcOk && !isBlank(q + lq::kOperator, 2)) rc = addNumberItem(127, operatorCode(q + lq::kOperator), 5);
  if (rc == kRcOk && q[lq::kSortOrder] != ' ') rc = addNumberItem(129, sortOrderCode(q[lq::kSortOrder]), 5);
  QLM_TRACE_EXIT(kModBuild, "cfAddRequestQualifier", rc);
  return rc;
}

int cfAddSmallRequestQualifier(const char *q) {
  QLM_TRACE_ENTRY(kModBuild, "cfAddSmallRequestQualifier");
  int rc = addPaging(q + lq::kSmallStart, q + lq::kSmallNum);
  QLM_TRACE_EXIT(kModBuild, "cfAddSmallRequestQualifier", rc);
  return rc;
}

namespace {
// The table update of a successful open, add, close or delete response.
int updateContexts(const char *context, int responseId, const char *handle) {
  static const char kEmpty[kHandleWidth] = {};
  switch (responseId) {
    case 251: case 255: return cfAddProjEntry(context, handle);
    case 253: case 257: return cfDeleteProjEntry(context);
    case 101: return cfModProjEntry(context, kSelAdbk, handle);
    case 103: return cfModProjEntry(context, kSelAdbk, kEmpty);
    case 351: return cfModProjEntry(context, kSelMbox, handle);
    case 353: return cfModProjEntry(context, kSelMbox, kEmpty);
    case 551: return cfModProjEntry(context, kSelMsys, handle);
    case 553: return cfModProjEntry(context, kSelMsys, kEmpty);
    default: return kRcOk;
  }
}
}  // namespace

int cfGetHeader(const char *context, std::uint16_t *returnCode, std::uint16_t expectedId) {
  QLM_TRACE_ENTRY(kModGet, "cfGetHeader");
  int rc = kRcOk;
  long responseId = -1, reference = -1, code = 0;
  char handle[kHandleWidth] = {};
  if (cfIsBufferEmpty()) rc = fail(kErrMalformed, kRcFailed);
  for (int r = 1; rc == kRcOk;) {
    char value[rmil::kValueArea] = {};
    std::uint16_t id = 0;
    std::int16_t len = 0;
    r = cfGetNextItem(&id, value, &len);
    if (r != 1) {
      if (r != 0) rc = r;
      break;
    }
    switch (id) {
      case 3001: responseId = std::atoi(value); break;
      case 100: reference = std::atol(value); break;
      case 102: std::memcpy(handle, value, len < kHandleWidth ? len : kHandleWidth); break;
      case 103: code = std::atoi(value); break;
      case 101: break;
      default:
        if (TraceOn()) {
          TraceLine("", kModGet, __LINE__, "Unexpected Error");
          TraceInt(kModGet, __LINE__, "(int) aFldId", id);
        }
    }
  }
  if (rc == kRcOk && (reference != ifc().requestRef ||
                      static_cast<std::uint16_t>(responseId) != expectedId || responseId < 0))
    rc = fail(kErrMalformed, kRcFailed);
  if (rc == kRcOk) {
    *returnCode = static_cast<std::uint16_t>(code);
    if (*returnCode == 0 && context != nullptr) rc = updateContexts(context, expectedId, handle);
  }
  if (rc == kRcOk && cfMoveToNextSeg() != 0) QLM_TRACE(kModGet, "Unexpected Error");
  QLM_TRACE_EXIT(kModGet, "cfGetHeader", rc);
  return rc;
}

}  // namespace qlm
