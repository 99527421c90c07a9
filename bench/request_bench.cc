// The request path: QlmListProj of one entry through the library, the transport and
// the real Request Manager, against a raw two-hop AF_UNIX SOCK_SEQPACKET ping-pong
// of 256 bytes each way, measured in the same run: batches of each in turn.
//
// pinned:1 puts the benchmark, its Request Manager and the raw peer on one core
// (the figure to trust on a shared machine). pinned:0 leaves the library and its
// Request Manager on every core the benchmark may use, where the kernel places
// them, and times the raw ping-pong in both placements it can have: its two
// processes on one core (`raw_together_us`) and on two (`raw_apart_us`). The
// unpinned ratio is taken against the faster of the two, so that the raw
// exchange is never measured at a disadvantage, whatever ran before it.
// Counters, per request:
//   lib_us, raw_us     median over the batches (unpinned: raw_us is the faster
//                      placement of each batch)
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

// The cores the benchmark may use.
const cpu_set_t &Allowed() {
  static const cpu_set_t all = [] {
    cpu_set_t s;
    if (sched_getaffinity(0, sizeof s, &s) != 0) throw std::runtime_error("sched_getaffinity");
    return s;
  }();
  return all;
}

// The `nth` core the benchmark may use, counted from the last (0: the last one).
int Core(int nth) {
  for (int c = CPU_SETSIZE - 1; c >= 0; --c)
    if (CPU_ISSET(c, &Allowed()) && nth-- == 0) return c;
  throw std::runtime_error("not enough cores");
}

// Puts the processes on core `core`, or back on every allowed core (-1).
void Place(int core, std::initializer_list<pid_t> pids) {
  cpu_set_t use = Allowed();
  if (core >= 0) {
    CPU_ZERO(&use);
    CPU_SET(core, &use);
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
  if (pinned) Place(Core(0), {0, server, peer.pid()});
  QlmProjInfo list[1];
  uint16_t count = 0;
  auto request = [&] {
    if (QlmListProj(reinterpret_cast<char *>(&paging), &count, reinterpret_cast<char *>(list)) != 0 || count != 1)
      throw std::runtime_error("QlmListProj");
  };
  request();  // the first request may allocate what the later ones reuse
  // A batch of raw ping-pongs, its time per exchange; unpinned, with the two
  // processes on core `a` and core `b` for it.
  auto rawBatch = [&](int a, int b) {
    if (!pinned) Place(a, {0}), Place(b, {peer.pid()});
    const auto t0 = Clock::now();
    for (int i = 0; i < kBatch; ++i) peer.pingPong(kRawBytes);
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / kBatch;
    if (!pinned) Place(-1, {0, peer.pid()});
    return us;
  };
  const bool twoCores = !pinned && CPU_COUNT(&Allowed()) >= 2;
  std::vector<double> lib, raw, ratio, together, apart;
  for (auto *v : {&lib, &raw, &ratio, &together, &apart}) v->reserve(1000);
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
    const double l = std::chrono::duration<double, std::micro>(t1 - t0).count() / kBatch;
    double r = rawBatch(Core(0), Core(0));
    together.push_back(r);
    if (twoCores) apart.push_back(rawBatch(Core(0), Core(1))), r = std::min(r, apart.back());
    lib.push_back(l), raw.push_back(r), ratio.push_back(l / r);
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count() / kBatch);
  }
  Place(-1, {0, server, peer.pid()});
  state.counters["lib_us"] = Median(lib);
  state.counters["raw_us"] = Median(raw);
  state.counters["ratio"] = Median(ratio);
  if (twoCores) state.counters["raw_together_us"] = Median(together), state.counters["raw_apart_us"] = Median(apart);
  state.counters["lib_allocs"] = static_cast<double>(ownAllocs) / static_cast<double>(requests);
  state.counters["server_allocs"] = static_cast<double>(serverAllocs) / static_cast<double>(requests);
  state.counters["switches"] = static_cast<double>(switches) / static_cast<double>(requests);
  state.counters["server_cpu_us"] = serverCpu / static_cast<double>(requests);
  state.counters["lib_cpu_us"] = ownCpu / static_cast<double>(requests);
}

}  // namespace

BENCHMARK(BM_RequestPath)->ArgName("pinned")->Arg(1)->Arg(0)->Iterations(20)->Repetitions(5)->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
