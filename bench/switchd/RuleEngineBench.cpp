// The rule engine as switchd runs it: 10,000 rules at Interval 10 s on this
// machine's builtin resources, and 1,000 on a local snmpd, polled by the
// scheduler's thread with the real sources, measured over a window of wall
// time.  Figures: the process's CPU
// time per second of wall time (percent of one core), how late the polls
// started (p50, p99, max in milliseconds), polls and events per second.
// Also the cost of reading the configuration and of one rule's judgement of a
// poll.
#include <benchmark/benchmark.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "LocalAgent.h"
#include "services/switchd/EngineSettings.h"
#include "services/switchd/RuleEngine.h"
#include "services/switchd/RuleEvaluator.h"
#include "services/switchd/Scheduler.h"
#include "services/switchd/Sources.h"
#include "switch/SwitchProtocol.h"

namespace {

namespace sp = switch_protocol;

// Long enough for three rounds of polls at Interval 10 s.
constexpr auto kWindow = std::chrono::seconds(30);

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The resources the rules read, as a mix an operator would configure: one in
// ten rules holds at every poll, so that events are sent too.
struct Mix {
  const char* request;
  const char* threshold;
};
const Mix kMix[] = {
    {"cpu.load.percent", "Operator=\"greater\" Value=\"101\""},
    {"memory.used.percent", "Operator=\"greater\" Value=\"101\""},
    {"swap.used.percent", "Operator=\"greater\" Value=\"101\""},
    {"load.1min.x100", "Type=\"delta-inc\" Operator=\"greater\" Value=\"100000\""},
    {"disk.used.percent:/", "Operator=\"within-range\" RangeMin=\"101\" RangeMax=\"200\""},
    {"net.in.kb", "Operator=\"greater\" Value=\"2000000000\""},
    {"proc.total", "Valuation=\"average-linear\" Operator=\"less\" Value=\"0\""},
    {"tcp.connections", "Operator=\"exist-change\""},
    {"file.exists:/", "Operator=\"less\" Value=\"0\""},
    {"uptime.seconds", "Operator=\"greater\" Value=\"0\""},
};

std::string Tables(DWORD code, int64_t rules) {
  std::string text;
  switch (code) {
    case sp::kTableResources:
      text = "<Resources>";
      for (const Mix& mix : kMix) {
        text += "<Resource Name=\"" + std::string(mix.request) + "\"><Request Type=\"builtin\">" +
                mix.request + "</Request></Resource>";
      }
      return text + "</Resources>";
    case sp::kTableEvents:
      return "<Events><Event Name=\"e\"><Type>snmp-trap</Type><Severity>minor</Severity>"
             "</Event></Events>";
    case sp::kTableRules:
      text = "<Rules>";
      for (int64_t i = 0; i < rules; ++i) {
        const Mix& mix = kMix[i % std::size(kMix)];
        text += "<Rule Name=\"rule-" + std::to_string(i) +
                "\"><Interval>10</Interval><WatchPeriod>60</WatchPeriod><Resource Name=\"" +
                mix.request + "\"/><Threshold " + mix.threshold +
                "/><Event Name=\"e\" Control=\"continuous\"/></Rule>";
      }
      return text + "</Rules>";
    case sp::kTableRuleSets:
      text = "<RuleSets><RuleSet Name=\"all\">";
      for (int64_t i = 0; i < rules; ++i) text += "<Rule Name=\"rule-" + std::to_string(i) + "\"/>";
      return text + "</RuleSet></RuleSets>";
    default:
      return {};
  }
}

switchd::PollStats Difference(const switchd::PollStats& after, const switchd::PollStats& before) {
  switchd::PollStats window = after;
  window.polls -= before.polls;
  window.skipped -= before.skipped;
  for (size_t d = 0; d < window.delay_ms.size(); ++d) window.delay_ms[d] -= before.delay_ms[d];
  return window;
}

int64_t MaxDelay(const switchd::PollStats& stats) {
  for (size_t d = stats.delay_ms.size(); d > 0; --d) {
    if (stats.delay_ms[d - 1] != 0) return static_cast<int64_t>(d - 1);
  }
  return 0;
}

// Runs the rules of `tables` on the real scheduler and sources, and measures
// a window of wall time after every rule was polled once.
void MeasureEngine(benchmark::State& state, switchd::Sources& sources,
                   const switchd::TableText& tables) {
  switchd::SystemClock clock;
  switchd::Scheduler scheduler(clock);
  std::atomic<uint64_t> events{0};
  switchd::RuleEngine engine(clock, scheduler, sources,
                             [&](const std::string&) { events.fetch_add(1); });
  scheduler.Start();
  engine.Start();
  engine.Configure(tables);
  std::this_thread::sleep_for(std::chrono::seconds(2));

  for (auto _ : state) {
    const switchd::PollStats before = engine.Stats();
    const uint64_t events_before = events.load();
    const double cpu_before = ProcessCpuSeconds();
    const auto wall_before = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(kWindow);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_before).count();
    const double cpu = ProcessCpuSeconds() - cpu_before;
    const switchd::PollStats window = Difference(engine.Stats(), before);
    state.counters["cpu_percent_of_core"] = 100.0 * cpu / wall;
    state.counters["delay_p50_ms"] = static_cast<double>(window.Percentile(0.50));
    state.counters["delay_p99_ms"] = static_cast<double>(window.Percentile(0.99));
    state.counters["delay_max_ms"] = static_cast<double>(MaxDelay(window));
    state.counters["polls_per_s"] = static_cast<double>(window.polls) / wall;
    state.counters["skipped"] = static_cast<double>(window.skipped);
    state.counters["events_per_s"] = static_cast<double>(events.load() - events_before) / wall;
  }
  int failing = 0;
  for (const switchd::RuleReport& rule : engine.Report()) failing += rule.value ? 0 : 1;
  state.counters["rules_without_value"] = failing;
  scheduler.Stop();
}

void BM_BuiltinRulesAtInterval10s(benchmark::State& state) {
  const int64_t rules = state.range(0);
  switchd::Sources sources(switchd::EngineSettings{});
  MeasureEngine(state, sources, [rules](DWORD code) { return Tables(code, rules); });
}
BENCHMARK(BM_BuiltinRulesAtInterval10s)
    ->Arg(10000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// Rules on a local snmpd: nine in ten read its integer, one in ten its
// 100-row column (one read walks the column).
void BM_SnmpRulesAtInterval10s(benchmark::State& state) {
  const int64_t rules = state.range(0);
  const switchd_bench::LocalAgent agent;
  switchd::Sources sources(switchd::EngineSettings{});
  // The agent is up once a read of it succeeds.
  const switchd::ResourceQuery probe{switchd::RequestType::kSnmp, "1.3.6.1.4.1.99999.1.0", "",
                                     agent.Target()};
  for (int attempt = 0; attempt < 200; ++attempt) {
    std::promise<bool> read;
    sources.Read(probe, [&read](switchd::Reading reading) { read.set_value(reading.ok); });
    if (read.get_future().get()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const auto tables = [&](DWORD code) -> std::string {
    std::string text;
    switch (code) {
      case sp::kTableResources:
        return "<Resources><Resource Name=\"scalar\"><Request Type=\"snmp\">"
               "1.3.6.1.4.1.99999.1.0</Request></Resource><Resource Name=\"column\">"
               "<Request Type=\"snmp\">1.3.6.1.4.1.99999.2.1</Request></Resource></Resources>";
      case sp::kTableTargets:
        return "<Targets><Target Name=\"agent\">" + agent.Target() + "</Target></Targets>";
      case sp::kTableRules:
        text = "<Rules>";
        for (int64_t i = 0; i < rules; ++i) {
          text += "<Rule Name=\"rule-" + std::to_string(i) + "\"><Interval>10</Interval>" +
                  "<Resource Name=\"" + (i % 10 == 0 ? "column" : "scalar") +
                  "\"/><Target Name=\"agent\"/><Threshold Operator=\"greater\" "
                  "Value=\"1000\"/><Event Name=\"e\"/></Rule>";
        }
        return text + "</Rules>";
      default:
        return Tables(code, rules);
    }
  };
  MeasureEngine(state, sources, tables);
}
BENCHMARK(BM_SnmpRulesAtInterval10s)
    ->Arg(1000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// Reading the configuration out of the tables, as after every store or reload
// (on the storing thread, before the scheduler takes it over).
void BM_ReadEngineConfig(benchmark::State& state) {
  const int64_t rules = state.range(0);
  std::map<DWORD, std::string> tables;
  for (const DWORD code : {sp::kTableResources, sp::kTableEvents, sp::kTableRules,
                           sp::kTableRuleSets, sp::kTableTargets}) {
    tables[code] = Tables(code, rules);
  }
  switchd::Sources sources(switchd::EngineSettings{});
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        switchd::ReadEngineConfig([&](DWORD code) { return tables[code]; }, sources));
  }
}
BENCHMARK(BM_ReadEngineConfig)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// One rule's judgement of one poll of 16 instances under "any", with the
// linear average over six samples.
void BM_EvaluatorPoll(benchmark::State& state) {
  switchd::RuleSpec spec;
  spec.interval_s = 10;
  spec.watch_period_s = 60;
  spec.valuation = switchd::Valuation::kAverageLinear;
  spec.op = switchd::Operator::kGreater;
  spec.value = 90;
  switchd::RuleEvaluator evaluator(spec);
  switchd::Reading reading;
  reading.ok = true;
  for (DWORD i = 1; i <= 16; ++i) reading.instances.push_back({i, "cpu" + std::to_string(i), 0});
  int64_t due = 0;
  for (auto _ : state) {
    for (auto& instance : reading.instances) instance.value = (due / 1000 + instance.number) % 100;
    benchmark::DoNotOptimize(evaluator.Poll(due, reading));
    due += 10'000;
  }
}
BENCHMARK(BM_EvaluatorPoll);

}  // namespace

BENCHMARK_MAIN();
