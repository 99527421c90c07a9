// QlmRetrieveErrText: asks the Request Manager for the texts of an error number.
//
// Request record: context name (20), errornumber (5, item 40), errorkey (20, item 2652).
// Text record: errornumber (5), errormessage (100), errorexplanation (950),
// errorresponse (950), and from byte 2005 the value of item 2657. Bytes the reader
// does not write keep their contents.
#include <cstddef>
#include <cstring>

#include "common/trace.h"
#include "interface/errors.h"
#include "interface/exchange.h"
#include "interface/state.h"
#include "qlmc32.h"
#include "rmil/cfrmil.h"
#include "rmil/header.h"

namespace qlm {

namespace {
constexpr const char *kModReq = "cfrrtet";
constexpr const char *kModRsp = "cfpetrt";
constexpr std::int16_t kRequest = 590;
constexpr std::uint16_t kResponse = 591;

int build(const char *req, const char *out) {
  int rc = cfBeginRequest(req, req);
  if (rc == kRcOk) rc = cfAddRequestIDandHandle(req, kRequest);
  if (rc == kRcOk) rc = cfAddRetField(out ? kWantRecord : kNoRecord);
  if (rc == kRcOk) rc = cfAddReqRef(ifc().requestRef);
  if (rc == kRcOk) rc = cfEndSegDlmt();
  if (rc == kRcOk) rc = cfAddNameID(2652);
  const auto *r = reinterpret_cast<const QlmErrTextReq *>(req);
  if (rc == kRcOk && !isBlank(r->errornumber, sizeof r->errornumber)) cfAddItem(40, r->errornumber, sizeof r->errornumber);
  if (rc == kRcOk && !isBlank(r->errorkey, sizeof r->errorkey)) cfAddItem(2652, r->errorkey, sizeof r->errorkey);
  if (rc == kRcOk) rc = cfEndSegDlmt();
  return rc;
}

int cfProcErrTextRetrievedRsp(const char *req, char *out) {
  QLM_TRACE_ENTRY(kModRsp, "cfProcErrTextRetrievedRsp");
  std::uint16_t code = 0;
  int rc = cfReceiveHeader(req, kResponse, &code);
  if (rc == kRcOk && code != 0) {
    rc = cfRmFailure(code);
  } else if (rc == kRcOk) {
    long type = 0;
    const bool hasRecord = cfMessage().segType(&type);
    if (out == nullptr) {
      if (hasRecord) rc = fail(kErrMalformed, kRcFailed);
    } else if (!hasRecord || (type != 40 && type != 2651)) {
      rc = fail(kErrMalformed, kRcFailed);
    } else {
      auto *t = reinterpret_cast<QlmRetrievedErrText *>(out);
      cfCopyErrorItem(t->errormessage, 41, sizeof t->errormessage);
      cfAppendErrorPieces(t->errorexplanation, 51, sizeof t->errorexplanation);
      cfAppendErrorPieces(t->errorresponse, 61, sizeof t->errorresponse);
      cfCopyErrorItem(t->errornumber, 40, sizeof t->errornumber);
      cfCopyErrorItem(t->field2657, 2657, sizeof t->field2657);
    }
  }
  QLM_TRACE_EXIT(kModRsp, "cfProcErrTextRetrievedRsp", rc);
  return rc;
}
}  // namespace

}  // namespace qlm

extern "C" QLM_API QlmRc QlmRetrieveErrText(char *request, char *textRecord) {
  using namespace qlm;
  QLM_TRACE_ENTRY(kModReq, "QlmRetrieveErrText");
  int rc = build(request, textRecord);
  if (rc == kRcOk) rc = cfRmilSend();
  if (rc == kRcOk) rc = cfProcErrTextRetrievedRsp(request, textRecord);
  QLM_TRACE_EXIT(kModReq, "QlmRetrieveErrText", rc);
  return static_cast<QlmRc>(rc);
}
