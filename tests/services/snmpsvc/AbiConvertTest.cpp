// Conversion between the extension-agent ABI and neutral varbinds: every type
// an agent can return, and what cannot cross.
#include <gtest/gtest.h>

#include <cstring>

#include "services/snmpsvc/AbiConvert.h"

namespace snmpsvc {
namespace {

TEST(AbiConvertValueTest, EveryTypeSurvivesARoundTripThroughAgentMemory) {
  const Value values[] = {Value::Integer(-2147483647 - 1),
                          Value::Octets(ValueType::kOctetString, std::string("a\0b", 3)),
                          Value::Octets(ValueType::kIpAddress, std::string("\x7f\x00\x00\x01", 4)),
                          Value::Octets(ValueType::kOpaque, "\x9f\x78\x04"),
                          Value::Null(),
                          Value::ObjectId({1, 3, 6, 1, 4294967295u}),
                          Value::Unsigned(ValueType::kCounter32, 4294967295u),
                          Value::Unsigned(ValueType::kCounter64, 18446744073709551615ull)};
  for (const Value& in : values) {
    SCOPED_TRACE(static_cast<int>(in.type));
    AsnAny any{};
    ASSERT_TRUE(ToAbi(in, &any));
    Value out;
    EXPECT_TRUE(FromAbi(any, &out));
    EXPECT_TRUE(out == in);
    SnmpUtilAsnAnyFree(&any);
  }
}

TEST(AbiConvertValueTest, Unsigned32AndBitsCrossAsTheirSnmpv2Encodings) {
  AsnAny any{.asnType = ASN_UNSIGNED32, .asnValue = {.unsigned32 = 77}};
  Value out;
  ASSERT_TRUE(FromAbi(any, &out));
  EXPECT_TRUE(out == Value::Unsigned(ValueType::kGauge32, 77));
  BYTE bits[] = {0xA0};
  any = {.asnType = ASN_BITS, .asnValue = {.bits = AsnOctetString{bits, 1, FALSE}}};
  ASSERT_TRUE(FromAbi(any, &out));
  EXPECT_TRUE(out == Value::Octets(ValueType::kOctetString, "\xA0"));
}

TEST(AbiConvertValueTest, WhatCannotCrossIsRefused) {
  BYTE bytes[] = {10, 0, 0};
  const AsnAny refused[] = {
      {.asnType = ASN_IPADDRESS, .asnValue = {.address = {bytes, 3, FALSE}}},     // three bytes
      {.asnType = ASN_OCTETSTRING, .asnValue = {.string = {nullptr, 5, FALSE}}},  // no bytes
      {.asnType = ASN_OBJECTIDENTIFIER, .asnValue = {.object = {3, nullptr}}},
      {.asnType = 0x30, .asnValue = {}},  // a sequence, and tags of no type
      {.asnType = 0x45, .asnValue = {}},
      {.asnType = 0x80, .asnValue = {}},
      {.asnType = 0xFF, .asnValue = {}}};
  for (const AsnAny& any : refused) {
    Value out;
    EXPECT_FALSE(FromAbi(any, &out)) << int{any.asnType};
  }
}

// The list's strings are its own copies, not views of the input; an empty
// list has no array.
TEST(AbiConvertListTest, ListOwnsCopiesThatSnmpUtilFrees) {
  std::vector<VarBind> in = {
      VarBind{{1, 3, 6, 1, 2}, Value::Octets(ValueType::kOctetString, "text")},
      VarBind{{1, 3, 6, 1, 3}, Value::ObjectId({1, 2, 3})},
      VarBind{{1, 3, 6, 1, 4}, Value::Null()}};
  ScopedVarBindList list;
  ASSERT_TRUE(ToAbi(in, list.get()));
  ASSERT_EQ(list.get()->len, 3u);
  in[0].value.octets[0] = 'X';
  EXPECT_EQ(std::memcmp(list.get()->list[0].value.asnValue.string.stream, "text", 4), 0);
  EXPECT_TRUE(list.get()->list[0].value.asnValue.string.dynamic);

  ScopedVarBindList empty;
  ASSERT_TRUE(ToAbi(std::vector<VarBind>{}, empty.get()));
  EXPECT_EQ(empty.get()->len, 0u);
  EXPECT_EQ(empty.get()->list, nullptr);
}

}  // namespace
}  // namespace snmpsvc
