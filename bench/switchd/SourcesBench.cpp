// The cost of reading resources: one polling tick of builtin reads serving
// 100 to 10,000 queries spread over the catalogue (each kernel file read once
// per tick), each builtin measurement read alone in a fresh tick, and snmp
// reads of a local snmpd started by the benchmark (one at a time, and 1,000
// in flight at once).
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "LocalAgent.h"
#include "services/switchd/BuiltinSource.h"
#include "services/switchd/SnmpSource.h"

namespace {

using switchd::BuiltinArgument;
using switchd::BuiltinSource;
using switchd::Reading;
using switchd::RequestType;
using switchd::ResourceQuery;
using switchd_bench::LocalAgent;
using switchd_bench::TempDir;

// A request of each measurement as a rule would name it.
std::vector<std::string> CatalogueRequests(const std::string& file) {
  std::vector<std::string> requests;
  for (const auto& measurement : switchd::BuiltinCatalogue()) {
    std::string request = measurement.name;
    if (measurement.argument == BuiltinArgument::kPath) request += ":" + file;
    if (measurement.argument == BuiltinArgument::kOptionalPath) request += ":/";
    requests.push_back(request);
  }
  return requests;
}

void BM_BuiltinTick(benchmark::State& state) {
  const TempDir dir;
  const std::string file = dir.path + "/watched";
  std::ofstream(file) << "x";
  const std::vector<std::string> requests = CatalogueRequests(file);
  std::vector<ResourceQuery> queries;
  for (int64_t i = 0; i < state.range(0); ++i) {
    queries.push_back({RequestType::kBuiltin, requests[i % requests.size()], "", ""});
  }
  BuiltinSource source;
  int64_t failed = 0;
  for (auto _ : state) {
    source.BeginTick();
    for (const ResourceQuery& query : queries) {
      source.Read(query, [&](Reading reading) {
        failed += reading.ok ? 0 : 1;
        benchmark::DoNotOptimize(reading);
      });
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.counters["failed"] = static_cast<double>(failed);
}
BENCHMARK(BM_BuiltinTick)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// One measurement in a tick of its own: the cost of its file reads.
void BM_BuiltinMeasurementAlone(benchmark::State& state) {
  const TempDir dir;
  const std::string file = dir.path + "/watched";
  std::ofstream(file) << "x";
  const std::string request = CatalogueRequests(file)[state.range(0)];
  state.SetLabel(request.substr(0, request.find(':')));
  BuiltinSource source;
  const ResourceQuery query{RequestType::kBuiltin, request, "", ""};
  for (auto _ : state) {
    source.BeginTick();
    source.Read(query, [](Reading reading) { benchmark::DoNotOptimize(reading); });
  }
}
BENCHMARK(BM_BuiltinMeasurementAlone)
    ->DenseRange(0, static_cast<int>(switchd::BuiltinCatalogue().size()) - 1)
    ->Unit(benchmark::kMicrosecond);

// Starts `count` reads at once and waits for all of them; how many failed.
int ReadAll(switchd::SnmpSource& source, const ResourceQuery& query, int count) {
  std::mutex mutex;
  std::condition_variable all_done;
  int left = count;
  int failed = 0;
  for (int i = 0; i < count; ++i) {
    source.Read(query, [&](Reading reading) {
      std::lock_guard lock(mutex);
      failed += reading.ok ? 0 : 1;
      if (--left == 0) all_done.notify_one();
    });
  }
  std::unique_lock lock(mutex);
  all_done.wait(lock, [&] { return left == 0; });
  return failed;
}

// range(0): reads in flight at once; range(1): 0 a scalar, 1 a 100-row column.
void BM_SnmpRead(benchmark::State& state) {
  const LocalAgent agent;
  switchd::SnmpSource source(switchd::EngineSettings{});
  const ResourceQuery query{RequestType::kSnmp,
                            state.range(1) == 0 ? "1.3.6.1.4.1.99999.1.0" : "1.3.6.1.4.1.99999.2.1",
                            "", agent.Target()};
  // The agent is up once a read succeeds.
  for (int attempt = 0; attempt < 200 && ReadAll(source, query, 1) != 0; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const int count = static_cast<int>(state.range(0));
  int64_t failed = 0;
  for (auto _ : state) failed += ReadAll(source, query, count);
  state.SetItemsProcessed(state.iterations() * count);
  state.counters["failed"] = static_cast<double>(failed);
}
BENCHMARK(BM_SnmpRead)
    ->Args({1, 0})
    ->Args({1000, 0})
    ->Args({1, 1})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
