// The threshold agent through its entry points (the test copy of the agent
// library with the fake threshold module): loading a rule table of up to
// 10,000 rows, with the heap the loaded MIB takes, and a full GET-NEXT walk
// of the resulting MIB through SnmpExtensionQuery.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <string>

#include "bench/threshold/RuleTable.h"
#include "threshold/ThresholdLibrary.h"

namespace {

using threshold_test::ThresholdLibrary;

using threshold_bench::RuleTable;

size_t HeapInUse() { return mallinfo2().uordblks; }

// Loading: each iteration is one change event for the rule table, which
// removes the table's subtree and loads the table again.  Heap: what the
// loaded rows hold once the start-up load is done.
void BM_RuleTableLoad(benchmark::State& state) {
  ThresholdLibrary lib;
  lib.Load();
  const std::string table = RuleTable(state.range(0));
  lib.set_table(0x311, table.c_str());
  const size_t heap_before = HeapInUse();
  if (!lib.Start()) {
    state.SkipWithError("the agent did not start");
    return;
  }
  const size_t heap_after = HeapInUse();
  for (auto _ : state) {
    benchmark::DoNotOptimize(lib.raise_table_changed(0x311));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.counters["entries"] = static_cast<double>(lib.mib_entry_count());
  state.counters["table_bytes"] = static_cast<double>(table.size());
  state.counters["heap_bytes"] = static_cast<double>(heap_after - heap_before);
  state.counters["heap_bytes_per_row"] =
      static_cast<double>(heap_after - heap_before) / static_cast<double>(state.range(0));
}
BENCHMARK(BM_RuleTableLoad)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// A full walk, one GET-NEXT per request, from the root to the end of the MIB.
// Every threshRuleCurrentValue instance asks the fake module once.
void BM_FullWalk(benchmark::State& state) {
  ThresholdLibrary lib;
  lib.Load();
  lib.set_table(0x311, RuleTable(state.range(0)).c_str());
  if (!lib.Start()) {
    state.SkipWithError("the agent did not start");
    return;
  }
  size_t entries = 0;
  for (auto _ : state) {
    entries = lib.Walk().size();
    benchmark::DoNotOptimize(entries);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(entries));
  state.counters["entries"] = static_cast<double>(entries);
}
BENCHMARK(BM_FullWalk)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
