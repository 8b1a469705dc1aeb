// The command frame buffer: layout, storage of data, readers at their limits,
// and status texts.
#include "switch/CommandBuffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(CommandBufferTest, BuildFrameWithoutDataGivesMinimalZeroedBlock) {
  CommandBuffer buffer(0x2200, 0, 0, 0xFFFFFFFF, 0x13, nullptr, 0);
  ASSERT_TRUE(buffer.HasFrame());
  EXPECT_EQ(buffer.BlockSize(), 52u);
  const CmdHeader* header = buffer.Header();
  EXPECT_EQ(std::memcmp(header->Signature, "$SIP", 4), 0);
  EXPECT_EQ(header->Format, 2);
  EXPECT_EQ(header->HeaderLength, 48);
  EXPECT_EQ(header->Len, 0u);
  EXPECT_EQ(header->OC, 0x2200u);
  EXPECT_EQ(header->CABID, 0xFFFFFFFFu);
  EXPECT_EQ(header->Stat, 0x13u);
  EXPECT_EQ(header->MIDLow, 0);
  EXPECT_EQ(header->MIDHigh, 0);
  EXPECT_EQ(header->Reserved1, 0u);
  EXPECT_EQ(buffer.DataWord(0), 0u);
}

TEST(CommandBufferTest, HeaderFieldsSitAtTheirWireOffsets) {
  CommandBuffer buffer(0x11223344, 0x55667788, 0x99AABBCC, 0xDDEEFF00, 0x16, "xy", 2);
  const auto* bytes = reinterpret_cast<const BYTE*>(buffer.Header());
  auto word = [&](size_t offset) {
    DWORD value;
    std::memcpy(&value, bytes + offset, 4);
    return value;
  };
  EXPECT_EQ(word(8), 2u);
  EXPECT_EQ(word(12), 0x11223344u);
  EXPECT_EQ(word(16), 0x55667788u);
  EXPECT_EQ(word(20), 0x99AABBCCu);
  EXPECT_EQ(word(24), 0xDDEEFF00u);
  EXPECT_EQ(word(28), 0x16u);
  EXPECT_EQ(bytes[48], 'x');
  EXPECT_EQ(bytes[49], 'y');
}

TEST(CommandBufferTest, SmallDataReusesBlockAndLongerDataReplacesIt) {
  CommandBuffer buffer(1, 2, 3, 4, 0, nullptr, 0);
  const BYTE* before = reinterpret_cast<const BYTE*>(buffer.Header());
  ASSERT_TRUE(buffer.SetFrameData("abc", 3, 0));
  EXPECT_EQ(buffer.BlockSize(), 52u);
  EXPECT_EQ(reinterpret_cast<const BYTE*>(buffer.Header()), before);
  EXPECT_EQ(buffer.DataLength(), 3u);

  ASSERT_TRUE(buffer.SetFrameData("0123456789", 10, 12));
  EXPECT_EQ(buffer.BlockSize(), 58u);
  EXPECT_EQ(buffer.Header()->OC, 1u);  // header carried over
  EXPECT_EQ(buffer.Header()->OID, 3u);
  EXPECT_EQ(buffer.FrameStatus(), 12u);
  EXPECT_EQ(std::memcmp(buffer.DataAt(0), "0123456789", 10), 0);
}

TEST(CommandBufferTest, ShorterDataAfterLongerKeepsBlockAndShrinksLen) {
  CommandBuffer buffer(1, 0, 0, 0, 0, "0123456789", 10);
  ASSERT_TRUE(buffer.SetFrameData("abcdefg", 7, 0));
  EXPECT_EQ(buffer.BlockSize(), 58u);
  EXPECT_EQ(buffer.DataLength(), 7u);
  EXPECT_EQ(buffer.DataByte(7), 0);  // past Len, although the block holds '7'
}

TEST(CommandBufferTest, OneTwoAndFourByteValuesLiveInTheDataWord) {
  CommandBuffer buffer;
  const DWORD value = 0xA1B2C3D4;
  ASSERT_TRUE(buffer.SetFrameData(&value, 4, 0));
  EXPECT_EQ(buffer.DataWord(0), value);
  const WORD half = 0x1234;
  ASSERT_TRUE(buffer.SetFrameData(&half, 2, 0));
  EXPECT_EQ(buffer.DataLength(), 2u);
  EXPECT_EQ(buffer.DataByte(0), 0x34);
  EXPECT_EQ(buffer.DataByte(1), 0x12);
  EXPECT_EQ(buffer.DataWord(0), 0u);  // only two bytes present
  ASSERT_TRUE(buffer.SetFrameData(&half, 0, 0));
  EXPECT_EQ(buffer.DataLength(), 0u);
  EXPECT_EQ(buffer.DataAt(0), nullptr);
}

TEST(CommandBufferTest, NullDataStoresNothingWhateverTheLength) {
  CommandBuffer buffer(1, 0, 0, 0, 0, nullptr, 100);
  EXPECT_EQ(buffer.DataLength(), 0u);
  ASSERT_TRUE(buffer.SetFrameData(nullptr, 50, 4));
  EXPECT_EQ(buffer.DataLength(), 0u);
  EXPECT_EQ(buffer.FrameStatus(), 4u);
}

TEST(CommandBufferTest, DataTextAppendsMissingTerminator) {
  CommandBuffer buffer(1, 0, 0, 0, 0, "abc", 3);
  EXPECT_STREQ(buffer.DataText(), "abc");
  EXPECT_EQ(buffer.DataLength(), 4u);
  EXPECT_STREQ(buffer.DataText(), "abc");  // terminated now: no further growth
  EXPECT_EQ(buffer.DataLength(), 4u);
}

TEST(CommandBufferTest, DataTextGrowsAFullBlockForItsTerminator) {
  CommandBuffer buffer(1, 0, 0, 0, 0, "0123456789", 10);
  EXPECT_STREQ(buffer.DataText(), "0123456789");
  EXPECT_EQ(buffer.DataLength(), 11u);
  EXPECT_GE(buffer.BlockSize(), 59u);
}

TEST(CommandBufferTest, DataTextOfEmptyOrMissingFrameIsEmpty) {
  CommandBuffer none;
  EXPECT_STREQ(none.DataText(), "");
  EXPECT_FALSE(none.HasFrame());
  CommandBuffer empty(1, 0, 0, 0, 0, nullptr, 0);
  EXPECT_STREQ(empty.DataText(), "");
  EXPECT_EQ(empty.DataLength(), 0u);
}

TEST(CommandBufferTest, SetFrameTextStoresTerminatorAndNullAsEmptyText) {
  CommandBuffer buffer;
  ASSERT_TRUE(buffer.SetFrameText("cpu", 0x13));
  EXPECT_EQ(buffer.DataLength(), 4u);
  EXPECT_STREQ(buffer.DataText(), "cpu");
  ASSERT_TRUE(buffer.SetFrameText(nullptr, 0x13));
  EXPECT_EQ(buffer.DataLength(), 1u);
  EXPECT_STREQ(buffer.DataText(), "");
}

TEST(CommandBufferTest, ReadersStopAtLenNeverPastIt) {
  const BYTE data[6] = {1, 2, 3, 4, 5, 6};
  CommandBuffer buffer(1, 0, 0, 0, 0, data, 6);
  EXPECT_EQ(buffer.DataByte(5), 6);
  EXPECT_EQ(buffer.DataByte(6), 0);
  EXPECT_EQ(buffer.DataByte(0xFFFFFFFF), 0);
  EXPECT_EQ(buffer.DataWord(0), 0x04030201u);
  EXPECT_EQ(buffer.DataWord(1), 0u);  // bytes 4..7: only two present
  EXPECT_EQ(buffer.DataWord(0x40000000), 0u);  // 4 * index overflows 32 bits
  EXPECT_EQ(buffer.DataWord(0xFFFFFFFF), 0u);
  EXPECT_NE(buffer.DataAt(5), nullptr);
  EXPECT_EQ(buffer.DataAt(6), nullptr);
}

TEST(CommandBufferTest, BufferWithoutFrameReportsIncompleteHeader) {
  CommandBuffer buffer;
  EXPECT_EQ(buffer.FrameStatus(), 23u);
  EXPECT_FALSE(buffer.IsStatusOk());
  EXPECT_FALSE(buffer.HasReplyData(0, true));
  EXPECT_EQ(buffer.DataByte(0), 0);
  EXPECT_EQ(buffer.DataAt(0), nullptr);
}

TEST(CommandBufferTest, SetHeaderFieldsCreatesFrameAndClearsLenAndMessageId) {
  CommandBuffer buffer(9, 9, 9, 9, 9, "0123456789", 10);
  ASSERT_TRUE(buffer.SetHeaderFields(0xE001, 0x3811, 0, 0xFFFFFFFF, 0x16));
  EXPECT_EQ(buffer.DataLength(), 0u);
  EXPECT_EQ(buffer.Header()->OE, 0x3811u);
  CommandBuffer fresh;
  ASSERT_TRUE(fresh.SetHeaderFields(0xE001, 0x310, 0, 0xFFFFFFFF, 0x16));
  EXPECT_EQ(fresh.BlockSize(), 52u);
  EXPECT_EQ(std::memcmp(fresh.Header()->Signature, "$SIP", 4), 0);
}

TEST(CommandBufferTest, CopyHeaderInKeepsStatusAndClearsLen) {
  CommandBuffer source(0x2201, 1, 2, 3, 255, "abcd", 4);
  BYTE image[kCmdImageSize];
  std::memcpy(image, source.Header(), sizeof image);
  CommandBuffer copy;
  ASSERT_TRUE(copy.CopyHeaderIn(image));
  EXPECT_EQ(copy.Header()->OC, 0x2201u);
  EXPECT_EQ(copy.FrameStatus(), 255u);
  EXPECT_EQ(copy.DataLength(), 0u);
  EXPECT_FALSE(copy.CopyHeaderIn(nullptr));
}

TEST(CommandBufferTest, HasReplyDataNeedsGoodStatus) {
  CommandBuffer buffer(1, 0, 0, 0, 6, "x", 1);
  EXPECT_FALSE(buffer.HasReplyData(1, false));
  buffer.SetFrameStatus(0);
  EXPECT_TRUE(buffer.HasReplyData(1, false));
  EXPECT_TRUE(buffer.HasReplyData(0, false));
  EXPECT_TRUE(buffer.HasReplyData(1, true));
  EXPECT_FALSE(buffer.HasReplyData(2, true));
  buffer.SetFrameData("xy", 2, 0);
  EXPECT_FALSE(buffer.HasReplyData(1, false));
  EXPECT_TRUE(buffer.HasReplyData(1, true));
  buffer.SetFrameData(nullptr, 0, 0);
  EXPECT_FALSE(buffer.HasReplyData(0, false));
}

class StatusCodeTest : public ::testing::TestWithParam<DWORD> {};

TEST_P(StatusCodeTest, OnlySuccessNoMoreMoreFollowingAndEventAreGood) {
  const DWORD code = GetParam();
  CommandBuffer buffer(1, 0, 0, 0, code, nullptr, 0);
  const bool good = code == 0 || code == 12 || code == 21 || code == 255;
  EXPECT_EQ(buffer.IsStatusOk(), good) << code;
}

INSTANTIATE_TEST_SUITE_P(AllCodes, StatusCodeTest, ::testing::Range<DWORD>(0, 256));

TEST(CommandBufferTest, StatusTextsCoverTableAndUnknownCodes) {
  EXPECT_STREQ(CommandBuffer::StatusText(0), "Success");
  EXPECT_STREQ(CommandBuffer::StatusText(6), "Command execution failed");
  EXPECT_STREQ(CommandBuffer::StatusText(15), "Device not responding");
  EXPECT_STREQ(CommandBuffer::StatusText(19), "No data");
  EXPECT_STREQ(CommandBuffer::StatusText(23), "Incomplete command header");
  EXPECT_STREQ(CommandBuffer::StatusText(24), "Access denied");
  EXPECT_STREQ(CommandBuffer::StatusText(25), "???");
  EXPECT_STREQ(CommandBuffer::StatusText(254), "???");
  EXPECT_STREQ(CommandBuffer::StatusText(255), "Event message");
  EXPECT_STREQ(CommandBuffer::StatusText(256), "???");
  EXPECT_STREQ(CommandBuffer::StatusText(0xFFFFFFFF), "???");
}

}  // namespace
