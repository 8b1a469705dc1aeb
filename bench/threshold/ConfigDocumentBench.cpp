// Configuration documents at table sizes from 100 to 10,000 rules: iterating a
// table and reading every column of every rule (what a table load does),
// merging one changed record into a table (what a store does), and building
// the store document of one SET from scratch.
#include <benchmark/benchmark.h>

#include <string>

#include "threshold/documents/ConfigDocument.h"
#include "threshold/documents/Records.h"

namespace {

std::string RuleTable(int64_t rules) {
  std::string text = "<Rules Modified=\"10/20/2006 8:56:53\">\r\n";
  for (int64_t i = 0; i < rules; ++i) {
    const std::string n = std::to_string(i);
    text +=
        "<Rule Name=\"rule-" + n + "\">\r\n<Description>Watch resource " + n +
        "</Description>\r\n<Comment>c</Comment>\r\n<Interval>60</Interval>\r\n"
        "<WatchPeriod>300</WatchPeriod>\r\n<OccurenceCount>3</OccurenceCount>\r\n"
        "<Resource Name=\"cpu\"/>\r\n<Target Name=\"_Total\"/>\r\n"
        "<Instances Monitor=\"any\">\r\n<Indexes>0</Indexes>\r\n<Names>*</Names>\r\n"
        "</Instances>\r\n<Threshold Type=\"absolute\" Valuation=\"single-value\" "
        "Operator=\"greater\" Value=\"90\" RangeMin=\"0\" RangeMax=\"100\"/>\r\n"
        "<Event Name=\"cpu-high\" Control=\"continuous\" Delay=\"0\" Alternating=\"false\"/>\r\n"
        "<Performance>\r\n<Status>warning</Status>\r\n</Performance>\r\n</Rule>\r\n";
  }
  return text + "</Rules>\r\n";
}

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
