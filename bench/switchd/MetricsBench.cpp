// A scrape of switchd's metrics with 10,000 running rules: the copy of the
// state taken under the engine's lock, the rendering of the text, and the
// whole HTTP GET /metrics through the endpoint (wall time per scrape, bytes).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "services/switchd/Metrics.h"
#include "services/switchd/MetricsServer.h"
#include "services/switchd/RuleEngine.h"
#include "services/switchd/Scheduler.h"
#include "switch/SwitchProtocol.h"

namespace {

namespace sp = switch_protocol;

// Every read gives one value at once.
class ConstantSource final : public switchd::ResourceSource {
 public:
  bool Validate(const switchd::ResourceQuery&, std::string*) const override { return true; }
  void Read(const switchd::ResourceQuery&, std::function<void(switchd::Reading)> done) override {
    switchd::Reading reading;
    reading.ok = true;
    reading.instances.push_back({1, "total", 42});
    done(std::move(reading));
  }
};

std::string Tables(DWORD code, int64_t rules) {
  std::string text;
  switch (code) {
    case sp::kTableResources:
      return "<Resources><Resource Name=\"load\"><Request Type=\"builtin\">cpu</Request>"
             "<Unit>%</Unit></Resource></Resources>";
    case sp::kTableEvents:
      return "<Events><Event Name=\"e\"><Type>snmp-trap</Type><Severity>minor</Severity>"
             "</Event></Events>";
    case sp::kTableRules:
      text = "<Rules>";
      // One rule in ten is violated.
      for (int64_t i = 0; i < rules; ++i) {
        text +=
            "<Rule Name=\"rule-" + std::to_string(i) +
            "\"><Interval>60</Interval><Resource Name=\"load\"/><Threshold Operator=\"greater\" "
            "Value=\"" +
            (i % 10 == 0 ? "40" : "90") + "\"/><Event Name=\"e\"/></Rule>";
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

// The engine with `rules` rules, each polled once.
struct RunningEngine {
  switchd::SystemClock clock;
  switchd::Scheduler scheduler{clock};
  ConstantSource source;
  switchd::RuleEngine engine{clock, scheduler, source, [](const std::string&) {}};

  explicit RunningEngine(int64_t rules) {
    scheduler.Start();
    engine.Start();
    engine.Configure([rules](DWORD code) { return Tables(code, rules); });
    for (int attempt = 0; attempt < 600; ++attempt) {
      if (engine.Stats().polls >= static_cast<uint64_t>(rules)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  ~RunningEngine() { scheduler.Stop(); }
};

// GET /metrics on the loopback port; the size of the answer.
size_t Get(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  size_t total = 0;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string request = "GET /metrics HTTP/1.1\r\nHost: bench\r\nConnection: close\r\n\r\n";
    if (send(fd, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size())) {
      char buffer[65536];
      for (ssize_t got; (got = recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        total += static_cast<size_t>(got);
      }
    }
  }
  close(fd);
  return total;
}

void BM_CopyMetrics(benchmark::State& state) {
  RunningEngine running(state.range(0));
  for (auto _ : state) {
    switchd::MetricsSnapshot snapshot = switchd::TakeMetrics(&running.engine, nullptr, nullptr);
    benchmark::DoNotOptimize(snapshot);
  }
}
BENCHMARK(BM_CopyMetrics)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_RenderMetrics(benchmark::State& state) {
  RunningEngine running(state.range(0));
  const switchd::MetricsSnapshot snapshot = switchd::TakeMetrics(&running.engine, nullptr, nullptr);
  size_t bytes = 0;
  for (auto _ : state) {
    const std::string text = switchd::RenderMetrics(snapshot);
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_RenderMetrics)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_HttpScrape(benchmark::State& state) {
  RunningEngine running(state.range(0));
  switchd::MetricsServer server;
  switchd::MetricsSettings settings;
  settings.enabled = true;
  settings.port = 0;
  std::string error;
  if (!server.Start(
          settings,
          [&running] {
            return switchd::RenderMetrics(switchd::TakeMetrics(&running.engine, nullptr, nullptr));
          },
          &error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  size_t bytes = 0;
  for (auto _ : state) bytes = Get(server.Port());
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_HttpScrape)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
