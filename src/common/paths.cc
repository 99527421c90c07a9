// Installation paths (module cscomonx).
#include "common/paths.h"

#include <cstring>

#include "platform/registry.h"

namespace qlm {
namespace {

constexpr std::size_t kValueArea = 260;  // the registry value is read into this much
constexpr std::size_t kMaxRoot = 39;     // characters of the value after leading blanks
constexpr char kSep = '/';

// root + "/" + sub, with a final "/" when asked.
int SubDir(char *out, int withSeparator, const char *sub) {
  int rc = GetRootDir(out, 1);
  if (rc != kPathOk) return rc;
  std::strcat(out, sub);
  if (withSeparator != 0) std::strcat(out, "/");
  return kPathOk;
}

}  // namespace

int ReadRootDirValue(char *out, std::size_t size) {
  static const char *const kKeyPath[] = {"Software", "Ostrane", "Quillmar", "6.1"};
  HKEY keys[4] = {};
  HKEY parent = HKEY_LOCAL_MACHINE;
  LONG rc = ERROR_SUCCESS;
  int opened = 0;
  for (const char *name : kKeyPath) {
    rc = RegOpenKeyExA(parent, name, 0, KEY_READ, &keys[opened]);
    if (rc != ERROR_SUCCESS) break;
    parent = keys[opened++];
  }
  if (rc == ERROR_SUCCESS) {
    DWORD type = 0;
    DWORD cb = static_cast<DWORD>(size);
    rc = RegQueryValueExA(parent, "RootDir", nullptr, &type, reinterpret_cast<BYTE *>(out), &cb);
    if (rc == ERROR_SUCCESS && size > 0) out[size - 1] = '\0';
  }
  while (opened > 0) RegCloseKey(keys[--opened]);
  return static_cast<int>(rc);
}

int GetRootDir(char *out, int withSeparator) {
  if (out == nullptr) return kPathNoOutput;
  out[0] = '\0';
  char value[kValueArea];
  if (ReadRootDirValue(value, sizeof value) != 0) return kPathNoRegistryValue;
  const char *v = value + std::strspn(value, " ");
  std::size_t len = std::strlen(v);
  if (len == 0) return kPathNoRegistryValue;  // an empty or all-blank value names no root
  if (len > kMaxRoot) return kPathTooLong;
  for (std::size_t i = 0; i < len; ++i)
    if (v[i] == ':' && i != 1) return kPathBadColon;
  std::memcpy(out, v, len + 1);
  while (len > 1 && out[len - 1] == ' ') out[--len] = '\0';
  if (withSeparator != 0) {
    if (out[len - 1] != kSep) {
      out[len++] = kSep;
      out[len] = '\0';
    }
  } else if (len > 1 && out[len - 1] == kSep) {
    out[--len] = '\0';
  }
  return kPathOk;
}

int GetBinDir(char *out, int withSeparator) { return SubDir(out, withSeparator, "bin"); }

int GetSharedDir(char *out, int withSeparator) { return SubDir(out, withSeparator, "shared"); }

int GetErrorTextFileName(char *out, int userFile) {
  int rc = GetSharedDir(out, 1);
  if (rc != kPathOk) return rc;
  std::strcat(out, userFile != 0 ? "uferrtxt.fil" : "errortxt.fil");
  return kPathOk;
}

}  // namespace qlm
