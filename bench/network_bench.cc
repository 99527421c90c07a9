// A large message through the network: sending and receiving a 100 MiB file
// through the library and the real Request Manager, against copying the same file
// with a flush, in the same run; and the Request Manager's peak resident memory.
// Counters:
//   server_peak_mib  the Request Manager's VmHWM after the transfers (target: under 64)
// Ratios (printed at the end): send / copy and receive / copy (target: at most 3 each).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_support.h"
#include "installation.h"
#include "network_app.h"
#include "qlmc32.h"

namespace {

constexpr std::size_t kBytes = 100u << 20;

// Two projects of the benchmark's installation on the network, in sessions, and
// the 100 MiB file in the exchange directory.
struct Network {
  qlm::test::NetApp from{"NetFrom", "LF", "MB-FROM"}, to{"NetTo", "LT", "MB-TO"};
  std::string exchange;
  Network() {
    exchange = qlm::bench::session().root() + "/exchange";
    if (from.open() != 0 || to.open() != 0 || from.start() != 0 || to.start() != 0)
      throw std::runtime_error("network set-up");
    std::vector<char> block(1 << 20);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 % 251);
    std::ofstream out(exchange + "/big", std::ios::binary);
    for (std::size_t n = 0; n < kBytes; n += block.size()) out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
};

Network &network() {
  static auto *n = new Network();
  return *n;
}

void copyWithFlush(const std::string &from, const std::string &to) {
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  std::vector<char> buf(256 * 1024);
  ssize_t n;
  while ((n = read(in, buf.data(), buf.size())) > 0)
    if (write(out, buf.data(), static_cast<std::size_t>(n)) != n) throw std::runtime_error("copy");
  fsync(out);
  close(in);
  close(out);
}

void BM_CopyFileWithFlush100MiB(benchmark::State &state) {
  Network &n = network();
  for (auto _ : state) copyWithFlush(n.exchange + "/big", n.exchange + "/copy");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}

void BM_Send100MiB(benchmark::State &state) {
  Network &n = network();
  for (auto _ : state)
    if (n.from.send("MB-TO", "big") != 0) {
      state.SkipWithError("send failed");
      break;
    }
  n.to.purge("*");  // what was sent is not received here (after the timed loop)
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}

void BM_Receive100MiB(benchmark::State &state) {
  Network &n = network();
  for (auto _ : state) {
    state.PauseTiming();
    const bool sent = n.from.send("MB-TO", "big") == 0;
    state.ResumeTiming();
    if (!sent || n.to.receive("received") != 0) {
      state.SkipWithError("send or receive failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
  state.counters["server_peak_mib"] = qlm::bench::serverPeakMiB();
}

}  // namespace

BENCHMARK(BM_CopyFileWithFlush100MiB)->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Send100MiB)->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Receive100MiB)->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
