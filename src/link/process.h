// The Request Manager process (module csiccpr): whether a program of the product
// runs, and starting one hidden.
#pragma once

namespace qlm::process {

inline constexpr int kStartFailed = -4;
inline constexpr int kStartTries = 10;  // while the start reports 16

// 1 while the program runs (its top-level window exists), else 0. Only the Request
// Manager and the session status program (wire/wire.h) are known; any other name gives 0 and four trace lines.
int IsRunning(const char *name);

// Starts `name` hidden with the command line directory ("/" added when the directory
// is not empty and does not end in one), name, and " " + args when args is given and
// not empty. 0 once the program reported ready; -4 when it could not be started.
int StartProcess(const char *name, const char *directory, const char *args);

}  // namespace qlm::process
