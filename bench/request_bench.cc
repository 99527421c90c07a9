// The request path: QlmListProj of one entry through the library, the transport and
// the real Request Manager, against a raw two-hop AF_UNIX SOCK_SEQPACKET ping-pong
// of 256 bytes each way, measured in the same run: batches of each in turn, with
// the benchmark, its Request Manager and the raw peer pinned to one core
// (pinned:1; the figure to trust on a shared machine) and on every core the
// benchmark may use (pinned:0; run with repetitions and read the median).
// Counters, per request:
//   lib_us, raw_us     median over the batches
//   ratio              median over the batches of lib / raw (targets: pinned 4,
//                      unpinned 2.5)
//   lib_allocs         heap allocations of the benchmark's process (library)
//   server_allocs      heap allocations of the Request Manager
//   switches           context switches of the benchmark and its Request Manager
//   lib_cpu_us, server_cpu_us   processor time of the benchmark (the library's
//                      side) and of the Request Manager
#include <benchmark/benchmark.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <stdexcept>
#include <vector>

#include "bench_support.h"
#include "counting.h"
#include "qlmc32.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBatch = 500;
constexpr int kRawBytes = 256;

// Sets the processes on one core (the last the benchmark may use) or back on all of them.
void Place(bool pinned, std::initializer_list<pid_t> pids) {
  static const cpu_set_t all = [] {
    cpu_set_t s;
    if (sched_getaffinity(0, sizeof s, &s) != 0) throw std::runtime_error("sched_getaffinity");
    return s;
  }();
  cpu_set_t use = all;
  if (pinned) {
    int last = 0;
    for (int c = 0; c < CPU_SETSIZE; ++c)
      if (CPU_ISSET(c, &all)) last = c;
    CPU_ZERO(&use);
    CPU_SET(last, &use);
  }
  for (pid_t p : pids)
    if (sched_setaffinity(p, sizeof use, &use) != 0) throw std::runtime_error("sched_setaffinity");
}

// The installation's project list holds exactly one entry for this benchmark's
// page of one; the paging record asking for it.
QlmPaging OnePage() {
  qlm::bench::session();
  QlmProj p;
  QlmResetMem(reinterpret_cast<char *>(&p), sizeof p);
  QlmReplaceField(p.projname, 20, "Path");
  QlmAddProj(reinterpret_cast<char *>(&p), nullptr);  // already there on the second run: refused, fine
  QlmPaging paging;
  QlmResetMem(reinterpret_cast<char *>(&paging), sizeof paging);
  QlmReplaceField(paging.startentry, 5, "1");
  QlmReplaceField(paging.numentries, 5, "1");
  return paging;
}

// The context switches of process `pid` so far (voluntary and not).
long Switches(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  long n = 0, sum = 0;
  while (status >> key)
    if ((key == "voluntary_ctxt_switches:" || key == "nonvoluntary_ctxt_switches:") && status >> n) sum += n;
  return sum;
}

// The processor time of process `pid` so far, in microseconds.
double CpuMicros(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string field;
  double ticks = 0;
  for (int i = 1; stat >> field && i <= 15; ++i)
    if (i == 14 || i == 15) ticks += std::stod(field);  // utime, stime
  return ticks * 1e6 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

void BM_RequestPath(benchmark::State &state) {
  const bool pinned = state.range(0) != 0;
  QlmPaging paging = OnePage();
  qlm::bench::Installed &s = qlm::bench::session();
  qlm::bench::RawPeer peer(kRawBytes);
  const pid_t server = qlm::test::Installation::serverPid(s.inst.run());
  Place(pinned, {0, server, peer.pid()});
  QlmProjInfo list[1];
  uint16_t count = 0;
  auto request = [&] {
    if (QlmListProj(reinterpret_cast<char *>(&paging), &count, reinterpret_cast<char *>(list)) != 0 || count != 1)
      throw std::runtime_error("QlmListProj");
  };
  request();  // the first request may allocate what the later ones reuse
  std::vector<double> lib, raw, ratio;
  lib.reserve(1000), raw.reserve(1000), ratio.reserve(1000);
  std::uint64_t ownAllocs = 0, serverAllocs = 0, requests = 0;
  long switches = 0;
  double serverCpu = 0, ownCpu = 0;
  for (auto _ : state) {
    const long switches0 = Switches(getpid()) + Switches(server);
    const double cpu0 = CpuMicros(server), ownCpu0 = CpuMicros(getpid());
    const std::uint64_t own0 = qlm::bench::ownCounts().allocations.load(), server0 = s.server->allocations();
    const auto t0 = Clock::now();
    for (int i = 0; i < kBatch; ++i) request();
    const auto t1 = Clock::now();
    ownAllocs += qlm::bench::ownCounts().allocations.load() - own0;
    switches += Switches(getpid()) + Switches(server) - switches0;
    serverCpu += CpuMicros(server) - cpu0;
    ownCpu += CpuMicros(getpid()) - ownCpu0;
    serverAllocs += s.server->allocations() - server0;
    requests += kBatch;
    for (int i = 0; i < kBatch; ++i) peer.pingPong(kRawBytes);
    const auto t2 = Clock::now();
    const double l = std::chrono::duration<double, std::micro>(t1 - t0).count() / kBatch;
    const double r = std::chrono::duration<double, std::micro>(t2 - t1).count() / kBatch;
    lib.push_back(l), raw.push_back(r), ratio.push_back(l / r);
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count() / kBatch);
  }
  Place(false, {0, server, peer.pid()});
  state.counters["lib_us"] = Median(lib);
  state.counters["raw_us"] = Median(raw);
  state.counters["ratio"] = Median(ratio);
  state.counters["lib_allocs"] = static_cast<double>(ownAllocs) / static_cast<double>(requests);
  state.counters["server_allocs"] = static_cast<double>(serverAllocs) / static_cast<double>(requests);
  state.counters["switches"] = static_cast<double>(switches) / static_cast<double>(requests);
  state.counters["server_cpu_us"] = serverCpu / static_cast<double>(requests);
  state.counters["lib_cpu_us"] = ownCpu / static_cast<double>(requests);
}

}  // namespace

BENCHMARK(BM_RequestPath)->ArgName("pinned")->Arg(1)->Arg(0)->Iterations(20)->Repetitions(5)->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
