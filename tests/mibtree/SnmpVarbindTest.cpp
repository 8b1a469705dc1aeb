// OID text parsing and formatting, string indexes, value setters and readers,
// value trace texts and status names.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "TestAgent.h"
#include "mibtree/SnmpErrorText.h"

namespace {

// A string value over bytes the test chooses (terminator not implied).
VarBindOwner StringValue(const std::string& bytes, BYTE type = ASN_OCTETSTRING) {
  VarBindOwner varbind;
  auto* stream = static_cast<BYTE*>(SnmpUtilMemAlloc(static_cast<UINT>(bytes.size())));
  std::memcpy(stream, bytes.data(), bytes.size());
  varbind->value.asnType = type;
  varbind->value.asnValue.string = AsnOctetString{stream, static_cast<UINT>(bytes.size()), TRUE};
  return varbind;
}
std::string ValueText(const VarBindOwner& varbind) { return VarbindValueText(&varbind->value); }

TEST(OidFromStringTest, ParsesDottedQuotedAndBoundaryTexts) {
  const struct {
    const char* text;
    Ids ids;
  } rows[] = {
      {"1.2.\"ab\"", {1, 2, 2, 97, 98}},   {"1.\"ab\".5", {1, 2, 97, 98, 5}},
      {"1.\"a.b\"", {1, 3, 97, 46, 98}},   {"1.\"a.5", {1, 3, 97, 46, 53}},  // unterminated
      {"1.\"\xE9\"", {1, 1, 0xFFFFFFE9u}},  // high bytes widen as signed characters
      {"  \t.1.3.6", {1, 3, 6}},           {"..1.3", {0, 1, 3}},  // one dot is skipped
      {"0.4294967295", {0, 0xFFFFFFFFu}},  {"1.2.", {1, 2, 0}},
  };
  for (const auto& row : rows) {
    OidOwner oid;
    EXPECT_TRUE(OidFromString(row.text, oid.Get())) << row.text;
    EXPECT_EQ(IdsOf(*oid.Get()), row.ids) << row.text;
  }
}

TEST(OidFromStringTest, MalformedTextFailsWithEmptyOid) {
  for (const char* text :
       {"", " ", ".", "5", ".7", "\"\"", "\"", "1.3.a", "1.3x", "1.-3", "1.3 ", "1.4294967296",
        "1.99999999999999999999", "1.2\"ab\"", "1.\"ab\"5", "1.\"a\"\"b\"", "+1.2"}) {
    OidOwner oid;
    ASSERT_TRUE(OidFromString("1.3.6.1", oid.Get()));
    EXPECT_FALSE(OidFromString(text, oid.Get())) << text;
    EXPECT_EQ(oid->idLength, 0u) << text;  // a filled OID is emptied
    EXPECT_EQ(oid->ids, nullptr) << text;
  }
  OidOwner oid;
  EXPECT_FALSE(OidFromString(nullptr, oid.Get()));
  EXPECT_FALSE(OidFromString("1.2", nullptr));
}

TEST(OidToStringTest, FormatsSignedDecimalsAndAppendsStringIndexes) {
  OidOwner oid;
  EXPECT_STREQ(OidToString(oid.Get()), "");
  EXPECT_STREQ(OidToString(nullptr), "");
  ASSERT_TRUE(OidFromString("1.4294967295.2147483648.2147483647", oid.Get()));
  EXPECT_STREQ(OidToString(oid.Get()), "1.-1.-2147483648.2147483647");

  // A string index is its length, then its bytes unsigned.
  ASSERT_TRUE(OidFromString("1.3", oid.Get()));
  ASSERT_TRUE(AppendStringIndex(oid.Get(), "a\xE9"));
  EXPECT_EQ(IdsOf(*oid.Get()), (Ids{1, 3, 2, 97, 233}));
}

TEST(VarbindSetterTest, NumberTypesStoreNumbersAndEachTypeReadsItsPartOfTheText) {
  VarBindOwner varbind;
  DWORD number = 0;
  const BYTE bytes[4] = {10, 0, 0, 250};
  std::memcpy(&number, bytes, 4);
  ASSERT_TRUE(SetVarbindNumber(varbind.Get(), number, ASN_IPADDRESS));
  EXPECT_EQ(ValueText(varbind), "IP ADDRESS: 10.0.0.250");
  VarBindOwner old = StringValue("old");
  EXPECT_FALSE(SetVarbindNumber(old.Get(), 5, ASN_OCTETSTRING));
  EXPECT_EQ(old->value.asnType, ASN_NULL);
  EXPECT_FALSE(SetVarbindNumber(old.Get(), 5, ASN_OBJECTIDENTIFIER));
  EXPECT_FALSE(SetVarbindNumber(nullptr, 5, ASN_INTEGER));

  // SetVarbindText: each type reads its own part of the text.
  const struct {
    const char* text;
    BYTE type;
    bool ok;
    const char* shown;
  } rows[] = {
      {"abc", ASN_OCTETSTRING, true, "STRING: \"abc\""},
      {nullptr, ASN_OCTETSTRING, true, "STRING: NULL"},
      {"12abc", ASN_INTEGER, true, "INTEGER: 12 (0xC)"},
      {"4294967295", ASN_COUNTER32, true, "COUNTER: -1 (0xFFFFFFFF)"},
      {"1.3.6.1", ASN_OBJECTIDENTIFIER, true, "OID"},
      {"192.168.1.2.99", ASN_IPADDRESS, true, "IP ADDRESS: 192.168.1.2"},
      {"1.2.3", ASN_IPADDRESS, false, "NULL"},
      {"x", ASN_OBJECTIDENTIFIER, false, "NULL"},
      {"1", ASN_OPAQUE, false, "NULL"},
  };
  for (const auto& row : rows) {
    VarBindOwner value = StringValue("old");
    EXPECT_EQ(SetVarbindText(value.Get(), row.text, row.type), row.ok) << row.shown;
    EXPECT_EQ(ValueText(value), row.shown);
  }
  ASSERT_TRUE(SetVarbindText(varbind.Get(), "abc", ASN_OCTETSTRING));
  EXPECT_EQ(varbind->value.asnValue.string.length, 3u);  // no terminator
  ASSERT_TRUE(SetVarbindText(varbind.Get(), "1.3.6.1", ASN_OBJECTIDENTIFIER));
  EXPECT_EQ(IdsOf(varbind->value.asnValue.object), (Ids{1, 3, 6, 1}));
}

TEST(VarbindReaderTest, GetStringTerminatesOnceCopiesBorrowedBytesAndGetIntegerReadsNumbers) {
  VarBindOwner varbind = StringValue("abc");
  EXPECT_STREQ(GetString(varbind.Get()), "abc");
  EXPECT_STREQ(GetString(varbind.Get()), "abc");
  EXPECT_EQ(varbind->value.asnValue.string.length, 4u);
  static BYTE borrowed[] = {'x', 'y'};
  VarBindOwner loan;
  loan->value.asnType = ASN_OCTETSTRING;
  loan->value.asnValue.string = AsnOctetString{borrowed, 2, FALSE};
  EXPECT_STREQ(GetString(loan.Get()), "xy");
  EXPECT_NE(loan->value.asnValue.string.stream, borrowed);
  EXPECT_TRUE(loan->value.asnValue.string.dynamic);
  // GetInteger reads only the classic number types (the SET table of the
  // threshold agent reads the others).
  SetVarbindNumber(varbind.Get(), 9, ASN_UNSIGNED32);
  EXPECT_EQ(GetInteger(varbind.Get()), 0);
}

TEST(VarbindValueTextTest, ShowsEachTypeAsTheTraceDoes) {
  const struct {
    std::string bytes;
    BYTE type;
    const char* shown;
  } strings[] = {
      {"abc", ASN_OCTETSTRING, "STRING: \"abc\""},
      // Only the bytes before the last must be printable; a stored terminator ends the text.
      {"ok\n", ASN_OCTETSTRING, "STRING: \"ok\n\""},
      {std::string("ab\0", 3), ASN_OCTETSTRING, "STRING: \"ab\""},
      {"\xC3\xA9t\xC3\xA9", ASN_OPAQUE, "OPAQUE: \"\xC3\xA9t\xC3\xA9\""},
      {std::string("\x01\x02", 2), ASN_OCTETSTRING, "OCTET STRING: 01 02 "},
      {std::string("a\0\xFF", 3), ASN_OPAQUE, "OCTET STRING: 61 00 FF "},
      {"", ASN_OCTETSTRING, "STRING: NULL"},
      {"abc", ASN_IPADDRESS, "IP ADDRESS"},
  };
  for (const auto& row : strings) EXPECT_EQ(ValueText(StringValue(row.bytes, row.type)), row.shown);
  const struct {
    DWORD number;
    BYTE type;
    const char* shown;
  } numbers[] = {
      {static_cast<DWORD>(-5), ASN_INTEGER, "INTEGER: -5 (0xFFFFFFFB)"},
      {255, ASN_COUNTER32, "COUNTER: 255 (0xFF)"},
      {3, ASN_UNSIGNED32, "UNKNOWN TYPE"},
  };
  for (const auto& row : numbers) {
    VarBindOwner varbind;
    SetVarbindNumber(varbind.Get(), row.number, row.type);
    EXPECT_EQ(ValueText(varbind), row.shown);
  }
  VarBindOwner varbind;
  EXPECT_EQ(ValueText(varbind), "NULL");
  OidFromString("1.3.6.1", &varbind->name);
  SetVarbindText(varbind.Get(), "abc", ASN_OCTETSTRING);
  EXPECT_STREQ(VarbindText(varbind.Get()), "Oid=1.3.6.1, Value=STRING: \"abc\"");
}

TEST(SnmpErrorTextTest, NamesEveryStatusAndUnknownOutside) {
  const std::pair<int, const char*> rows[] = {
      {0, "no error"}, {18, "inconsistent name"}, {19, "unknown"}, {-1, "unknown"}};
  for (const auto& [status, text] : rows) EXPECT_STREQ(SnmpErrorText(status), text) << status;
}

}  // namespace
