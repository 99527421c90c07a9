// Registry stand-in: the three registry calls the library makes, with the names,
// types and results they have on Windows, answering for the one key and value the
// product uses.
//
// The key path below HKEY_LOCAL_MACHINE is "Software", "Ostrane", "Quillmar", "6.1";
// each RegOpenKeyExA call opens exactly one level below the key it is given (names
// compare without regard to case). Any other name, or a path of several levels in
// one call, gives ERROR_FILE_NOT_FOUND. The key "6.1" holds one string value,
// "RootDir" (REG_SZ), the installation root:
//   1. $QLM_ROOTDIR when set and not empty;
//   2. else the first line of the file /etc/quillmar/6.1/RootDir, its line end
//      ("\n" or "\r\n") removed; the first 1023 characters at most. The variable
//      QLM_REGISTRY_FILE, when set and not empty, names another file to read
//      instead (an aid for tests and for installations without root access);
//   3. neither: ERROR_FILE_NOT_FOUND.
// The value is read afresh at every query. Opened keys need no closing, but
// RegCloseKey accepts them.
#pragma once
#include <cstdint>

#include "platform/win_types.h"

#ifndef HKEY_LOCAL_MACHINE
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u)))
#endif
#ifndef KEY_READ
#define KEY_READ 0x20019UL
#endif
#ifndef ERROR_SUCCESS
#define ERROR_SUCCESS 0L
#endif
#ifndef ERROR_FILE_NOT_FOUND
#define ERROR_FILE_NOT_FOUND 2L
#endif
#ifndef ERROR_INVALID_HANDLE
#define ERROR_INVALID_HANDLE 6L
#endif
#ifndef ERROR_INVALID_PARAMETER
#define ERROR_INVALID_PARAMETER 87L
#endif
#ifndef ERROR_MORE_DATA
#define ERROR_MORE_DATA 234L
#endif
#ifndef REG_SZ
#define REG_SZ 1UL
#endif

#ifndef _WIN32  // Windows: the real registry of <windows.h>
// Opens the key `subKey` directly below `key`; *out is the new key, or null on failure.
LONG RegOpenKeyExA(HKEY key, const char *subKey, DWORD options, REGSAM access, HKEY *out);
// Reads value `name` of `key`. *cbData: in the size of `data`, out the bytes of the
// value including its terminating NUL. A null `data` only reports the size; an area
// too small gives ERROR_MORE_DATA and nothing copied. `reserved` is not used.
LONG RegQueryValueExA(HKEY key, const char *name, DWORD *reserved, DWORD *type, BYTE *data,
                      DWORD *cbData);
LONG RegCloseKey(HKEY key);
#endif
