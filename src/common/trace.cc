// Trace facility (module cscomonx): the tracing flag, the trace file and its lines.
#include "common/trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/paths.h"

namespace qlm {
namespace {

bool g_on = false;
std::FILE *g_file = nullptr;
int g_depth = 0;
bool g_finished = false;
char g_area[256];  // text of entry, exit and value lines

}  // namespace

bool TraceOn() { return g_on; }

void SetTrace(int on) {
  if (on == 0 && g_on && g_file != nullptr) {
    std::fclose(g_file);
    g_file = nullptr;
  }
  g_on = on != 0;
}

int TraceDepth() { return g_depth; }

void FinishTrace() {
  if (g_file != nullptr) std::fflush(g_file);
  g_finished = true;
}

void OpenTraceFile(const char *name) {
  if (g_file != nullptr) std::fclose(g_file);
  char dir[kPathMax];
  if (GetBinDir(dir, 1) != kPathOk) dir[0] = '\0';
  char path[kPathMax + 256];
  std::snprintf(path, sizeof path, "%s%s", dir, name);
  g_file = std::fopen(path, "w+");
  if (g_file == nullptr) g_file = std::fopen(name, "w+");
  if (g_file == nullptr) {
    std::printf("Could not open trace file %s!\n\n", name);
    std::fflush(stdout);
    std::exit(1);
  }
  std::time_t now = std::time(nullptr);
  const char *stamp = std::ctime(&now);
  if (stamp == nullptr) stamp = "";
  std::fprintf(g_file, "Quillmar Version: %s started - %.*s\n", kClientVersion,
               static_cast<int>(std::strcspn(stamp, "\n")), stamp);
  std::fflush(g_file);
}

void TraceLine(const char *prefix, const char *module, int line, const char *text) {
  if (g_finished) return;
  if (g_file == nullptr) OpenTraceFile(kTraceFileName);
  for (int i = 0; i < g_depth; ++i) std::fputs("   ", g_file);
  std::fprintf(g_file, "%s%s:%5.5d:%s\n", prefix, module, line, text);
  std::fflush(g_file);
}

void TraceEntry(const char *module, int line, const char *function) {
  std::snprintf(g_area, sizeof g_area, "%s", function);
  TraceLine("{ ", module, line, g_area);
  ++g_depth;
}

void TraceExit(const char *module, int line, const char *function, int result) {
  --g_depth;
  std::snprintf(g_area, sizeof g_area, "%s (%d)", function, result);
  TraceLine("} ", module, line, g_area);
}

void TraceInt(const char *module, int line, const char *name, int value) {
  std::snprintf(g_area, sizeof g_area, "%s:%d:", name, value);
  TraceLine("", module, line, g_area);
}

void TracePointer(const char *module, int line, const char *name, const void *value) {
  std::snprintf(g_area, sizeof g_area, "%s:%p:", name, value);
  TraceLine("", module, line, g_area);
}

}  // namespace qlm
