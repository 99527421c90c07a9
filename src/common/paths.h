// Installation paths. The root comes from the registry value "RootDir" of the
// product key (registry stand-in: $QLM_ROOTDIR, then the first line of
// /etc/quillmar/6.1/RootDir), is normalised, and gives the bin and shared
// directories. The separator is "/"; POSIX has no drive letters, so nothing is
// put in front of a value without a colon and there is no GetCurrentDriveLetter.
//
// Normalisation (GetRootDir): leading blanks are skipped; more than 39 characters
// left gives 226; a colon anywhere but as the second character gives 227; trailing
// blanks are removed; with the flag a final "/" is added unless present, without it
// a final "/" is removed ("/" itself stays "/"). An empty or all-blank value names
// no root and counts as unreadable (278). On any failure the output is "".
// These functions write no trace lines: the trace file's own place depends on them.
#pragma once
#include <cstddef>

namespace qlm {

inline constexpr int kPathOk = 0;
inline constexpr int kPathNoRegistryValue = 278;  // value cannot be read
inline constexpr int kPathTooLong = 226;          // more than 39 characters after leading blanks
inline constexpr int kPathBadColon = 227;         // a colon that is not the second character
inline constexpr int kPathNoOutput = 31002;       // no output area given

// Output areas must hold at least kPathMax bytes.
inline constexpr std::size_t kPathMax = 64;

// The raw "RootDir" value into out (size bytes); 0 when read, else the registry's code.
int ReadRootDirValue(char *out, std::size_t size);
int GetRootDir(char *out, int withSeparator);
int GetBinDir(char *out, int withSeparator);
int GetSharedDir(char *out, int withSeparator);
int GetErrorTextFileName(char *out, int userFile);

}  // namespace qlm
