// What a trace call site costs while tracing is off (the common case of a
// quiet agent), and what one line costs when it goes to the trace file.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/registry/Registry.h"
#include "trace/FileDebug.h"

namespace {

void BM_TraceCallSiteWhileOff(benchmark::State& state) {
  int counter = 0;
  for (auto _ : state) {
    TRACE(3, "\n%-20s: request %d for %s", "LORVETH_AGENT", counter, "1.3.6.1.4.1");
    benchmark::DoNotOptimize(++counter);
  }
}
BENCHMARK(BM_TraceCallSiteWhileOff);

// A registry and a trace file in a scratch directory, with the prefixes
// that an administrator typically switches on.
class TraceFileSetup {
 public:
  TraceFileSetup() {
    char pattern[] = "/tmp/lorveth-bench-XXXXXX";
    root_ = mkdtemp(pattern);
    setenv("LORVETH_STATE_DIR", (root_ + "/state").c_str(), 1);
    setenv("LORVETH_RUNTIME_DIR", (root_ + "/run").c_str(), 1);
    auto app = platform::RegistryKey::Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Debug\\Bench");
    app->SetDword("FileDebugLevel", 5);
    app->SetDword("TimeStampOn", 1);
    app->SetDword("ThreadIdOn", 1);
    app->SetString("TraceFile", root_ + "/trace.log");
  }
  ~TraceFileSetup() { std::filesystem::remove_all(root_); }
  TraceFileSetup(const TraceFileSetup&) = delete;
  TraceFileSetup& operator=(const TraceFileSetup&) = delete;

 private:
  std::string root_;
};

void BM_TraceLineToFile(benchmark::State& state) {
  TraceFileSetup setup;
  CFileDebug trace("Bench", false);
  int counter = 0;
  for (auto _ : state) {
    trace.Print(3, "\n%-20s: request %d for %s", "LORVETH_AGENT", ++counter, "1.3.6.1.4.1");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TraceLineToFile);

void BM_TraceLineFilteredByLevel(benchmark::State& state) {
  TraceFileSetup setup;
  CFileDebug trace("Bench", false);
  for (auto _ : state) trace.Print(6, "\n%-20s: too detailed", "LORVETH_AGENT");
}
BENCHMARK(BM_TraceLineFilteredByLevel);

}  // namespace

BENCHMARK_MAIN();
