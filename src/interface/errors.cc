#include "interface/errors.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/paths.h"
#include "common/trace.h"
#include "interface/buffer.h"
#include "interface/state.h"
#include "qlmc32.h"
#include "records/common.h"

namespace qlm {

namespace {
constexpr const char *kModFile = "cferrfil";
constexpr const char *kModError = "cferror";

QlmErrText g_text;  // the record QlmErrorExplanation hands out

template <std::size_t N>
void put(char (&field)[N], const char *text) {
  std::memcpy(field, text, strnlen(text, N));
}

void builtInNotOpen() {
  put(g_text.errornumber, "20120");
  put(g_text.errormessage, "The C-Language Interface is not open");
  put(g_text.errorexplanation,
      "The C-Language Interface has not been opened yet. The C-Language Interface must be "
      "opened via a call to the QlmOpenCInterface function before any other requests can be processed.");
  put(g_text.errorresponse,
      "This may have occured because another Quillmar application is currently in use.  Close all "
      "other Quillmar applications then issue a function call to QlmOpenCInterface and try the request again.");
}

void builtInNoFile() {
  char text[sizeof g_text.errorexplanation];
  std::snprintf(text, sizeof text, "Failed to open the file %s containing error strings.", ifc().errorFileName);
  put(g_text.errornumber, "28000");
  put(g_text.errormessage, "Failed to obtain error description.");
  put(g_text.errorexplanation, text);
  put(g_text.errorresponse, "Ensure that this file exists and is readalbe.");
}

// One text field being assembled from several pieces.
struct Part {
  char *field;
  int width, used = 0, total = 0;
  // Appends a piece; false when the running total of text would pass the width.
  bool append(const char *text, int len) {
    total += len;
    if (total > width) return false;
    const int n = std::min(len, width - used);
    std::memcpy(field + used, text, n);
    used += n;
    if (used < width - 1) field[used++] = ' ';
    return true;
  }
};
template <std::size_t N>
Part partOf(char (&field)[N]) {
  return Part{field, static_cast<int>(N)};
}

void unexpected(const char *mod, int line) { TraceLine("", mod, line, "Unexpected Error"); }

int readFile(std::FILE *f, int wanted) {
  Part msg = partOf(g_text.errormessage), expl = partOf(g_text.errorexplanation), resp = partOf(g_text.errorresponse);
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
    if (!inNumber) std::memcpy(g_text.errornumber, line, sizeof g_text.errornumber);
    inNumber = true;
    const char *blank = std::strchr(line, ' ');
    const int lineLen = static_cast<int>(std::strlen(line));
    if (!blank || lineLen < 7) {
      if (TraceOn()) unexpected(kModFile, __LINE__);
      return kRcWarning;
    }
    const char *text = blank + 1;
    const int len = std::max(0, static_cast<int>(line + lineLen - 1 - text));
    bool ok = false;
    switch (line[6]) {
      case 'M': ok = msg.append(text, len); break;
      case 'E': ok = expl.append(text, len); break;
      case 'R': ok = resp.append(text, len); break;
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

char *errorTextRecord() { return reinterpret_cast<char *>(&g_text); }

int cfGetErrorText() {
  QLM_TRACE_ENTRY(kModFile, "cfGetErrorText");
  std::memset(&g_text, 0, sizeof g_text);
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
  TraceScope trace(kModError, "cfGetRMILErrorText");
  std::memset(&g_text, 0, sizeof g_text);
  char value[rmil::kValueArea] = {};
  std::int16_t len = 0;
  if (cfGetItem(wire::kErrorNumber, value, &len) != 1 || len == 0) {
    ifc().rmilReturnCode = 0;
  } else {
    std::memcpy(g_text.errornumber, value, std::min<std::size_t>(len, sizeof g_text.errornumber));
    ifc().rmilReturnCode = std::atoi(value);
    cfCopyErrorTexts(reinterpret_cast<char *>(&g_text), std::span(rec::kErrTextFields).subspan(1));
  }
  ifc().cfReturnCode = 0;
  return 0;
}

void cfCopyErrorTexts(char *record, std::span<const rec::Field> fields) {
  for (const rec::Field &f : fields) {
    char *out = record + f.offset;
    if (f.nameId == wire::kExplanation || f.nameId == wire::kResponse) {
      int used = 0;
      for (std::uint16_t id = f.nameId; id < f.nameId + wire::kTextPieces; ++id) {
        char value[rmil::kValueArea] = {};
        std::int16_t len = 0;
        if (cfGetItem(id, value, &len) != 1) break;
        const int n = std::min<int>(len, wire::kMaxValue);
        if (used + n > f.width) break;
        std::memcpy(out + used, value, n);
        used += n;
      }
    } else {
      char value[rmil::kValueArea] = {};
      std::int16_t len = 0;
      if (cfGetItem(f.nameId, value, &len) == 1 && len <= f.width)
        std::memcpy(out, value, std::min<int>(len, wire::kMaxValue));
    }
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
  if (result != 0 && errText != nullptr) std::memcpy(errText, errorTextRecord(), sizeof(QlmErrText));
  QLM_TRACE_EXIT(kMod, "QlmErrorExplanation", result);
  return static_cast<QlmRc>(result);
}
