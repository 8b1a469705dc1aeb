// The format engine: the conversions the callers' traces use, with their
// flags, widths, precisions, length modifiers, wide text and cutting.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "trace/detail/FormatText.h"

namespace {

size_t FormatInto(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const size_t length = trace::detail::FormatText(buffer, size, format, args);
  va_end(args);
  return length;
}

// Formats into a buffer of 256 bytes; the length returned is the text's.
template <typename... Args>
std::string Format(const char* format, Args... args) {
  char buffer[256];
  const size_t length = FormatInto(buffer, sizeof buffer, format, args...);
  EXPECT_EQ(length, std::strlen(buffer));
  return buffer;
}

TEST(FormatTextTest, IntegerConversionsWithWidthZeroFillAndLengthModifiers) {
  EXPECT_EQ(Format("%d %i %u", -42, 7, 4294967295u), "-42 7 4294967295");
  EXPECT_EQ(Format("%x %X %04X %08X", 0xBEEFu, 0xBEEFu, 0xAu, 0x311u), "beef BEEF 000A 00000311");
  EXPECT_EQ(Format("%02d:%02d:%02d.%03d", 9, 5, 0, 7), "09:05:00.007");
  EXPECT_EQ(Format("(%05d) #%02d", 123, 3), "(00123) #03");
  EXPECT_EQ(Format("%05d", -42), "-0042");
  EXPECT_EQ(Format("%d %d", INT_MIN, INT_MAX), "-2147483648 2147483647");
  // Length modifiers follow their Windows sizes.
  EXPECT_EQ(Format("%lu %ld %0lX", 4000000000u, -1, 0xFFFFFFFFu), "4000000000 -1 FFFFFFFF");
  EXPECT_EQ(Format("%llX", 0x123456789ABCull), "123456789ABC");
  EXPECT_EQ(Format("%zu", size_t{12}), "12");
}

TEST(FormatTextTest, NarrowAndWideStringsWithAlignmentPrecisionAndNull) {
  EXPECT_EQ(Format("%-20s: x", "CSwitchClient"), "CSwitchClient       : x");
  EXPECT_EQ(Format("%-13s|", "SNMP"), "SNMP         |");
  EXPECT_EQ(Format("%.*s|", 2, "abcdef"), "ab|");
  EXPECT_EQ(Format("%s", static_cast<const char*>(nullptr)), "(null)");
  // Wide text comes out as UTF-8.
  EXPECT_EQ(Format("%ls and %ws", u"wide", u"text"), "wide and text");
  EXPECT_EQ(Format("%S", u"upper-S"), "upper-S");
  EXPECT_EQ(Format("%ls", u"\u00e9\u20ac"), "\xc3\xa9\xe2\x82\xac");
  EXPECT_EQ(Format("%ls", u"\U0001F600"), "\xf0\x9f\x98\x80");
  const char16_t lone[] = {0xD800, u'x', 0};
  EXPECT_EQ(Format("%ls", lone), "\xef\xbf\xbdx");
  EXPECT_EQ(Format("%ls", static_cast<const char16_t*>(nullptr)), "(null)");
}

TEST(FormatTextTest, CharactersPercentUnknownConversionsAndCutting) {
  EXPECT_EQ(Format("%c%c%%", 'o', 'k'), "ok%");
  EXPECT_EQ(Format("a%cb", 0), "ab");
  EXPECT_EQ(Format("%q %5.1f", 1.0), "%q %5.1f");
  EXPECT_EQ(Format("tail %"), "tail %");
  EXPECT_EQ(Format("tail %-0"), "tail %-0");
  // Output that does not fit is cut and terminated.
  char buffer[8];
  EXPECT_EQ(FormatInto(buffer, sizeof buffer, "%s89", "01234567"), 7u);
  EXPECT_STREQ(buffer, "0123456");
  EXPECT_EQ(Format("%99999d|", 1).size(), 255u);
}

}  // namespace
