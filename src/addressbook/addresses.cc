// The address book: addresses, distribution lists and trading profiles, and the
// assignments between them. Every function is one pattern call with its tables.
#include "interface/exchange.h"
#include "interface/patterns.h"
#include "qlmc32.h"
#include "records/addressbook.h"

using namespace qlm;

namespace {
constexpr Family kAddresses{rec::kAddr,
                            {"cfparad", "cfProcAddrAddedRsp"},
                            {"cfparrp", "cfProcAddrReplacedRsp"},
                            {"cfparls", "cfProcAddrListedRsp"},
                            {"cflarls", "cfProcAddrListedSegment"}};
constexpr Family kDistLists{rec::kDistList,
                            {"cfpdlad", "cfProcDistListAddedRsp"},
                            {"cfpdlrp", "cfProcDistListReplacedRsp"},
                            {"cfpdlls", "cfProcDistListListedRsp"},
                            {"cfldlls", "cfProcDistListListedSegment"}};
constexpr Family kTradProfs{rec::kTradProf,
                            {"cfputad", "cfProcTradProfAddedRsp"},
                            {"cfputrp", "cfProcTradProfReplacedRsp"},
                            {"cfputls", "cfProcTradProfListedRsp"},
                            {"cflutls", "cfProcTradProfListedSegment"}};
}  // namespace

extern "C" {

QLM_API QlmRc QlmAddAddr(char *request, char *out) { QLM_TRACED("cfradar", "QlmAddAddr", cfAdd(kAddresses, request, out)); }
QLM_API QlmRc QlmReplaceAddr(char *request, char *out) { QLM_TRACED("cfrrpar", "QlmReplaceAddr", cfReplace(kAddresses, request, out)); }
QLM_API QlmRc QlmDeleteAddr(char *request) { QLM_TRACED("cfrdtar", "QlmDeleteAddr", cfDelete(kAddresses, request)); }
QLM_API QlmRc QlmListAddr(char *qualifier, uint16_t *count, char *array) {
  QLM_TRACED("cfrlsar", "QlmListAddr", cfListRequest(kAddresses, qualifier, count, array));
}

QLM_API QlmRc QlmAddDistList(char *request, char *out) { QLM_TRACED("cfraddl", "QlmAddDistList", cfAdd(kDistLists, request, out)); }
QLM_API QlmRc QlmReplaceDistList(char *request, char *out) { QLM_TRACED("cfrrpdl", "QlmReplaceDistList", cfReplace(kDistLists, request, out)); }
QLM_API QlmRc QlmDeleteDistList(char *request) { QLM_TRACED("cfrdtdl", "QlmDeleteDistList", cfDelete(kDistLists, request)); }
QLM_API QlmRc QlmListDistList(char *qualifier, uint16_t *count, char *array) {
  QLM_TRACED("cfrlsdl", "QlmListDistList", cfListRequest(kDistLists, qualifier, count, array));
}
QLM_API QlmRc QlmAsgAddrToDistList(char *record) {
  QLM_TRACED("cfradlad", "QlmAsgAddrToDistList", cfAssignRequest(rec::kAsgAddrToDistList, record));
}
QLM_API QlmRc QlmUsgAddrFromDistList(char *record) {
  QLM_TRACED("cfrudlad", "QlmUsgAddrFromDistList", cfAssignRequest(rec::kUsgAddrFromDistList, record));
}
QLM_API QlmRc QlmListAddrsOnDistList(char *name, char *qualifier, uint16_t *count, char *array) {
  QLM_TRACED("cfrldl", "QlmListAddrsOnDistList",
             cfListOnRequest(rec::kListAddrsOnDistList, kAddresses, name, qualifier, count, array));
}

QLM_API QlmRc QlmAddTradProf(char *request, char *out) { QLM_TRACED("cfradut", "QlmAddTradProf", cfAdd(kTradProfs, request, out)); }
QLM_API QlmRc QlmReplaceTradProf(char *request, char *out) { QLM_TRACED("cfrrput", "QlmReplaceTradProf", cfReplace(kTradProfs, request, out)); }
QLM_API QlmRc QlmDeleteTradProf(char *request) { QLM_TRACED("cfrdtut", "QlmDeleteTradProf", cfDelete(kTradProfs, request)); }
QLM_API QlmRc QlmListTradProf(char *qualifier, uint16_t *count, char *array) {
  QLM_TRACED("cfrlsut", "QlmListTradProf", cfListRequest(kTradProfs, qualifier, count, array));
}
QLM_API QlmRc QlmAsgAddrToTradProf(char *record) {
  QLM_TRACED("cfratpad", "QlmAsgAddrToTradProf", cfAssignRequest(rec::kAsgAddrToTradProf, record));
}
QLM_API QlmRc QlmAsgDistListToTradProf(char *record) {
  QLM_TRACED("cfratpdl", "QlmAsgDistListToTradProf", cfAssignRequest(rec::kAsgDistListToTradProf, record));
}
QLM_API QlmRc QlmUsgAddrFromTradProf(char *record) {
  QLM_TRACED("cfrutpad", "QlmUsgAddrFromTradProf", cfAssignRequest(rec::kUsgAddrFromTradProf, record));
}
QLM_API QlmRc QlmUsgDistListFromTradProf(char *record) {
  QLM_TRACED("cfrutpdl", "QlmUsgDistListFromTradProf", cfAssignRequest(rec::kUsgDistListFromTradProf, record));
}
QLM_API QlmRc QlmListAddrsOnTradProf(char *name, char *qualifier, uint16_t *count, char *array) {
  QLM_TRACED("cfrltp", "QlmListAddrsOnTradProf",
             cfListOnRequest(rec::kListAddrsOnTradProf, kAddresses, name, qualifier, count, array));
}
QLM_API QlmRc QlmListDistListsOnTradProf(char *name, char *qualifier, uint16_t *count, char *array) {
  QLM_TRACED("cfrltpdl", "QlmListDistListsOnTradProf",
             cfListOnRequest(rec::kListDistListsOnTradProf, kDistLists, name, qualifier, count, array));
}

}  // extern "C"
