// Record tools: blank a record, put text into a field, size order and receipt entries.
// They need no open interface and never talk to the Request Manager.
#include <cstring>

#include "common/trace.h"
#include "qlmc32.h"

namespace {
constexpr const char *kMod = "cftools";
}

extern "C" QLM_API void QlmResetMem(char *area, int width) {
  QLM_TRACE_ENTRY(kMod, "QlmResetMem");
  if (area != nullptr && width > 0) std::memset(area, ' ', width);
  QLM_TRACE_EXIT(kMod, "QlmResetMem", 0);
}

extern "C" QLM_API void QlmAddField(char *field, const char *text) {
  QLM_TRACE_ENTRY(kMod, "QlmAddField");
  if (field != nullptr && text != nullptr) std::memcpy(field, text, std::strlen(text));
  QLM_TRACE_EXIT(kMod, "QlmAddField", 0);
}

extern "C" QLM_API void QlmReplaceField(char *field, int width, const char *value) {
  QLM_TRACE_ENTRY(kMod, "QlmReplaceField");
  if (field != nullptr && width > 0) {
    int len = 0;
    if (value != nullptr)
      while (len < width && value[len] != '\0') ++len;
    while (len > 0 && value[len - 1] == ' ') --len;
    std::memset(field, ' ', width);
    if (len) std::memcpy(field, value, len);
  }
  QLM_TRACE_EXIT(kMod, "QlmReplaceField", 0);
}

namespace {
QlmRc sizeByType(const char *fn, char type, QlmRc sizeS, QlmRc sizeR) {
  QLM_TRACE_ENTRY(kMod, fn);
  const QlmRc size = type == 'S' ? sizeS : type == 'R' ? sizeR : 0xFFFFFFFFu;
  QLM_TRACE_EXIT(kMod, fn, size);
  return size;
}
}  // namespace

extern "C" QLM_API QlmRc QlmSizeOfOrdr(char type) {
  return sizeByType("QlmSizeOfOrdr", type, sizeof(QlmSendOrdrEntry), sizeof(QlmRecvOrdrEntry));
}
extern "C" QLM_API QlmRc QlmSizeOfRcpt(char type) {
  return sizeByType("QlmSizeOfRcpt", type, sizeof(QlmSendRcptEntry), sizeof(QlmRecvRcptEntry));
}
