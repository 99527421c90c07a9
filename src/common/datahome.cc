// The data home of an installation for this user (datahome.h).
#include "common/datahome.h"

#include <cstdlib>
#include <utility>

#include "common/config.h"
#include "common/memory.h"
#include "platform/files.h"

namespace qlm {
namespace {

std::string Env(const char *name) {
  const char *v = std::getenv(name);
  return v != nullptr ? v : "";
}

std::string WithSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

std::string Home() { return Env("HOME"); }

// $<xdg> or ~/<fallback>, without a final "/"; empty without a home.
std::string XdgDir(const char *xdg, const char *fallback) {
  std::string dir = Env(xdg);
  if (!dir.empty() && dir.front() == '/') return dir;
  return Home().empty() ? std::string() : Home() + "/" + fallback;
}

std::string PerUser(const std::string &root) {
  std::string id;
  for (char c : root) id += c == '/' ? '-' : c;
  while (!id.empty() && id.front() == '-') id.erase(0, 1);
  while (!id.empty() && id.back() == '-') id.pop_back();
  const std::string base = XdgDir("XDG_DATA_HOME", ".local/share");
  return base.empty() ? std::string() : base + "/quillmar/" + (id.empty() ? "root" : id) + "/";
}

std::string IniSetting(const std::string &root) {
  std::string value;
  if (char *v = qlm::ReadINIFile((root + "quillmar.ini").c_str(), "Data", "Home")) {
    value = v;
    qlm::FreeBuf(&v);
  }
  while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
  return value;
}

bool OwnDataDir(const std::string &root) {
  struct stat st{};
  return ::stat((root + "data").c_str(), &st) == 0 && S_ISDIR(st.st_mode) && OwnedByUser(st);
}

// The data home and the rule that gave it.
std::pair<std::string, std::string> Resolve(const std::string &root) {
  if (std::string env = Env("QLM_DATA_HOME"); !env.empty()) return {WithSlash(env), "QLM_DATA_HOME"};
  if (std::string ini = IniSetting(root); !ini.empty()) {
    if (ini == "root") return {root, "[Data] Home=root in quillmar.ini"};
    if (ini == "user" && !PerUser(root).empty()) return {PerUser(root), "[Data] Home=user in quillmar.ini"};
    if (ini.rfind("~/", 0) == 0) ini = Home() + ini.substr(1);
    return {WithSlash(ini), "[Data] Home in quillmar.ini"};
  }
  if (::access(root.c_str(), W_OK) == 0 || OwnDataDir(root)) return {root, "the installation root is yours"};
  if (std::string user = PerUser(root); !user.empty()) return {user, "the installation root is not writable: per-user data"};
  return {root, "no home directory: the installation root"};
}

}  // namespace

std::string DataHome(const std::string &root) { return Resolve(root).first; }

std::string DataHomeRule(const std::string &root) { return Resolve(root).second; }

std::string StateLogFile() {
  const std::string base = XdgDir("XDG_STATE_HOME", ".local/state");
  return base.empty() ? std::string() : base + "/quillmar/qlmrqmgr.log";
}

}  // namespace qlm
