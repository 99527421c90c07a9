// A temporary installation root for one test: bin/qlmrqmgr (the real server),
// shared/errortxt.fil, data/, and a run directory. QLM_ROOTDIR and QLM_RUNDIR
// point at it while the object lives; the directory is removed afterwards. When
// the tests run against PostgreSQL (test_database.h), the installation's store is
// a fresh database of the test cluster, named in QLM_STORE for its servers.
#pragma once
#include <sys/types.h>

#include <memory>
#include <string>

#include "records.h"
#include "test_database.h"
#include "test_support.h"

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
  // The store its servers use (a Store's location) and whether it is PostgreSQL.
  const std::string &store() const { return db_->location(); }
  bool postgres() const { return db_->postgres(); }

 private:
  TempDir dir_;  // short: the root may hold at most 39 characters
  std::string root_, run_;
  std::unique_ptr<TestDatabase> db_;
};

}  // namespace qlm::test
