// The library's round trip of one request against a raw two-hop socket
// ping-pong of the same sizes, measured in the same run.
//
// A request travels as a DDE poke (POKE frame + ICC header + RMIL) and is
// acknowledged; the answer comes back the same way. The raw ping-pong sends
// the request's and the answer's bytes once each. Counters:
//   ratio = library round trip / raw ping-pong (target: at most 2.5)
#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

#include "bench_support.h"
#include "installation.h"
#include "qlmc32.h"

namespace {

// The bytes on the wire of one QlmListProj exchange with an empty answer:
// POKE header 24 + ICC header 8 + RMIL; ACK 8.
constexpr int kRequestBytes = 24 + 8 + 10 + 4 * 5 + 3 + 5 + 5 + 1 + 2;  // items 3000,100,104,131,132 + end
constexpr int kReplyBytes = 24 + 8 + 10 + 7 + 5 + 5 + 4;

// A script answering `n` list requests with an empty list.
std::string script(int n) {
  std::string s;
  const std::string reply =
      "reply 00 0C {len} 01 00 00 00 00 00 03 00 B9 0B 32 35 39 {reflen} 64 00 {ref} 01 00 67 00 30 00 00 31 00\n";
  for (int i = 0; i < n; ++i) s += "request\n" + reply;
  return s;
}

void BM_RawPingPong(benchmark::State &state) {
  qlm::bench::RawPeer peer(kReplyBytes);
  for (auto _ : state) peer.pingPong(kRequestBytes);
  state.counters["bytes_out"] = kRequestBytes;
  state.counters["bytes_back"] = kReplyBytes;
}

void BM_LibraryRoundTrip(benchmark::State &state) {
  qlm::test::Installation inst(QLM_DOUBLE_PATH);
  const std::string path = inst.root() + "/script";
  std::ofstream(path) << script(200000);
  setenv("QLM_DOUBLE_SCRIPT", path.c_str(), 1);
  if (QlmOpenCInterface() != 0) {
    state.SkipWithError("open failed");
    return;
  }
  QlmPaging paging;
  QlmResetMem(reinterpret_cast<char *>(&paging), sizeof paging);
  QlmReplaceField(paging.startentry, 5, "1");
  QlmReplaceField(paging.numentries, 5, "10");
  uint16_t count = 0;
  for (auto _ : state)
    if (QlmListProj(reinterpret_cast<char *>(&paging), &count, nullptr) != 0) {
      state.SkipWithError("request failed");
      break;
    }
  QlmCloseCInterface();
}

}  // namespace

BENCHMARK(BM_RawPingPong)->UseRealTime();
BENCHMARK(BM_LibraryRoundTrip)->UseRealTime();
