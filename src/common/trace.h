// Trace facility: one plain-text file, qlmc32.trc in the bin directory, written
// only while tracing is on (except the readers' "Unexpected Error" line).
//
// Line layout: three blanks per nesting level, then
//   "%s%s:%5.5d:%s\n" from prefix, module, line number and text; flushed at once.
// Entry lines have the prefix "{ " and raise the depth after writing; exit lines
// have "} ", lower the depth before writing and read "name (result)".
#pragma once

namespace qlm {

// The client's build stamp; written in the trace start line and sent in the Init.
inline constexpr const char kClientVersion[] = "19990331060100";
inline constexpr const char kTraceFileName[] = "qlmc32.trc";

// Tracing flag. Callers test it before tracing; the functions below write whenever called.
bool TraceOn();
// Sets the flag; switching off while on closes the file (the next line reopens and truncates it).
void SetTrace(int on);

// Writes one line. Opens the file first when needed (OpenTraceFile).
void TraceLine(const char *prefix, const char *module, int line, const char *text);
void TraceEntry(const char *module, int line, const char *function);
void TraceExit(const char *module, int line, const char *function, int result);
// Value lines "name:value:" and "name:pointer:".
void TraceInt(const char *module, int line, const char *name, int value);
void TracePointer(const char *module, int line, const char *name, const void *value);

// Opens <bin dir>/<name> (else <name> in the current directory) with "w+" and writes
// the start line. When both fail: prints "Could not open trace file %s!\n\n" and exits 1.
void OpenTraceFile(const char *name);

// Current nesting depth (tests).
int TraceDepth();

// A function's entry line when the scope begins and its exit line, with the result
// given to result(), when it ends; each written only while tracing is on then.
// Both lines carry the line number where the scope begins; the exit line names
// `exitName` when one is given.
class TraceScope {
 public:
  TraceScope(const char *module, const char *function, const char *exitName = nullptr, int line = __builtin_LINE())
      : module_(module), function_(function), exitName_(exitName ? exitName : function), line_(line) {
    if (TraceOn()) TraceEntry(module_, line_, function_);
  }
  ~TraceScope() {
    if (TraceOn()) TraceExit(module_, line_, exitName_, rc_);
  }
  TraceScope(const TraceScope &) = delete;
  TraceScope &operator=(const TraceScope &) = delete;
  // The result of the function, for the exit line; returns it.
  int result(int rc) { return rc_ = rc; }

 private:
  const char *module_, *function_, *exitName_;
  int line_;
  int rc_ = 0;
};

// Ends the trace for the rest of the process: the file stays as written and every
// later line is dropped (the out-of-memory path, whose two lines must be the last).
void FinishTrace();

}  // namespace qlm

// Convenience forms that test the flag first. `mod` is the module code ("cfradar").
#define QLM_TRACE_ENTRY(mod, fn) \
  do { if (::qlm::TraceOn()) ::qlm::TraceEntry((mod), __LINE__, (fn)); } while (0)
#define QLM_TRACE_EXIT(mod, fn, rc) \
  do { if (::qlm::TraceOn()) ::qlm::TraceExit((mod), __LINE__, (fn), static_cast<int>(rc)); } while (0)
#define QLM_TRACE(mod, text) \
  do { if (::qlm::TraceOn()) ::qlm::TraceLine("", (mod), __LINE__, (text)); } while (0)
#define QLM_TRACE_INT(mod, name, v) \
  do { if (::qlm::TraceOn()) ::qlm::TraceInt((mod), __LINE__, (name), static_cast<int>(v)); } while (0)
#define QLM_TRACE_PTR(mod, name, v) \
  do { if (::qlm::TraceOn()) ::qlm::TracePointer((mod), __LINE__, (name), (const void *)(v)); } while (0)
