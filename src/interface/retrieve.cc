// QlmRetrieveErrText: asks the Request Manager for the texts of an error number.
// The request and text records are those of the record tables (records/common.h);
// bytes of the text record that the reader does not write keep their contents.
#include <cstring>

#include "common/trace.h"
#include "interface/buffer.h"
#include "interface/errors.h"
#include "interface/exchange.h"
#include "interface/patterns.h"
#include "interface/state.h"
#include "qlmc32.h"
#include "records/common.h"

namespace qlm {

namespace {
constexpr const char *kModReq = "cfrrtet";
constexpr const char *kModRsp = "cfpetrt";
constexpr const rec::Send &kSend = rec::kRetrieveErrTextSend;

int build(const char *req, const char *out) {
  if (int rc = cfBeginRequest(req, req); rc != kRcOk) return rc;
  if (int rc = cfWriteHeader(req, static_cast<std::int16_t>(kSend.request), "IFRE", out != nullptr); rc != kRcOk)
    return rc;
  return cfAddDataSegment(kSend, req);
}

// The answer: with a text record asked for, a segment of the text type (or an error
// segment) must follow the header; without one, none may.
int readAnswer(const char *req, char *out) {
  std::uint16_t code = 0;
  if (int rc = cfReceiveHeader(req, rec::responseTo(kSend.request), &code); rc != kRcOk) return rc;
  if (code != 0) return cfRmFailure(code);
  long type = 0;
  const bool hasRecord = cfMessage().segType(&type);
  if (out == nullptr) return hasRecord ? fail(kErrMalformed, kRcFailed) : kRcOk;
  if (!hasRecord || (type != wire::kErrorSegType && type != rec::kRetrievedErrTextType))
    return fail(kErrMalformed, kRcFailed);
  cfCopyErrorTexts(out, rec::kRetrievedErrTextFields);
  return kRcOk;
}

int retrieve(char *request, char *textRecord) {
  if (int rc = build(request, textRecord); rc != kRcOk) return rc;
  if (int rc = cfRmilSend(); rc != kRcOk) return rc;
  TraceScope trace(kModRsp, "cfProcErrTextRetrievedRsp");
  return trace.result(readAnswer(request, textRecord));
}
}  // namespace

}  // namespace qlm

extern "C" QLM_API QlmRc QlmRetrieveErrText(char *request, char *textRecord) {
  QLM_TRACED(qlm::kModReq, "QlmRetrieveErrText", qlm::retrieve(request, textRecord));
}
