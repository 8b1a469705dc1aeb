// OID ordering of the SNMP utility functions, and the owners that free through them.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/Snmp.h"
#include "platform/SnmpOwners.h"

namespace {

// An OID that owns its sub-identifiers through the SNMP allocator.
struct Oid {
  AsnObjectIdentifier oid{0, nullptr};
  explicit Oid(std::vector<UINT> ids) {
    AsnObjectIdentifier view{static_cast<UINT>(ids.size()), ids.data()};
    EXPECT_TRUE(SnmpUtilOidCpy(&oid, &view));
  }
  ~Oid() { SnmpUtilOidFree(&oid); }
  Oid(const Oid&) = delete;
  Oid& operator=(const Oid&) = delete;
};

int Cmp(std::vector<UINT> a, std::vector<UINT> b) {
  Oid x(std::move(a)), y(std::move(b));
  return SnmpUtilOidCmp(&x.oid, &y.oid);
}

TEST(SnmpUtilOidTest, OrdersBySubIdentifierThenShorterPrefixFirst) {
  EXPECT_EQ(Cmp({1, 3, 6}, {1, 3, 6}), 0);
  EXPECT_LT(Cmp({1, 3}, {1, 3, 6}), 0);
  EXPECT_LT(Cmp({1, 3, 6, 9}, {1, 3, 7}), 0);
  EXPECT_LT(Cmp({}, {0}), 0);
  EXPECT_LT(Cmp({1, 0x7FFFFFFFu}, {1, 0x80000000u}), 0);
  EXPECT_LT(Cmp({1, 0x80000000u}, {1, 0xFFFFFFFFu}), 0);
  EXPECT_GT(Cmp({0xFFFFFFFFu}, {0}), 0);
  Oid prefix({1, 3, 6, 1}), inside({1, 3, 6, 1, 4, 1}), shorter({1, 3, 6}), after({1, 3, 7});
  EXPECT_EQ(SnmpUtilOidNCmp(&prefix.oid, &inside.oid, 4), 0);
  EXPECT_LT(SnmpUtilOidNCmp(&prefix.oid, &inside.oid, 6), 0);
  // An entry shorter than the prefix is not inside it: the prefix sorts after.
  EXPECT_GT(SnmpUtilOidNCmp(&prefix.oid, &shorter.oid, 4), 0);
  EXPECT_LT(SnmpUtilOidNCmp(&prefix.oid, &after.oid, 4), 0);
  EXPECT_EQ(SnmpUtilOidNCmp(&prefix.oid, &after.oid, 2), 0);
  EXPECT_EQ(SnmpUtilOidNCmp(&prefix.oid, &after.oid, 0), 0);
}

TEST(SnmpOwnersTest, ReleaseHandsOverAndMoveTransfers) {
  std::vector<UINT> ids = {1, 2, 3};
  AsnObjectIdentifier view{3, ids.data()};
  OidOwner first;
  ASSERT_TRUE(SnmpUtilOidCpy(first.Get(), &view));
  OidOwner second(std::move(first));
  EXPECT_EQ(first->idLength, 0u);
  EXPECT_EQ(second->idLength, 3u);
  AsnObjectIdentifier raw = second.Release();
  EXPECT_EQ(second->ids, nullptr);
  SnmpUtilOidFree(&raw);
  VarBindOwner varbind;
  auto* stream = static_cast<BYTE*>(SnmpUtilMemAlloc(3));
  std::memcpy(stream, "abc", 3);
  varbind->value.asnType = ASN_OCTETSTRING;
  varbind->value.asnValue.string = AsnOctetString{stream, 3, TRUE};
  VarBindOwner moved;
  moved = std::move(varbind);
  EXPECT_EQ(varbind->value.asnType, ASN_NULL);
  EXPECT_EQ(moved->value.asnValue.string.length, 3u);
  moved.Reset();
  EXPECT_EQ(moved->value.asnType, ASN_NULL);
}

}  // namespace
