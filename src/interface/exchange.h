// The request exchange: send the message in the buffer, receive a response into
// it (counting receive attempts of about five seconds each), the shutdown request.
#pragma once
#include <cstdint>

namespace qlm {

// The link under the exchange. The library uses the ICC client; tests put a
// scripted peer in its place to see the exact bytes sent and to answer them.
struct Link {
  int (*send)(const void *data, int length);   // 0 when handed over
  int (*receive)(void *buffer, int *length);   // 0, -7 nothing yet, other: failure
  int (*isActive)();                           // 0 while the peer runs
  // Like receive, without waiting: -7 when nothing has arrived (null: the link
  // keeps nothing that could arrive late).
  int (*takePending)(void *buffer, int *length) = nullptr;
};
void cfSetLink(const Link *link);  // null: the ICC client again

int cfRmilSend();
// cfRmilSend of a request that expects an answer (false) or of the shutdown request.
int cfRmilSendRequest(bool isShutdown);
int cfRmilReceive();
// A new link owes no answers of the last one.
void cfLinkStarted();
void cfSetReceiveTimeoutValue(int value);
void cfResetReceiveTimeoutValue();
int cfShutdownRM();

// Frame steps shared by every request: the record pointer is given (20110), the
// interface is open (20120), the buffer is cleared and the reference raised, and
// the context name (when given) is not blank (20130).
int cfBeginRequest(const void *record, const char *context);
// Clear, receive and read the response header: the first steps of every reader.
int cfReceiveHeader(const char *context, std::uint16_t expectedId, std::uint16_t *rmCode);
// The Request Manager's failure: its code when an error segment came with it, else 1.
int cfRmFailure(std::uint16_t rmCode);

}  // namespace qlm

#include "common/trace.h"
#include "qlmc32.h"

namespace qlm {

// Header items written in the order of `steps`: 'I' request identifier and handle,
// 'F' return-record flag (10001 when `wantRecord`), 'N' the flag 10000,
// 'R' request reference, 'E' segment end. The first failure is returned.
int cfWriteHeader(const char *context, std::int16_t requestId, const char *steps, bool wantRecord);

// A reply item whose name ID the reader does not know: the line "Unexpected Error"
// reaches the trace file even with tracing off; the name ID follows when tracing is on.
void cfUnexpectedItem(const char *module, int line, int nameId);

// Runs `body` between the trace entry and exit lines of an exported function.
template <class F>
QlmRc cfTraced(const char *module, const char *function, F &&body) {
  TraceScope trace(module, function);
  return static_cast<QlmRc>(trace.result(body()));
}

}  // namespace qlm

// The body of an exported function: `expr` between its trace entry and exit lines.
#define QLM_TRACED(module, function, expr) return ::qlm::cfTraced(module, function, [&] { return (expr); })
