// Address requests against the real Request Manager: the cost of one add, and
// listing N addresses (thousands of continuation messages for large N) against
// reading the same rows straight from SQLite in one process.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <map>
#include <stdexcept>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "qlmc32.h"
#include "store.h"

namespace {

// One installation with a running Request Manager and the project "Bench" whose
// address book is open, shared by the benchmarks of this file.
struct Session {
  Session() {
    qlm::bench::session();
    QlmProj p;
    QlmResetMem(reinterpret_cast<char *>(&p), sizeof p);
    QlmReplaceField(p.projname, 20, "Bench");
    if (QlmAddProj(reinterpret_cast<char *>(&p), nullptr) != 0) throw std::runtime_error("add project");
    char ctx[20];
    QlmReplaceField(ctx, 20, "Bench");
    if (QlmOpenAdbk(ctx) != 0) throw std::runtime_error("open address book");
  }
  std::string db() const { return qlm::bench::session().root() + "/data/quillmar.db"; }
  // Makes the address book hold exactly addresses n00000.. up to `n` (seeded in one transaction).
  void seed(int n) {
    if (n == seeded) return;
    qlm::rqmgr::Store store(db());
    store.begin(true);
    const auto project = store.find(qlm::rqmgr::kInstallation, 451, "Bench");
    for (const auto &e : store.entries(project->id, 105)) store.remove(e.id);
    const std::string stamp = qlm::rqmgr::Store::now();
    for (int i = 0; i < n; ++i) {
      char nick[16];
      std::snprintf(nick, sizeof nick, "n%05d", i);
      store.add(project->id, 105, nick, {{107, "Lastname"}, {111, "City"}}, stamp);
    }
    store.commit();
    seeded = n;
  }
  int seeded = -1;
};

Session &session() {
  static auto *s = new Session();  // ends with the process; the library's unload closes it
  return *s;
}

void BM_AddAddress(benchmark::State &state) {
  Session &s = session();
  s.seeded = -1;
  QlmAddrReq r;
  QlmResetMem(reinterpret_cast<char *>(&r), sizeof r);
  QlmReplaceField(r.context, 20, "Bench");
  QlmReplaceField(r.addr.lastname, 20, "Lastname");
  static long i = 0;  // fresh keys across repetitions
  const std::uint64_t flushes = qlm::bench::session().server->flushes();
  for (auto _ : state) {
    char nick[32];
    std::snprintf(nick, sizeof nick, "a%07ld", i++ % 10000000);
    QlmReplaceField(r.addr.nickname, 20, nick);
    if (QlmAddAddr(reinterpret_cast<char *>(&r), nullptr) != 0) {
      state.SkipWithError("add failed");
      break;
    }
  }
  // fsync/fdatasync calls of the Request Manager (counted by its preloaded
  // qlm_counting) per add: the default durability costs at most one.
  state.counters["flushes"] =
      static_cast<double>(qlm::bench::session().server->flushes() - flushes) / static_cast<double>(state.iterations());
}

void BM_ListAddresses(benchmark::State &state) {
  Session &s = session();
  const int n = static_cast<int>(state.range(0));
  s.seed(n);
  std::vector<QlmAddr> area(n);
  QlmListQual q;
  QlmResetMem(reinterpret_cast<char *>(&q), sizeof q);
  QlmReplaceField(q.context, 20, "Bench");
  QlmReplaceField(q.sortfield, 25, "nickname");
  QlmReplaceField(q.startentry, 5, "1");
  QlmReplaceField(q.numentries, 5, std::to_string(n).c_str());
  uint16_t count = 0;
  for (auto _ : state) {
    if (QlmListAddr(reinterpret_cast<char *>(&q), &count, reinterpret_cast<char *>(area.data())) != 0 ||
        count != n) {
      state.SkipWithError("list failed");
      break;
    }
  }
  state.counters["entries"] = n;
}

// A page of 20 addresses from the start of the list, through library and server.
void BM_ListPage20(benchmark::State &state) {
  Session &s = session();
  s.seed(static_cast<int>(state.range(0)));
  QlmAddr area[20];
  QlmListQual q;
  QlmResetMem(reinterpret_cast<char *>(&q), sizeof q);
  QlmReplaceField(q.context, 20, "Bench");
  QlmReplaceField(q.startentry, 5, "1");
  QlmReplaceField(q.numentries, 5, "20");
  uint16_t count = 0;
  for (auto _ : state)
    if (QlmListAddr(reinterpret_cast<char *>(&q), &count, reinterpret_cast<char *>(area)) != 0 || count != 20) {
      state.SkipWithError("list failed");
      break;
    }
}

// The bytes of a list of `n` seeded addresses sent raw: one request, then as many
// messages of 3072 bytes as the answer needs (41 bytes a record).
void BM_RawTransfer(benchmark::State &state) {
  const int n = static_cast<int>(state.range(0));
  const int messages = (n * 41 + 3040) / 3041;
  qlm::bench::RawPeer peer(3072);
  for (auto _ : state) peer.stream(128, messages);
  state.counters["messages"] = messages;
}

void BM_SqliteReadRows(benchmark::State &state) {
  Session &s = session();
  const int n = static_cast<int>(state.range(0));
  s.seed(n);
  sqlite3 *db = nullptr;
  sqlite3_open_v2(s.db().c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt *st = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT e.key, f.name_id, f.value FROM entries e LEFT JOIN fields f ON f.entry = e.id "
                     "WHERE e.kind = 105 ORDER BY e.key",
                     -1, &st, nullptr);
  std::vector<QlmAddr> area(n);
  for (auto _ : state) {
    int rows = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
      const char *key = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
      QlmReplaceField(area[rows / 2 % n].nickname, 20, key);
      ++rows;
    }
    sqlite3_reset(st);
    benchmark::DoNotOptimize(rows);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  state.counters["entries"] = n;
}

}  // namespace

BENCHMARK(BM_AddAddress)->UseRealTime()->Iterations(2000);
BENCHMARK(BM_ListAddresses)->UseRealTime()->Arg(1000)->Arg(10000)->Arg(65535)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteReadRows)->UseRealTime()->Arg(1000)->Arg(10000)->Arg(65535)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawTransfer)->UseRealTime()->Arg(65535)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListPage20)->UseRealTime()->Arg(100)->Arg(65535);

// Runs everything, then prints the ratios that the targets speak of.
int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  struct Reporter : benchmark::ConsoleReporter {
    std::map<std::string, double> ns;
    void ReportRuns(const std::vector<Run> &runs) override {
      for (const Run &r : runs) ns[r.benchmark_name()] = r.GetAdjustedRealTime() *
          (r.time_unit == benchmark::kMillisecond ? 1e6 : r.time_unit == benchmark::kMicrosecond ? 1e3 : 1);
      ConsoleReporter::ReportRuns(runs);
    }
  } reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // A benchmark's time: its single run, or the mean of its repetitions.
  auto time = [&](const std::string &name) {
    for (const std::string &n : {name, name + "_mean"})
      if (reporter.ns.count(n)) return reporter.ns[n];
    return 0.0;
  };
  auto ratio = [&](const std::string &a, const std::string &b) {
    if (time(a) > 0 && time(b) > 0) std::printf("%-50s %8.2f x  (%s)\n", a.c_str(), time(a) / time(b), b.c_str());
  };
  std::printf("\nRatios\n");
  ratio("BM_LibraryRoundTrip/real_time", "BM_RawPingPong/real_time");
  ratio("BM_AddAddress/iterations:2000/real_time", "BM_RawPingPong/real_time");
  for (const char *n : {"1000", "10000", "65535"})
    ratio(("BM_ListAddresses/" + std::string(n) + "/real_time").c_str(),
          ("BM_SqliteReadRows/" + std::string(n) + "/real_time").c_str());
  ratio("BM_Send100MiB/iterations:3/real_time", "BM_CopyFileWithFlush100MiB/iterations:3/real_time");
  for (const char *b : {"BM_StorePage20", "BM_StoreSelectKey20", "BM_StoreSelectCity20", "BM_ListPage20"})
    ratio(std::string(b) + (b[3] == 'L' ? "/65535/real_time" : "/65535"), std::string(b) + (b[3] == 'L' ? "/100/real_time" : "/100"));
  ratio("BM_StorePageThroughAll1000", "BM_StoreListAll");
  if (time("BM_SqliteReadRows/65535/real_time") > 0 && time("BM_RawTransfer/65535/real_time") > 0)
    std::printf("%-50s %8.2f x  (SQLite read + raw transfer)\n", "BM_ListAddresses/65535/real_time",
                time("BM_ListAddresses/65535/real_time") /
                    (time("BM_SqliteReadRows/65535/real_time") + time("BM_RawTransfer/65535/real_time")));
  ratio("BM_Receive100MiB/iterations:3/real_time", "BM_CopyFileWithFlush100MiB/iterations:3/real_time");
  benchmark::Shutdown();
  return 0;
}
