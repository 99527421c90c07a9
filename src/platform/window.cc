// Top-level windows as open-file-description locks on <rundir>/windows/<title>.
// See CreateWindowA and FindWindowA in platform/windows.h.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/internal.h"
#include "platform/unique_fd.h"

namespace {

struct Window {
  qlm::UniqueFd fd;
  std::string title;
};

std::vector<Window *> &g_windows = *new std::vector<Window *>;  // never destroyed, like the DDE state
char g_foreignWindow;  // FindWindowA's answer for a window of another open file description

bool ValidTitle(LPCSTR title) {
  return title != nullptr && *title != '\0' && std::strchr(title, '/') == nullptr &&
         std::strcmp(title, ".") != 0 && std::strcmp(title, "..") != 0;
}

// <rundir>/windows, made when `make`; empty when the run directory is refused.
std::string WindowsDir(bool make) {
  const char *dir = make ? qlm::RunDirectory() : qlm::KnownRunDirectory();
  if (dir == nullptr) return "";
  std::string w = std::string(dir) + "/windows";
  if (make && qlm::platform::MakePrivateDir(w) != 0) return "";
  return w;
}

struct flock WholeFile(short type) {
  struct flock fl{};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  return fl;
}

}  // namespace

namespace qlm::platform {
bool LockHeld(int fd) {
  struct flock fl = WholeFile(F_WRLCK);
  return ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
}
}  // namespace qlm::platform

HWND CreateWindowA(LPCSTR, LPCSTR lpWindowName, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE, LPVOID) {
  if (!ValidTitle(lpWindowName)) return nullptr;
  const std::string dir = WindowsDir(true);
  if (dir.empty()) return nullptr;
  const std::string path = dir + "/" + lpWindowName;
  qlm::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!fd.valid()) return nullptr;
  struct flock fl = WholeFile(F_WRLCK);
  if (::fcntl(fd.get(), F_OFD_SETLK, &fl) != 0) return nullptr;
  g_windows.push_back(new Window{std::move(fd), lpWindowName});
  return reinterpret_cast<HWND>(g_windows.back());
}

BOOL DestroyWindow(HWND hWnd) {
  auto it = std::find(g_windows.begin(), g_windows.end(), reinterpret_cast<Window *>(hWnd));
  if (it == g_windows.end()) return FALSE;
  delete *it;  // the file stays: removing it could hide a new owner's lock
  g_windows.erase(it);
  return TRUE;
}

namespace {
// Whether a window file is locked. The file last looked at stays open, so that
// the frequent question about a running window costs one call; when that file
// shows no lock (it may have been replaced), the path is opened afresh.
bool WindowHeld(const std::string &path) {
  using qlm::platform::LockHeld;
  static std::string &cachedPath = *new std::string;
  static qlm::UniqueFd &cached = *new qlm::UniqueFd;
  if (cached.valid() && cachedPath == path && LockHeld(cached.get())) return true;
  cached.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  cachedPath = path;
  return cached.valid() && LockHeld(cached.get());
}
}  // namespace

HWND FindWindowA(LPCSTR, LPCSTR lpWindowName) {
  if (!ValidTitle(lpWindowName)) return nullptr;
  const std::string dir = WindowsDir(false);
  if (dir.empty() || !WindowHeld(dir + "/" + lpWindowName)) return nullptr;
  for (Window *w : g_windows)
    if (w->title == lpWindowName) return reinterpret_cast<HWND>(w);
  return reinterpret_cast<HWND>(&g_foreignWindow);
}
