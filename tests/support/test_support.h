// The tests' support library: a private temporary directory, whole files (files.h),
// forked processes and waiting for a condition, RMIL messages built and read back.
// Frames of the transport written out byte by byte are frames.h's, records filled
// the way an application fills them records.h's.
#pragma once
#include <sys/types.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "files.h"
#include "rmil/message.h"

namespace qlm::test {

using Bytes = std::vector<std::uint8_t>;

// A directory under /tmp (short, so that installation roots and run directories
// within it stay inside their path limits), removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// ---- processes -----------------------------------------------------------------------

// A pipe for handing single bytes between a parent and its forked child. The taking
// side never writes: take() closes its write end, so that it sees the end of the pipe
// (instead of waiting for ever) when the writing side ends first.
struct Pipe {
  int fd[2] = {-1, -1};
  Pipe();
  ~Pipe();
  void put(char c = 'g') const;
  char take();
};

// Runs `body` in a forked child, which ends with body's result as its exit status.
template <class F>
pid_t forked(F body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  return pid;
}

// The exit status of child `pid` once it ended (waiting at most `seconds`, then
// killing it: with 0 at once); -1 when it did not exit by itself.
int exitStatus(pid_t pid, int seconds = 120);

// Polls `done` every 10 ms, dispatching the process's messages in between, until it
// holds or `boundMs` passed; returns done(). The bound is a safety net, not a timing
// assertion.
bool eventually(const std::function<bool()> &done, int boundMs = 10000);
// Dispatches every message that is already there.
void drain();
// Whether process `pid` has ended, waiting for it at most 10 s.
bool ends(pid_t pid);

// ---- the test double of the Request Manager (tests/double) ----------------------------

// Points the double at `script` (written to <dir>/double.script) and its log
// (<dir>/double.log); one "second" of the waits lasts `waitScaleMs`.
void useDouble(const std::string &dir, const std::string &script, int waitScaleMs = 100);
// The lines of the double's log under `dir` that begin with `prefix`.
std::vector<std::string> doubleLog(const std::string &dir, const std::string &prefix);

// ---- RMIL messages -------------------------------------------------------------------

// A request under construction: header items first, then segments.
class Req {
 public:
  explicit Req(int id, const std::string &ref = "7");
  // The message writes into this object's own storage: a copy would not.
  Req(const Req &) = delete;
  Req &operator=(const Req &) = delete;
  Req &item(std::uint16_t id, std::string_view v) { return m_.addRaw(id, v), *this; }
  Req &seg(int type) { return m_.addSegType(static_cast<std::int16_t>(type)), *this; }
  Req &end() { return m_.endSegment(), *this; }
  Bytes bytes() const { return Bytes(buf_.begin(), buf_.begin() + m_.length()); }

 private:
  std::array<std::uint8_t, wire::kBufSize> buf_{};
  rmil::Message m_{buf_.data()};
};

// The items of a message, segment by segment (the header segment first).
using Item = std::pair<int, std::string>;
using Segment = std::vector<Item>;
using Segments = std::vector<Segment>;
Segments decode(const std::uint8_t *bytes, int length);

// One answer message as read back.
struct Msg {
  int responseId = -1, rc = -1;
  std::string reference, handle;
  bool more = false;
  struct Seg {
    long type = -1;
    std::map<std::uint16_t, std::string> items;
  };
  std::vector<Seg> segs;  // the segments after the header
  int error() const;      // the number of its error segment, or 0
};
Msg read(const Bytes &bytes);

}  // namespace qlm::test
