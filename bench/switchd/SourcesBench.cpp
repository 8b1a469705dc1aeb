// The cost of reading resources: one polling tick of builtin reads serving
// 100 to 10,000 queries spread over the catalogue (each kernel file read once
// per tick), each builtin measurement read alone in a fresh tick, and snmp
// reads of a local snmpd started by the benchmark (one at a time, and 1,000
// in flight at once).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "services/switchd/BuiltinSource.h"
#include "services/switchd/SnmpSource.h"

namespace {

using switchd::BuiltinArgument;
using switchd::BuiltinSource;
using switchd::Reading;
using switchd::RequestType;
using switchd::ResourceQuery;

struct TempDir {
  std::string path;
  TempDir() {
    std::string pattern = "/tmp/lorveth-sources-bench-XXXXXX";
    path = mkdtemp(pattern.data());
  }
  ~TempDir() { std::filesystem::remove_all(path); }
};

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

// A snmpd of the benchmark's own on a free loopback port, serving one
// integer and a 100-row column, with configuration and persistent files in a
// directory of its own.
class LocalAgent {
 public:
  LocalAgent() {
    port_ = FreePort();
    std::string conf =
        "agentaddress udp:127.0.0.1:" + std::to_string(port_) +
        "\nrocommunity public 127.0.0.1\noverride .1.3.6.1.4.1.99999.1.0 integer 42\n";
    for (int row = 1; row <= 100; ++row) {
      conf += "override .1.3.6.1.4.1.99999.2.1." + std::to_string(row) + " counter " +
              std::to_string(row) + "\n";
    }
    std::ofstream(dir_.path + "/snmpd.conf") << conf;
    // The library of this process, too, reads and keeps nothing of the machine's.
    setenv("SNMPCONFPATH", dir_.path.c_str(), 1);
    setenv("SNMP_PERSISTENT_DIR", dir_.path.c_str(), 1);
    setenv("MIBS", "", 1);
    setenv("MIBDIRS", "", 1);
    pid_ = fork();
    if (pid_ == 0) {
      const int log = open((dir_.path + "/snmpd.log").c_str(), O_WRONLY | O_CREAT, 0644);
      dup2(log, STDOUT_FILENO);
      dup2(log, STDERR_FILENO);
      const std::string config = dir_.path + "/snmpd.conf";
      execl("/usr/sbin/snmpd", "snmpd", "-f", "-Lo", "-C", "-c", config.c_str(), "-I", "-smux",
            static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~LocalAgent() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  std::string Target() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  static int FreePort() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
  }

  TempDir dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

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
