// The basic Windows types shared by the platform stand-ins.
#pragma once
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else

typedef void *HKEY;
typedef long LONG;
typedef unsigned long REGSAM;
typedef std::uint32_t DWORD;
typedef unsigned char BYTE;
#endif
