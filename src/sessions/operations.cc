// Sessions and the operations run in them: start and end a session, send and
// receive orders, query and purge what the network holds. All are message system
// operations: the named project's message system must be open, and each call waits
// for the network work to finish however long it takes. Start, end, send, receive
// and purge are record requests with their own result records; the query is a list
// request on the small list qualifier record, without a data segment.
#include "interface/exchange.h"
#include "interface/patterns.h"
#include "qlmc32.h"
#include "records/sessions.h"

using namespace qlm;

namespace {
constexpr RecordReader kSessStarted{{"cfpssst", "cfProcSessStartedRsp"}, kSessionStarted};
constexpr RecordReader kSessEnded{{"cfpssen", "cfProcSessEndedRsp"}, kOperationResult};
constexpr RecordReader kSendOrdrDone{{"cfpsndo", "cfProcSendOrdrDoneRsp"}, kOperationResult};
constexpr RecordReader kRecvOrdrDone{{"cfprvdo", "cfProcRecvOrdrDoneRsp"}, kOperationResult};
constexpr RecordReader kPurgOrdrDone{{"cfppgdo", "cfProcPurgOrdrDoneRsp"}, kOperationDone};

constexpr EntryKind kQuryOrdrKinds[] = {{rec::kQuryOrdrEntries, {"cflqydo", "cfProcQuryOrdrDoneSegment"}}};
constexpr ListReader kQuryOrdrDone{{"cfpqydo", "cfProcQuryOrdrDoneRsp"}, kQuryOrdrKinds, false};
}  // namespace

extern "C" {

QLM_API QlmRc QlmStartSess(char *request, char *out) {
  QLM_TRACED("cfrstss", "QlmStartSess", cfOperation(rec::kStartSess, kSessStarted, request, out));
}
QLM_API QlmRc QlmEndSess(char *request, char *out) {
  QLM_TRACED("cfrenss", "QlmEndSess", cfOperation(rec::kEndSess, kSessEnded, request, out));
}
QLM_API QlmRc QlmDoSendOrdr(char *request, char *out) {
  QLM_TRACED("cfrdosn", "QlmDoSendOrdr", cfOperation(rec::kDoSendOrdr, kSendOrdrDone, request, out));
}
QLM_API QlmRc QlmDoRecvOrdr(char *request, char *out) {
  QLM_TRACED("cfrdorv", "QlmDoRecvOrdr", cfOperation(rec::kDoRecvOrdr, kRecvOrdrDone, request, out));
}
QLM_API QlmRc QlmDoPurgOrdr(char *request, char *out) {
  QLM_TRACED("cfrdopg", "QlmDoPurgOrdr", cfOperation(rec::kDoPurgOrdr, kPurgOrdrDone, request, out));
}
QLM_API QlmRc QlmDoQuryOrdr(char *qualifier, uint16_t *count, char *array) {
  QLM_TRACED("cfrdoqy", "QlmDoQuryOrdr",
             cfListRequest(rec::kQuryOrdr, nullptr, kQuryOrdrDone, nullptr, qualifier, count, array));
}

}  // extern "C"
