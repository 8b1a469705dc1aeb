// MIB tree speed and memory on trees shaped like the threshold agent's: four
// tables under root = 1.3.6.1.4.1.32473.2.47, ten columns each, cells keyed by
// column OID + length-prefixed row name, registered row by row as a table load
// does.  Figures only; nothing here passes or fails.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "mibtree/SnmpMibTree.h"
#include "mibtree/SnmpVarbind.h"

namespace {

class BenchAgent : public CSnmpMibTree<BenchAgent> {
 public:
  const char* GetAgentModuleName() { return "BenchAgent"; }
};

constexpr const char* kTables[] = {"1.3.6.1.4.1.32473.2.47.1.3.1.1", "1.3.6.1.4.1.32473.2.47.1.3.6.1",
                                   "1.3.6.1.4.1.32473.2.47.1.4.1.1", "1.3.6.1.4.1.32473.2.47.1.5.1.1"};
constexpr int kColumns = 10;

std::string RowName(int row) {
  char name[32];
  std::snprintf(name, sizeof name, "row-%07d", row);
  return name;
}

// Registers cells (rounded down to whole rows) and returns the heap bytes the
// tree took.
size_t Fill(BenchAgent& agent, int64_t cells) {
  const size_t heap_before = mallinfo2().uordblks;
  const int rows = static_cast<int>(cells / (std::size(kTables) * kColumns));
  for (const char* table : kTables) {
    for (int row = 0; row < rows; ++row) {
      const std::string name = RowName(row);
      for (int column = 1; column <= kColumns; ++column) {
        const std::string column_oid = std::string(table) + "." + std::to_string(column);
        if (column % 2 == 0) {
          agent.AddConstTableEntry(column_oid.c_str(), "textColumn", "some text value",
                                   ASN_OCTETSTRING, name.c_str(), kNoNumberIndex);
        } else {
          agent.AddConstTableEntry(column_oid.c_str(), "numberColumn", row, ASN_INTEGER,
                                   name.c_str(), kNoNumberIndex);
        }
      }
    }
  }
  return mallinfo2().uordblks - heap_before;
}

// Trees are built once per size and shared by the lookup benchmarks.
BenchAgent& Tree(int64_t cells) {
  static std::map<int64_t, std::unique_ptr<BenchAgent>> trees;
  auto& tree = trees[cells];
  if (!tree) {
    tree = std::make_unique<BenchAgent>();
    Fill(*tree, cells);
  }
  return *tree;
}

// Names of random registered cells.
std::vector<VarBindOwner> RegisteredNames(int64_t cells, size_t count, uint32_t seed) {
  const int rows = static_cast<int>(cells / (std::size(kTables) * kColumns));
  std::mt19937 random(seed);
  std::vector<VarBindOwner> names;
  for (size_t i = 0; i < count; ++i) {
    const std::string column = std::string(kTables[random() % std::size(kTables)]) + "." +
                               std::to_string(1 + random() % kColumns);
    VarBindOwner name;
    OidFromString(column.c_str(), &name->name);
    AppendStringIndex(&name->name, RowName(static_cast<int>(random() % rows)).c_str());
    names.push_back(std::move(name));
  }
  return names;
}

void Register(benchmark::State& state) {
  for (auto _ : state) {
    BenchAgent agent;
    const auto start = std::chrono::steady_clock::now();
    const size_t bytes = Fill(agent, state.range(0));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double entries = static_cast<double>(agent.GetMibEntryCount());
    state.counters["ns_per_entry"] = seconds * 1e9 / entries;
    state.counters["bytes_per_entry"] = static_cast<double>(bytes) / entries;
    state.counters["entries"] = entries;
  }
}

// Lookups of a fixed set of OIDs, one per iteration.
template <typename Lookup>
void RunLookups(benchmark::State& state, bool registered, BYTE type, Lookup&& lookup) {
  BenchAgent& agent = Tree(state.range(0));
  auto names = RegisteredNames(state.range(0), 1024, 7);
  if (!registered) {
    // Between two rows: no row name ends in DEL.
    for (auto& name : names) name->name.ids[name->name.idLength - 1] = 0x7F;
  }
  size_t i = 0;
  for (auto _ : state) {
    VarBindOwner& request = names[i++ & 1023];
    AsnInteger32 status = 0;
    VarBindOwner varbind;
    SnmpUtilOidCpy(&varbind->name, &request->name);
    benchmark::DoNotOptimize(lookup(agent, varbind.Get(), type, &status));
  }
}

bool MibGet(BenchAgent& agent, SnmpVarBind* varbind, BYTE type, AsnInteger32* status) {
  return agent.MibGetVarbind(varbind, type, status, nullptr);
}

void Get(benchmark::State& state) { RunLookups(state, true, SNMP_PDU_GET, MibGet); }
void GetNextRegistered(benchmark::State& state) {
  RunLookups(state, true, SNMP_PDU_GETNEXT, MibGet);
}
void GetNextUnregistered(benchmark::State& state) {
  RunLookups(state, false, SNMP_PDU_GETNEXT, MibGet);
}

void Walk(benchmark::State& state) {
  BenchAgent& agent = Tree(state.range(0));
  for (auto _ : state) {
    VarBindOwner varbind;
    AsnInteger32 status = 0;
    size_t steps = 0;
    const auto start = std::chrono::steady_clock::now();
    while (agent.MibGetVarbind(varbind.Get(), SNMP_PDU_GETNEXT, &status, nullptr)) ++steps;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.counters["ns_per_step"] = seconds * 1e9 / static_cast<double>(steps);
  }
}

void RemoveOneTable(benchmark::State& state) {
  BenchAgent agent;
  for (auto _ : state) {
    state.PauseTiming();
    agent.ClearMib();
    Fill(agent, state.range(0));
    const size_t before = agent.GetMibEntryCount();
    state.ResumeTiming();
    agent.RemoveMibSubtree(kTables[1]);
    state.counters["removed"] = static_cast<double>(before - agent.GetMibEntryCount());
  }
}

}  // namespace

BENCHMARK(Register)->Arg(10000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Get)->Arg(10000)->Arg(1000000);
BENCHMARK(GetNextRegistered)->Arg(10000)->Arg(1000000);
BENCHMARK(GetNextUnregistered)->Arg(10000)->Arg(1000000);
BENCHMARK(Walk)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(RemoveOneTable)->Arg(10000)->Arg(1000000)->Iterations(2)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
