// Costs of the registry store's common operations: reading one setting as the
// trace facility does on every re-read, and writing a status value as the
// agent does on every status change.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/registry/Registry.h"

namespace {

class ScratchRegistry {
 public:
  ScratchRegistry() {
    char pattern[] = "/tmp/lorveth-bench-XXXXXX";
    root_ = mkdtemp(pattern);
    setenv("LORVETH_STATE_DIR", (root_ + "/state").c_str(), 1);
    setenv("LORVETH_RUNTIME_DIR", (root_ + "/run").c_str(), 1);
  }
  ~ScratchRegistry() { std::filesystem::remove_all(root_); }
  ScratchRegistry(const ScratchRegistry&) = delete;
  ScratchRegistry& operator=(const ScratchRegistry&) = delete;

 private:
  std::string root_;
};

void BM_OpenQueryDwordClose(benchmark::State& state) {
  ScratchRegistry scratch;
  platform::RegistryKey::Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Debug")
      ->SetDword("DynamicUpdate", 5);
  for (auto _ : state) {
    auto key = platform::RegistryKey::Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Debug");
    benchmark::DoNotOptimize(key->QueryDword("DynamicUpdate"));
  }
}
BENCHMARK(BM_OpenQueryDwordClose);

void BM_SetVolatileStatusValue(benchmark::State& state) {
  ScratchRegistry scratch;
  auto key = platform::RegistryKey::Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quorvath\\#Status", true);
  int counter = 0;
  for (auto _ : state) key->SetString("Lorveth_Agent", (++counter & 1) ? "running" : "loaded");
}
BENCHMARK(BM_SetVolatileStatusValue);

// Subkey enumeration by index with state.range(0) subkeys.
void BM_EnumerateSubKeys(benchmark::State& state) {
  ScratchRegistry scratch;
  for (int i = 0; i < state.range(0); ++i) {
    platform::RegistryKey::Create(HKEY_LOCAL_MACHINE, "Many\\Key" + std::to_string(i));
  }
  auto key = platform::RegistryKey::Open(HKEY_LOCAL_MACHINE, "Many");
  for (auto _ : state) benchmark::DoNotOptimize(key->EnumSubKeys());
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_EnumerateSubKeys)->Range(8, 512)->Complexity();

}  // namespace

BENCHMARK_MAIN();
