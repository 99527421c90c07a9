// QlmRetrieveErrText: asks the Request Manager for the texts of an error number.
//
// Request record: context name (20), errornumber (5, item 40), errorkey (20, item 2652).
// Text record: errornumber (5), errormessage (100), errorexplanation (950),
// errorresponse (950), and from byte 2005 the value of item 2657. Bytes the reader
// does not write keep their contents.
#include <cstddef>
#include <cstring>

#include "common/trace.h"
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
  if (rc == kRcOk && !isBlank(req + 20, 5)) cfAddItem(40, req + 20, 5);
  if (rc == kRcOk && !isBlank(req + 25, 20)) cfAddItem(2652, req + 25, 20);
  if (rc == kRcOk) rc = cfEndSegDlmt();
  return rc;
}

// Copies item `id` (when present and not longer than `width`) to out + offset.
void copyItem(char *out, std::uint16_t id, int offset, int width) {
  char value[rmil::kValueArea] = {};
  std::int16_t len = 0;
  if (cfGetItem(id, value, &len) == 1 && len <= width) std::memcpy(out + offset, value, len < rmil::kMaxCopy ? len : rmil::kMaxCopy);
}

// Appends items first..first+3, while present, up to `width` bytes in all.
void appendItems(char *out, std::uint16_t first, int offset, int width) {
  int used = 0;
  for (std::uint16_t id = first; id < first + 4; ++id) {
    char value[rmil::kValueArea] = {};
    std::int16_t len = 0;
    if (cfGetItem(id, value, &len) != 1) break;
    const int n = len < rmil::kMaxCopy ? len : rmil::kMaxCopy;
    if (used + n > width) break;
    std::memcpy(out + offset + used, value, n);
    used += n;
  }
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
      copyItem(out, 41, 5, 100);
      appendItems(out, 51, 105, 950);
      appendItems(out, 61, 1055, 950);
      copyItem(out, 40, 0, 5);
      copyItem(out, 2657, offsetof(QlmRetrievedErrText, field2657), sizeof(QlmRetrievedErrText::field2657));
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
