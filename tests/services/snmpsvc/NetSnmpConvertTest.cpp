// Conversion between Net-SNMP's varbinds and neutral varbinds: 64-bit
// sub-identifiers, every value type, and request values an agent cannot take.
// clang-format off
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
// clang-format on

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "services/snmpsvc/NetSnmpConvert.h"

namespace snmpsvc {
namespace {

// A Net-SNMP varbind freed at scope end.
using ScopedVar = std::unique_ptr<netsnmp_variable_list, void (*)(netsnmp_variable_list*)>;
ScopedVar NewVar() {
  return {static_cast<netsnmp_variable_list*>(calloc(1, sizeof(netsnmp_variable_list))),
          snmp_free_var};
}

TEST(NetSnmpOidTest, SubIdentifiersAbove32BitsAndOverlongNamesAreRefused) {
  const unsigned long ids[] = {1, 3, 6, 1, 4294967296ul};
  EXPECT_FALSE(FromNetSnmpOid(ids, 5).has_value());
  const unsigned long max[] = {1, 3, 6, 1, 4294967295ul};
  EXPECT_EQ(FromNetSnmpOid(max, 5), (Oid{1, 3, 6, 1, 4294967295u}));
  ScopedVar var = NewVar();
  EXPECT_FALSE(SetNetSnmpName(Oid(MAX_OID_LEN + 1, 1), var.get()));
  EXPECT_FALSE(SetNetSnmpName(Oid{}, var.get()));
  EXPECT_TRUE(SetNetSnmpName(Oid(MAX_OID_LEN, 1), var.get()));
}

TEST(NetSnmpValueTest, EveryTypeSurvivesARoundTripThroughNetSnmp) {
  const Value values[] = {Value::Integer(-2147483647 - 1),
                          Value::Octets(ValueType::kOctetString, std::string("\0\xff", 2)),
                          Value::Octets(ValueType::kIpAddress, "\x0a\x01\x02\x03"),
                          Value::Octets(ValueType::kOpaque, "\x04\x01z"),
                          Value::Null(),
                          Value::ObjectId({1, 3, 6, 1, 4294967295u}),
                          Value::Unsigned(ValueType::kCounter32, 4294967295u),
                          Value::Unsigned(ValueType::kCounter64, 0x0123456789ABCDEFull)};
  for (const Value& in : values) {
    SCOPED_TRACE(static_cast<int>(in.type));
    ScopedVar var = NewVar();
    ASSERT_TRUE(ToNetSnmpValue(in, var.get()));
    Value back;
    ASSERT_TRUE(FromNetSnmpValue(*var.get(), &back));
    EXPECT_TRUE(back == in);
  }
  // An empty OID crosses as 0.0.
  ScopedVar var = NewVar();
  ASSERT_TRUE(ToNetSnmpValue(Value::ObjectId({}), var.get()));
  Value back;
  ASSERT_TRUE(FromNetSnmpValue(*var.get(), &back));
  EXPECT_TRUE(back == Value::ObjectId({0, 0}));
}

TEST(NetSnmpValueEdgeTest, ValuesAnAgentCannotTakeAreRefused) {
  ScopedVar var = NewVar();
  EXPECT_FALSE(ToNetSnmpValue(Value::Octets(ValueType::kIpAddress, "\x01\x02"), var.get()));
  const u_char five[] = {1, 2, 3, 4, 5};
  const oid huge[] = {1, 3, 0x100000000ul};
  // Found by the fuzzer: 130 sub-identifiers were taken in but could not be sent back.
  const std::vector<oid> too_long(MAX_OID_LEN + 2, 0);
  const float f = 1.5f;
  const struct {
    u_char type;
    const void* value;
    size_t size;
  } kRefused[] = {{ASN_IPADDRESS, five, sizeof five},
                  {ASN_OBJECT_ID, huge, sizeof huge},
                  {ASN_OBJECT_ID, too_long.data(), too_long.size() * sizeof(oid)},
                  {ASN_OPAQUE_FLOAT, &f, sizeof f},
                  {SNMP_NOSUCHOBJECT, nullptr, 0}};
  for (const auto& r : kRefused) {
    snmp_set_var_typed_value(var.get(), r.type, r.value, r.size);
    Value out;
    EXPECT_FALSE(FromNetSnmpValue(*var.get(), &out)) << int{r.type} << " " << r.size;
  }
  const std::vector<oid> longest(MAX_OID_LEN, 7);
  snmp_set_var_typed_value(var.get(), ASN_OBJECT_ID, longest.data(), longest.size() * sizeof(oid));
  Value out;
  EXPECT_TRUE(FromNetSnmpValue(*var.get(), &out));
  // The historic Unsigned32 tag is taken as Gauge32.
  const u_long nine = 9;
  snmp_set_var_typed_value(var.get(), ASN_UINTEGER, &nine, sizeof nine);
  ASSERT_TRUE(FromNetSnmpValue(*var.get(), &out));
  EXPECT_TRUE(out == Value::Unsigned(ValueType::kGauge32, 9));
}

}  // namespace
}  // namespace snmpsvc
