// Send and receive receipts: add and list, and the send receipts of one send
// order (the list request 412 with relation 1180 and the order's name, on the
// small list qualifier record). Receipts are never replaced or deleted one by
// one: the receipt shelf is deleted as a whole.
#include "interface/exchange.h"
#include "interface/patterns.h"
#include "mailbox/families.h"
#include "qlmc32.h"

using namespace qlm;

extern "C" {

QLM_API QlmRc QlmAddSendRcpt(char *request, char *out) { QLM_TRACED("cfradxs", "QlmAddSendRcpt", cfAdd(kSendRcpts, request, out)); }
QLM_API QlmRc QlmListSendRcpt(char *qualifier, uint16_t *count, char *array) {
  QLM_TRACED("cfrlsxs", "QlmListSendRcpt", cfListRequest(kSendRcpts, qualifier, count, array));
}
QLM_API QlmRc QlmListSendRcptsOnSendOrdr(char *orderName, char *qualifier, uint16_t *count, char *array) {
  QLM_TRACED("cfrlsnxs", "QlmListSendRcptsOnSendOrdr",
             cfListOnRequest(rec::kListSendRcptsOnSendOrdr, kSendRcpts, orderName, qualifier, count, array));
}

QLM_API QlmRc QlmAddRecvRcpt(char *request, char *out) { QLM_TRACED("cfradxr", "QlmAddRecvRcpt", cfAdd(kRecvRcpts, request, out)); }
QLM_API QlmRc QlmListRecvRcpt(char *qualifier, uint16_t *count, char *array) {
  QLM_TRACED("cfrlsxr", "QlmListRecvRcpt", cfListRequest(kRecvRcpts, qualifier, count, array));
}

}  // extern "C"
