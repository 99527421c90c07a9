#include "interface/errors.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/paths.h"
#include "common/trace.h"
#include "interface/state.h"
#include "qlmc32.h"
#include "rmil/cfrmil.h"

namespace qlm {

namespace {
constexpr const char *kModFile = "cferrfil";
constexpr const char *kModError = "cferror";

char g_record[kErrTextSize];

void put(int offset, int width, const char *text) {
  std::memcpy(g_record + offset, text, strnlen(text, width));
}

void builtInNotOpen() {
  put(errtext::kNumber, errtext::kNumberW, "20120");
  put(errtext::kMessage, errtext::kMessageW, "The C-Language Interface is not open");
  put(errtext::kExplanation, errtext::kExplanationW,
      "The C-Language Interface has not been opened yet. The C-Language Interface must be "
      "opened via a call to the QlmOpenCInterface function before any other requests can be processed.");
  put(errtext::kResponse, errtext::kResponseW,
      "This may have occured because another Quillmar application is currently in use.  Close all "
      "other Quillmar applications then issue a function call to QlmOpenCInterface and try the request again.");
}

void builtInNoFile() {
  char text[errtext::kExplanationW];
  std::snprintf(text, sizeof text, "Failed to open the file %s containing error strings.", ifc().errorFileName);
  put(errtext::kNumber, errtext::kNumberW, "28000");
  put(errtext::kMessage, errtext::kMessageW, "Failed to obtain error description.");
  put(errtext::kExplanation, errtext::kExplanationW, text);
  put(errtext::kResponse, errtext::kResponseW, "Ensure that this file exists and is readalbe.");
}

// One text field being assembled from several pieces.
struct Part {
  int offset, width, used = 0, total = 0;
  // Appends a piece; false when the running total of text would pass `limit`.
  bool append(const char *text, int len, int limit, bool separator) {
    total += len;
    if (total > limit) return false;
    int room = width - used;
    int n = len < room ? len : room;
    std::memcpy(g_record + offset + used, text, n);
    used += n;
    if (separator && used < width - 1) g_record[offset + used++] = ' ';
    return true;
  }
};

void unexpected(const char *mod, int line) { TraceLine("", mod, line, "Unexpected Error"); }

int readFile(std::FILE *f, int wanted) {
  Part msg{errtext::kMessage, errtext::kMessageW}, expl{errtext::kExplanation, errtext::kExplanationW},
      resp{errtext::kResponse, errtext::kResponseW};
  char line[256];
  bool inNumber = false;
  while (std::fgets(line, sizeof line, f)) {
    char digits[6] = {};
    std::memcpy(digits, line, 5);
    const int number = std::atoi(digits);
    if (!inNumber && number < wanted) continue;
    if (number != wanted) {
      if (inNumber) return wanted;
      if (TraceOn()) unexpected(kModFile, __LINE__);
      return kRcWarning;
    }
    if (!inNumber) std::memcpy(g_record + errtext::kNumber, line, errtext::kNumberW);
    inNumber = true;
    const char *blank = std::strchr(line, ' ');
    const int lineLen = static_cast<int>(std::strlen(line));
    if (!blank || lineLen < 7) {
      if (TraceOn()) unexpected(kModFile, __LINE__);
      return kRcWarning;
    }
    const char *text = blank + 1;
    const int len = static_cast<int>(line + lineLen - 1 - text);
    bool ok = false;
    switch (line[6]) {
      case 'M': ok = msg.append(text, len < 0 ? 0 : len, errtext::kMessageW, true); break;
      case 'E': ok = expl.append(text, len < 0 ? 0 : len, errtext::kExplanationW, true); break;
      case 'R': ok = resp.append(text, len < 0 ? 0 : len, errtext::kResponseW, true); break;
      default: break;
    }
    if (!ok) {
      if (TraceOn()) unexpected(kModFile, __LINE__);
      return kRcWarning;
    }
  }
  return inNumber ? wanted : 0;
}
}  // namespace

char *errorTextRecord() { return g_record; }

int cfGetErrorText() {
  QLM_TRACE_ENTRY(kModFile, "cfGetErrorText");
  std::memset(g_record, 0, sizeof g_record);
  int result;
  if (!ifc().interfaceOpen) {
    builtInNotOpen();
    result = kErrNotOpen;
  } else if (std::FILE *f = std::fopen(ifc().errorFileName, "r")) {
    result = readFile(f, ifc().cfReturnCode);
    std::fclose(f);
  } else {
    builtInNoFile();
    result = kErrNoErrorFile;
  }
  ifc().cfReturnCode = 0;
  QLM_TRACE_EXIT(kModFile, "cfGetErrorText", result);
  return result;
}

int cfGetRMILErrorText() {
  QLM_TRACE_ENTRY(kModError, "cfGetRMILErrorText");
  std::memset(g_record, 0, sizeof g_record);
  char value[rmil::kValueArea] = {};
  std::int16_t len = 0;
  if (cfGetItem(rmil::kErrorNumber, value, &len) != 1 || len == 0) {
    ifc().rmilReturnCode = 0;
  } else {
    std::memcpy(g_record + errtext::kNumber, value, len < errtext::kNumberW ? len : errtext::kNumberW);
    ifc().rmilReturnCode = std::atoi(value);
    cfCopyErrorItem(g_record + errtext::kMessage, 41, errtext::kMessageW);
    cfAppendErrorPieces(g_record + errtext::kExplanation, 51, errtext::kExplanationW);
    cfAppendErrorPieces(g_record + errtext::kResponse, 61, errtext::kResponseW);
  }
  ifc().cfReturnCode = 0;
  QLM_TRACE_EXIT(kModError, "cfGetRMILErrorText", 0);
  return 0;
}

void cfCopyErrorItem(char *out, std::uint16_t id, int width) {
  char value[rmil::kValueArea] = {};
  std::int16_t len = 0;
  if (cfGetItem(id, value, &len) == 1 && len <= width) std::memcpy(out, value, len < rmil::kMaxCopy ? len : rmil::kMaxCopy);
}

void cfAppendErrorPieces(char *out, std::uint16_t first, int width) {
  int used = 0;
  for (std::uint16_t id = first; id < first + 4; ++id) {
    char value[rmil::kValueArea] = {};
    std::int16_t len = 0;
    if (cfGetItem(id, value, &len) != 1) break;
    const int n = len < rmil::kMaxCopy ? len : rmil::kMaxCopy;
    if (used + n > width) break;
    std::memcpy(out + used, value, n);
    used += n;
  }
}

int cfGetErrorFileName() {
  return GetErrorTextFileName(ifc().errorFileName, 0) == kPathOk ? 0 : 1;
}

}  // namespace qlm

extern "C" QLM_API QlmRc QlmErrorExplanation(char *errText) {
  using namespace qlm;
  constexpr const char *kMod = "cferror";
  QLM_TRACE_ENTRY(kMod, "QlmErrorExplanation");
  QLM_TRACE_INT(kMod, "cfReturnCode", ifc().cfReturnCode);
  QLM_TRACE_INT(kMod, "rmilReturnCode", ifc().rmilReturnCode);
  const int result = ifc().cfReturnCode != 0 ? cfGetErrorText() : ifc().rmilReturnCode;
  if (result != 0 && errText != nullptr) std::memcpy(errText, errorTextRecord(), kErrTextSize);
  QLM_TRACE_EXIT(kMod, "QlmErrorExplanation", result);
  return static_cast<QlmRc>(result);
}
