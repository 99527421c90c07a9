// Send and receive orders: add, replace, delete and list. Every function is one
// pattern call with its family's tables. Add and replace send their items in the
// wire orders of the tables (a receive order's field714 last); replace reads its
// own request layout and answers in the order record's layout. The `reserved`
// areas never travel. The library requires no order name on add or replace.
#include "interface/exchange.h"
#include "interface/patterns.h"
#include "mailbox/families.h"
#include "qlmc32.h"

using namespace qlm;

extern "C" {

QLM_API QlmRc QlmAddSendOrdr(char *request, char *out) { QLM_TRACED("cfradsn", "QlmAddSendOrdr", cfAdd(kSendOrdrs, request, out)); }
QLM_API QlmRc QlmReplaceSendOrdr(char *request, char *out) { QLM_TRACED("cfrrpsn", "QlmReplaceSendOrdr", cfReplace(kSendOrdrs, request, out)); }
QLM_API QlmRc QlmDeleteSendOrdr(char *request) { QLM_TRACED("cfrdtsn", "QlmDeleteSendOrdr", cfDelete(kSendOrdrs, request)); }
QLM_API QlmRc QlmListSendOrdr(char *qualifier, uint16_t *count, char *array) {
  QLM_TRACED("cfrlssn", "QlmListSendOrdr", cfListRequest(kSendOrdrs, qualifier, count, array));
}

QLM_API QlmRc QlmAddRecvOrdr(char *request, char *out) { QLM_TRACED("cfradrv", "QlmAddRecvOrdr", cfAdd(kRecvOrdrs, request, out)); }
QLM_API QlmRc QlmReplaceRecvOrdr(char *request, char *out) { QLM_TRACED("cfrrprv", "QlmReplaceRecvOrdr", cfReplace(kRecvOrdrs, request, out)); }
QLM_API QlmRc QlmDeleteRecvOrdr(char *request) { QLM_TRACED("cfrdtrv", "QlmDeleteRecvOrdr", cfDelete(kRecvOrdrs, request)); }
QLM_API QlmRc QlmListRecvOrdr(char *qualifier, uint16_t *count, char *array) {
  QLM_TRACED("cfrlsrv", "QlmListRecvOrdr", cfListRequest(kRecvOrdrs, qualifier, count, array));
}

}  // extern "C"
