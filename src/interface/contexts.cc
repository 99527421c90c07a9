// Projects, address books, mailboxes and message systems: opening and closing.
// The header reader keeps the context table in step with the answers.
#include <cstring>

#include "interface/buffer.h"
#include "interface/context_table.h"
#include "interface/exchange.h"
#include "interface/header.h"
#include "interface/patterns.h"
#include "interface/state.h"
#include "qlmc32.h"
#include "records/common.h"

namespace qlm {

namespace {

// One open or close request of a project's agent (or the close of a project).
struct AgentCall {
  const char *module, *function, *reader;
  std::uint16_t requestId;
  const char *header;  // see cfWriteHeader
};

constexpr AgentCall kOpenAdbk{"cfropab", "QlmOpenAdbk", "cfProcAdbkOpenedRsp", rec::kOpenAdbk, "INRE"};
constexpr AgentCall kCloseAdbk{"cfrclab", "QlmCloseAdbk", "cfProcAdbkClosedRsp", rec::kCloseAdbk, "INRIE"};
constexpr AgentCall kOpenMbox{"cfropmb", "QlmOpenMbox", "cfProcMboxOpenedRsp", rec::kOpenMbox, "INRE"};
constexpr AgentCall kCloseMbox{"cfrclmb", "QlmCloseMbox", "cfProcMboxClosedRsp", rec::kCloseMbox, "INRIE"};
constexpr AgentCall kOpenMsys{"cfropms", "QlmOpenMsys", "cfProcMsysOpenedRsp", rec::kOpenMsys, "INRE"};
constexpr AgentCall kCloseMsys{"cfrclms", "QlmCloseMsys", "cfProcMsysClosedRsp", rec::kCloseMsys, "INRIE"};
constexpr AgentCall kCloseProj{"cfrclpj", "QlmCloseProj", "cfProcProjClosedRsp", rec::kCloseProj, "NRIE"};

// The shared reader of open and close answers: nothing but the header is expected.
int readAgentAnswer(const AgentCall &c, const char *context) {
  TraceScope trace(c.module, c.reader);
  std::uint16_t code = 0;
  if (int rc = cfReceiveHeader(context, rec::responseTo(c.requestId), &code); rc != kRcOk) return trace.result(rc);
  if (code != 0) return trace.result(cfRmFailure(code));
  return trace.result(cfMessage().segType(nullptr) ? fail(kErrMalformed, kRcFailed) : kRcOk);
}

// After the frame's checks: header, send, answer.
int sendAgentCall(const AgentCall &c, const char *context) {
  if (int rc = cfWriteHeader(context, static_cast<std::int16_t>(c.requestId), c.header, false); rc != kRcOk) return rc;
  if (int rc = cfRmilSend(); rc != kRcOk) return rc;
  return readAgentAnswer(c, context);
}

QlmRc agent(const AgentCall &c, const char *context) {
  return cfTraced(c.module, c.function, [&] {
    const int rc = cfBeginRequest(context, context);
    return rc == kRcOk ? sendAgentCall(c, context) : rc;
  });
}

// Closes the address book and mailbox that are open for a project:
// 0 nothing closed, 1 address book, 2 mailbox, 3 both. A close that does not
// return 0 ends it at once with that close's result (the mailbox is then left
// open when the address book's close failed).
int closeOpenedAgents(const char *project) {
  char name[kNameWidth + 1] = {};
  std::memcpy(name, project, kNameWidth);
  ProjEntry e{};
  if (cfGetProjEntry(project, &e) != 1) return 0;
  int closed = 0;
  if (handleSet(e.adbkHandle)) {
    if (const int rc = static_cast<int>(QlmCloseAdbk(name)); rc != 0) return rc;
    closed += 1;
  }
  if (handleSet(e.mboxHandle)) {
    if (const int rc = static_cast<int>(QlmCloseMbox(name)); rc != 0) return rc;
    closed += 2;
  }
  return closed;
}

int cfCloseOpenedAgents(const char *project) {
  TraceScope trace("cfagents", "cfCloseOpenedAgents");
  return trace.result(closeOpenedAgents(project));
}

constexpr Reader kProjOpened{"cfppjop", "cfProcProjOpenedRsp"};

// The open answer: after an error segment, a result segment of its type may follow;
// its item is read when a result area is given.
int readProjOpened(const char *context, char *result) {
  std::uint16_t code = 0;
  if (int rc = cfReceiveHeader(context, rec::responseTo(rec::kProjOpen.send.request), &code); rc != kRcOk) return rc;
  if (code != 0) return cfRmFailure(code);
  if (cfIsErrorSeg() && cfMoveToNextSeg() != 0) return fail(kErrMalformed, kRcFailed);
  long type = 0;
  if (!cfMessage().segType(&type)) {
    ifc().cfReturnCode = 0;
    return kRcOk;
  }
  if (type != rec::kProjOpen.result.segType) return fail(kErrMalformed, kRcFailed);
  return result != nullptr ? cfReadSegment(kProjOpened, rec::kProjOpen.result, result) : kRcOk;
}

int openProj(char *openRecord, char *result) {
  const char *context = openRecord ? openRecord + rec::kProjOpenContext : nullptr;
  const rec::Send &send = rec::kProjOpen.send;
  if (int rc = cfBeginRequest(openRecord, context); rc != kRcOk) return rc;
  if (int rc = cfWriteHeader(context, static_cast<std::int16_t>(send.request), "IRE", false); rc != kRcOk) return rc;
  if (int rc = cfAddDataSegment(send, openRecord); rc != kRcOk) return rc;
  if (int rc = cfRmilSend(); rc != kRcOk) return rc;
  TraceScope trace(kProjOpened.module, kProjOpened.function);
  return trace.result(readProjOpened(context, result));
}

int closeProj(char *context) {
  if (context == nullptr) return fail(kErrNullRecord, kRcRefused);
  if (!ifc().interfaceOpen) return fail(kErrNotOpen, kRcRefused);
  const int closed = cfCloseOpenedAgents(context);
  static constexpr int kWarnings[] = {0, kErrClosedWithAdbk, kErrClosedWithMbox, kErrClosedWithBoth};
  if (closed < 0 || closed > 3) return closed;
  if (closed != 0) ifc().cfReturnCode = kWarnings[closed];
  if (int rc = cfBeginRequest(context, nullptr); rc != kRcOk) return rc;
  if (isBlank(context, kNameWidth)) return fail(kErrBlankContext, kRcRefused);
  if (int rc = sendAgentCall(kCloseProj, context); rc != kRcOk) return rc;
  return closed != 0 ? kRcWarning : kRcOk;
}

}  // namespace
}  // namespace qlm

using namespace qlm;

extern "C" QLM_API QlmRc QlmOpenProj(char *openRecord, char *result) {
  QLM_TRACED("cfroppj", "QlmOpenProj", openProj(openRecord, result));
}

extern "C" QLM_API QlmRc QlmCloseProj(char *context) {
  QLM_TRACED(kCloseProj.module, kCloseProj.function, closeProj(context));
}

extern "C" QLM_API QlmRc QlmOpenAdbk(char *context) { return agent(kOpenAdbk, context); }
extern "C" QLM_API QlmRc QlmCloseAdbk(char *context) { return agent(kCloseAdbk, context); }
extern "C" QLM_API QlmRc QlmOpenMbox(char *context) { return agent(kOpenMbox, context); }
extern "C" QLM_API QlmRc QlmCloseMbox(char *context) { return agent(kCloseMbox, context); }

extern "C" QLM_API QlmRc QlmOpenMsys(char *context) {
  return cfTraced(kOpenMsys.module, kOpenMsys.function, [&] {
    if (int rc = cfBeginRequest(context, nullptr); rc != kRcOk) return rc;
    cfSetReceiveTimeoutValue(-1);  // every receive waits without limit while a message system is open
    if (isBlank(context, kNameWidth)) return fail(kErrBlankContext, kRcRefused);
    return sendAgentCall(kOpenMsys, context);
  });
}

extern "C" QLM_API QlmRc QlmCloseMsys(char *context) {
  return cfTraced(kCloseMsys.module, kCloseMsys.function, [&] {
    const int rc = cfBeginRequest(context, context);
    const int closed = rc == kRcOk ? sendAgentCall(kCloseMsys, context) : rc;
    cfResetReceiveTimeoutValue();  // whatever the close came to
    return closed;
  });
}
