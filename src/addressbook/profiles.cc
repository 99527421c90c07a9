// Communication profiles (with the projects assigned to them) and network logons.
// Both are project requests: an open project is needed, no address book.
#include "addressbook/projects.h"
#include "interface/exchange.h"
#include "interface/patterns.h"
#include "qlmc32.h"
#include "records/addressbook.h"

using namespace qlm;

namespace {
constexpr Family kCommProfs{rec::kCommProf,
                            {"cfpcpad", "cfProcCommProfAddedRsp"},
                            {"cfpcprp", "cfProcCommProfReplacedRsp"},
                            {"cfpcpls", "cfProcCommProfListedRsp"},
                            {"cflcpls", "cfProcCommProfListedSegment"}};
constexpr Family kVnLogons{rec::kVnLogon,
                           {"cfpegad", "cfProcVnLogonAddedRsp"},
                           {"cfpegrp", "cfProcVnLogonReplacedRsp"},
                           {"cfpegls", "cfProcVnLogonListedRsp"},
                           {"cflegls", "cfProcVnLogonListedSegment"}};
// The project assignment record holds the project (the context) at bytes 20-39.
constexpr int kProjAssignContext = offsetof(QlmProjAssignReq, context);
// A missing profile name counts as a blank one.
constexpr char kBlankName[] = "                    ";
}  // namespace

extern "C" {

QLM_API QlmRc QlmAddCommProf(char *request, char *out) { QLM_TRACED("cfradcp", "QlmAddCommProf", cfAdd(kCommProfs, request, out)); }
QLM_API QlmRc QlmReplaceCommProf(char *request, char *out) { QLM_TRACED("cfrrpcp", "QlmReplaceCommProf", cfReplace(kCommProfs, request, out)); }
QLM_API QlmRc QlmDeleteCommProf(char *request) { QLM_TRACED("cfrdtcp", "QlmDeleteCommProf", cfDelete(kCommProfs, request)); }
QLM_API QlmRc QlmListCommProf(char *qualifier, uint16_t *count, char *array) {
  QLM_TRACED("cfrlscp", "QlmListCommProf", cfListRequest(kCommProfs, qualifier, count, array));
}
QLM_API QlmRc QlmAsgProjToCommProf(char *record) {
  QLM_TRACED("cfracppj", "QlmAsgProjToCommProf", cfAssignRequest(rec::kAsgProjToCommProf, record, kProjAssignContext));
}
QLM_API QlmRc QlmUsgProjFromCommProf(char *record) {
  QLM_TRACED("cfrucppj", "QlmUsgProjFromCommProf", cfAssignRequest(rec::kUsgProjFromCommProf, record, kProjAssignContext));
}
QLM_API QlmRc QlmListProjsOnCommProf(char *profname, char *paging, uint16_t *count, char *array) {
  QLM_TRACED("cfrlcppj", "QlmListProjsOnCommProf", cfListProjects(paging, profname ? profname : kBlankName, count, array));
}

QLM_API QlmRc QlmAddVnLogon(char *request, char *out) { QLM_TRACED("cfradeg", "QlmAddVnLogon", cfAdd(kVnLogons, request, out)); }
QLM_API QlmRc QlmReplaceVnLogon(char *request, char *out) { QLM_TRACED("cfrrpeg", "QlmReplaceVnLogon", cfReplace(kVnLogons, request, out)); }
QLM_API QlmRc QlmDeleteVnLogon(char *request) { QLM_TRACED("cfrdteg", "QlmDeleteVnLogon", cfDelete(kVnLogons, request)); }
QLM_API QlmRc QlmListVnLogon(char *qualifier, uint16_t *count, char *array) {
  QLM_TRACED("cfrlseg", "QlmListVnLogon", cfListRequest(kVnLogons, qualifier, count, array));
}

}  // extern "C"
