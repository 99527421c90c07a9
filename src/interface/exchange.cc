#include "interface/exchange.h"

#include "common/trace.h"
#include "interface/state.h"
#include "link/icc.h"
#include "rmil/cfrmil.h"
#include "rmil/header.h"

namespace qlm {

namespace {
constexpr const char *kModSend = "cfsend";
constexpr const char *kModRcv = "cfrcv";
constexpr int kDefaultTimeout = 10;
constexpr Link kIccLink{icc::iccSend, icc::iccReceive, icc::iccIsRMActive};
const Link *g_link = &kIccLink;
}  // namespace

void cfSetLink(const Link *link) { g_link = link ? link : &kIccLink; }

int cfRmilSend() {
  QLM_TRACE_ENTRY(kModSend, "cfRmilSend");
  rmil::Message &m = cfMessage();
  int rc = g_link->send(m.data(), m.length()) == 0 ? kRcOk : fail(kErrNoLink, kRcFailed);
  QLM_TRACE_EXIT(kModSend, "cfRmilSend", rc);
  return rc;
}

int cfRmilReceive() {
  QLM_TRACE_ENTRY(kModRcv, "cfRmilReceive");
  rmil::Message &m = cfMessage();
  int attempts = 0, r, length;
  for (;;) {
    if (g_link->isActive() != 0) {
      r = icc::kErrNoPartner;
      break;
    }
    length = rmil::kBufSize;
    r = g_link->receive(m.data(), &length);
    if (r != icc::kErrTimeout) break;
    const int timeout = ifc().receiveTimeout;
    if (timeout != -1 && timeout < ++attempts) break;
  }
  int rc = kRcOk;
  if (r != 0)
    rc = fail(kErrNoLink, kRcFailed);
  else
    m.received(length);
  QLM_TRACE_EXIT(kModRcv, "cfRmilReceive", rc);
  return rc;
}

void cfSetReceiveTimeoutValue(int value) { ifc().receiveTimeout = value; }
void cfResetReceiveTimeoutValue() { ifc().receiveTimeout = kDefaultTimeout; }

int cfShutdownRM() {
  QLM_TRACE_ENTRY(kModSend, "cfShutdownRM");
  cfRmilClear();
  ++ifc().requestRef;
  int rc = cfAddReqRef(ifc().requestRef);
  if (rc == kRcOk) rc = cfAddRequestIDandHandle(nullptr, 47);
  if (rc == kRcOk) rc = cfEndSegDlmt();
  if (rc == kRcOk) rc = cfRmilSend();
  QLM_TRACE_EXIT(kModSend, "cfShutdownRM", rc);
  return rc;
}

int cfBeginRequest(const void *record, const char *context) {
  if (record == nullptr) return fail(kErrNullRecord, kRcRefused);
  if (!ifc().interfaceOpen) return fail(kErrNotOpen, kRcRefused);
  cfRmilClear();
  ++ifc().requestRef;
  if (context != nullptr && isBlank(context, 20)) return fail(kErrBlankContext, kRcRefused);
  return kRcOk;
}

int cfReceiveHeader(const char *context, std::uint16_t expectedId, std::uint16_t *rmCode) {
  cfRmilClear();
  int rc = cfRmilReceive();
  if (rc == kRcOk) rc = cfGetHeader(context, rmCode, expectedId);
  return rc;
}

int cfRmFailure(std::uint16_t rmCode) { return cfFindErrorSeg() == 0 ? rmCode : kRcNoErrorSegment; }

}  // namespace qlm

namespace qlm {

int cfWriteHeader(const char *context, std::int16_t requestId, const char *steps, bool wantRecord) {
  int rc = kRcOk;
  for (const char *s = steps; rc == kRcOk && *s; ++s) {
    switch (*s) {
      case 'I': rc = cfAddRequestIDandHandle(context, requestId); break;
      case 'F': rc = cfAddRetField(wantRecord ? kWantRecord : kNoRecord); break;
      case 'N': rc = cfAddRetField(kNoRecord); break;
      case 'R': rc = cfAddReqRef(ifc().requestRef); break;
      case 'E': rc = cfEndSegDlmt(); break;
      default: break;
    }
  }
  return rc;
}

void cfUnexpectedItem(const char *module, int line, int nameId) {
  TraceLine("", module, line, "Unexpected Error");
  if (TraceOn() && nameId >= 0) TraceInt(module, line, "(int) aFldId", nameId);
}

}  // namespace qlm
