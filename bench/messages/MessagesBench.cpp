// Cost of turning a trap into alert text with the agent's Messages.dll: the
// message is looked up by a linear scan of the table, so early, middle and last
// identifiers are measured, and a whole alert through CTrapAlert.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "frame/TrapAlert.h"
#include "mibtree/SnmpVarbind.h"
#include "platform/eventlog/EventLog.h"
#include "platform/eventlog/Messages.h"
#include "platform/system/Modules.h"

namespace {

DWORD MessageIdOf(int trap) {
  for (const Trap2MsgRow* row = Trap2MsgTable; row->trap_number != -1; ++row) {
    if (row->trap_number == trap) return row->message_id;
  }
  return CTrapAlert::kNoMessage;
}

// range(0): the trap number, whose row position sets the length of the scan.
void BM_FormatMessageFromLibrary(benchmark::State& state) {
  HMODULE library = LoadLibraryExA(LORVETH_MESSAGES_LIBRARY, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (library == nullptr) {
    state.SkipWithError("Messages.dll not found");
    return;
  }
  const DWORD id = MessageIdOf(static_cast<int>(state.range(0)));
  const char* params[10] = {"srv1", "1165000000", "cpu-load", "97", "nightly batch",
                            "6", "7", "8", "9", "10"};
  char buffer[1000];
  for (auto _ : state) {
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, library, id, 0,
                       buffer, sizeof buffer, platform::ArgumentArray(params));
    benchmark::DoNotOptimize(length);
    benchmark::DoNotOptimize(buffer);
  }
  FreeLibrary(library);
}
BENCHMARK(BM_FormatMessageFromLibrary)->Arg(0)->Arg(600)->Arg(2204);

// A threshold trap from its five bindings to a raised alert (sink discards it).
void BM_ThresholdTrapToAlert(benchmark::State& state) {
  platform::SetEventLogSink([](const platform::EventLogRecord&) {});
  CTrapAlert alert;
  if (!alert.LoadMessageDLL(LORVETH_MESSAGES_LIBRARY)) {
    state.SkipWithError("Messages.dll not found");
    platform::SetEventLogSink(nullptr);
    return;
  }
  std::vector<SnmpVarBind> bindings(5);
  for (SnmpVarBind& vb : bindings) std::memset(&vb, 0, sizeof vb);
  SetVarbindText(&bindings[0], "srv1", ASN_OCTETSTRING);
  SetVarbindNumber(&bindings[1], 1165000000, ASN_INTEGER);
  SetVarbindText(&bindings[2], "cpu-load", ASN_OCTETSTRING);
  SetVarbindText(&bindings[3], "97", ASN_OCTETSTRING);
  SetVarbindText(&bindings[4], "nightly batch", ASN_OCTETSTRING);
  SnmpVarBindList list{bindings.data(), static_cast<UINT>(bindings.size())};
  for (auto _ : state) {
    alert.SetTrapParams(&list, 2200);
    benchmark::DoNotOptimize(alert.RaiseAdminAlert(4));
  }
  for (SnmpVarBind& vb : bindings) SnmpUtilVarBindFree(&vb);
  platform::SetEventLogSink(nullptr);
}
BENCHMARK(BM_ThresholdTrapToAlert);

}  // namespace

BENCHMARK_MAIN();
