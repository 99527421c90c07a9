// Requests per second of 1, 4 and 16 applications at once, each a process with its
// own Request Manager, on each backend: the installation's SQLite file, and a
// PostgreSQL database on a throwaway cluster of the benchmark's own (when
// PostgreSQL is installed). Every application adds addresses to a project of its
// own, one request per address, each committed before it is answered.
//   counter requests_per_second: all applications together
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "installation.h"

namespace {

using qlm::test::Installation;
constexpr int kAddsPerApp = 150;

// A throwaway PostgreSQL cluster for the whole run, or none.
struct Cluster {
  std::string dir = "/tmp/qlmpgb-" + std::to_string(getpid());
  bool up = false;
  Cluster() {
    up = std::system((QLM_SOURCE_DIR "/tools/pg-cluster.sh available")) == 0 &&
         std::system((QLM_SOURCE_DIR "/tools/pg-cluster.sh start " + dir + " >/dev/null").c_str()) == 0;
  }
  ~Cluster() {
    if (up) std::system((QLM_SOURCE_DIR "/tools/pg-cluster.sh stop " + dir + " >/dev/null").c_str());
    std::system(("rm -rf " + dir).c_str());
  }
};
Cluster &cluster() {
  static Cluster c;
  return c;
}

// range(0): the applications; range(1): 0 SQLite, 1 PostgreSQL.
void BM_ConcurrentAdds(benchmark::State &state) {
  const int apps = static_cast<int>(state.range(0));
  const bool postgres = state.range(1) == 1;
  if (postgres && !cluster().up) {
    state.SkipWithError("PostgreSQL is not installed");
    return;
  }
  double requests = 0, total = 0;
  for (auto _ : state) {
    Installation inst;
    std::string db;
    if (postgres) {  // a fresh database of the cluster
      db = "qlmb" + std::to_string(getpid()) + "_" + std::to_string(apps);
      std::system(("psql -q \"host=" + cluster().dir + " user=postgres dbname=postgres\" -c \"DROP DATABASE IF EXISTS " +
                   db + " WITH (FORCE)\" -c \"CREATE DATABASE " + db + "\" >/dev/null").c_str());
      setenv("QLM_STORE", ("postgresql:host=" + cluster().dir + " user=postgres dbname=" + db).c_str(), 1);
    } else {
      unsetenv("QLM_STORE");
    }
    const auto start = std::chrono::steady_clock::now();
    std::vector<pid_t> pids;
    for (int i = 0; i < apps; ++i) {
      const std::string run = inst.newRunDir(std::to_string(i).c_str());
      const pid_t pid = fork();
      if (pid == 0) {  // a program of its own: this process may have the interface open
        setenv("QLM_RUNDIR", run.c_str(), 1);
        const std::string n = std::to_string(i), count = std::to_string(kAddsPerApp);
        execl(QLM_CONCURRENT_APP, QLM_CONCURRENT_APP, n.c_str(), count.c_str(), static_cast<char *>(nullptr));
        _exit(127);
      }
      pids.push_back(pid);
    }
    bool ok = true;
    for (pid_t pid : pids) {
      int status = -1;
      waitpid(pid, &status, 0);
      ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    if (!ok) state.SkipWithError("an application failed");
    requests += apps * (kAddsPerApp + 3);
    total += seconds;
  }
  state.counters["requests_per_second"] = requests / total;
  unsetenv("QLM_STORE");
}

}  // namespace

BENCHMARK(BM_ConcurrentAdds)
    ->ArgsProduct({{1, 4, 16}, {0, 1}})
    ->ArgNames({"apps", "postgres"})
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
