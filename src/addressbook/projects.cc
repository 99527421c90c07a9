// Projects: add, replace, delete and list. A project's name is the context name
// of its own requests; adding a project opens it, deleting it closes it.
#include <cstring>

#include "interface/context_table.h"
#include "interface/exchange.h"
#include "interface/patterns.h"
#include "addressbook/projects.h"
#include "interface/state.h"
#include "qlmc32.h"
#include "records/addressbook.h"
#include "rmil/cfrmil.h"
#include "rmil/header.h"

namespace qlm {
namespace {
constexpr Family kProjects{rec::kProj,
                           {"cfppjad", "cfProcProjAddedRsp"},
                           {"cfppjrp", "cfProcProjReplacedRsp"},
                           {"cfppjls", "cfProcProjListedRsp"},
                           {"cflpjls", "cfProcProjListedSegment"}};
}  // namespace

// The project list: a paging area (startentry, numentries) and no context.
// With a communication profile's name, the projects of that profile: its
// relation items then open the header, ahead of the request identifier.
int cfListProjects(const char *paging, const char *profname, std::uint16_t *count, char *array) {
  if (paging == nullptr) return fail(kErrNullRecord, kRcRefused);
  if (!ifc().interfaceOpen) return fail(kErrNotOpen, kRcRefused);
  cfRmilClear();
  int rc = kRcOk;
  if (profname != nullptr) {
    if (isBlank(profname, kNameWidth)) return fail(kErrBlankKey, kRcRefused);
    rc = cfAddRelParmAndValue(profname, rec::kListProjsOnCommProf.relation, kNameWidth);
  }
  ++ifc().requestRef;
  if (rc == kRcOk && count == nullptr) rc = fail(kErrNullRecord, kRcRefused);
  if (rc == kRcOk)
    rc = cfWriteHeader(nullptr, static_cast<std::int16_t>(kProjects.entity.list.request), "IRF", array != nullptr);
  if (rc == kRcOk) {
    char qualifier[lq::kSize];
    std::memset(qualifier, ' ', sizeof qualifier);
    std::memcpy(qualifier + lq::kStartEntry, paging, sizeof(QlmPaging));
    rc = cfAddRequestQualifier(qualifier);
  }
  if (rc == kRcOk) rc = cfEndSegDlmt();
  if (rc == kRcOk) rc = cfRmilSend();
  if (rc == kRcOk)
    rc = cfReadFamilyList(kProjects, nullptr, array, count, paging + offsetof(QlmPaging, numentries));
  return rc;
}

}  // namespace qlm

using namespace qlm;

extern "C" {
QLM_API QlmRc QlmAddProj(char *project, char *info) { QLM_TRACED("cfradpj", "QlmAddProj", cfAdd(kProjects, project, info)); }
QLM_API QlmRc QlmReplaceProj(char *project, char *info) { QLM_TRACED("cfrrppj", "QlmReplaceProj", cfReplace(kProjects, project, info)); }
QLM_API QlmRc QlmDeleteProj(char *project) { QLM_TRACED("cfrdtpj", "QlmDeleteProj", cfDelete(kProjects, project)); }
QLM_API QlmRc QlmListProj(char *paging, uint16_t *count, char *array) {
  QLM_TRACED("cfrlspj", "QlmListProj", cfListProjects(paging, nullptr, count, array));
}
}  // extern "C"
