// OID text and ordering of the neutral varbinds.
#include <gtest/gtest.h>

#include "services/snmpsvc/Varbind.h"

namespace snmpsvc {
namespace {

TEST(OidTest, TextRoundTripsMalformedTextIsRefusedAndOrderIsUnsigned) {
  EXPECT_EQ(ParseOid(".1.3.6.1.4294967295"), (Oid{1, 3, 6, 1, 4294967295u}));
  EXPECT_EQ(OidToString(*ParseOid("1.3.6")), "1.3.6");
  EXPECT_EQ(OidToString({}), "");
  for (const char* text : {"", ".", "1..3", "1.3.", "1.x", "1.4294967296", "-1.3", "1. 3", "+1"}) {
    EXPECT_FALSE(ParseOid(text).has_value()) << text;
  }
  // A prefix sorts first; sub-identifiers compare unsigned.
  EXPECT_TRUE(CompareOid({1, 3}, {1, 3, 0}) < 0);
  EXPECT_TRUE(CompareOid({1, 3, 2}, {1, 3, 0x80000000u}) < 0);
  EXPECT_TRUE(CompareOid({1, 3}, {1, 3}) == 0);
  EXPECT_TRUE(OidStartsWith({1, 3, 6}, {1, 3}));
  EXPECT_TRUE(OidStartsWith({1, 3}, {1, 3}));
  EXPECT_FALSE(OidStartsWith({1, 3}, {1, 3, 6}));
  EXPECT_FALSE(OidStartsWith({1, 4, 6}, {1, 3}));
}

}  // namespace
}  // namespace snmpsvc
