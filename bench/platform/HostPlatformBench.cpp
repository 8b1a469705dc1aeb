// What the host pieces cost per call: the trap switch lookup in an
// initialization file of N keys, a version string read from a library file,
// and formatting an alert text from a message library.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/eventlog/Messages.h"
#include "platform/system/Modules.h"
#include "platform/system/Profile.h"
#include "platform/system/Version.h"

namespace {

void BM_TrapSwitchLookup(benchmark::State& state) {
  const std::string path = "/tmp/lorveth-bench-" + std::to_string(getpid()) + ".ini";
  {
    std::ofstream file(path);
    file << "[Other]\nx=1\n[TrapTable]\n";
    for (int64_t i = 0; i < state.range(0); ++i) file << 2000 + i << "=1\n";
  }
  const std::string last = std::to_string(2000 + state.range(0) - 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetPrivateProfileIntA("TrapTable", last.c_str(), 1, path.c_str()));
  }
  std::remove(path.c_str());
}
BENCHMARK(BM_TrapSwitchLookup)->Arg(10)->Arg(350)->Arg(5000);

#ifdef LORVETH_VERSIONED_MODULE
void BM_VersionStringFromFile(benchmark::State& state) {
  std::vector<unsigned char> block;
  for (auto _ : state) {
    DWORD handle = 0;
    block.resize(GetFileVersionInfoSizeA(LORVETH_VERSIONED_MODULE, &handle));
    GetFileVersionInfoA(LORVETH_VERSIONED_MODULE, 0, static_cast<DWORD>(block.size()), block.data());
    LPVOID value = nullptr;
    UINT length = 0;
    benchmark::DoNotOptimize(VerQueryValueA(
        block.data(), "\\StringFileInfo\\040704E4\\FileVersion", &value, &length));
  }
}
BENCHMARK(BM_VersionStringFromFile);

void BM_FormatAlertText(benchmark::State& state) {
  HMODULE library = LoadLibraryExA(LORVETH_MESSAGE_MODULE, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  const char* args[] = {"srv1", "2026-12-05 12:00", "cpu", "97", "busy"};
  char text[1000];
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, library,
                       0x80002FAA, 0, text, sizeof text, platform::ArgumentArray(args)));
  }
  FreeLibrary(library);
}
BENCHMARK(BM_FormatAlertText);
#endif

}  // namespace

BENCHMARK_MAIN();
