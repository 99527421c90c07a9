// What qlm's subcommands share (qlm.h).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/datahome.h"
#include "common/paths.h"
#include "location.h"
#include "qlm.h"

namespace qlm::admin {

bool Installation::postgres() const { return store.rfind("postgresql:", 0) == 0; }

Installation FindInstallation() {
  Installation in;
  char root[kPathMax];
  in.rootCode = GetRootDir(root, 1);
  if (in.rootCode != kPathOk) return in;
  in.root = root;
  in.home = DataHome(in.root);
  in.homeRule = DataHomeRule(in.root);
  in.dataDir = in.home + "data";
  in.store = rqmgr::StoreLocation(in.root, in.dataDir, [](const std::string &line) {
    std::fprintf(stderr, "qlm: %s\n", line.c_str());
  });
  return in;
}

bool NeedInstallation(Installation &out, const char *command) {
  out = FindInstallation();
  if (out.rootCode == kPathOk) return true;
  std::fprintf(stderr,
               "qlm %s: the installation root is not known or not usable (code %d): set QLM_ROOTDIR or use "
               "--root DIR; `qlm doctor` tells more\n",
               command, out.rootCode);
  return false;
}

Progress::Progress(const char *what, std::int64_t total) : what_(what), total_(total), on_(isatty(2) == 1) {}

Progress::~Progress() {
  if (on_ && shown_ >= 0) std::fputc('\n', stderr);
}

void Progress::set(std::int64_t done) {
  if (!on_ || total_ <= 0) return;
  const std::int64_t percent = std::min<std::int64_t>(100, done * 100 / total_);
  if (percent == shown_) return;
  shown_ = percent;
  constexpr int kWidth = 30;
  const int filled = static_cast<int>(percent * kWidth / 100);
  std::fprintf(stderr, "\r%s [%s%s] %3lld%%", what_.c_str(), std::string(filled, '#').c_str(),
               std::string(kWidth - filled, ' ').c_str(), static_cast<long long>(percent));
  std::fflush(stderr);
}

namespace {

std::string ExeDir() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string exe(buf, static_cast<std::size_t>(n));
  return exe.substr(0, exe.rfind('/') + 1);
}

std::string FirstThere(std::initializer_list<std::string> candidates) {
  for (const std::string &c : candidates)
    if (!c.empty() && access(c.c_str(), R_OK) == 0) return c;
  return {};
}

}  // namespace

std::string DefaultServer() {
  return FirstThere({ExeDir() + QLM_REL_SERVER, ExeDir() + "../../rqmgr/qlmrqmgr"});
}

std::string DefaultErrorTexts() {
  return FirstThere({ExeDir() + QLM_REL_ROOT "/shared/errortxt.fil", std::string(QLM_SOURCE_DIR "/data/errortxt.fil")});
}

std::string DefaultIni() {
  return FirstThere({ExeDir() + QLM_REL_ROOT "/quillmar.ini", std::string(QLM_SOURCE_DIR "/data/quillmar.ini")});
}

bool Exists(const std::string &path) {
  struct stat st{};
  return ::lstat(path.c_str(), &st) == 0;
}

bool Parsed::has(const std::string &name) const {
  return std::any_of(options.begin(), options.end(), [&](const auto &o) { return o.first == name; });
}

std::string Parsed::get(const std::string &name, const std::string &fallback) const {
  for (const auto &o : options)
    if (o.first == name) return o.second;
  return fallback;
}

bool ParseArgs(const Args &args, const std::vector<std::string> &known, const std::vector<std::string> &withValue,
               Parsed &out, const char *command) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    if (a.size() < 3 || a.rfind("--", 0) != 0) {
      out.operands.push_back(a);
      continue;
    }
    std::string name = a.substr(2), value;
    const std::size_t eq = name.find('=');
    if (eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
    }
    const bool takesValue = std::find(withValue.begin(), withValue.end(), name) != withValue.end();
    if (!takesValue && std::find(known.begin(), known.end(), name) == known.end()) {
      std::fprintf(stderr, "qlm %s: unknown option --%s (qlm %s --help)\n", command, name.c_str(), command);
      return false;
    }
    if (takesValue && eq == std::string::npos) {
      if (i + 1 >= args.size()) {
        std::fprintf(stderr, "qlm %s: --%s needs a value\n", command, name.c_str());
        return false;
      }
      value = args[++i];
    }
    out.options.emplace_back(name, value);
  }
  return true;
}

}  // namespace qlm::admin
