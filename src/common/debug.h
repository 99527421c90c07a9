// QLM_DEBUG: with QLM_DEBUG=1 in the environment the library writes one line per
// cause of a failure to stderr, "qlmc32: <what was tried>: <what failed>", so that
// a failed QlmOpenCInterface says why (its QlmErrorExplanation stays 20120, "not
// open", the answer for a closed interface). Nothing is written otherwise.
#pragma once

namespace qlm {

bool DebugOn();
// Writes "qlmc32: " and the formatted text and a newline to stderr when DebugOn().
void DebugLine(const char *format, ...) __attribute__((format(printf, 1, 2)));
// When DebugOn() and the state log (datahome.h) was written in the last `seconds`
// seconds: its last line, as "qlmc32: the Request Manager's log (<file>): <line>";
// else a line naming where its log is.
void DebugServerLog(int seconds);

}  // namespace qlm
