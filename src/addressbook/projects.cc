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
#include "interface/buffer.h"
#include "interface/header.h"

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
  if (profname != nullptr && isBlank(profname, kNameWidth)) return fail(kErrBlankKey, kRcRefused);
  const int related =
      profname != nullptr ? cfAddRelParmAndValue(profname, rec::kListProjsOnCommProf.relation, kNameWidth) : kRcOk;
  ++ifc().requestRef;
  if (related != kRcOk) return related;
  if (count == nullptr) return fail(kErrNullRecord, kRcRefused);
  const auto id = static_cast<std::int16_t>(kProjects.entity.list.request);
  if (int rc = cfWriteHeader(nullptr, id, "IRF", array != nullptr); rc != kRcOk) return rc;
  char qualifier[sizeof(QlmListQual)];  // the paging area in a blank list qualifier record
  std::memset(qualifier, ' ', sizeof qualifier);
  std::memcpy(qualifier + rec::kPagingAt, paging, sizeof(QlmPaging));
  if (int rc = cfAddRequestQualifier(qualifier); rc != kRcOk) return rc;
  if (int rc = cfEndSegDlmt(); rc != kRcOk) return rc;
  if (int rc = cfRmilSend(); rc != kRcOk) return rc;
  return cfReadFamilyList(kProjects, nullptr, array, count, cfNumEntries(paging, rec::kPagingFields));
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
