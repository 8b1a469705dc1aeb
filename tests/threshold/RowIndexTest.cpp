// Row names read back from instance OIDs.
#include <gtest/gtest.h>

#include <vector>

#include "threshold/RowIndex.h"

namespace {

std::string NameAt(std::vector<UINT> ids, UINT position) {
  AsnObjectIdentifier oid{static_cast<UINT>(ids.size()), ids.data()};
  return RowNameAt(oid, position);
}

TEST(RowIndexTest, NameFollowsItsLengthAtThePosition) {
  EXPECT_EQ(NameAt({1, 2, 3, 99, 112, 117}, 2), "cpu");
  EXPECT_EQ(NameAt({1, 2, 2, 97, 98, 2}, 2), "ab") << "a member number after the name";
}

TEST(RowIndexTest, NameCutShortByTheOidIsTakenAsFarAsItGoes) {
  EXPECT_EQ(NameAt({1, 2, 5, 97, 98}, 2), "ab");
  EXPECT_EQ(NameAt({1, 2, 0xFFFFFFFF, 97}, 2), "a");
}

TEST(RowIndexTest, MissingOrZeroLengthGivesTheEmptyName) {
  EXPECT_EQ(NameAt({1, 2}, 2), "");
  EXPECT_EQ(NameAt({1, 2, 0, 97}, 2), "");
  EXPECT_EQ(NameAt({}, 0), "");
}

TEST(RowIndexTest, BytesAreTheLowEightBitsOfEachSubidentifier) {
  EXPECT_EQ(NameAt({2, 0x161, 0xFF}, 0), std::string("a\xFF"));
}

}  // namespace
