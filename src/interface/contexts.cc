// Projects, address books, mailboxes and message systems: opening and closing.
// The header reader keeps the context table in step with the answers.
#include <cstring>

#include "interface/context_table.h"
#include "interface/exchange.h"
#include "interface/state.h"
#include "qlmc32.h"
#include "rmil/cfrmil.h"
#include "rmil/header.h"

namespace qlm {

namespace {

// One open or close request of a project's agent (or the close of a project).
struct AgentCall {
  const char *module, *function, *reader;
  std::int16_t requestId;
  const char *header;  // see cfWriteHeader
};

constexpr AgentCall kOpenAdbk{"cfropab", "QlmOpenAdbk", "cfProcAdbkOpenedRsp", 100, "INRE"};
constexpr AgentCall kCloseAdbk{"cfrclab", "QlmCloseAdbk", "cfProcAdbkClosedRsp", 102, "INRIE"};
constexpr AgentCall kOpenMbox{"cfropmb", "QlmOpenMbox", "cfProcMboxOpenedRsp", 350, "INRE"};
constexpr AgentCall kCloseMbox{"cfrclmb", "QlmCloseMbox", "cfProcMboxClosedRsp", 352, "INRIE"};
constexpr AgentCall kOpenMsys{"cfropms", "QlmOpenMsys", "cfProcMsysOpenedRsp", 550, "INRE"};
constexpr AgentCall kCloseMsys{"cfrclms", "QlmCloseMsys", "cfProcMsysClosedRsp", 552, "INRIE"};
constexpr AgentCall kCloseProj{"cfrclpj", "QlmCloseProj", "cfProcProjClosedRsp", 252, "NRIE"};

// The shared reader of open and close answers: nothing but the header is expected.
int readAgentAnswer(const AgentCall &c, const char *context) {
  QLM_TRACE_ENTRY(c.module, c.reader);
  std::uint16_t code = 0;
  int rc = cfReceiveHeader(context, static_cast<std::uint16_t>(c.requestId + 1), &code);
  if (rc == kRcOk && code != 0)
    rc = cfRmFailure(code);
  else if (rc == kRcOk && cfMessage().segType(nullptr))
    rc = fail(kErrMalformed, kRcFailed);
  QLM_TRACE_EXIT(c.module, c.reader, rc);
  return rc;
}

// After the frame's checks: header, send, answer.
int sendAgentCall(const AgentCall &c, const char *context) {
  int rc = cfWriteHeader(context, c.requestId, c.header, false);
  if (rc == kRcOk) rc = cfRmilSend();
  if (rc == kRcOk) rc = readAgentAnswer(c, context);
  return rc;
}

QlmRc agent(const AgentCall &c, const char *context) {
  return cfTraced(c.module, c.function, [&] {
    int rc = cfBeginRequest(context, context);
    return rc == kRcOk ? sendAgentCall(c, context) : rc;
  });
}

// Closes the address book and mailbox that are open for a project:
// 0 nothing closed, 1 address book, 2 mailbox, 3 both. A close that does not
// return 0 ends it at once with that close's result (the mailbox is then left
// open when the address book's close failed).
int cfCloseOpenedAgents(const char *project) {
  QLM_TRACE_ENTRY("cfagents", "cfCloseOpenedAgents");
  char adbkName[kNameWidth + 1], mboxName[kNameWidth + 1];
  for (char *n : {adbkName, mboxName}) {
    QlmResetMem(n, kNameWidth);
    n[kNameWidth] = 0;
    std::memcpy(n, project, kNameWidth);
  }
  ProjEntry e{};
  int rc = 0, closed = 0;
  if (cfGetProjEntry(project, &e) == 1) {
    if (handleSet(e.adbkHandle) && (rc = static_cast<int>(QlmCloseAdbk(adbkName))) == 0) closed += 1;
    if (rc == 0 && handleSet(e.mboxHandle) && (rc = static_cast<int>(QlmCloseMbox(mboxName))) == 0) closed += 2;
  }
  if (rc == 0) rc = closed;
  QLM_TRACE_EXIT("cfagents", "cfCloseOpenedAgents", rc);
  return rc;
}

constexpr int kOpenParm = 0, kOpenName = 8;

int readProjOpened(const char *context, char *result) {
  QLM_TRACE_ENTRY("cfppjop", "cfProcProjOpenedRsp");
  std::uint16_t code = 0;
  int rc = cfReceiveHeader(context, 251, &code);
  long type = 0;
  if (rc == kRcOk && code != 0) {
    rc = cfRmFailure(code);
  } else if (rc == kRcOk) {
    if (cfIsErrorSeg() && cfMoveToNextSeg() != 0) {
      rc = fail(kErrMalformed, kRcFailed);
    } else if (!cfMessage().segType(&type)) {
      ifc().cfReturnCode = 0;
    } else if (type != 9998) {
      rc = fail(kErrMalformed, kRcFailed);
    } else if (result != nullptr) {
      char value[rmil::kValueArea];
      std::uint16_t id = 0;
      std::int16_t len = 0;
      int got;
      while (std::memset(value, 0, sizeof value), (got = cfGetNextItem(&id, value, &len)) == 1) {
        if (id == 452)
          std::memcpy(result, value, len < rmil::kMaxCopy ? len : rmil::kMaxCopy);
        else if (id != rmil::kSegType)
          cfUnexpectedItem("cfppjop", __LINE__, id);
      }
      if (got != 0) rc = got;
    }
  }
  QLM_TRACE_EXIT("cfppjop", "cfProcProjOpenedRsp", rc);
  return rc;
}

}  // namespace
}  // namespace qlm

using namespace qlm;

extern "C" QLM_API QlmRc QlmOpenProj(char *openRecord, char *result) {
  return cfTraced("cfroppj", "QlmOpenProj", [&] {
    const char *context = openRecord ? openRecord + kOpenName : nullptr;
    int rc = cfBeginRequest(openRecord, context);
    if (rc == kRcOk) rc = cfWriteHeader(context, 250, "IRE", false);
    if (rc == kRcOk) rc = cfAddNameID(451);
    if (rc == kRcOk && !isBlank(context, kNameWidth)) cfAddItem(451, context, kNameWidth);
    if (rc == kRcOk && !isBlank(openRecord + kOpenParm, 8)) cfAddItem(450, openRecord + kOpenParm, 8);
    if (rc == kRcOk) rc = cfEndSegDlmt();
    if (rc == kRcOk) rc = cfRmilSend();
    if (rc == kRcOk) rc = readProjOpened(context, result);
    return rc;
  });
}

extern "C" QLM_API QlmRc QlmCloseProj(char *context) {
  return cfTraced(kCloseProj.module, kCloseProj.function, [&] {
    if (context == nullptr) return fail(kErrNullRecord, kRcRefused);
    if (!ifc().interfaceOpen) return fail(kErrNotOpen, kRcRefused);
    const int closed = cfCloseOpenedAgents(context);
    static constexpr int kWarnings[] = {0, kErrClosedWithAdbk, kErrClosedWithMbox, kErrClosedWithBoth};
    if (closed < 0 || closed > 3) return closed;
    if (closed != 0) ifc().cfReturnCode = kWarnings[closed];
    int rc = cfBeginRequest(context, nullptr);
    if (rc == kRcOk && isBlank(context, kNameWidth)) rc = fail(kErrBlankContext, kRcRefused);
    if (rc == kRcOk) rc = sendAgentCall(kCloseProj, context);
    return closed != 0 && rc == kRcOk ? kRcWarning : rc;
  });
}

extern "C" QLM_API QlmRc QlmOpenAdbk(char *context) { return agent(kOpenAdbk, context); }
extern "C" QLM_API QlmRc QlmCloseAdbk(char *context) { return agent(kCloseAdbk, context); }
extern "C" QLM_API QlmRc QlmOpenMbox(char *context) { return agent(kOpenMbox, context); }
extern "C" QLM_API QlmRc QlmCloseMbox(char *context) { return agent(kCloseMbox, context); }

extern "C" QLM_API QlmRc QlmOpenMsys(char *context) {
  return cfTraced(kOpenMsys.module, kOpenMsys.function, [&] {
    int rc = cfBeginRequest(context, nullptr);
    if (rc != kRcOk) return rc;
    cfSetReceiveTimeoutValue(-1);  // every receive waits without limit while a message system is open
    if (isBlank(context, kNameWidth)) return fail(kErrBlankContext, kRcRefused);
    return sendAgentCall(kOpenMsys, context);
  });
}

extern "C" QLM_API QlmRc QlmCloseMsys(char *context) {
  return cfTraced(kCloseMsys.module, kCloseMsys.function, [&] {
    int rc = cfBeginRequest(context, context);
    if (rc == kRcOk) rc = sendAgentCall(kCloseMsys, context);
    cfResetReceiveTimeoutValue();
    return rc;
  });
}
