// OID text parsing and formatting, string indexes, value setters and readers,
// value trace texts, status names and the SNMP memory owners.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "mibtree/SnmpErrorText.h"
#include "mibtree/SnmpVarbind.h"
#include "platform/SnmpOwners.h"

namespace {

std::vector<UINT> Ids(const AsnObjectIdentifier& oid) {
  return std::vector<UINT>(oid.ids, oid.ids + oid.idLength);
}

std::vector<UINT> Parse(const char* text, bool expect_ok = true) {
  OidOwner oid;
  EXPECT_EQ(OidFromString(text, oid.Get()), expect_ok) << text;
  return Ids(*oid.Get());
}

// A string value over bytes the test chooses (terminator not implied).
VarBindOwner StringValue(const std::string& bytes, BYTE type = ASN_OCTETSTRING) {
  VarBindOwner varbind;
  auto* stream = static_cast<BYTE*>(SnmpUtilMemAlloc(static_cast<UINT>(bytes.size())));
  std::memcpy(stream, bytes.data(), bytes.size());
  varbind->value.asnType = type;
  varbind->value.asnValue.string = AsnOctetString{stream, static_cast<UINT>(bytes.size()), TRUE};
  return varbind;
}

TEST(OidFromStringTest, QuotedPartBecomesLengthAndCharacters) {
  EXPECT_EQ(Parse("1.2.\"ab\""), (std::vector<UINT>{1, 2, 2, 97, 98}));
  EXPECT_EQ(Parse("1.\"ab\".5"), (std::vector<UINT>{1, 2, 97, 98, 5}));
  EXPECT_EQ(Parse("1.\"\".2"), (std::vector<UINT>{1, 0, 2}));
  EXPECT_EQ(Parse("1.\"a.b\""), (std::vector<UINT>{1, 3, 97, 46, 98}));
}

TEST(OidFromStringTest, UnterminatedQuoteEndsTheText) {
  EXPECT_EQ(Parse("1.\"ab"), (std::vector<UINT>{1, 2, 97, 98}));
  EXPECT_EQ(Parse("1.\"a.5"), (std::vector<UINT>{1, 3, 97, 46, 53}));
}

TEST(OidFromStringTest, QuotedHighBytesWidenAsSignedCharacters) {
  EXPECT_EQ(Parse("1.\"\xE9\""), (std::vector<UINT>{1, 1, 0xFFFFFFE9u}));
}

TEST(OidFromStringTest, LeadingBlanksAndOneLeadingDotAreSkipped) {
  EXPECT_EQ(Parse("  \t.1.3.6"), (std::vector<UINT>{1, 3, 6}));
  EXPECT_EQ(Parse("..1.3"), (std::vector<UINT>{0, 1, 3}));  // only one dot is skipped
}

TEST(OidFromStringTest, FullRangeSubIdentifiersParse) {
  EXPECT_EQ(Parse("0.4294967295"), (std::vector<UINT>{0, 0xFFFFFFFFu}));
  EXPECT_EQ(Parse("1.2147483648"), (std::vector<UINT>{1, 0x80000000u}));
}

TEST(OidFromStringTest, EmptyPartsAreZero) {
  EXPECT_EQ(Parse("1..2"), (std::vector<UINT>{1, 0, 2}));
  EXPECT_EQ(Parse("1.2."), (std::vector<UINT>{1, 2, 0}));
}

TEST(OidFromStringTest, MalformedTextFailsWithEmptyOid) {
  for (const char* text : {"", " ", ".", "5", ".7", "\"\"", "\"", "1.3.a", "1.3x", "1.-3",
                           "1.3 ", "1.4294967296", "1.99999999999999999999", "1.2\"ab\"",
                           "1.\"ab\"5", "1.\"a\"\"b\"", "+1.2"}) {
    EXPECT_TRUE(Parse(text, false).empty()) << text;
  }
  OidOwner oid;
  EXPECT_FALSE(OidFromString(nullptr, oid.Get()));
  EXPECT_FALSE(OidFromString("1.2", nullptr));
}

TEST(OidFromStringTest, FailureEmptiesAPreviouslyFilledOid) {
  OidOwner oid;
  ASSERT_TRUE(OidFromString("1.3.6.1", oid.Get()));
  EXPECT_FALSE(OidFromString("1.x", oid.Get()));
  EXPECT_EQ(oid->idLength, 0u);
  EXPECT_EQ(oid->ids, nullptr);
}

TEST(OidToStringTest, FormatsSignedDecimalsJoinedByDots) {
  OidOwner oid;
  ASSERT_TRUE(OidFromString("1.3.6.1.4.1.32473.2.47", oid.Get()));
  EXPECT_STREQ(OidToString(oid.Get()), "1.3.6.1.4.1.32473.2.47");
  ASSERT_TRUE(OidFromString("1.4294967295.2147483648.2147483647", oid.Get()));
  EXPECT_STREQ(OidToString(oid.Get()), "1.-1.-2147483648.2147483647");
}

TEST(OidToStringTest, EmptyOrAbsentOidGivesEmptyText) {
  OidOwner oid;
  EXPECT_STREQ(OidToString(oid.Get()), "");
  EXPECT_STREQ(OidToString(nullptr), "");
}

TEST(OidToStringTest, EachThreadHasItsOwnBuffer) {
  OidOwner mine;
  ASSERT_TRUE(OidFromString("1.1", mine.Get()));
  const char* text = OidToString(mine.Get());
  std::thread other([] {
    OidOwner theirs;
    OidFromString("2.2.2", theirs.Get());
    OidToString(theirs.Get());
  });
  other.join();
  EXPECT_STREQ(text, "1.1");
}

TEST(AppendStringIndexTest, AppendsLengthThenUnsignedBytes) {
  OidOwner oid;
  ASSERT_TRUE(OidFromString("1.3.6", oid.Get()));
  ASSERT_TRUE(AppendStringIndex(oid.Get(), "a\xE9"));
  EXPECT_EQ(Ids(*oid.Get()), (std::vector<UINT>{1, 3, 6, 2, 97, 233}));
}

TEST(AppendStringIndexTest, EmptyTextAppendsZeroAndNullTextNothing) {
  OidOwner oid;
  ASSERT_TRUE(OidFromString("1.3", oid.Get()));
  ASSERT_TRUE(AppendStringIndex(oid.Get(), nullptr));
  EXPECT_EQ(Ids(*oid.Get()), (std::vector<UINT>{1, 3}));
  ASSERT_TRUE(AppendStringIndex(oid.Get(), ""));
  EXPECT_EQ(Ids(*oid.Get()), (std::vector<UINT>{1, 3, 0}));
  OidOwner empty;
  ASSERT_TRUE(AppendStringIndex(empty.Get(), "x"));
  EXPECT_EQ(Ids(*empty.Get()), (std::vector<UINT>{1, 120}));
}

TEST(SetVarbindNumberTest, NumberTypesStoreTheValue) {
  for (BYTE type : {ASN_INTEGER, ASN_COUNTER32, ASN_GAUGE32, ASN_TIMETICKS, ASN_UNSIGNED32}) {
    VarBindOwner varbind;
    EXPECT_TRUE(SetVarbindNumber(varbind.Get(), 0xFFFFFFFEu, type));
    EXPECT_EQ(varbind->value.asnType, type);
    EXPECT_EQ(varbind->value.asnValue.unsigned32, 0xFFFFFFFEu);
  }
}

TEST(SetVarbindNumberTest, IpAddressTakesTheFourBytesOfTheNumber) {
  VarBindOwner varbind;
  DWORD number = 0;
  const BYTE bytes[4] = {10, 0, 0, 250};
  std::memcpy(&number, bytes, 4);
  ASSERT_TRUE(SetVarbindNumber(varbind.Get(), number, ASN_IPADDRESS));
  EXPECT_STREQ(VarbindValueText(&varbind->value), "IP ADDRESS: 10.0.0.250");
}

TEST(SetVarbindNumberTest, OtherTypeFreesOldValueAndLeavesNull) {
  VarBindOwner varbind = StringValue("old");
  EXPECT_FALSE(SetVarbindNumber(varbind.Get(), 5, ASN_OCTETSTRING));
  EXPECT_EQ(varbind->value.asnType, ASN_NULL);
  EXPECT_FALSE(SetVarbindNumber(varbind.Get(), 5, ASN_OBJECTIDENTIFIER));
  EXPECT_FALSE(SetVarbindNumber(nullptr, 5, ASN_INTEGER));
}

TEST(SetVarbindTextTest, StringIsCopiedWithoutTerminator) {
  VarBindOwner varbind;
  ASSERT_TRUE(SetVarbindText(varbind.Get(), "abc", ASN_OCTETSTRING));
  EXPECT_EQ(varbind->value.asnValue.string.length, 3u);
  EXPECT_EQ(std::memcmp(varbind->value.asnValue.string.stream, "abc", 3), 0);
  ASSERT_TRUE(SetVarbindText(varbind.Get(), nullptr, ASN_OCTETSTRING));
  EXPECT_EQ(varbind->value.asnType, ASN_OCTETSTRING);
  EXPECT_EQ(varbind->value.asnValue.string.length, 0u);
}

TEST(SetVarbindTextTest, NumberTypesTakeTheLeadingDecimalNumber) {
  VarBindOwner varbind;
  ASSERT_TRUE(SetVarbindText(varbind.Get(), "12abc", ASN_INTEGER));
  EXPECT_EQ(GetInteger(varbind.Get()), 12);
  ASSERT_TRUE(SetVarbindText(varbind.Get(), "abc", ASN_GAUGE32));
  EXPECT_EQ(GetInteger(varbind.Get()), 0);
  ASSERT_TRUE(SetVarbindText(varbind.Get(), "-7", ASN_INTEGER));
  EXPECT_EQ(GetInteger(varbind.Get()), -7);
  ASSERT_TRUE(SetVarbindText(varbind.Get(), "4294967295", ASN_COUNTER32));
  EXPECT_EQ(varbind->value.asnValue.unsigned32, 0xFFFFFFFFu);
}

TEST(SetVarbindTextTest, OidAndIpAddressAreParsedAsOidText) {
  VarBindOwner varbind;
  ASSERT_TRUE(SetVarbindText(varbind.Get(), "1.3.6.1", ASN_OBJECTIDENTIFIER));
  EXPECT_EQ(Ids(varbind->value.asnValue.object), (std::vector<UINT>{1, 3, 6, 1}));
  ASSERT_TRUE(SetVarbindText(varbind.Get(), "192.168.1.2.99", ASN_IPADDRESS));
  EXPECT_STREQ(VarbindValueText(&varbind->value), "IP ADDRESS: 192.168.1.2");
}

TEST(SetVarbindTextTest, UnusableTextOrTypeFailsWithNull) {
  VarBindOwner varbind;
  EXPECT_FALSE(SetVarbindText(varbind.Get(), "1.2.3", ASN_IPADDRESS));
  EXPECT_EQ(varbind->value.asnType, ASN_NULL);
  EXPECT_FALSE(SetVarbindText(varbind.Get(), "x", ASN_OBJECTIDENTIFIER));
  EXPECT_EQ(varbind->value.asnType, ASN_NULL);
  EXPECT_FALSE(SetVarbindText(varbind.Get(), "1", ASN_OPAQUE));
  EXPECT_EQ(varbind->value.asnType, ASN_NULL);
}

TEST(GetStringTest, UnterminatedValueIsTerminatedAndGrowsByOneByte) {
  VarBindOwner varbind = StringValue("abc");
  EXPECT_STREQ(GetString(varbind.Get()), "abc");
  EXPECT_EQ(varbind->value.asnValue.string.length, 4u);
  EXPECT_STREQ(GetString(varbind.Get()), "abc");
  EXPECT_EQ(varbind->value.asnValue.string.length, 4u);
}

TEST(GetStringTest, BorrowedBytesAreCopiedNotReallocated) {
  static BYTE borrowed[] = {'x', 'y'};
  VarBindOwner varbind;
  varbind->value.asnType = ASN_OCTETSTRING;
  varbind->value.asnValue.string = AsnOctetString{borrowed, 2, FALSE};
  EXPECT_STREQ(GetString(varbind.Get()), "xy");
  EXPECT_NE(varbind->value.asnValue.string.stream, borrowed);
  EXPECT_TRUE(varbind->value.asnValue.string.dynamic);
}

TEST(GetStringTest, EmptyAndMismatchedValues) {
  VarBindOwner varbind;
  varbind->value.asnType = ASN_OCTETSTRING;
  EXPECT_STREQ(GetString(varbind.Get()), "");
  SetVarbindNumber(varbind.Get(), 1, ASN_INTEGER);
  EXPECT_STREQ(GetString(varbind.Get()), "<<GetString type mismatch>>");
}

TEST(GetIntegerTest, ReadsOnlySignedAndClassicUnsignedTypes) {
  VarBindOwner varbind;
  SetVarbindNumber(varbind.Get(), 9, ASN_TIMETICKS);
  EXPECT_EQ(GetInteger(varbind.Get()), 9);
  SetVarbindNumber(varbind.Get(), 9, ASN_UNSIGNED32);
  EXPECT_EQ(GetInteger(varbind.Get()), 0);
  SetVarbindText(varbind.Get(), "9", ASN_OCTETSTRING);
  EXPECT_EQ(GetInteger(varbind.Get()), 0);
}

TEST(FreeVarbindValueTest, FreesOidAndStringValuesAndLeavesNull) {
  VarBindOwner varbind;
  SetVarbindText(varbind.Get(), "1.2.3", ASN_OBJECTIDENTIFIER);
  FreeVarbindValue(varbind.Get());
  EXPECT_EQ(varbind->value.asnType, ASN_NULL);
  EXPECT_EQ(varbind->value.asnValue.object.ids, nullptr);
  VarBindOwner text = StringValue("x", ASN_OPAQUE);
  FreeVarbindValue(text.Get());
  EXPECT_EQ(text->value.asnType, ASN_NULL);
}

TEST(VarbindValueTextTest, NumbersShowDecimalAndHex) {
  VarBindOwner varbind;
  SetVarbindNumber(varbind.Get(), static_cast<DWORD>(-5), ASN_INTEGER);
  EXPECT_STREQ(VarbindValueText(&varbind->value), "INTEGER: -5 (0xFFFFFFFB)");
  SetVarbindNumber(varbind.Get(), 255, ASN_COUNTER32);
  EXPECT_STREQ(VarbindValueText(&varbind->value), "COUNTER: 255 (0xFF)");
  SetVarbindNumber(varbind.Get(), 1, ASN_GAUGE32);
  EXPECT_STREQ(VarbindValueText(&varbind->value), "GAUGE: 1 (0x1)");
  SetVarbindNumber(varbind.Get(), 0, ASN_TIMETICKS);
  EXPECT_STREQ(VarbindValueText(&varbind->value), "TIMETICKS: 0 (0x0)");
}

TEST(VarbindValueTextTest, PrintableStringIsQuoted) {
  VarBindOwner abc = StringValue("abc");
  EXPECT_STREQ(VarbindValueText(&abc->value), "STRING: \"abc\"");
  // Only the bytes before the last must be printable; a stored terminator ends the text.
  VarBindOwner line = StringValue("ok\n");
  EXPECT_STREQ(VarbindValueText(&line->value), "STRING: \"ok\n\"");
  VarBindOwner terminated = StringValue(std::string("ab\0", 3));
  EXPECT_STREQ(VarbindValueText(&terminated->value), "STRING: \"ab\"");
  VarBindOwner opaque = StringValue("\xC3\xA9t\xC3\xA9", ASN_OPAQUE);
  EXPECT_STREQ(VarbindValueText(&opaque->value), "OPAQUE: \"\xC3\xA9t\xC3\xA9\"");
}

TEST(VarbindValueTextTest, StringWithControlByteIsHex) {
  VarBindOwner bytes = StringValue(std::string("\x01\x02", 2));
  EXPECT_STREQ(VarbindValueText(&bytes->value), "OCTET STRING: 01 02 ");
  VarBindOwner opaque = StringValue(std::string("a\0\xFF", 3), ASN_OPAQUE);
  EXPECT_STREQ(VarbindValueText(&opaque->value), "OCTET STRING: 61 00 FF ");
}

TEST(VarbindValueTextTest, EmptyStringIsNull) {
  VarBindOwner varbind;
  SetVarbindText(varbind.Get(), "", ASN_OCTETSTRING);
  EXPECT_STREQ(VarbindValueText(&varbind->value), "STRING: NULL");
  varbind->value.asnType = ASN_OPAQUE;
  EXPECT_STREQ(VarbindValueText(&varbind->value), "OPAQUE: NULL");
}

TEST(VarbindValueTextTest, LongValuesAreCutToTheBuffer) {
  VarBindOwner text = StringValue(std::string(5000, 'x'));
  const std::string quoted = VarbindValueText(&text->value);
  EXPECT_EQ(quoted.size(), 1023u);
  EXPECT_EQ(quoted.substr(0, 9), "STRING: \"");
  EXPECT_EQ(quoted.back(), '"');
  VarBindOwner binary = StringValue(std::string(5000, '\x01'));
  const std::string hex = VarbindValueText(&binary->value);
  EXPECT_LE(hex.size(), 1023u);
  EXPECT_EQ(hex.size(), 14u + 3u * ((1023u - 14u) / 3u));
  EXPECT_EQ(hex.substr(hex.size() - 3), "01 ");
}

TEST(VarbindValueTextTest, OtherTypesShowTheirNameOnly) {
  VarBindOwner varbind;
  EXPECT_STREQ(VarbindValueText(&varbind->value), "NULL");
  SetVarbindText(varbind.Get(), "1.3", ASN_OBJECTIDENTIFIER);
  EXPECT_STREQ(VarbindValueText(&varbind->value), "OID");
  SetVarbindNumber(varbind.Get(), 3, ASN_UNSIGNED32);
  EXPECT_STREQ(VarbindValueText(&varbind->value), "UNKNOWN TYPE");
  VarBindOwner short_address = StringValue("abc", ASN_IPADDRESS);
  EXPECT_STREQ(VarbindValueText(&short_address->value), "IP ADDRESS");
}

TEST(VarbindTextTest, ShowsOidAndValue) {
  VarBindOwner varbind;
  OidFromString("1.3.6.1", &varbind->name);
  SetVarbindText(varbind.Get(), "abc", ASN_OCTETSTRING);
  EXPECT_STREQ(VarbindText(varbind.Get()), "Oid=1.3.6.1, Value=STRING: \"abc\"");
}

TEST(SnmpErrorTextTest, NamesEveryStatusAndUnknownOutside) {
  EXPECT_STREQ(SnmpErrorText(0), "no error");
  EXPECT_STREQ(SnmpErrorText(2), "no such name");
  EXPECT_STREQ(SnmpErrorText(4), "value is read-only");
  EXPECT_STREQ(SnmpErrorText(5), "generic error");
  EXPECT_STREQ(SnmpErrorText(13), "resource unavailable");
  EXPECT_STREQ(SnmpErrorText(17), "not writeable");
  EXPECT_STREQ(SnmpErrorText(18), "inconsistent name");
  EXPECT_STREQ(SnmpErrorText(19), "unknown");
  EXPECT_STREQ(SnmpErrorText(-1), "unknown");
}

TEST(SnmpOwnersTest, ReleaseHandsOverAndMoveTransfers) {
  OidOwner first;
  ASSERT_TRUE(OidFromString("1.2.3", first.Get()));
  OidOwner second(std::move(first));
  EXPECT_EQ(first->idLength, 0u);
  EXPECT_EQ(second->idLength, 3u);
  AsnObjectIdentifier raw = second.Release();
  EXPECT_EQ(second->ids, nullptr);
  SnmpUtilOidFree(&raw);

  VarBindOwner varbind = StringValue("abc");
  VarBindOwner moved;
  moved = std::move(varbind);
  EXPECT_EQ(varbind->value.asnType, ASN_NULL);
  EXPECT_EQ(moved->value.asnValue.string.length, 3u);
  moved.Reset();
  EXPECT_EQ(moved->value.asnType, ASN_NULL);
}

}  // namespace
