// Drop boxes: add, replace, delete and list, the send and receive orders assigned
// to a drop box, and the list of those orders. Listing the orders of a drop box
// shares request 366 with listing drop boxes; relation 10001 and a data segment
// of type 652 holding the drop box's name tell it apart, and its reply is a mixed
// order list. Processing a drop box is a message system operation: its answer
// fills a session result record from name to status (its first 95 bytes).
#include "interface/exchange.h"
#include "interface/patterns.h"
#include "mailbox/families.h"
#include "qlmc32.h"
#include "records/sessions.h"

using namespace qlm;

namespace {
constexpr RecordReader kDropBoxProc{{"cfpprdr", "cfProcDropBoxProcRsp"}, kDropBoxProcessed};
}  // namespace

extern "C" {

QLM_API QlmRc QlmAddDropBox(char *request, char *out) { QLM_TRACED("cfraddr", "QlmAddDropBox", cfAdd(kDropBoxes, request, out)); }
QLM_API QlmRc QlmReplaceDropBox(char *request, char *out) { QLM_TRACED("cfrrpdr", "QlmReplaceDropBox", cfReplace(kDropBoxes, request, out)); }
QLM_API QlmRc QlmDeleteDropBox(char *request) { QLM_TRACED("cfrdtdr", "QlmDeleteDropBox", cfDelete(kDropBoxes, request)); }
QLM_API QlmRc QlmListDropBox(char *qualifier, uint16_t *count, char *array) {
  QLM_TRACED("cfrlsdr", "QlmListDropBox", cfListRequest(kDropBoxes, qualifier, count, array));
}
QLM_API QlmRc QlmAsgSendOrdrToDropBox(char *record) {
  QLM_TRACED("cfradrsn", "QlmAsgSendOrdrToDropBox", cfAssignRequest(rec::kAsgSendOrdrToDropBox, record));
}
QLM_API QlmRc QlmAsgRecvOrdrToDropBox(char *record) {
  QLM_TRACED("cfradrrv", "QlmAsgRecvOrdrToDropBox", cfAssignRequest(rec::kAsgRecvOrdrToDropBox, record));
}
QLM_API QlmRc QlmUsgSendOrdrFromDropBox(char *record) {
  QLM_TRACED("cfrudrsn", "QlmUsgSendOrdrFromDropBox", cfAssignRequest(rec::kUsgSendOrdrFromDropBox, record));
}
QLM_API QlmRc QlmUsgRecvOrdrFromDropBox(char *record) {
  QLM_TRACED("cfrudrrv", "QlmUsgRecvOrdrFromDropBox", cfAssignRequest(rec::kUsgRecvOrdrFromDropBox, record));
}
QLM_API QlmRc QlmListOrdrsOnDropBox(char *dropBoxName, char *qualifier, uint16_t *count, char *array) {
  QLM_TRACED("cfrlzdr", "QlmListOrdrsOnDropBox",
             cfListRequest(rec::kListOrdrsOnDropBox, nullptr, kAnyOrdrsListed, dropBoxName, qualifier, count, array));
}
QLM_API QlmRc QlmProcDropBox(char *request, char *out) {
  QLM_TRACED("cfrprdr", "QlmProcDropBox", cfOperation(rec::kProcDropBox, kDropBoxProc, request, out));
}

}  // extern "C"
