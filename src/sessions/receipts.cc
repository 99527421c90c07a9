// Session receipts: the record the Request Manager keeps in the mailbox for each
// session. They are added, deleted and listed like any family (mailbox requests),
// send and receive receipts are assigned to them, the receipts on one are listed as
// a mixed receipt list, and a session receipt is recovered in the open message
// system. Assigning refuses a blank session receipt name before anything else is
// written; listing the receipts on one sends its name in a data segment of type 274.
#include "interface/exchange.h"
#include "interface/patterns.h"
#include "mailbox/families.h"
#include "qlmc32.h"
#include "records/sessions.h"

using namespace qlm;

namespace {
// Session receipts are never replaced.
constexpr Family kSessRcpts{rec::kSessRcpt,
                            {"cfpsrad", "cfProcSessRcptAddedRsp"},
                            {},
                            {"cfpsrls", "cfProcSessRcptListedRsp"},
                            {"cflsrls", "cfProcSessRcptListedSegment"}};
constexpr RecordReader kSessRcptRecovered{{"cfpsrrc", "cfProcSessRcptRecoveredRsp"}, kOperationDone};
}  // namespace

extern "C" {

QLM_API QlmRc QlmAddSessRcpt(char *request, char *out) { QLM_TRACED("cfradsr", "QlmAddSessRcpt", cfAdd(kSessRcpts, request, out)); }
QLM_API QlmRc QlmDeleteSessRcpt(char *request) { QLM_TRACED("cfrdtsr", "QlmDeleteSessRcpt", cfDelete(kSessRcpts, request)); }
QLM_API QlmRc QlmListSessRcpt(char *qualifier, uint16_t *count, char *array) {
  QLM_TRACED("cfrlssr", "QlmListSessRcpt", cfListRequest(kSessRcpts, qualifier, count, array));
}
QLM_API QlmRc QlmRecoverSessRcpt(char *request, char *out) {
  QLM_TRACED("cfrrcsr", "QlmRecoverSessRcpt", cfOperation(rec::kRecoverSessRcpt, kSessRcptRecovered, request, out));
}
QLM_API QlmRc QlmAsgSendRcptToSessRcpt(char *record) {
  QLM_TRACED("cfrasrxs", "QlmAsgSendRcptToSessRcpt", cfAssignRequest(rec::kAsgSendRcptToSessRcpt, record));
}
QLM_API QlmRc QlmAsgRecvRcptToSessRcpt(char *record) {
  QLM_TRACED("cfrasrxr", "QlmAsgRecvRcptToSessRcpt", cfAssignRequest(rec::kAsgRecvRcptToSessRcpt, record));
}
QLM_API QlmRc QlmListRcptsOnSessRcpt(char *sessRcptName, char *qualifier, uint16_t *count, char *array) {
  QLM_TRACED("cfrlzsr", "QlmListRcptsOnSessRcpt",
             cfListRequest(rec::kListRcptsOnSessRcpt, nullptr, kAnyRcptsListed, sessRcptName, qualifier, count, array));
}

}  // extern "C"
