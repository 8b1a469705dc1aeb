// The MIB tree against a sorted vector: random registrations (scalars and cells),
// re-registrations, subtree removals, GET, GET-NEXT (also walks from the last
// answer) and next-entry lookups over OIDs that are prefixes of each other and
// hold boundary sub-identifiers must give the same answers from both.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "TestAgent.h"

namespace {

using Ids = std::vector<UINT>;

struct Cell {
  Ids oid;
  DWORD value;
};

// The reference store: cells kept in SNMP order, which for sequences of unsigned
// sub-identifiers is plain lexicographic order (a prefix sorts first).
class Reference {
 public:
  void Put(const Ids& oid, DWORD value) {
    auto at = cells_.begin() + (LowerBound(oid) - cells_.cbegin());
    if (at != cells_.end() && at->oid == oid) {
      at->value = value;
    } else {
      cells_.insert(at, Cell{oid, value});
    }
  }
  const Cell* Find(const Ids& oid) const {
    auto at = LowerBound(oid);
    return at != cells_.end() && at->oid == oid ? &*at : nullptr;
  }
  const Cell* Next(const Ids& oid) const {
    auto at = std::upper_bound(cells_.begin(), cells_.end(), oid,
                               [](const Ids& key, const Cell& cell) { return key < cell.oid; });
    return at != cells_.end() ? &*at : nullptr;
  }
  bool RemovePrefix(const Ids& prefix) {
    const auto before = cells_.size();
    std::erase_if(cells_, [&](const Cell& cell) {
      return cell.oid.size() >= prefix.size() &&
             std::equal(prefix.begin(), prefix.end(), cell.oid.begin());
    });
    return cells_.size() != before;
  }
  const std::vector<Cell>& cells() const { return cells_; }

 private:
  std::vector<Cell>::const_iterator LowerBound(const Ids& oid) const {
    return std::lower_bound(cells_.begin(), cells_.end(), oid,
                            [](const Cell& cell, const Ids& key) { return cell.oid < key; });
  }
  std::vector<Cell> cells_;
};

// Unsigned dotted text, which the parser accepts over the whole 32-bit range.
std::string Text(const Ids& oid) {
  std::string text;
  for (size_t i = 0; i < oid.size(); ++i) {
    if (i != 0) text += '.';
    text += std::to_string(oid[i]);
  }
  return text;
}

Ids IdsOf(const AsnObjectIdentifier& oid) { return Ids(oid.ids, oid.ids + oid.idLength); }

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
    switch (Pick(4)) {
      case 0: return kEdges[Pick(std::size(kEdges))];
      case 1: return static_cast<UINT>(random_());
      default: return static_cast<UINT>(Pick(4));  // small: many shared prefixes
    }
  }

  // An OID of length 0 to 128 that is often a prefix, an extension or a sibling
  // of one seen before.
  Ids Next() {
    Ids oid;
    if (!pool_.empty() && Pick(4) != 0) {
      oid = pool_[Pick(pool_.size())];
      switch (Pick(4)) {
        case 0: oid.resize(Pick(oid.size() + 1)); break;                       // prefix
        case 1: oid.push_back(SubIdentifier()); break;                          // child
        case 2: if (!oid.empty()) oid.back() = SubIdentifier(); break;          // sibling
        default: break;                                                         // itself
      }
      while (oid.size() > 128) oid.pop_back();
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
  ASSERT_EQ(agent.GetMibEntryCount(), reference.cells().size());
  VarBindOwner walk;  // from the empty OID, over every entry in order
  for (const Cell& cell : reference.cells()) {
    AsnInteger32 status = -1;
    ASSERT_TRUE(agent.MibGetVarbind(walk.Get(), SNMP_PDU_GETNEXT, &status, nullptr));
    ASSERT_EQ(IdsOf(walk->name), cell.oid);
    ASSERT_EQ(walk->value.asnValue.unsigned32, cell.value);
  }
  AsnInteger32 status = -1;
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
      const bool stored =
          cell ? agent.AddConstTableEntry(Text(column).c_str(), "cell", value, ASN_GAUGE32,
                                          nullptr, oid.back())
               : agent.AddConstMibEntry(Text(oid).c_str(), "cell", value, ASN_GAUGE32,
                                        kMibReadOnly);
      // OID text needs at least two sub-identifiers.
      ASSERT_EQ(stored, oid.size() >= 2) << Text(oid);
      if (stored) reference.Put(oid, value);
    } else if (operation < 11) {
      VarBindOwner varbind = Request(oid);
      AsnInteger32 status = -1;
      const bool found = agent.MibGetVarbind(varbind.Get(), SNMP_PDU_GET, &status, nullptr);
      const Cell* expected = reference.Find(oid);
      ASSERT_EQ(found, expected != nullptr) << Text(oid);
      ASSERT_EQ(status, found ? 0 : SNMP_ERRORSTATUS_NOSUCHNAME);
      ASSERT_EQ(IdsOf(varbind->name), oid);
      ASSERT_EQ(varbind->value.asnValue.unsigned32, expected ? expected->value : 0xDEADBEEF);
      if (found) answered = oid;
    } else if (operation < 16) {
      VarBindOwner varbind = Request(oid);
      AsnInteger32 status = -1;
      const bool found = agent.MibGetVarbind(varbind.Get(), SNMP_PDU_GETNEXT, &status, nullptr);
      const Cell* expected = reference.Next(oid);
      ASSERT_EQ(found, expected != nullptr) << Text(oid);
      ASSERT_EQ(status, found ? 0 : SNMP_ERRORSTATUS_NOSUCHNAME);
      ASSERT_EQ(IdsOf(varbind->name), expected ? expected->oid : oid) << Text(oid);
      ASSERT_EQ(varbind->value.asnValue.unsigned32, expected ? expected->value : 0xDEADBEEF);
      if (found) answered = expected->oid;
    } else if (operation < 18) {
      VarBindOwner varbind = Request(oid);
      const bool found = agent.GetNextMibEntry(varbind.Get());
      const Cell* expected = reference.Next(oid);
      ASSERT_EQ(found, expected != nullptr) << Text(oid);
      ASSERT_EQ(IdsOf(varbind->name), expected ? expected->oid : oid) << Text(oid);
      ASSERT_EQ(varbind->value.asnValue.unsigned32, expected ? expected->value : 0xDEADBEEF);
    } else {
      const bool removed = agent.RemoveMibSubtree(Text(oid).c_str());
      const bool expected = oid.size() >= 2 && reference.RemovePrefix(oid);
      ASSERT_EQ(removed, expected) << Text(oid);
    }
    if (step % 1000 == 999) ExpectSameStore(agent, reference);
  }
  ExpectSameStore(agent, reference);
}

INSTANTIATE_TEST_SUITE_P(Seeds, SnmpMibTreeDifferentialTest,
                         ::testing::Values(1u, 2u, 3u, 17u, 4242u, 20260u));

}  // namespace
