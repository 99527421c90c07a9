// Configuration file reader (module csfinic).
#include "common/config.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

#include "common/memory.h"
#include "common/trace.h"

namespace qlm {
namespace {

constexpr const char kModule[] = "csfinic";
constexpr int kLineBuffer = 256;
constexpr int kPiece = 254;  // characters read per line (longer lines come in pieces)

// True when `text` of length `n` names `name` (case-insensitive, whole name).
bool NameIs(const char *text, std::size_t n, const char *name) {
  return std::strlen(name) == n && strncasecmp(text, name, n) == 0;
}

}  // namespace

bool IsSection(const char *line) {
  return line[0] == '[' && std::strchr(line + 1, ']') != nullptr;
}

bool IsRightSection(const char *line, const char *section) {
  if (!IsSection(line)) return false;
  const char *close = std::strchr(line + 1, ']');
  return NameIs(line + 1, static_cast<std::size_t>(close - (line + 1)), section);
}

bool IsRightLine(const char *line, const char *key) {
  const char *eq = std::strchr(line, '=');
  return eq != nullptr && NameIs(line, static_cast<std::size_t>(eq - line), key);
}

char *GetValue(char *line) {
  line[std::strcspn(line, "\n")] = '\0';
  const char *eq = std::strchr(line, '=');
  if (eq == nullptr) return nullptr;
  char *value = nullptr;
  std::size_t n = std::strlen(eq + 1);
  if (GetBuf(&value, n + 1) != 0) return nullptr;
  std::memcpy(value, eq + 1, n + 1);
  return value;
}

char *ReadINIFile(const char *path, const char *section, const char *key) {
  QLM_TRACE_ENTRY(kModule, "ReadINIFile");
  std::FILE *f = std::fopen(path, "r");
  if (f == nullptr) {
    QLM_TRACE_EXIT(kModule, "ReadINIFile", 1);
    return nullptr;
  }
  char *line = nullptr;
  if (GetBuf(&line, kLineBuffer) != 0) {
    QLM_TRACE(kModule, "GetBuf error!");
    std::fclose(f);
    QLM_TRACE_EXIT(kModule, "ReadINIFile", 1);
    return nullptr;
  }
  char *value = nullptr;
  bool inSection = false;
  while (value == nullptr && std::fgets(line, kPiece + 1, f) != nullptr) {
    if (inSection && IsRightLine(line, key))
      value = GetValue(line);
    else if (IsSection(line))
      inSection = IsRightSection(line, section);
  }
  std::fclose(f);
  FreeBuf(&line);
  QLM_TRACE_EXIT(kModule, "ReadINIFile", value != nullptr ? 0 : 1);
  return value;
}

}  // namespace qlm
