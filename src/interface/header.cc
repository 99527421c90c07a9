#include "interface/header.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/trace.h"
#include "interface/buffer.h"
#include "interface/context_table.h"
#include "interface/state.h"
#include "records/addressbook.h"
#include "records/common.h"
#include "rmil/codes.h"

namespace qlm {

namespace {
constexpr const char *kModBuild = "cfbldhdr";
constexpr const char *kModGet = "cfgethdr";

// The requests that make a context (the project is not open yet) and those that need none.
bool createsContext(int id) { return id == rec::kOpenProj || id == rec::kProj.add.request; }
bool needsNoContext(int id) { return id == rec::kShutdown || id == rec::kProj.list.request; }
bool opensAgent(int id) { return id == rec::kOpenAdbk || id == rec::kOpenMbox || id == rec::kOpenMsys; }

// The handle item and the state checks of one request identifier.
int addHandle(const ProjEntry &e, int id) {
  if (rec::kAdbkRequests.has(id)) {
    if (!handleSet(e.adbkHandle)) return fail(kErrAdbkNotOpen, kRcRefused);
    return cfAddItem(wire::kHandle, e.adbkHandle, kHandleWidth);
  }
  if (rec::kMboxRequests.has(id)) {
    if (!handleSet(e.mboxHandle)) return fail(kErrMboxNotOpen, kRcRefused);
    return cfAddItem(wire::kHandle, e.mboxHandle, kHandleWidth);
  }
  if (rec::kMsysRequests.has(id)) {
    if (!handleSet(e.msysHandle)) return fail(kErrMsysNotOpen, kRcRefused);
    return cfAddItem(wire::kHandle, e.msysHandle, kHandleWidth);
  }
  if (opensAgent(id) || id == rec::kRetrieveErrTextSend.request || rec::kProjRequests.has(id)) {
    if (!handleSet(e.projHandle)) return fail(kErrProjNotOpen, kRcRefused);
    if (id == rec::kCloseProj && handleSet(e.adbkHandle)) return fail(kErrClosedWithAdbk, kRcWarning);
    if (id == rec::kCloseProj && handleSet(e.mboxHandle)) return fail(kErrClosedWithMbox, kRcWarning);
    if (id == rec::kOpenAdbk && handleSet(e.adbkHandle)) return fail(kErrAdbkOpen, kRcRefused);
    if (id == rec::kOpenMbox && handleSet(e.mboxHandle)) return fail(kErrMboxOpen, kRcRefused);
    return cfAddItem(opensAgent(id) ? wire::kProjectHandle : wire::kHandle, e.projHandle, kHandleWidth);
  }
  if (TraceOn()) {
    TraceLine("", kModBuild, __LINE__, "Unexpected Error");
    TraceInt(kModBuild, __LINE__, "RequestID", id);
  }
  return kRcOk;
}

int addRequestId(const char *context, int id) {
  if (int rc = cfAddNumber(wire::kRequestId, id); rc != kRcOk) return rc;
  if (needsNoContext(id)) return kRcOk;
  ProjEntry e{};
  const bool found = context != nullptr && cfGetProjEntry(context, &e) == 1;
  if (!found) return createsContext(id) ? kRcOk : fail(kErrProjNotOpen, kRcRefused);
  if (createsContext(id)) return fail(kErrProjOpen, kRcRefused);
  return addHandle(e, id);
}

// The paging items of a qualifier record, each checked first.
int addPaging(const char *qualifier, std::span<const rec::Field> paging) {
  for (const rec::Field &f : paging) {
    const long n = rmil::parsePaging(std::string_view(qualifier + f.offset, f.width));
    if (n < 1 || n > wire::kMaxPaging) return fail(f.nameId == wire::kStartEntry ? kErrStartEntry : kErrNumEntries, kRcRefused);
    if (int rc = cfAddItem(f.nameId, qualifier + f.offset, static_cast<std::int16_t>(f.width)); rc != kRcOk) return rc;
  }
  return kRcOk;
}

// An item of the list qualifier after the paging, when its field is not blank: the
// operator and the sort order go as their codes.
int addQualifierItem(const char *qualifier, const rec::Field &f) {
  const char *v = qualifier + f.offset;
  if (isBlank(v, f.width)) return kRcOk;
  switch (f.nameId) {
    case wire::kOperator: return cfAddNumber(f.nameId, rmil::operatorCode(v));
    case wire::kSortOrder: return cfAddNumber(f.nameId, rmil::sortOrderCode(v[0]));
    default: return cfAddItem(f.nameId, v, static_cast<std::int16_t>(f.width));
  }
}

// The table update of a successful open, add, close or delete response.
int updateContexts(const char *context, int responseId, const char *handle) {
  static const char kEmpty[kHandleWidth] = {};
  using rec::responseTo;
  if (responseId == responseTo(rec::kOpenProj) || responseId == responseTo(rec::kProj.add.request))
    return cfAddProjEntry(context, handle);
  if (responseId == responseTo(rec::kCloseProj) || responseId == responseTo(rec::kProj.remove.request))
    return cfDeleteProjEntry(context);
  static constexpr struct {
    std::uint16_t open, close, selector;
  } kAgents[] = {{rec::kOpenAdbk, rec::kCloseAdbk, kSelAdbk},
                 {rec::kOpenMbox, rec::kCloseMbox, kSelMbox},
                 {rec::kOpenMsys, rec::kCloseMsys, kSelMsys}};
  for (const auto &a : kAgents) {
    if (responseId == responseTo(a.open)) return cfModProjEntry(context, a.selector, handle);
    if (responseId == responseTo(a.close)) return cfModProjEntry(context, a.selector, kEmpty);
  }
  return kRcOk;
}

struct Header {
  long responseId = -1, reference = -1, code = 0;
  char handle[kHandleWidth] = {};
};

// The items of the header segment; 0 at its end, 12 when the data ends first.
int readHeader(Header *h) {
  for (;;) {
    char value[rmil::kValueArea] = {};
    std::uint16_t id = 0;
    std::int16_t len = 0;
    const int r = cfGetNextItem(&id, value, &len);
    if (r != 1) return r == 0 ? kRcOk : r;
    switch (id) {
      case wire::kResponseId: h->responseId = std::atoi(value); break;
      case wire::kReference: h->reference = std::atol(value); break;
      case wire::kHandle: std::memcpy(h->handle, value, len < kHandleWidth ? len : kHandleWidth); break;
      case wire::kReturnCode: h->code = std::atoi(value); break;
      case wire::kProjectHandle: break;
      default:
        if (TraceOn()) {
          TraceLine("", kModGet, __LINE__, "Unexpected Error");
          TraceInt(kModGet, __LINE__, "(int) aFldId", id);
        }
    }
  }
}

int getHeader(const char *context, std::uint16_t *returnCode, std::uint16_t expectedId) {
  if (cfIsBufferEmpty()) return fail(kErrMalformed, kRcFailed);
  Header h;
  if (int rc = readHeader(&h); rc != kRcOk) return rc;
  if (h.reference != ifc().requestRef || static_cast<std::uint16_t>(h.responseId) != expectedId || h.responseId < 0)
    return fail(kErrMalformed, kRcFailed);
  *returnCode = static_cast<std::uint16_t>(h.code);
  if (*returnCode == 0 && context != nullptr)
    if (int rc = updateContexts(context, expectedId, h.handle); rc != kRcOk) return rc;
  if (cfMoveToNextSeg() != 0) QLM_TRACE(kModGet, "Unexpected Error");
  return kRcOk;
}
}  // namespace

int cfAddRequestIDandHandle(const char *context, std::int16_t requestId) {
  TraceScope trace(kModBuild, "cfAddRequestIDandHandle");
  return trace.result(addRequestId(context, requestId));
}

int cfAddRetField(int value) { return cfAddNumber(wire::kReturnRecord, value); }

int cfAddReqRef(int reference) {
  char text[24];
  if (std::snprintf(text, sizeof text, "%d", reference) > 10) {
    ifc().requestRef = 0;
    std::strcpy(text, "0");
  }
  return cfAddItem(wire::kReference, text, 10);
}

int cfAddRelParmAndValue(const char *key, int relParm, int width) {
  if (int rc = cfAddNumber(wire::kRelation, relParm); rc != kRcOk) return rc;
  return relParm == wire::kNoRelation ? kRcOk : cfAddItem(wire::kRelatedKey, key, static_cast<std::int16_t>(width));
}

int cfAddRequestQualifier(const char *q) {
  TraceScope trace(kModBuild, "cfAddRequestQualifier");
  const std::span<const rec::Field> items = rec::kQualifierItems;
  if (int rc = addPaging(q, items.first(2)); rc != kRcOk) return trace.result(rc);
  for (const rec::Field &f : items.subspan(2))
    if (int rc = addQualifierItem(q, f); rc != kRcOk) return trace.result(rc);
  return kRcOk;
}

int cfAddSmallRequestQualifier(const char *q) {
  TraceScope trace(kModBuild, "cfAddSmallRequestQualifier");
  return trace.result(addPaging(q, rec::kSmallListQualFields));
}

int cfGetHeader(const char *context, std::uint16_t *returnCode, std::uint16_t expectedId) {
  TraceScope trace(kModGet, "cfGetHeader");
  return trace.result(getHeader(context, returnCode, expectedId));
}

long cfNumEntries(const char *qualifier, std::span<const rec::Field> paging) {
  for (const rec::Field &f : paging)
    if (f.nameId == wire::kNumEntries) return rmil::parsePaging(std::string_view(qualifier + f.offset, f.width));
  return -1;
}

}  // namespace qlm
