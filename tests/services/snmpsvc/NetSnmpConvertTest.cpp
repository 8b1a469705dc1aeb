// Conversion between Net-SNMP's varbinds and neutral varbinds: 64-bit
// sub-identifiers, every value type, and request values an agent cannot take.
// clang-format off
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
// clang-format on

#include <gtest/gtest.h>

#include <vector>

#include "ValuePrinter.h"
#include "services/snmpsvc/NetSnmpConvert.h"

namespace snmpsvc {
namespace {

// A Net-SNMP varbind freed at scope end.
class ScopedVar {
 public:
  ScopedVar() { var_ = static_cast<netsnmp_variable_list*>(calloc(1, sizeof *var_)); }
  ~ScopedVar() { snmp_free_var(var_); }
  ScopedVar(const ScopedVar&) = delete;
  ScopedVar& operator=(const ScopedVar&) = delete;
  netsnmp_variable_list* get() { return var_; }

 private:
  netsnmp_variable_list* var_;
};

TEST(NetSnmpOidTest, SubIdentifierAbove32BitsIsRefused) {
  const unsigned long ids[] = {1, 3, 6, 1, 4294967296ul};
  EXPECT_FALSE(FromNetSnmpOid(ids, 5).has_value());
  const unsigned long max[] = {1, 3, 6, 1, 4294967295ul};
  EXPECT_EQ(FromNetSnmpOid(max, 5), (Oid{1, 3, 6, 1, 4294967295u}));
}

TEST(NetSnmpOidTest, NameLongerThanNetSnmpEncodesIsRefused) {
  ScopedVar var;
  EXPECT_FALSE(SetNetSnmpName(Oid(MAX_OID_LEN + 1, 1), var.get()));
  EXPECT_FALSE(SetNetSnmpName(Oid{}, var.get()));
  EXPECT_TRUE(SetNetSnmpName(Oid(MAX_OID_LEN, 1), var.get()));
}

class NetSnmpValueTest : public ::testing::TestWithParam<Value> {};

TEST_P(NetSnmpValueTest, ValueSurvivesRoundTripThroughNetSnmp) {
  ScopedVar var;
  ASSERT_TRUE(ToNetSnmpValue(GetParam(), var.get()));
  Value back;
  ASSERT_TRUE(FromNetSnmpValue(*var.get(), &back));
  EXPECT_EQ(back, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    EveryType, NetSnmpValueTest,
    ::testing::Values(Value::Integer(-2147483647 - 1), Value::Integer(2147483647),
                      Value::Octets(ValueType::kOctetString, std::string("\0\xff", 2)),
                      Value::Octets(ValueType::kIpAddress, "\x0a\x01\x02\x03"),
                      Value::Octets(ValueType::kOpaque, "\x04\x01z"), Value::Null(),
                      Value::ObjectId({1, 3, 6, 1, 4294967295u}),
                      Value::Unsigned(ValueType::kCounter32, 4294967295u),
                      Value::Unsigned(ValueType::kGauge32, 1),
                      Value::Unsigned(ValueType::kTimeTicks, 4294967295u),
                      Value::Unsigned(ValueType::kCounter64, 0x0123456789ABCDEFull)));

TEST(NetSnmpValueEdgeTest, EmptyOidBecomesZeroDotZero) {
  ScopedVar var;
  ASSERT_TRUE(ToNetSnmpValue(Value::ObjectId({}), var.get()));
  Value back;
  ASSERT_TRUE(FromNetSnmpValue(*var.get(), &back));
  EXPECT_EQ(back, Value::ObjectId({0, 0}));
}

TEST(NetSnmpValueEdgeTest, ValuesAnAgentCannotTakeAreRefused) {
  ScopedVar var;
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
}

TEST(NetSnmpValueEdgeTest, HistoricUnsigned32TagIsTakenAsGauge32) {
  ScopedVar var;
  const u_long v = 9;
  snmp_set_var_typed_value(var.get(), ASN_UINTEGER, &v, sizeof v);
  Value out;
  ASSERT_TRUE(FromNetSnmpValue(*var.get(), &out));
  EXPECT_EQ(out, Value::Unsigned(ValueType::kGauge32, 9));
}

}  // namespace
}  // namespace snmpsvc
