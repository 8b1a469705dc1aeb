// Configuration documents at table sizes from 100 to 10,000 rules: iterating a
// table and reading every column of every rule (what a table load does),
// merging one changed record into a table (what a store does), and building
// the store document of one SET from scratch.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/threshold/RuleTable.h"
#include "threshold/documents/ConfigDocument.h"
#include "threshold/documents/Records.h"

namespace {

using threshold_bench::RuleTable;

void BM_LoadRuleTableReadingEveryColumn(benchmark::State& state) {
  const std::string text = RuleTable(state.range(0));
  int64_t columns = 0;
  for (auto _ : state) {
    ConfigDocument table(text);
    RecordDocument record;
    for (bool more = table.FindFirstRecord("Rule", &record); more;
         more = table.FindNextRecord("Rule", &record)) {
      for (const records::RecordItem* item : records::AllItems()) {
        if (item->record != "Rule") continue;
        if (item->form == records::ItemForm::kText) {
          benchmark::DoNotOptimize(record.ItemText(*item));
        } else {
          benchmark::DoNotOptimize(record.ColumnValue(*item));
        }
        ++columns;
      }
    }
    benchmark::DoNotOptimize(table.ModifiedTime());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.counters["columns/s"] =
      benchmark::Counter(static_cast<double>(columns), benchmark::Counter::kIsRate);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_LoadRuleTableReadingEveryColumn)->Arg(100)->Arg(1000)->Arg(10000);

void BM_MergeChangedRecordIntoTable(benchmark::State& state) {
  ConfigDocument table(RuleTable(state.range(0)));
  RecordDocument record("Rule", "rule-" + std::to_string(state.range(0) / 2));
  records::RuleRecord rule(record);
  int i = 0;
  for (auto _ : state) {
    rule.SetPollInterval(++i);
    benchmark::DoNotOptimize(table.MergeRecord(record));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MergeChangedRecordIntoTable)->Arg(100)->Arg(1000)->Arg(10000);

void BM_BuildStoreDocumentOfOneSet(benchmark::State& state) {
  for (auto _ : state) {
    RecordDocument record("Rule", "cpu");
    records::RuleRecord rule(record);
    rule.SetDescription("Watch the processor");
    rule.SetPollInterval(30);
    rule.SetOperator(4);
    rule.SetThresholdValue(90);
    rule.SetInstIndexes("0");
    ConfigDocument table;
    table.ResetDocument("Rules");
    table.MergeRecord(record);
    benchmark::DoNotOptimize(table.DocumentText().size());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildStoreDocumentOfOneSet);

}  // namespace

BENCHMARK_MAIN();
