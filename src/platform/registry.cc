// Registry stand-in: the product key and its "RootDir" value (see registry.h).
#include "platform/registry.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The product key path, one node per level; node i lies below node i - 1
// (node 0 below HKEY_LOCAL_MACHINE).
struct KeyNode {
  const char *name;
};
constexpr KeyNode kPath[] = {{"Software"}, {"Ostrane"}, {"Quillmar"}, {"6.1"}};
constexpr int kLevels = sizeof kPath / sizeof kPath[0];

constexpr const char kValueName[] = "RootDir";
constexpr const char kDefaultFile[] = "/etc/quillmar/6.1/RootDir";

// Position of a key on the path: -1 for HKEY_LOCAL_MACHINE, 0..kLevels-1 for an
// opened level, -2 for anything else.
int Level(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return -1;
  for (int i = 0; i < kLevels; ++i)
    if (key == static_cast<const void *>(&kPath[i])) return i;
  return -2;
}

const char *NonEmptyEnv(const char *name) {
  const char *v = std::getenv(name);
  return (v != nullptr && *v != '\0') ? v : nullptr;
}

// The "RootDir" value into `area`; false when there is none.
bool RootDirValue(char *area, std::size_t size) {
  if (const char *env = NonEmptyEnv("QLM_ROOTDIR")) {
    std::snprintf(area, size, "%s", env);
    return std::strlen(env) < size;
  }
  const char *file = NonEmptyEnv("QLM_REGISTRY_FILE");
  std::FILE *f = std::fopen(file != nullptr ? file : kDefaultFile, "r");
  if (f == nullptr) return false;
  bool got = std::fgets(area, static_cast<int>(size), f) != nullptr;
  std::fclose(f);
  if (!got) return false;
  area[std::strcspn(area, "\r\n")] = '\0';
  return true;
}

}  // namespace

LONG RegOpenKeyExA(HKEY key, const char *subKey, DWORD, REGSAM, HKEY *out) {
  if (out == nullptr) return ERROR_INVALID_PARAMETER;
  *out = nullptr;
  int level = Level(key);
  if (level == -2) return ERROR_INVALID_HANDLE;
  int next = level + 1;
  if (subKey == nullptr || next >= kLevels || strcasecmp(subKey, kPath[next].name) != 0)
    return ERROR_FILE_NOT_FOUND;
  *out = const_cast<KeyNode *>(&kPath[next]);
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char *name, DWORD *, DWORD *type, BYTE *data,
                      DWORD *cbData) {
  int level = Level(key);
  if (level == -2) return ERROR_INVALID_HANDLE;
  if (level != kLevels - 1 || name == nullptr || strcasecmp(name, kValueName) != 0)
    return ERROR_FILE_NOT_FOUND;
  if (data != nullptr && cbData == nullptr) return ERROR_INVALID_PARAMETER;
  char value[1024];
  if (!RootDirValue(value, sizeof value)) return ERROR_FILE_NOT_FOUND;
  DWORD needed = static_cast<DWORD>(std::strlen(value) + 1);
  if (type != nullptr) *type = REG_SZ;
  if (data == nullptr) {
    if (cbData != nullptr) *cbData = needed;
    return ERROR_SUCCESS;
  }
  DWORD room = *cbData;
  *cbData = needed;
  if (room < needed) return ERROR_MORE_DATA;
  std::memcpy(data, value, needed);
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  return Level(key) == -2 ? ERROR_INVALID_HANDLE : ERROR_SUCCESS;
}
