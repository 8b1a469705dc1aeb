// Reference decoding: what is decoded and what is left. Encoding is the edit tests'.
#include <gtest/gtest.h>

#include <string>

#include "markup/MarkupDocument.h"

namespace {

// Numeric references become UTF-8 of their length; digits stop at the first non-digit and
// seven may stand before the semicolon; a reference cut by the length is not decoded.
TEST(MarkupUnescapeTest, ReferencesDecodeByTheirRules) {
  const struct {
    const char* text;
    int64_t length;
    const char* decoded;
  } rows[] = {
      {"&lt;&#65;&#x41;&#233;&foo;&#0;", -1, "<AA\xC3\xA9&foo;&#0;"},
      {"&amp;lt;", -1, "&lt;"},           {"&gt;&apos;&quot;", -1, ">'\""},
      {"&#127;", -1, "\x7F"},             {"&#x80;", -1, "\xC2\x80"},
      {"&#x7FF;", -1, "\xDF\xBF"},        {"&#x800;", -1, "\xE0\xA0\x80"},
      {"&#xFFFF;", -1, "\xEF\xBF\xBF"},   {"&#xFfFf;", -1, "\xEF\xBF\xBF"},
      {"&#x10000;", -1, "\xF0\x90\x80\x80"}, {"&#x10FFFF;", -1, "\xF4\x8F\xBF\xBF"},
      {"&#x110000;", -1, "&#x110000;"},   {"&#65x;", -1, "A"},
      {"&#x4G;", -1, "\x04"},             {"&#0000065;", -1, "A"},  // seven characters
      {"&#00000065;", -1, "&#00000065;"},  // eight: no ';' in reach
      {"&#x0000041;", -1, "A"},           {"&#X41;", -1, "&#X41;"},  // only a lowercase x
      {"&#;", -1, "&#;"},                 {"&#x;", -1, "&#x;"},
      {"&#65", -1, "&#65"},               {"&lt;x", 3, "&lt"},
      {"&lt;x", 4, "<"},                  {"&#65;", 4, "&#65"},
      {"abc", 0, ""},                     {"abc", 99, "abc"},
      {"&", -1, "&"},                     {"&&amp;&", -1, "&&&"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(MarkupDocument::UnescapeText(row.text, row.length), row.decoded) << row.text;
  }
}

}  // namespace
