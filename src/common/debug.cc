// QLM_DEBUG lines (debug.h).
#include "common/debug.h"

#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

#include "common/datahome.h"

namespace qlm {

bool DebugOn() {
  const char *v = std::getenv("QLM_DEBUG");
  return v != nullptr && *v != '\0' && *v != '0';
}

void DebugLine(const char *format, ...) {
  if (!DebugOn()) return;
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::fprintf(stderr, "qlmc32: %s\n", text);
}

void DebugServerLog(int seconds) {
  if (!DebugOn()) return;
  const std::string file = StateLogFile();
  struct stat st{};
  if (file.empty() || ::stat(file.c_str(), &st) != 0 || st.st_mtime + seconds < std::time(nullptr)) {
    DebugLine("the Request Manager's start-up failures are logged in %s and in <data home>/data/qlmrqmgr.log; "
              "run `qlm doctor` for a diagnosis",
              file.empty() ? "~/.local/state/quillmar/qlmrqmgr.log" : file.c_str());
    return;
  }
  std::ifstream in(file);
  std::string line, last;
  while (std::getline(in, line))
    if (!line.empty()) last = line;
  DebugLine("the Request Manager's log (%s): %s", file.c_str(), last.c_str());
}

}  // namespace qlm
