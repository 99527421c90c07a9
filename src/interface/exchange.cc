#include "interface/exchange.h"

#include <algorithm>
#include <vector>

#include "common/trace.h"
#include "interface/state.h"
#include "link/icc.h"
#include "interface/buffer.h"
#include "interface/context_table.h"
#include "interface/header.h"
#include "records/common.h"

namespace qlm {

namespace {
constexpr const char *kModSend = "cfsend";
constexpr const char *kModRcv = "cfrcv";
constexpr int kDefaultTimeout = 10;
constexpr Link kIccLink{icc::iccSend, icc::iccReceive, icc::iccPeerActive, icc::iccTakePending};
const Link *g_link = &kIccLink;
constexpr int kMaxDropped = 256;  // late messages dropped at most before one request

constexpr std::size_t kMaxUnanswered = 64;

// The references of the requests sent whose final answer has not arrived (oldest
// first). Before a request is sent, each of them belongs to a request that gave up:
// no answer in time, or an answer that was not its own.
std::vector<long> &g_unanswered = *new std::vector<long>;

// A reference as it travels ("%d"); -1 when it is not one.
long ReferenceValue(std::string_view v) {
  const bool negative = v.front() == '-';
  long n = 0;
  for (char c : negative ? v.substr(1) : v) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return negative ? -n : n;
}

// The reference (of the header segment) of a message; -1 when it has none.
long ReferenceOf(const std::uint8_t *m, int length) {
  rmil::Message msg = rmil::Message::reading(m, length);
  for (rmil::Item i; msg.next(&i) == rmil::Read::Item;)
    if (i.id == wire::kReference && !i.value.empty() && i.value.size() <= 11) return ReferenceValue(i.value);
  return -1;
}

// A received message: the final one of an answer (no continuation follows) settles
// the request whose reference it carries.
void Received(const std::uint8_t *m, int length) {
  if (length >= wire::kHeaderSize && rmil::Message::reading(m, length).moreData()) return;
  const long ref = ReferenceOf(m, length);
  auto it = std::find(g_unanswered.begin(), g_unanswered.end(), ref);
  if (it != g_unanswered.end()) g_unanswered.erase(it);
}

// Before a request goes out, the answers of requests that gave up are dropped: those
// that arrived already and, while the Request Manager runs, those still to come
// (waiting at most one receive attempt for them, since a server may have dropped a
// request). So a late answer is never taken for the answer of a later request; at
// most the one call whose wait it fell into refuses it (its reference differs).
// When every request had its final answer there is nothing to drop, and nothing is
// looked for (a message the server sends unasked is refused by the call it reaches).
void DropLateAnswers() {
  if (g_link->takePending == nullptr || g_unanswered.empty()) return;
  static std::uint8_t scratch[wire::kBufSize];  // the message buffer holds the request
  int dropped = 0;
  for (bool waited = false; dropped < kMaxDropped;) {
    int length = wire::kBufSize;
    int r = g_link->takePending(scratch, &length);
    if (r != 0 && !g_unanswered.empty() && !waited && g_link->isActive() == 0) {
      waited = true;
      length = wire::kBufSize;
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
  TraceScope trace(kModSend, "cfRmilSend");
  rmil::Message &m = cfMessage();
  DropLateAnswers();
  if (g_link->send(m.data(), m.length()) != 0) return trace.result(fail(kErrNoLink, kRcFailed));
  if (!isShutdown) {
    if (g_unanswered.size() == kMaxUnanswered) g_unanswered.erase(g_unanswered.begin());
    g_unanswered.push_back(ReferenceOf(m.data(), m.length()));
  }
  return kRcOk;
}

namespace {
// Receive attempts until a message comes, the attempts run out or the peer is gone.
int ReceiveAttempts(rmil::Message &m, int *length) {
  for (int attempts = 0;;) {
    if (g_link->isActive() != 0) return icc::kErrNoPartner;
    *length = wire::kBufSize;
    const int r = g_link->receive(m.data(), length);
    if (r != icc::kErrTimeout) return r;
    const int timeout = ifc().receiveTimeout;
    if (timeout != -1 && timeout < ++attempts) return r;
  }
}
}  // namespace

int cfRmilReceive() {
  TraceScope trace(kModRcv, "cfRmilReceive");
  rmil::Message &m = cfMessage();
  int length = 0;
  if (ReceiveAttempts(m, &length) != 0) return trace.result(fail(kErrNoLink, kRcFailed));
  m.received(length);
  Received(m.data(), length);
  return kRcOk;
}

void cfLinkStarted() { g_unanswered.clear(); }

void cfSetReceiveTimeoutValue(int value) { ifc().receiveTimeout = value; }
void cfResetReceiveTimeoutValue() { ifc().receiveTimeout = kDefaultTimeout; }

int cfShutdownRM() {
  TraceScope trace(kModSend, "cfShutdownRM");
  cfRmilClear();
  ++ifc().requestRef;
  if (int rc = cfWriteHeader(nullptr, rec::kShutdown, "RIE", false); rc != kRcOk) return trace.result(rc);
  return trace.result(cfRmilSendRequest(true));  // no answer comes
}

int cfBeginRequest(const void *record, const char *context) {
  if (record == nullptr) return fail(kErrNullRecord, kRcRefused);
  if (!ifc().interfaceOpen) return fail(kErrNotOpen, kRcRefused);
  cfRmilClear();
  ++ifc().requestRef;
  if (context != nullptr && isBlank(context, kNameWidth)) return fail(kErrBlankContext, kRcRefused);
  return kRcOk;
}

int cfReceiveHeader(const char *context, std::uint16_t expectedId, std::uint16_t *rmCode) {
  cfRmilClear();
  if (int rc = cfRmilReceive(); rc != kRcOk) return rc;
  return cfGetHeader(context, rmCode, expectedId);
}

int cfRmFailure(std::uint16_t rmCode) { return cfFindErrorSeg() == 0 ? rmCode : kRcNoErrorSegment; }

}  // namespace qlm

namespace qlm {

int cfWriteHeader(const char *context, std::int16_t requestId, const char *steps, bool wantRecord) {
  for (const char *s = steps; *s; ++s) {
    int rc = kRcOk;
    switch (*s) {
      case 'I': rc = cfAddRequestIDandHandle(context, requestId); break;
      case 'F': rc = cfAddRetField(wantRecord ? wire::kWantRecord : wire::kNoRecord); break;
      case 'N': rc = cfAddRetField(wire::kNoRecord); break;
      case 'R': rc = cfAddReqRef(ifc().requestRef); break;
      case 'E': rc = cfEndSegDlmt(); break;
      default: break;
    }
    if (rc != kRcOk) return rc;
  }
  return kRcOk;
}

void cfUnexpectedItem(const char *module, int line, int nameId) {
  TraceLine("", module, line, "Unexpected Error");
  if (TraceOn() && nameId >= 0) TraceInt(module, line, "(int) aFldId", nameId);
}

}  // namespace qlm
