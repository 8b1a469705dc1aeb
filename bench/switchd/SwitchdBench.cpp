// The threshold module at table sizes from 100 to 10,000 rules: a store that
// changes one rule (parse, merge, atomic write with fsync), a whole-table
// request, and a current-value request (which looks the rule up by name).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "services/switchd/ThresholdModule.h"

namespace {

struct DataDir {
  std::string path;
  DataDir() {
    std::string pattern = "/tmp/lorveth-switchd-bench-XXXXXX";
    path = mkdtemp(pattern.data());
  }
  ~DataDir() { std::filesystem::remove_all(path); }
};

std::unique_ptr<switchd::ThresholdModule> ModuleWithRules(const DataDir& dir, int64_t rules) {
  std::string text = "<Rules>\r\n";
  for (int64_t i = 0; i < rules; ++i) {
    text += "<Rule Name=\"rule-" + std::to_string(i) +
            "\">\r\n<Description>d</Description>\r\n<Interval>60</Interval>\r\n"
            "<Threshold Type=\"absolute\" Operator=\"greater\" Value=\"90\"/>\r\n</Rule>\r\n";
  }
  std::ofstream(dir.path + "/Rules.xml") << text << "</Rules>\r\n";
  auto module = std::make_unique<switchd::ThresholdModule>(dir.path);
  std::string error;
  if (!module->Load(&error)) return nullptr;
  return module;
}

void BM_StoreChangingOneRule(benchmark::State& state) {
  DataDir dir;
  auto module = ModuleWithRules(dir, state.range(0));
  const std::string last = "rule-" + std::to_string(state.range(0) - 1);
  int64_t value = 0;
  for (auto _ : state) {
    const std::string document = "<Rules><Rule Name=\"" + last + "\"><Threshold Value=\"" +
                                 std::to_string(++value) + "\"/></Rule></Rules>";
    std::string reason;
    benchmark::DoNotOptimize(module->Store(0x311, document, &reason));
  }
}
BENCHMARK(BM_StoreChangingOneRule)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_TableRequest(benchmark::State& state) {
  DataDir dir;
  auto module = ModuleWithRules(dir, state.range(0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(module->Handle({0xE001, 0x311, 0, 0xFFFFFFFF, {}}));
  }
}
BENCHMARK(BM_TableRequest)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_CurrentValueRequest(benchmark::State& state) {
  DataDir dir;
  auto module = ModuleWithRules(dir, state.range(0));
  const std::string last = "rule-" + std::to_string(state.range(0) - 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(module->Handle({0x2207, 0, 0, 0xFFFFFFFF, last}));
  }
}
BENCHMARK(BM_CurrentValueRequest)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
