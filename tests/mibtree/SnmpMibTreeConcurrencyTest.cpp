// The MIB tree used from several threads at once: readers see a consistent
// store while other threads register, remove and re-enter the tree.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "TestAgent.h"

namespace {

class ReadingAgent : public TestAgent {
 public:
  // Re-enters the tree from inside a GET: reads another entry and re-registers
  // a scalar, as a value callback that refreshes a neighbour would.
  DWORD fGetNeighbour(SnmpVarBind* varbind, DWORD /*mode*/) {
    VarBindOwner neighbour = MakeVarbind("1.3.1.0");
    AsnInteger32 status = -1;
    MibGetVarbind(neighbour.Get(), SNMP_PDU_GET, &status, nullptr);
    AddConstMibEntry("1.3.2.0", "refreshed", GetInteger(neighbour.Get()), ASN_INTEGER,
                     kMibReadOnly);
    SetVarbindNumber(varbind, static_cast<DWORD>(GetInteger(neighbour.Get())), ASN_INTEGER);
    return status;
  }
};

std::string Row(int thread, int row) {
  return "1.3.9." + std::to_string(thread) + "." + std::to_string(row);
}

TEST(SnmpMibTreeConcurrencyTest, ReadersSeeStableEntriesWhileWritersChangeOtherSubtrees) {
  ReadingAgent agent;
  agent.AddConstMibEntry("1.3.1.0", "stable", 11, ASN_INTEGER, kMibReadOnly);
  agent.AddVarMibEntry("1.3.3.0", "reentrant", ASN_INTEGER,
                       static_cast<MibCallback>(&ReadingAgent::fGetNeighbour), nullptr, nullptr,
                       nullptr, kMibReadOnly, 0);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;

  for (int writer = 0; writer < 2; ++writer) {
    threads.emplace_back([&, writer] {
      for (int round = 0; round < 30; ++round) {
        for (int row = 0; row < 50; ++row) {
          agent.AddConstTableEntry(("1.3.9." + std::to_string(writer)).c_str(), "row", row,
                                   ASN_INTEGER, nullptr, static_cast<DWORD>(row));
        }
        if (!agent.RemoveMibSubtree(("1.3.9." + std::to_string(writer)).c_str())) ++failures;
      }
    });
  }
  for (int reader = 0; reader < 2; ++reader) {
    threads.emplace_back([&] {
      for (int i = 0; i < 3000; ++i) {
        VarBindOwner stable = MakeVarbind("1.3.1.0");
        AsnInteger32 status = -1;
        if (!agent.MibGetVarbind(stable.Get(), SNMP_PDU_GET, &status, nullptr) ||
            GetInteger(stable.Get()) != 11) {
          ++failures;
        }
        VarBindOwner reentrant = MakeVarbind("1.3.3.0");
        if (!agent.MibGetVarbind(reentrant.Get(), SNMP_PDU_GET, &status, nullptr) ||
            status != 0 || GetInteger(reentrant.Get()) != 11) {
          ++failures;
        }
        // A walk step from the stable scalar never lands inside a half-removed
        // table: it finds 1.3.2.0 (written by the callback) or nothing else.
        VarBindOwner next = MakeVarbind("1.3.1.0");
        if (agent.MibGetVarbind(next.Get(), SNMP_PDU_GETNEXT, &status, nullptr) &&
            std::string(OidToString(&next->name)) != "1.3.2.0" &&
            std::string(OidToString(&next->name)) != "1.3.3.0") {
          ++failures;
        }
        VarBindOwner row = MakeVarbind(Row(i % 2, i % 50).c_str());
        agent.MibGetVarbind(row.Get(), SNMP_PDU_GETNEXT, &status, nullptr);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(agent.GetMibEntryCount(), 3u);  // 1.3.1.0, 1.3.2.0, 1.3.3.0
}

}  // namespace
