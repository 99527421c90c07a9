// qlm init, doctor, explain, status and stop (qlm.h).
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/datahome.h"
#include "common/paths.h"
#include "errortext.h"
#include "platform/files.h"
#include "qlm.h"
#include "qlmc32.h"

namespace qlm::admin {
namespace {

bool IsDir(const std::string &p) {
  struct stat st{};
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CopyFile(const std::string &from, const std::string &to) {
  std::error_code ec;
  return std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
}

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '/')) s.pop_back();
  return s;
}

}  // namespace

// ---------------------------------------------------------------------------- init

int Init(const Args &args) {
  Parsed p;
  if (!ParseArgs(args, {}, {"server", "errortexts", "ini"}, p, "init")) return 2;
  if (p.operands.size() != 1) {
    std::fputs("Usage: qlm init [--server PROGRAM] [--errortexts FILE] [--ini FILE] ROOT\n", stderr);
    return 2;
  }
  std::string root = Trim(p.operands[0]);
  if (!root.empty() && root[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) != nullptr) root = std::string(cwd) + "/" + root;
  }
  const std::string server = p.get("server", DefaultServer());
  const std::string texts = p.get("errortexts", DefaultErrorTexts());
  const std::string ini = p.get("ini", DefaultIni());
  if (server.empty() || access(server.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "qlm init: no Request Manager program %s: give one with --server\n",
                 server.empty() ? "beside qlm" : server.c_str());
    return 1;
  }
  if (!MakeDirs(root + "/bin", 0755) || !MakeDirs(root + "/shared", 0755)) {
    std::fprintf(stderr, "qlm init: cannot make %s/bin and %s/shared: %s\n", root.c_str(), root.c_str(),
                 std::strerror(errno));
    return 1;
  }
  const std::string link = root + "/bin/qlmrqmgr";
  char abs[4096];
  const std::string target = realpath(server.c_str(), abs) != nullptr ? abs : server;
  ::unlink(link.c_str());
  if (::symlink(target.c_str(), link.c_str()) != 0) {
    std::fprintf(stderr, "qlm init: cannot link %s: %s\n", link.c_str(), std::strerror(errno));
    return 1;
  }
  if (texts.empty() || !CopyFile(texts, root + "/shared/errortxt.fil")) {
    std::fprintf(stderr, "qlm init: cannot copy the error texts %s: give them with --errortexts\n", texts.c_str());
    return 1;
  }
  if (!Exists(root + "/quillmar.ini") && !ini.empty() && !CopyFile(ini, root + "/quillmar.ini")) {
    std::fprintf(stderr, "qlm init: cannot copy %s to %s/quillmar.ini\n", ini.c_str(), root.c_str());
    return 1;
  }
  std::printf("Installation root %s laid out (server %s)\n", root.c_str(), target.c_str());
  if (root.size() > 39)
    std::printf("Note: the root has %zu characters, more than the 39 the library takes: point QLM_ROOTDIR at a "
                "shorter symbolic link to it\n", root.size());
  return 0;
}

// ---------------------------------------------------------------------------- doctor

namespace {

struct Report {
  int problems = 0;
  void ok(const std::string &what) { std::printf("  ok       %s\n", what.c_str()); }
  void note(const std::string &what) { std::printf("  note     %s\n", what.c_str()); }
  void problem(const std::string &what, const std::string &fix) {
    ++problems;
    std::printf("  PROBLEM  %s\n           fix: %s\n", what.c_str(), fix.c_str());
  }
};

// A program's first line of output and exit status.
std::pair<int, std::string> RunForLine(const std::string &program, const char *arg) {
  int fds[2];
  if (::pipe(fds) != 0) return {-1, {}};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::dup2(fds[1], 2);
    ::close(fds[0]);
    ::execl(program.c_str(), program.c_str(), arg, static_cast<char *>(nullptr));
    std::fprintf(stderr, "%s\n", std::strerror(errno));
    ::_exit(127);
  }
  ::close(fds[1]);
  std::string out;
  char buf[512];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (out.find('\n') != std::string::npos) out.resize(out.find('\n'));
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

// The last line of the state log that tells of a failed start, with its age.
std::string LastStartFailure() {
  std::ifstream in(StateLogFile());
  std::string line, last;
  while (std::getline(in, line))
    if (line.find("(start failed)") != std::string::npos) last = line;
  return last;
}

// Starts the server in the foreground in a private run directory; true once it
// says it started. Its log lines are gathered in `lines`; `pid` is left running.
bool StartInForeground(const std::string &program, const std::string &runDir, pid_t &pid,
                       std::vector<std::string> &lines) {
  int fds[2];
  if (::pipe(fds) != 0) return false;
  pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], 2);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::close(fds[0]);
    ::setenv("QLM_RUNDIR", runDir.c_str(), 1);
    ::unsetenv("QLM_OWNER_PID");
    ::unsetenv("QLM_READY_FD");
    ::execl(program.c_str(), program.c_str(), static_cast<char *>(nullptr));
    std::fprintf(stderr, "cannot run %s: %s\n", program.c_str(), std::strerror(errno));
    ::_exit(127);
  }
  ::close(fds[1]);
  std::string pending;
  bool started = false;
  const std::time_t until = std::time(nullptr) + 20;
  while (!started && std::time(nullptr) < until) {
    pollfd pfd{fds[0], POLLIN, 0};
    if (::poll(&pfd, 1, 500) <= 0) continue;
    char buf[1024];
    const ssize_t n = ::read(fds[0], buf, sizeof buf);
    if (n <= 0) break;  // it ended
    pending.append(buf, static_cast<std::size_t>(n));
    for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos; pending.erase(0, nl + 1)) {
      lines.push_back(pending.substr(0, nl));
      if (lines.back().find("]: started") != std::string::npos) started = true;
    }
  }
  if (!pending.empty()) lines.push_back(pending);
  ::close(fds[0]);
  return started;
}

void CheckRoot(Report &r, const Installation &in) {
  switch (in.rootCode) {
    case kPathOk: break;
    case kPathTooLong:
      r.problem("the installation root (QLM_ROOTDIR) holds more than 39 characters, more than the library takes",
                "point QLM_ROOTDIR at a shorter path, for example a symbolic link: ln -s <root> /tmp/qlm-root");
      return;
    case kPathBadColon:
      r.problem("the installation root (QLM_ROOTDIR) holds a colon", "use a path without a colon");
      return;
    default:
      r.problem("no installation root is set: QLM_ROOTDIR is not set and /etc/quillmar/6.1/RootDir cannot be read",
                "export QLM_ROOTDIR=<prefix>/share/quillmar (make install), or lay out a root with `qlm init DIR`");
      return;
  }
  r.ok("installation root " + in.root + (std::getenv("QLM_ROOTDIR") ? " (QLM_ROOTDIR)" : " (/etc/quillmar/6.1/RootDir)"));
}

}  // namespace

int Doctor(const Args &args) {
  Parsed p;
  if (!ParseArgs(args, {}, {}, p, "doctor")) return 2;
  Report r;
  std::printf("qlm doctor: checking the installation\n");
  const Installation in = FindInstallation();
  CheckRoot(r, in);
  if (in.rootCode != kPathOk) {
    std::printf("%d problem(s) found\n", r.problems);
    return 1;
  }
  if (!IsDir(in.root)) {
    r.problem("the installation root " + in.root + " does not exist (or is not a directory)",
              "lay it out with `qlm init " + in.root + "`, or set QLM_ROOTDIR to the installed root");
    std::printf("%d problem(s) found\n", r.problems);
    return 1;
  }
  r.ok("the root exists");
  const std::string server = in.root + "bin/qlmrqmgr";
  bool serverUsable = false;
  if (!Exists(server)) {
    r.problem("there is no server program " + server,
              "`qlm init " + in.root + "` links the installed Request Manager there");
  } else if (access(server.c_str(), X_OK) != 0) {
    r.problem("the server program " + server + " cannot be run: " + std::strerror(errno),
              "make it executable (chmod a+x), or point the link at the installed server with `qlm init`");
  } else if (auto [status, line] = RunForLine(server, "--version"); status != 0) {
    r.problem("the server program " + server + " does not run: " + line,
              "rebuild or reinstall it, then `qlm init " + in.root + "`");
  } else {
    r.ok("server program " + server + ": " + line);
    serverUsable = true;
  }
  const std::string texts = in.root + "shared/errortxt.fil";
  if (access(texts.c_str(), R_OK) != 0)
    r.problem("the error texts " + texts + " cannot be read: answers then carry short built-in messages only",
              "`qlm init " + in.root + "` copies them there");
  else
    r.ok("error texts " + texts);
  if (access((in.root + "quillmar.ini").c_str(), R_OK) != 0)
    r.note("no " + in.root + "quillmar.ini: the defaults stand");

  r.ok("data home " + in.home + " (" + in.homeRule + ")");
  const std::string data = in.dataDir;
  if (IsDir(data)) {
    struct stat st{};
    ::stat(data.c_str(), &st);
    if (access(data.c_str(), W_OK | X_OK) != 0)
      r.problem("the data directory " + data + " is not writable by you (owner uid " + std::to_string(st.st_uid) +
                    ", mode " + std::to_string((st.st_mode >> 6) & 7) + std::to_string((st.st_mode >> 3) & 7) +
                    std::to_string(st.st_mode & 7) + ")",
                st.st_uid != geteuid()
                    ? "it belongs to another user: keep your data apart with [Data] Home=user in quillmar.ini, or "
                      "QLM_DATA_HOME=<a directory of yours>"
                    : "give yourself write permission: chmod u+rwx " + data);
    else
      r.ok("data directory " + data + " is writable");
  } else {
    std::string parent = in.home;
    while (parent.size() > 1 && !Exists(Trim(parent))) parent.erase(parent.rfind('/', parent.size() - 2) + 1);
    if (!IsDir(parent) || access(parent.c_str(), W_OK | X_OK) != 0)
      r.problem("the data directory " + data + " does not exist and cannot be made (" +
                    parent + (IsDir(parent) ? " is not writable)" : " is not a directory)"),
                "set QLM_DATA_HOME (or [Data] Home= in quillmar.ini) to a directory of yours, or make " + data);
    else
      r.note("the data directory " + data + " does not exist yet: the first Request Manager makes it");
  }
  if (in.postgres()) {
    r.note("the store is PostgreSQL (" + in.store.substr(11) + "): the start below tells whether it is reachable");
  } else if (Exists(in.store)) {
    if (access(in.store.c_str(), R_OK | W_OK) != 0)
      r.problem("the database " + in.store + " is not readable and writable by you: requests that write will fail",
                "chmod u+rw " + in.store + " (it must be yours), or keep your data apart with [Data] Home=user");
    else
      r.ok("database " + in.store);
  } else {
    r.note("no database yet at " + in.store + ": the first Request Manager makes it");
  }
  // Where applications make their run directories: it must be this user's alone.
  const char *xdg = std::getenv("XDG_RUNTIME_DIR");
  const std::string runBase = xdg != nullptr && *xdg != '\0' ? std::string(xdg) + "/quillmar"
                                                              : "/tmp/quillmar-" + std::to_string(geteuid());
  if (struct stat st{}; ::lstat(runBase.c_str(), &st) == 0 &&
                        (!S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 077) != 0))
    r.problem("the base of the run directories " + runBase + " is not a private directory of yours",
              "remove it (rm -r " + runBase + "); the next application makes it anew, mode 0700");
  if (const std::string last = LastStartFailure(); !last.empty())
    r.note("the last failed start in " + StateLogFile() + ": " + last);

  if (serverUsable) {
    char tmpl[] = "/tmp/qlm-doctor-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) {
      r.problem(std::string("cannot make a run directory in /tmp: ") + std::strerror(errno), "check /tmp");
    } else {
      const std::string runDir = tmpl;
      pid_t pid = -1;
      std::vector<std::string> lines;
      std::printf("  ...      starting the Request Manager in the foreground (run directory %s)\n", runDir.c_str());
      if (!StartInForeground(server, runDir, pid, lines)) {
        std::string said;
        for (const std::string &l : lines) said += "\n           | " + l;
        r.problem("the Request Manager did not start; it said:" + (said.empty() ? std::string(" nothing") : said),
                  "see the problems above; its failed starts are also logged in " + StateLogFile());
        ::kill(pid, SIGTERM);
      } else {
        r.ok("the Request Manager starts: " + lines.back().substr(lines.back().find("]: ") + 3));
        ::setenv("QLM_RUNDIR", runDir.c_str(), 1);
        ::setenv("QLM_DEBUG", "1", 1);
        if (QlmOpenCInterface() == QLM_RC_OK) {
          r.ok("the library opens the interface against it");
          QlmCloseCInterface();
        } else {
          r.problem("the library cannot open the interface against the running Request Manager (see the qlmc32: "
                    "lines above)",
                    "check the run directory's permissions; run the application with QLM_DEBUG=1");
        }
        ::kill(pid, SIGTERM);
      }
      int status;
      ::waitpid(pid, &status, 0);
      std::error_code ec;
      if (std::filesystem::remove_all(runDir, ec) == static_cast<std::uintmax_t>(-1)) r.note("could not remove " + runDir);
    }
  }
  if (r.problems == 0)
    std::printf("No problems found.\n");
  else
    std::printf("%d problem(s) found\n", r.problems);
  return r.problems == 0 ? 0 : 1;
}

// ---------------------------------------------------------------------------- explain

namespace {
#define QLM_ADMIN_ERROR_NAME(name, value) {value, #name},
const std::map<int, const char *> kLibraryErrors = {QLM_ERRORS(QLM_ADMIN_ERROR_NAME)};
#undef QLM_ADMIN_ERROR_NAME
}  // namespace

int Explain(const Args &args) {
  Parsed p;
  if (!ParseArgs(args, {}, {}, p, "explain")) return 2;
  if (p.operands.empty()) {
    std::fputs("Usage: qlm explain NUMBER...\n", stderr);
    return 2;
  }
  const Installation in = FindInstallation();
  std::string file = in.root.empty() ? std::string() : in.root + "shared/errortxt.fil";
  if (file.empty() || access(file.c_str(), R_OK) != 0) file = DefaultErrorTexts();
  rqmgr::ErrorTexts texts;
  const bool loaded = !file.empty() && texts.load(file);
  int status = 0;
  for (const std::string &a : p.operands) {
    char *end = nullptr;
    const long n = std::strtol(a.c_str(), &end, 10);
    if (a.empty() || *end != '\0' || n <= 0) {
      std::fprintf(stderr, "qlm explain: %s is not an error number\n", a.c_str());
      status = 2;
      continue;
    }
    const auto lib = kLibraryErrors.find(static_cast<int>(n));
    const auto text = texts.find(static_cast<int>(n));
    if (lib == kLibraryErrors.end() && !text) {
      std::printf("%ld: not a known error number%s\n", n, loaded ? "" : " (no error text file was found)");
      status = 1;
      continue;
    }
    std::printf("%ld%s%s\n", n, lib != kLibraryErrors.end() ? "  " : "  (Request Manager)",
                lib != kLibraryErrors.end() ? (std::string(lib->second) + " (library, qlmc32.h)").c_str() : "");
    if (text) {
      std::printf("  Message:     %s\n", text->message.c_str());
      if (!text->explanation.empty()) std::printf("  Explanation: %s\n", text->explanation.c_str());
      if (!text->response.empty()) std::printf("  Response:    %s\n", text->response.c_str());
    }
    if (n == QLM_ERR_INTERFACE_NOT_OPEN)
      std::printf("  Note: after a failed QlmOpenCInterface this is what QlmErrorExplanation gives, whatever the\n"
                  "        cause. Run the application with QLM_DEBUG=1, or run `qlm doctor`, to see the cause.\n");
  }
  return status;
}

// ---------------------------------------------------------------------------- status, stop

namespace {

struct Server {
  std::string runDir;
  pid_t pid = 0;
  bool service = false;
  std::set<pid_t> clients;
};

bool Alive(pid_t pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

std::string EnvOf(pid_t pid, const char *name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
  std::string var;
  const std::string prefix = std::string(name) + "=";
  while (std::getline(in, var, '\0'))
    if (var.rfind(prefix, 0) == 0) return var.substr(prefix.size());
  return {};
}

// The endpoints of a run directory: files <service>.<pid>.<n>.
void ReadRunDir(const std::string &dir, std::vector<Server> &out) {
  DIR *d = ::opendir(dir.c_str());
  if (d == nullptr) return;
  Server s;
  s.runDir = dir;
  std::set<pid_t> pids;
  while (const dirent *e = ::readdir(d)) {
    const std::string name = e->d_name;
    const std::size_t dot = name.find('.');
    if (dot == std::string::npos) continue;
    const pid_t pid = static_cast<pid_t>(std::atol(name.c_str() + dot + 1));
    if (pid <= 0 || !Alive(pid)) continue;
    if (name.rfind("REQMNGRI.", 0) == 0) s.pid = pid;
    else pids.insert(pid);
  }
  ::closedir(d);
  s.service = Exists(dir + "/qlmrqmgr.service");
  pids.erase(s.pid);
  s.clients = pids;
  if (s.pid > 0) out.push_back(s);
}

std::vector<Server> FindServers() {
  const char *xdg = std::getenv("XDG_RUNTIME_DIR");
  const std::string base = xdg != nullptr && *xdg != '\0' ? std::string(xdg) + "/quillmar"
                                                          : "/tmp/quillmar-" + std::to_string(geteuid());
  std::vector<Server> servers;
  std::set<std::string> seen;
  if (DIR *d = ::opendir(base.c_str())) {
    while (const dirent *e = ::readdir(d))
      if (e->d_name[0] != '.') seen.insert(base + "/" + e->d_name);
    ::closedir(d);
  }
  if (const char *rd = std::getenv("QLM_RUNDIR"); rd != nullptr && *rd != '\0') seen.insert(Trim(rd));
  for (const std::string &dir : seen) ReadRunDir(dir, servers);
  return servers;
}

}  // namespace

int Status(const Args &args) {
  Parsed p;
  if (!ParseArgs(args, {}, {}, p, "status")) return 2;
  const std::vector<Server> servers = FindServers();
  if (servers.empty()) {
    std::printf("No Request Manager of yours is running.\n");
    return 0;
  }
  for (const Server &s : servers) {
    const std::string owner = EnvOf(s.pid, "QLM_OWNER_PID");
    std::printf("Request Manager %d%s\n  run directory  %s\n  root           %s\n  clients        ", s.pid,
                s.service ? " (service)" : owner.empty() ? "" : (" (started by process " + owner + ")").c_str(),
                s.runDir.c_str(), EnvOf(s.pid, "QLM_ROOTDIR").c_str());
    if (s.clients.empty()) std::printf("none");
    for (pid_t c : s.clients) std::printf("%d ", c);
    std::printf("\n");
  }
  return 0;
}

int Stop(const Args &args) {
  Parsed p;
  if (!ParseArgs(args, {}, {}, p, "stop")) return 2;
  std::set<pid_t> wanted;
  for (const std::string &a : p.operands) wanted.insert(static_cast<pid_t>(std::atol(a.c_str())));
  int status = 0, stopped = 0;
  for (const Server &s : FindServers()) {
    if (!wanted.empty() && !wanted.count(s.pid)) continue;
    wanted.erase(s.pid);
    if (::kill(s.pid, SIGTERM) != 0) {
      std::fprintf(stderr, "qlm stop: %d: %s\n", s.pid, std::strerror(errno));
      status = 1;
      continue;
    }
    int waited = 0;
    while (Alive(s.pid) && waited++ < 100) ::usleep(100000);
    std::printf("Request Manager %d (%s) %s\n", s.pid, s.runDir.c_str(), Alive(s.pid) ? "did not end" : "ended");
    status |= Alive(s.pid) ? 1 : 0;
    ++stopped;
  }
  for (pid_t pid : wanted) {
    std::fprintf(stderr, "qlm stop: %d is not a Request Manager of yours\n", pid);
    status = 1;
  }
  if (stopped == 0 && p.operands.empty()) std::printf("No Request Manager of yours is running.\n");
  return status;
}

}  // namespace qlm::admin
