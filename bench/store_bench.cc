// Lists in the store alone: what a page costs in an address book of 100 entries
// and in one of 65,535, with and without a selection, and paging through all of a
// large one against listing it at once. The ratios the targets speak of are
// printed at the end of the run (list_bench.cc):
//   page of 20 from 65,535 / page of 20 from 100          (target: at most 2)
//   the same with a selection on the key, and on a city that 20 entries share
//   paging through 65,535 in pages of 1,000 / one list of all (target: at most 1.5)
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "catalog.h"
#include "store.h"

namespace {

using qlm::rqmgr::Cmp;
using qlm::rqmgr::ListPlan;
using qlm::rqmgr::Store;

constexpr std::uint16_t kAddr = 105, kLastname = 107, kCity = 111;

// A store holding one project whose address book has `n` addresses n00000...: every
// twentieth-of-n-th shares a city, so that a city matches 20 entries (of 100: 1).
struct Book {
  std::string dir;
  std::unique_ptr<Store> store;
  std::int64_t project = 0;
  explicit Book(int n) {
    char tmpl[] = "/tmp/qlmbXXXXXX";
    dir = mkdtemp(tmpl);
    store = std::make_unique<Store>(dir + "/q.db");
    store->begin(true);
    project = store->add(qlm::rqmgr::kInstallation, 451, "Bench", {}, Store::now());
    for (int i = 0; i < n; ++i) {
      char nick[16], city[16];
      std::snprintf(nick, sizeof nick, "n%05d", i);
      std::snprintf(city, sizeof city, "C%05d", i % (n / 20 > 0 ? n / 20 : 1));
      store->add(project, kAddr, nick, {{kLastname, "Lastname"}, {kCity, city}}, "20260101000000");
    }
    store->commit();
  }
  ~Book() {
    store.reset();
    std::system(("rm -rf " + dir).c_str());
  }
  ListPlan plan(std::int64_t offset, std::int64_t limit) const {
    ListPlan s;
    s.scope = project;
    s.kind = kAddr;
    s.offset = offset;
    s.limit = limit;
    return s;
  }
};

Book &book(int n) {
  static std::map<int, std::unique_ptr<Book>> books;
  auto &b = books[n];
  if (!b) b = std::make_unique<Book>(n);
  return *b;
}

// One list in its own read transaction, as the Request Manager runs it.
std::size_t run(Book &b, const ListPlan &s) {
  b.store->begin(false);
  const std::size_t n = b.store->list(s).size();
  b.store->commit();
  return n;
}

void BM_StorePage20(benchmark::State &state) {
  Book &b = book(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(run(b, b.plan(0, 20)));
}

void BM_StoreSelectKey20(benchmark::State &state) {  // the 20 addresses from the middle of the key range on
  Book &b = book(static_cast<int>(state.range(0)));
  ListPlan s = b.plan(0, 20);
  char from[16];
  std::snprintf(from, sizeof from, "n%05d", static_cast<int>(state.range(0) / 2));
  s.select.push_back({qlm::rqmgr::kKeyCode, Cmp::Ge, from});
  for (auto _ : state) benchmark::DoNotOptimize(run(b, s));
}

void BM_StoreSelectCity20(benchmark::State &state) {  // a city that 20 addresses share (1 of 100)
  Book &b = book(static_cast<int>(state.range(0)));
  ListPlan s = b.plan(0, 20);
  s.select.push_back({kCity, Cmp::Eq, "C00003"});
  for (auto _ : state) benchmark::DoNotOptimize(run(b, s));
}

void BM_StoreListAll(benchmark::State &state) {
  Book &b = book(65535);
  for (auto _ : state) benchmark::DoNotOptimize(run(b, b.plan(0, 65535)));
}

void BM_StorePageThroughAll1000(benchmark::State &state) {
  Book &b = book(65535);
  for (auto _ : state)
    for (std::int64_t at = 0; at < 65535; at += 1000) benchmark::DoNotOptimize(run(b, b.plan(at, 1000)));
}

}  // namespace

BENCHMARK(BM_StorePage20)->Arg(100)->Arg(65535);
BENCHMARK(BM_StoreSelectKey20)->Arg(100)->Arg(65535);
BENCHMARK(BM_StoreSelectCity20)->Arg(100)->Arg(65535);
BENCHMARK(BM_StoreListAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StorePageThroughAll1000)->Unit(benchmark::kMillisecond);
