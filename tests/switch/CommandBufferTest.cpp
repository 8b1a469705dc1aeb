// The command frame buffer: wire layout, storage of data, readers at their
// limits, and status texts.
#include <gtest/gtest.h>

#include <cstring>

#include "switch/CommandBuffer.h"

namespace {

TEST(CommandBufferTest, HeaderFieldsSitAtTheirWireOffsets) {
  CommandBuffer empty(0x2200, 0, 0, 0xFFFFFFFF, 0x13, nullptr, 0);
  EXPECT_EQ(empty.BlockSize(), 52u);
  const CmdHeader* header = empty.Header();
  EXPECT_EQ(std::memcmp(header->Signature, "$SIP", 4), 0);
  EXPECT_EQ(header->Format, 2);
  EXPECT_EQ(header->HeaderLength, 48);
  EXPECT_EQ(header->MIDLow + header->MIDHigh + header->Reserved1 + empty.DataWord(0), 0u);

  CommandBuffer buffer(0x11223344, 0x55667788, 0x99AABBCC, 0xDDEEFF00, 0x16, "xy", 2);
  const auto* bytes = reinterpret_cast<const BYTE*>(buffer.Header());
  const DWORD words[] = {2, 0x11223344, 0x55667788, 0x99AABBCC, 0xDDEEFF00, 0x16};
  for (size_t i = 0; i < 6; ++i) {
    DWORD value;
    std::memcpy(&value, bytes + 8 + 4 * i, 4);
    EXPECT_EQ(value, words[i]) << "offset " << 8 + 4 * i;
  }
  EXPECT_EQ(std::memcmp(bytes + 48, "xy", 2), 0);
}

TEST(CommandBufferTest, DataGrowsTheBlockOnlyWhenLongerThanItHolds) {
  CommandBuffer buffer(1, 2, 3, 4, 0, nullptr, 0);
  const BYTE* before = reinterpret_cast<const BYTE*>(buffer.Header());
  ASSERT_TRUE(buffer.SetFrameData("abc", 3, 0));
  EXPECT_EQ(buffer.BlockSize(), 52u);
  EXPECT_EQ(reinterpret_cast<const BYTE*>(buffer.Header()), before);
  ASSERT_TRUE(buffer.SetFrameData("0123456789", 10, 12));
  EXPECT_EQ(buffer.BlockSize(), 58u);
  EXPECT_EQ(buffer.Header()->OID, 3u);  // header carried over
  EXPECT_EQ(buffer.FrameStatus(), 12u);
  EXPECT_EQ(std::memcmp(buffer.DataAt(0), "0123456789", 10), 0);
  ASSERT_TRUE(buffer.SetFrameData("abcdefg", 7, 0));
  EXPECT_EQ(buffer.BlockSize(), 58u);
  EXPECT_EQ(buffer.DataByte(7), 0);                  // past Len, although the block holds '7'
  ASSERT_TRUE(buffer.SetFrameData(nullptr, 50, 4));  // no data, whatever the length
  EXPECT_EQ(buffer.DataLength(), 0u);
  EXPECT_EQ(buffer.DataAt(0), nullptr);
  EXPECT_EQ(buffer.FrameStatus(), 4u);
  EXPECT_EQ(CommandBuffer(1, 0, 0, 0, 0, nullptr, 100).DataLength(), 0u);
}

TEST(CommandBufferTest, DataTextAppendsAMissingTerminatorOnce) {
  CommandBuffer small(1, 0, 0, 0, 0, "abc", 3);
  EXPECT_STREQ(small.DataText(), "abc");
  EXPECT_STREQ(small.DataText(), "abc");
  EXPECT_EQ(small.DataLength(), 4u);
  CommandBuffer full(1, 0, 0, 0, 0, "0123456789", 10);
  EXPECT_STREQ(full.DataText(), "0123456789");
  EXPECT_EQ(full.DataLength(), 11u);
  CommandBuffer none;
  EXPECT_STREQ(none.DataText(), "");
  ASSERT_TRUE(none.SetFrameText("cpu", 0x13));
  EXPECT_EQ(none.DataLength(), 4u);
  ASSERT_TRUE(none.SetFrameText(nullptr, 0x13));
  EXPECT_EQ(none.DataLength(), 1u);
  EXPECT_STREQ(none.DataText(), "");
}

TEST(CommandBufferTest, ReadersStopAtLenNeverPastIt) {
  const BYTE data[6] = {1, 2, 3, 4, 5, 6};
  CommandBuffer buffer(1, 0, 0, 0, 0, data, 6);
  EXPECT_EQ(buffer.DataByte(5), 6);
  EXPECT_EQ(buffer.DataByte(6), 0);
  EXPECT_EQ(buffer.DataWord(0), 0x04030201u);
  EXPECT_EQ(buffer.DataWord(1), 0u);           // bytes 4..7: only two present
  EXPECT_EQ(buffer.DataWord(0x40000000), 0u);  // 4 * index overflows 32 bits
  EXPECT_NE(buffer.DataAt(5), nullptr);
  EXPECT_EQ(buffer.DataAt(6), nullptr);

  CommandBuffer none;
  EXPECT_FALSE(none.HasFrame());
  EXPECT_EQ(none.FrameStatus(), 23u);
  EXPECT_FALSE(none.HasReplyData(0, true));
  EXPECT_EQ(none.DataAt(0), nullptr);
}

}  // namespace
