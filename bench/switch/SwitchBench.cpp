// Cost of one command round trip through the switch client to an in-process
// switch, by request method and data size, and of one event delivery.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "support/FakeSwitch.h"
#include "switch/SwitchProtocol.h"
#include "switch/VarnClient.h"

namespace {

using test_support::FakeSwitch;
namespace sp = switch_protocol;

void RoundTrip(benchmark::State& state, unsigned members) {
  FakeSwitch fake(members);
  const std::vector<BYTE> reply(static_cast<size_t>(state.range(0)), 'r');
  fake.SetHandler([&](const FakeSwitch::Frame&) { return FakeSwitch::Answer::Status(0, reply); });
  CSwitchClient client;
  if (!client.Attach(nullptr)) {
    state.SkipWithError("attach failed");
    return;
  }
  const std::string name(static_cast<size_t>(state.range(0)), 'n');
  for (auto _ : state) {
    CommandBuffer request(sp::kOcRuleCurrentValue, 0, 0, sp::kAgentCabinet, sp::kStatNoData,
                          name.data(), static_cast<DWORD>(name.size()));
    benchmark::DoNotOptimize(request.SendRequest(client, 0, 0, 0));
  }
  state.SetItemsProcessed(state.iterations());
  client.Detach();
}

void BM_RoundTripCmdRequest(benchmark::State& state) {
  RoundTrip(state, FakeSwitch::kAllMembers);
}
void BM_RoundTripVCRequestEx(benchmark::State& state) {
  RoundTrip(state, FakeSwitch::kVCRequestExMember);
}
void BM_RoundTripVCRequest(benchmark::State& state) {
  RoundTrip(state, FakeSwitch::kVCRequestMember);
}
BENCHMARK(BM_RoundTripCmdRequest)->Arg(0)->Arg(64)->Arg(4096)->Arg(65536);
BENCHMARK(BM_RoundTripVCRequestEx)->Arg(0)->Arg(64)->Arg(4096);
BENCHMARK(BM_RoundTripVCRequest)->Arg(0)->Arg(64)->Arg(4096);

class NullAgent : public IVarnReplyTarget {
 public:
  virtual ~NullAgent() = default;
  void VarnReply(CommandBuffer& buffer) override { benchmark::DoNotOptimize(buffer.DataLength()); }
};

void BM_EventDelivery(benchmark::State& state) {
  FakeSwitch fake;
  NullAgent agent;
  SwitchPermissionFlags flags;
  CVarnClient client(&agent, &flags);
  if (!client.EnableEvents(TRUE)) {
    state.SkipWithError("events not enabled");
    return;
  }
  const std::vector<BYTE> data(static_cast<size_t>(state.range(0)), 'e');
  for (auto _ : state) {
    benchmark::DoNotOptimize(fake.RaiseFieldsEvent(0x2201, 0, 1, 0, 0, data));
  }
  state.SetItemsProcessed(state.iterations());
  client.EnableEvents(FALSE);
}
BENCHMARK(BM_EventDelivery)->Arg(16)->Arg(4096);

}  // namespace

BENCHMARK_MAIN();
