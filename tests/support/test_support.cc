#include "test_support.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/windows.h"

namespace qlm::test {

namespace {
// The Request Managers that tests start log their failed starts (and lines whose
// data directory a test has removed) in the state directory: a directory of the
// tests', never the user's own ~/.local/state.
[[maybe_unused]] const bool kTestStateHome = [] {
  const std::string dir = std::filesystem::temp_directory_path() / ("qlm-test-state-" + std::to_string(::geteuid()));
  return ::setenv("XDG_STATE_HOME", dir.c_str(), 1) == 0;
}();
}  // namespace

std::string slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void spit(const std::string &path, const std::string &bytes, int mode) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  if (mode >= 0) ::chmod(path.c_str(), static_cast<mode_t>(mode));
}

bool exists(const std::string &path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

mode_t modeOf(const std::string &path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777;
}

std::vector<std::string> listDir(const std::string &dir, const std::string &prefix) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto &e : std::filesystem::directory_iterator(dir, ec))
    if (e.path().filename().string().rfind(prefix, 0) == 0) out.push_back(e.path().filename());
  std::sort(out.begin(), out.end());
  return out;
}

TempDir::TempDir() {
  char name[] = "/tmp/qlmtXXXXXX";
  path_ = ::mkdtemp(name);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
  std::filesystem::remove_all(path_, ec);
}

Pipe::Pipe() { (void)!::pipe(fd); }
Pipe::~Pipe() { ::close(fd[0]), ::close(fd[1]); }
void Pipe::put(char c) const { (void)!::write(fd[1], &c, 1); }
char Pipe::take() {
  ::close(std::exchange(fd[1], -1));
  char c = 0;
  return ::read(fd[0], &c, 1) == 1 ? c : 0;
}

int exitStatus(pid_t pid, int seconds) {
  for (int i = 0; i < seconds * 100; ++i) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  return -1;
}

bool eventually(const std::function<bool()> &done, int boundMs) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return done();
    drain();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

void drain() {
  MSG m;
  for (int i = 0; i < 1000 && PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE); ++i) DispatchMessageA(&m);
}

bool ends(pid_t pid) {
  return eventually([pid] { return ProcessEnded(pid); });
}

void useDouble(const std::string &dir, const std::string &script, int waitScaleMs) {
  ::setenv("QLM_WAIT_SCALE_MS", std::to_string(waitScaleMs).c_str(), 1);
  ::setenv("QLM_DOUBLE_SCRIPT", (dir + "/double.script").c_str(), 1);
  ::setenv("QLM_DOUBLE_LOG", (dir + "/double.log").c_str(), 1);
  ::setenv("QLM_DOUBLE_IDLE_MS", "30000", 1);  // a double left behind ends by itself
  spit(dir + "/double.script", script);
}

std::vector<std::string> doubleLog(const std::string &dir, const std::string &prefix) {
  std::vector<std::string> out;
  std::istringstream in(slurp(dir + "/double.log"));
  for (std::string line; std::getline(in, line);)
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
  return out;
}

Req::Req(int id, const std::string &ref) {
  m_.clear();
  m_.addNumber(wire::kRequestId, id);
  m_.addRaw(wire::kReference, ref);
}

Segments decode(const std::uint8_t *bytes, int length) {
  rmil::Message m = rmil::Message::reading(bytes, length);
  Segments out(1);
  for (rmil::Item i; m.next(&i) != rmil::Read::EndOfData;) {
    if (i.id == wire::kSegEnd)
      out.emplace_back();
    else
      out.back().emplace_back(i.id, std::string(i.value));
  }
  if (out.back().empty()) out.pop_back();
  return out;
}

int Msg::error() const {
  for (const Seg &s : segs)
    if (s.type == wire::kErrorSegType) return std::stoi(s.items.at(wire::kErrorNumber));
  return 0;
}

Msg read(const Bytes &bytes) {
  rmil::Message m = rmil::Message::reading(bytes.data(), static_cast<int>(bytes.size()));
  Msg out;
  out.more = m.moreData();
  Msg::Seg s;
  bool header = true;
  for (rmil::Item i; m.next(&i) != rmil::Read::EndOfData;) {
    const std::string value(i.value.substr(0, wire::kMaxValue));
    if (i.id == wire::kSegEnd) {
      if (!header) out.segs.push_back(std::exchange(s, {}));
      header = false;
    } else if (header) {
      if (i.id == wire::kResponseId) out.responseId = std::stoi(value);
      if (i.id == wire::kReference) out.reference = value;
      if (i.id == wire::kHandle) out.handle = value;
      if (i.id == wire::kReturnCode) out.rc = std::stoi(value);
    } else if (i.id == wire::kSegType) {
      s.type = std::stol(value);
    } else {
      s.items[i.id] = value;
    }
  }
  return out;
}

}  // namespace qlm::test
