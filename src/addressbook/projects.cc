// Projects: add, replace, delete and list. A project's name is the context name
// of its own requests; adding a project opens it, deleting it closes it.
#include <cstring>

#include "interface/exchange.h"
#include "interface/patterns.h"
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
// `relation` (a communication profile's name) lists the projects of that profile.
int cfListProjects(const char *paging, const char *relation, std::uint16_t *count, char *array) {
  int rc = cfBeginRequest(paging, nullptr);
  if (rc == kRcOk && count == nullptr) rc = fail(kErrNullRecord, kRcRefused);
  if (rc == kRcOk) rc = cfWriteHeader(nullptr, static_cast<std::int16_t>(kProjects.entity.list.request), "IRF", array != nullptr);
  if (rc == kRcOk) {
    char qualifier[lq::kSize];
    std::memset(qualifier, ' ', sizeof qualifier);
    std::memcpy(qualifier + lq::kStartEntry, paging, sizeof(QlmPaging));
    rc = cfAddRequestQualifier(qualifier);
  }
  (void)relation;
  if (rc == kRcOk) rc = cfEndSegDlmt();
  if (rc == kRcOk) rc = cfRmilSend();
  if (rc == kRcOk) rc = cfReadFamilyList(kProjects, nullptr, array, count, paging + offsetof(QlmPaging, numentries));
  return rc;
}

}  // namespace qlm

using namespace qlm;

extern "C" QLM_API QlmRc QlmAddProj(char *project, char *info) {
  return cfTraced("cfradpj", "QlmAddProj", [&] { return cfAdd(kProjects, project, info); });
}
extern "C" QLM_API QlmRc QlmReplaceProj(char *project, char *info) {
  return cfTraced("cfrrppj", "QlmReplaceProj", [&] { return cfReplace(kProjects, project, info); });
}
extern "C" QLM_API QlmRc QlmDeleteProj(char *project) {
  return cfTraced("cfrdtpj", "QlmDeleteProj", [&] { return cfDelete(kProjects, project); });
}
extern "C" QLM_API QlmRc QlmListProj(char *paging, std::uint16_t *count, char *array) {
  return cfTraced("cfrlspj", "QlmListProj", [&] { return cfListProjects(paging, nullptr, count, array); });
}
