// A temporary installation root for one test: bin/qlmrqmgr (the real server),
// shared/errortxt.fil, data/, and a run directory. QLM_ROOTDIR and QLM_RUNDIR
// point at it while the object lives; the directory is removed afterwards.
#pragma once
#include <sys/types.h>

#include <string>

namespace qlm::test {

class Installation {
 public:
  // `server`: the program installed as bin/qlmrqmgr (default: the real server).
  explicit Installation(const char *server = nullptr);
  ~Installation();
  Installation(const Installation &) = delete;
  Installation &operator=(const Installation &) = delete;

  const std::string &root() const { return root_; }
  const std::string &run() const { return run_; }
  // A second run directory under the same root (another application's).
  std::string newRunDir(const char *name) const;
  // The pid of the Request Manager serving `runDir` (from its endpoint names), or -1.
  static pid_t serverPid(const std::string &runDir);
  // Waits (bounded) until no Request Manager window exists in `runDir`.
  static bool waitServerGone(const std::string &runDir);

 private:
  std::string root_, run_;
};

// Blank-padded field helpers for records.
void putField(char *field, int width, const char *text);
void blankRecord(char *record, int width);
template <class F>
void put(F &field, const char *text) {
  putField(field, static_cast<int>(sizeof field), text);
}
template <class R>
void blank(R &record) {
  blankRecord(reinterpret_cast<char *>(&record), static_cast<int>(sizeof record));
}
template <class F>
std::string text(const F &field) {
  std::string s(field, sizeof field);
  return s.substr(0, s.find_last_not_of(' ') + 1);
}
inline char *raw(void *record) { return static_cast<char *>(record); }

}  // namespace qlm::test
