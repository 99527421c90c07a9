#include "installation.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "qlmc32.h"

namespace fs = std::filesystem;

namespace qlm::test {

Installation::Installation(const char *server) : root_(dir_.path()), run_(root_ + "/run") {
  for (const char *sub : {"/bin", "/shared", "/data", "/run"}) mkdir((root_ + sub).c_str(), 0700);
  fs::create_symlink(server ? server : QLM_RQMGR_PATH, root_ + "/bin/qlmrqmgr");
  fs::copy_file(QLM_SOURCE_DIR "/data/errortxt.fil", root_ + "/shared/errortxt.fil");
  setenv("QLM_ROOTDIR", root_.c_str(), 1);
  setenv("QLM_RUNDIR", run_.c_str(), 1);
  db_ = std::make_unique<TestDatabase>(root_ + "/data/quillmar.db");
  if (db_->postgres()) setenv("QLM_STORE", db_->location().c_str(), 1);
}

Installation::~Installation() {
  for (const std::string &name : listDir(root_, "run"))  // run and run-<name>
    if (pid_t pid = serverPid(root_ + "/" + name); pid > 0) kill(pid, SIGKILL);
  db_.reset();  // a PostgreSQL test database is dropped before the root goes
}

std::string Installation::newRunDir(const char *name) const {
  std::string dir = root_ + "/run-" + name;
  mkdir(dir.c_str(), 0700);
  return dir;
}

pid_t Installation::serverPid(const std::string &runDir) {
  const std::vector<std::string> endpoints = listDir(runDir, "REQMNGR.");
  return endpoints.empty() ? -1 : static_cast<pid_t>(std::atoi(endpoints[0].c_str() + 8));
}

bool Installation::waitServerGone(const std::string &runDir) {
  const std::string window = runDir + "/windows/Quillmar - Request Manager";
  for (int i = 0; i < 200; ++i) {
    int fd = open(window.c_str(), O_RDWR);
    if (fd < 0) return true;
    struct flock fl{};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    const bool held = fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
    close(fd);
    if (!held) return true;
    usleep(50 * 1000);
  }
  return false;
}

}  // namespace qlm::test
