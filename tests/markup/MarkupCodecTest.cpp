// The reference codecs: what is encoded, what is decoded, and what is left.
#include <gtest/gtest.h>

#include <string>

#include "markup/MarkupDocument.h"

namespace {

std::string Unescape(const std::string& text, int64_t length = -1) {
  return MarkupDocument::UnescapeText(text, length);
}

TEST(MarkupEscapeTest, ElementTextEncodesThreeCharactersAttributesFive) {
  EXPECT_EQ(MarkupDocument::EscapeText("a<b&c>", false), "a&lt;b&amp;c&gt;");
  EXPECT_EQ(MarkupDocument::EscapeText("it's", false), "it's");
  EXPECT_EQ(MarkupDocument::EscapeText("it's", true), "it&apos;s");
  EXPECT_EQ(MarkupDocument::EscapeText("\"q\"", true), "&quot;q&quot;");
  EXPECT_EQ(MarkupDocument::EscapeText(std::string("\0\xff\r\n", 4), true),
            std::string("\0\xff\r\n", 4));
}

TEST(MarkupUnescapeTest, NamedAndNumericReferencesDecodeOthersStay) {
  EXPECT_EQ(Unescape("&lt;&#65;&#x41;&#233;&foo;&#0;"), "<AA\xC3\xA9&foo;&#0;");
  EXPECT_EQ(Unescape("&amp;lt;"), "&lt;");
  EXPECT_EQ(Unescape("&gt;&apos;&quot;"), ">'\"");
}

TEST(MarkupUnescapeTest, NumericReferencesBecomeUtf8OfTheirLength) {
  EXPECT_EQ(Unescape("&#127;"), "\x7F");
  EXPECT_EQ(Unescape("&#x80;"), "\xC2\x80");
  EXPECT_EQ(Unescape("&#x7FF;"), "\xDF\xBF");
  EXPECT_EQ(Unescape("&#x800;"), "\xE0\xA0\x80");
  EXPECT_EQ(Unescape("&#xFFFF;"), "\xEF\xBF\xBF");
  EXPECT_EQ(Unescape("&#xFfFf;"), "\xEF\xBF\xBF");
  EXPECT_EQ(Unescape("&#x10000;"), "\xF0\x90\x80\x80");
  EXPECT_EQ(Unescape("&#x10FFFF;"), "\xF4\x8F\xBF\xBF");
  EXPECT_EQ(Unescape("&#x110000;"), "&#x110000;");
}

TEST(MarkupUnescapeTest, DigitsStopAtTheFirstNonDigitAndSevenMayStandBeforeTheSemicolon) {
  EXPECT_EQ(Unescape("&#65x;"), "A");
  EXPECT_EQ(Unescape("&#x4G;"), "\x04");
  EXPECT_EQ(Unescape("&#0000065;"), "A");        // seven characters
  EXPECT_EQ(Unescape("&#00000065;"), "&#00000065;");  // eight: no ';' in reach
  EXPECT_EQ(Unescape("&#x0000041;"), "A");
  EXPECT_EQ(Unescape("&#X41;"), "&#X41;");  // only a lowercase x means hex
  EXPECT_EQ(Unescape("&#;"), "&#;");
  EXPECT_EQ(Unescape("&#x;"), "&#x;");
  EXPECT_EQ(Unescape("&#65"), "&#65");
}

TEST(MarkupUnescapeTest, ReferencesCutByTheLengthAreNotDecoded) {
  EXPECT_EQ(Unescape("&lt;x", 3), "&lt");
  EXPECT_EQ(Unescape("&lt;x", 4), "<");
  EXPECT_EQ(Unescape("&#65;", 4), "&#65");
  EXPECT_EQ(Unescape("abc", 0), "");
  EXPECT_EQ(Unescape("abc", 99), "abc");
  EXPECT_EQ(Unescape("&"), "&");
  EXPECT_EQ(Unescape("&&amp;&"), "&&&");
}

TEST(MarkupUnescapeTest, LongRunsOfAmpersandsDecodeInOnePass) {
  const std::string run(1 << 20, '&');
  EXPECT_EQ(Unescape(run), run);
  std::string refs;
  for (int i = 0; i < 100000; ++i) refs += "&#1234567";
  EXPECT_EQ(Unescape(refs), refs);
}

}  // namespace
