// The MIB tree against a std::map: random registrations (scalars and cells),
// re-registrations, subtree removals, GET, GET-NEXT (also walks from the last
// answer) and next-entry lookups over OIDs that are prefixes of each other and
// hold boundary sub-identifiers must give the same answers from both.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "TestAgent.h"

namespace {

// SNMP order of unsigned sub-identifiers is lexicographic order, a prefix first.
using Reference = std::map<Ids, DWORD>;

// Unsigned dotted text, which the parser accepts over the whole 32-bit range.
std::string Text(const Ids& oid) {
  std::string text;
  for (UINT id : oid) text += (text.empty() ? "" : ".") + std::to_string(id);
  return text;
}

VarBindOwner Request(const Ids& oid) {
  VarBindOwner varbind;
  AsnObjectIdentifier view{static_cast<UINT>(oid.size()), const_cast<UINT*>(oid.data())};
  EXPECT_TRUE(SnmpUtilOidCpy(&varbind->name, &view));
  SetVarbindNumber(varbind.Get(), 0xDEADBEEF, ASN_GAUGE32);  // must survive a miss
  return varbind;
}

class OidGenerator {
 public:
  explicit OidGenerator(uint32_t seed) : random_(seed) {}

  UINT SubIdentifier() {
    // Also the boundaries of every width class of the store's key encoding.
    static constexpr UINT kEdges[] = {0,          1,          2,          254,        255,
                                      256,        0x7F,       0x80,       0x3FFF,     0x4000,
                                      0x1FFFFF,   0x200000,   0xFFFFFFF,  0x10000000, 0x7FFFFFFE,
                                      0x7FFFFFFF, 0x80000000, 0x80000001, 0xFFFFFFFE, 0xFFFFFFFF};
    const size_t kind = Pick(4);
    if (kind == 0) return kEdges[Pick(std::size(kEdges))];
    return kind == 1 ? static_cast<UINT>(random_()) : static_cast<UINT>(Pick(4));
  }

  // An OID of length 0 to 128 that is often a prefix, an extension or a sibling
  // of one seen before.
  Ids Next() {
    Ids oid;
    if (!pool_.empty() && Pick(4) != 0) {
      oid = pool_[Pick(pool_.size())];
      const size_t change = Pick(4);
      if (change == 0) oid.resize(Pick(oid.size() + 1));
      if (change == 1 && oid.size() < 128) oid.push_back(SubIdentifier());
      if (change == 2 && !oid.empty()) oid.back() = SubIdentifier();
    } else {
      const size_t length = Pick(4) == 0 ? 1 + Pick(128) : 1 + Pick(12);
      for (size_t i = 0; i < length; ++i) oid.push_back(SubIdentifier());
    }
    if (pool_.size() < 400) pool_.push_back(oid);
    return oid;
  }

  size_t Pick(size_t bound) { return std::uniform_int_distribution<size_t>(0, bound - 1)(random_); }
  DWORD Value() { return static_cast<DWORD>(random_()); }

 private:
  std::mt19937 random_;
  std::vector<Ids> pool_;
};

void ExpectSameStore(TestAgent& agent, const Reference& reference) {
  ASSERT_EQ(agent.GetMibEntryCount(), reference.size());
  VarBindOwner walk;  // from the empty OID, over every entry in order
  AsnInteger32 status = -1;
  for (const auto& [oid, value] : reference) {
    ASSERT_TRUE(agent.MibGetVarbind(walk.Get(), SNMP_PDU_GETNEXT, &status, nullptr));
    ASSERT_EQ(IdsOf(walk->name), oid);
    ASSERT_EQ(walk->value.asnValue.unsigned32, value);
  }
  EXPECT_FALSE(agent.MibGetVarbind(walk.Get(), SNMP_PDU_GETNEXT, &status, nullptr));
}

class SnmpMibTreeDifferentialTest : public ::testing::TestWithParam<uint32_t> {};

TEST_P(SnmpMibTreeDifferentialTest, RandomOperationsAnswerAsTheSortedReference) {
  OidGenerator generate(GetParam());
  TestAgent agent;
  Reference reference;
  Ids answered;  // what the last GET or GET-NEXT answered with
  for (int step = 0; step < 6000; ++step) {
    const size_t operation = generate.Pick(20);
    // Every other GET-NEXT continues a walk from the last answer, as managers do.
    const Ids oid = operation >= 11 && operation < 16 && operation % 2 == 0 && !answered.empty()
                        ? answered
                        : generate.Next();
    if (operation < 7) {  // registration or re-registration
      const DWORD value = generate.Value();
      // Half of them as table cells: the column and a number index.
      const bool cell = operation % 2 == 0 && oid.size() >= 3 && oid.back() != kNoNumberIndex;
      const Ids column(oid.begin(), oid.end() - (cell ? 1 : 0));
      const bool stored = cell ? agent.AddConstTableEntry(Text(column).c_str(), "cell", value,
                                                          ASN_GAUGE32, nullptr, oid.back())
                               : agent.AddConstMibEntry(Text(oid).c_str(), "cell", value,
                                                        ASN_GAUGE32, kMibReadOnly);
      // OID text needs at least two sub-identifiers.
      ASSERT_EQ(stored, oid.size() >= 2) << Text(oid);
      if (stored) reference[oid] = value;
    } else if (operation < 18) {  // GET, GET-NEXT, next-entry lookup
      VarBindOwner varbind = Request(oid);
      AsnInteger32 status = -1;
      const bool get = operation < 11, lookup = operation >= 16;
      const bool found =
          lookup ? agent.GetNextMibEntry(varbind.Get())
                 : agent.MibGetVarbind(varbind.Get(), get ? SNMP_PDU_GET : SNMP_PDU_GETNEXT,
                                       &status, nullptr);
      const auto expected = get ? reference.find(oid) : reference.upper_bound(oid);
      ASSERT_EQ(found, expected != reference.end()) << Text(oid);
      ASSERT_EQ(status, lookup ? -1 : found ? 0 : SNMP_ERRORSTATUS_NOSUCHNAME);
      ASSERT_EQ(IdsOf(varbind->name), found ? expected->first : oid) << Text(oid);
      ASSERT_EQ(varbind->value.asnValue.unsigned32, found ? expected->second : 0xDEADBEEF);
      if (found && !lookup) answered = expected->first;
    } else {
      const size_t before = reference.size();
      if (oid.size() >= 2) {
        std::erase_if(reference, [&](const auto& entry) {
          return entry.first.size() >= oid.size() &&
                 std::equal(oid.begin(), oid.end(), entry.first.begin());
        });
      }
      ASSERT_EQ(agent.RemoveMibSubtree(Text(oid).c_str()), reference.size() != before) << Text(oid);
    }
    if (step % 1000 == 999) ExpectSameStore(agent, reference);
  }
  ExpectSameStore(agent, reference);
}

INSTANTIATE_TEST_SUITE_P(Seeds, SnmpMibTreeDifferentialTest,
                         ::testing::Values(1u, 2u, 3u, 17u, 4242u, 20260u));

}  // namespace
