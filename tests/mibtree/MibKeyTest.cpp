// The store's key encoding must order OIDs exactly as SnmpUtilOidCmp does and
// decode back to the same OID, over the whole range of sub-identifiers.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "mibtree/detail/MibEntry.h"
#include "platform/SnmpOwners.h"

namespace {

using mibtree::detail::CompareKeys;
using mibtree::detail::DecodeOidKey;
using mibtree::detail::KeyStartsWith;
using mibtree::detail::OidKey;

int Sign(int value) { return (value > 0) - (value < 0); }

std::vector<UINT> RandomOid(std::mt19937& random) {
  // Every width class of the encoding and its boundaries.
  static constexpr UINT kEdges[] = {0,        0x7F,      0x80,       0x3FFF,     0x4000,
                                    0x1FFFFF, 0x200000,  0xFFFFFFF,  0x10000000, 0x7FFFFFFF,
                                    0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};
  std::vector<UINT> oid(random() % 6);
  for (UINT& id : oid) {
    id = random() % 3 == 0 ? static_cast<UINT>(random()) : kEdges[random() % std::size(kEdges)];
  }
  return oid;
}

TEST(MibKeyTest, KeyOrderAndPrefixesMatchTheOidOrder) {
  std::mt19937 random(99);
  for (int i = 0; i < 20000; ++i) {
    std::vector<UINT> a = RandomOid(random);
    std::vector<UINT> b = random() % 4 == 0 ? a : RandomOid(random);
    if (random() % 3 == 0 && !b.empty()) b.resize(random() % b.size());
    AsnObjectIdentifier oid_a{static_cast<UINT>(a.size()), a.data()};
    AsnObjectIdentifier oid_b{static_cast<UINT>(b.size()), b.data()};
    const OidKey key_a(oid_a);
    const OidKey key_b(oid_b);
    ASSERT_EQ(Sign(CompareKeys(key_a.Span(), key_b.Span())),
              Sign(SnmpUtilOidCmp(&oid_a, &oid_b)));
    const bool is_prefix =
        b.size() <= a.size() && std::equal(b.begin(), b.end(), a.begin());
    ASSERT_EQ(KeyStartsWith(key_a.Span(), key_b.Span()), is_prefix);
  }
}

TEST(MibKeyTest, KeysDecodeToTheSameOidIncludingLongOnes) {
  std::mt19937 random(7);
  for (int i = 0; i < 2000; ++i) {
    std::vector<UINT> ids = RandomOid(random);
    if (i % 100 == 0) ids.resize(300, 0xFFFFFFFF);  // beyond the inline buffer
    AsnObjectIdentifier oid{static_cast<UINT>(ids.size()), ids.data()};
    const OidKey key(oid);
    OidOwner decoded;
    ASSERT_TRUE(DecodeOidKey(key.Span(), decoded.Get()));
    ASSERT_EQ(std::vector<UINT>(decoded->ids, decoded->ids + decoded->idLength), ids);
  }
}

}  // namespace
