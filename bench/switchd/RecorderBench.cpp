// The report recorder's cost: 1,000 reports recording this machine's CPU and
// memory load every second through the builtin source for a minute (CPU time
// per second of wall time, database growth per record), and the lookup of one
// record of a report with 100,000 records through the module's read command,
// the exchange behind every record an SNMP walk reads.
//
//   bench_switchd_recorder                          # the minute-long run included
//   LORVETH_BENCH_SECONDS=10 bench_switchd_recorder # a shorter recording run
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "services/switchd/RecordStore.h"
#include "services/switchd/Recorder.h"
#include "services/switchd/Scheduler.h"
#include "services/switchd/Sources.h"
#include "services/switchd/ThresholdModule.h"

namespace {

struct DataDir {
  std::string path;
  DataDir() {
    std::string pattern = "/tmp/lorveth-recorder-bench-XXXXXX";
    path = mkdtemp(pattern.data());
  }
  ~DataDir() { std::filesystem::remove_all(path); }
};

// `reports` reports of an Interval of 1 s, alternately on the CPU and the
// memory load; all in one set when `recording`.
void WriteTables(const std::string& dir, int reports, bool recording) {
  std::ofstream(dir + "/Resources.xml")
      << "<Resources><Resource Name=\"cpu\"><Request Type=\"builtin\">cpu.load.percent</Request>"
         "<Unit>%</Unit></Resource><Resource Name=\"memory\"><Request Type=\"builtin\">"
         "memory.used.percent</Request><Unit>%</Unit></Resource></Resources>";
  std::string text = "<Reports>";
  std::string set = "<ReportSets><ReportSet Name=\"all\">";
  for (int i = 0; i < reports; ++i) {
    const std::string name = "report-" + std::to_string(i);
    text += "<Report Name=\"" + name + "\"><Interval>1</Interval><Resource Name=\"" +
            (i % 2 == 0 ? "cpu" : "memory") + "\"/><Instances Monitor=\"any\"/></Report>";
    set += "<Report Name=\"" + name + "\"/>";
  }
  std::ofstream(dir + "/Reports.xml") << text << "</Reports>";
  std::ofstream(dir + "/ReportSets.xml")
      << (recording ? set + "</ReportSet></ReportSets>" : "<ReportSets/>");
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void BM_RecordingReports(benchmark::State& state) {
  const char* configured = std::getenv("LORVETH_BENCH_SECONDS");
  const int seconds = configured != nullptr ? std::max(1, std::atoi(configured)) : 60;
  const int reports = static_cast<int>(state.range(0));
  for (auto _ : state) {
    DataDir dir;
    WriteTables(dir.path, reports, true);
    switchd::ThresholdModule module(dir.path);
    std::string error;
    if (!module.Load(&error)) state.SkipWithError(error.c_str());
    auto store = switchd::RecordStore::Open(dir.path + "/records.db", &error);
    const int64_t bytes_before = store->FileBytes();
    switchd::SystemClock clock;
    switchd::Scheduler scheduler(clock);
    switchd::Sources sources{switchd::EngineSettings{}};
    auto recorder = std::make_shared<switchd::Recorder>(
        module, scheduler, sources, clock, std::move(store), switchd::EngineSettings{});
    recorder->ConfigureNow();
    const double cpu_before = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    scheduler.Start();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    scheduler.Stop();
    recorder->WaitForWrites();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = CpuSeconds() - cpu_before;
    double records = 0;
    for (const auto& summary : recorder->Summaries()) records += summary.records;
    const int64_t with_log = recorder->Store().FileBytes() - bytes_before;
    recorder->Store().Checkpoint();
    const int64_t growth = recorder->Store().FileBytes() - bytes_before;
    state.counters["cpu_percent_of_a_core"] = 100.0 * cpu / wall;
    state.counters["records"] = records;
    state.counters["records_per_s"] = records / wall;
    state.counters["db_bytes_per_record"] = records > 0 ? static_cast<double>(growth) / records : 0;
    state.counters["with_log_bytes_per_record"] =
        records > 0 ? static_cast<double>(with_log) / records : 0;
  }
}
BENCHMARK(BM_RecordingReports)->Arg(1000)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

// Answers nothing: the lookup benchmark never polls.
class NoSource final : public switchd::ResourceSource {
 public:
  bool Validate(const switchd::ResourceQuery&, std::string*) const override { return true; }
  void Read(const switchd::ResourceQuery&, std::function<void(switchd::Reading)> done) override {
    done(switchd::Reading{});
  }
};

void BM_RecordLookup(benchmark::State& state) {
  const DWORD count = static_cast<DWORD>(state.range(0));
  DataDir dir;
  WriteTables(dir.path, 1, false);
  switchd::ThresholdModule module(dir.path);
  std::string error;
  if (!module.Load(&error)) state.SkipWithError(error.c_str());
  auto store = switchd::RecordStore::Open(dir.path + "/records.db", &error);
  std::vector<switchd::NewRecord> batch;
  for (DWORD n = 1; n <= count; ++n) {
    batch.push_back({"report-0", "2026-03-01 08:00:00 eth0=" + std::to_string(n) + " lo=4", count});
    if (batch.size() == 10000 || n == count) {
      store->Append(batch, &error);
      batch.clear();
    }
  }
  switchd::SystemClock clock;
  switchd::Scheduler scheduler(clock);
  NoSource source;
  auto recorder = std::make_shared<switchd::Recorder>(module, scheduler, source, clock,
                                                      std::move(store), switchd::EngineSettings{});
  recorder->ConfigureNow();
  module.SetReportState(recorder);
  const std::string name = std::string("report-0") + '\0';
  DWORD r = 0;
  for (auto _ : state) {
    // Spread over the whole report, as a walk and random GETs would ask.
    r = (r + 7919) % count;
    const switchd::ModuleReply reply =
        module.Handle({0x2213, r >> 16, r & 0xFFFF, 0xFFFFFFFF, name});
    benchmark::DoNotOptimize(reply.data.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RecordLookup)->Arg(100000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
