#include "interface/exchange.h"

#include <algorithm>
#include <vector>

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
constexpr Link kIccLink{icc::iccSend, icc::iccReceive, icc::iccIsRMActive, icc::iccTakePending};
const Link *g_link = &kIccLink;
constexpr int kMaxDropped = 256;  // late messages dropped at most before one request

constexpr std::size_t kMaxUnanswered = 64;

// The references of the requests sent whose final answer has not arrived (oldest
// first). Before a request is sent, each of them belongs to a request that gave up:
// no answer in time, or an answer that was not its own.
std::vector<long> &g_unanswered = *new std::vector<long>;

// The reference (item 100 of the header segment) of a message; -1 when it has none.
long ReferenceOf(const std::uint8_t *m, int length) {
  for (int pos = rmil::kHeaderSize; pos + 4 <= length;) {
    const int len = rmil::getI16(m + pos);
    const int id = rmil::getU16(m + pos + 2);
    if (len < 0 || pos + 4 + len > length || id == rmil::kSegEnd) break;
    if (id == 100 && len > 0 && len <= 11) {
      long v = 0;
      bool negative = false;
      for (int k = 0; k < len; ++k) {
        const char c = static_cast<char>(m[pos + 4 + k]);
        if (k == 0 && c == '-') negative = true;
        else if (c >= '0' && c <= '9') v = v * 10 + (c - '0');
        else return -1;
      }
      return negative ? -v : v;
    }
    pos += 4 + len;
  }
  return -1;
}

// A received message: the final one of an answer (no continuation follows) settles
// the request whose reference it carries.
void Received(const std::uint8_t *m, int length) {
  if (length >= rmil::kHeaderSize && rmil::getI16(m + 8) != 0) return;
  const long ref = ReferenceOf(m, length);
  auto it = std::find(g_unanswered.begin(), g_unanswered.end(), ref);
  if (it != g_unanswered.end()) g_unanswered.erase(it);
}

// Before a request goes out, the answers of requests that gave up are dropped: those
// that arrived already and, while the Request Manager runs, those still to come
// (waiting at most one receive attempt for them, since a server may have dropped a
// request). So a late answer is never taken for the answer of a later request; at
// most the one call whose wait it fell into refuses it (its reference differs).
void DropLateAnswers() {
  if (g_link->takePending == nullptr) return;
  static std::uint8_t scratch[rmil::kBufSize];  // the message buffer holds the request
  int dropped = 0;
  for (bool waited = false; dropped < kMaxDropped;) {
    int length = rmil::kBufSize;
    int r = g_link->takePending(scratch, &length);
    if (r != 0 && !g_unanswered.empty() && !waited && g_link->isActive() == 0) {
      waited = true;
      length = rmil::kBufSize;
      r = g_link->receive(scratch, &length);
    }
    if (r != 0) break;
    Received(scratch, length);
    ++dropped;
  }
  if (dropped > 0) QLM_TRACE_INT(kModSend, "late answers dropped", dropped);
  g_unanswered.clear();  // not waited for again
}
}  // namespace

void cfSetLink(const Link *link) { g_link = link ? link : &kIccLink; }

int cfRmilSend() { return cfRmilSendRequest(false); }

int cfRmilSendRequest(bool isShutdown) {
  QLM_TRACE_ENTRY(kModSend, "cfRmilSend");
  rmil::Message &m = cfMessage();
  DropLateAnswers();
  int rc = g_link->send(m.data(), m.length()) == 0 ? kRcOk : fail(kErrNoLink, kRcFailed);
  if (rc == kRcOk && !isShutdown) {
    if (g_unanswered.size() == kMaxUnanswered) g_unanswered.erase(g_unanswered.begin());
    g_unanswered.push_back(ReferenceOf(m.data(), m.length()));
  }
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
  else {
    m.received(length);
    Received(m.data(), length);
  }
  QLM_TRACE_EXIT(kModRcv, "cfRmilReceive", rc);
  return rc;
}

void cfLinkStarted() { g_unanswered.clear(); }

void cfSetReceiveTimeoutValue(int value) { ifc().receiveTimeout = value; }
void cfResetReceiveTimeoutValue() { ifc().receiveTimeout = kDefaultTimeout; }

int cfShutdownRM() {
  QLM_TRACE_ENTRY(kModSend, "cfShutdownRM");
  cfRmilClear();
  ++ifc().requestRef;
  int rc = cfAddReqRef(ifc().requestRef);
  if (rc == kRcOk) rc = cfAddRequestIDandHandle(nullptr, 47);
  if (rc == kRcOk) rc = cfEndSegDlmt();
  if (rc == kRcOk) rc = cfRmilSendRequest(true);  // no answer comes
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
