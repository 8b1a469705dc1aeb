// Recorded report values through the entry points of the test copy of the
// agent library: a GET-NEXT walk over the value-record table of R reports
// with N records each, one request per answer, with the number of exchanges
// with the (fake, in-process) threshold module that the walk costs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include "threshold/ThresholdLibrary.h"

namespace {

using threshold_test::Oid;
using threshold_test::ThresholdLibrary;

std::string ReportTable(int64_t reports) {
  std::string text = "<Reports Modified=\"10/20/2006 8:56:53\">";
  for (int64_t i = 0; i < reports; ++i) {
    text += "<Report Name=\"report-" + std::to_string(i) + "\"><Resource Name=\"cpu\"/></Report>";
  }
  return text + "</Reports>";
}

// Walk from root.1.4.8 until the answer leaves the record table.
void BM_RecordWalk(benchmark::State& state) {
  const int64_t reports = state.range(0);
  const int64_t records = state.range(1);
  ThresholdLibrary lib;
  lib.Load();
  lib.set_table(0x321, ReportTable(reports).c_str());
  for (int64_t i = 0; i < reports; ++i) {
    const std::string name = "report-" + std::to_string(i);
    for (int64_t r = 1; r <= records; ++r) {
      const std::string value = "10/20/2006 09:" + std::to_string(r % 60) + " 42.5";
      std::vector<unsigned char> data(value.begin(), value.end());
      data.push_back(0);
      lib.SetReply(0x2213, name, data, 0, static_cast<unsigned>(r));
    }
  }
  if (!lib.Start()) {
    state.SkipWithError("the agent did not start");
    return;
  }
  const Oid table = lib.At("1.4.8");
  int64_t answers = 0;
  size_t exchanges = 0;
  for (auto _ : state) {
    const size_t frames_before = lib.frame_count();
    answers = 0;
    Oid at = table;
    for (;;) {
      threshold_test::VarBinds vbs;
      vbs.Add(at);
      AsnInteger32 status = 0, index = 0;
      lib.query(SNMP_PDU_GETNEXT, vbs.Get(), &status, &index);
      Oid next = threshold_test::NameOf(vbs[0]);
      if (next.size() < table.size() || !std::equal(table.begin(), table.end(), next.begin())) {
        break;
      }
      ++answers;
      at = std::move(next);
    }
    exchanges = lib.frame_count() - frames_before;
    benchmark::DoNotOptimize(answers);
  }
  state.SetItemsProcessed(state.iterations() * answers);
  state.counters["answers"] = static_cast<double>(answers);
  state.counters["exchanges"] = static_cast<double>(exchanges);
  state.counters["exchanges_per_answer"] =
      answers != 0 ? static_cast<double>(exchanges) / static_cast<double>(answers) : 0.0;
}
BENCHMARK(BM_RecordWalk)
    ->Args({10, 10})
    ->Args({100, 10})
    ->Args({10, 1000})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
