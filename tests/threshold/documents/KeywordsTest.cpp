// Keyword tables: codes in list order, exact and case-sensitive matching, the
// read fallback of each enumeration and the fate of codes outside the list.
#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "threshold/documents/Keywords.h"

namespace {

using records::Enumeration;

struct EnumerationCase {
  Enumeration enumeration;
  std::vector<std::string> keywords;
  int read_fallback;
  std::optional<std::string> written_when_invalid;
};

void PrintTo(const EnumerationCase& c, std::ostream* os) { *os << c.keywords.front(); }

class EnumerationTableTest : public testing::TestWithParam<EnumerationCase> {};

// Codes in list order; wrong case, blanks or a cut keyword read the fallback.
TEST_P(EnumerationTableTest, KeywordsHaveTheirCodesInListOrder) {
  const EnumerationCase& c = GetParam();
  EXPECT_EQ(records::Info(c.enumeration).keywords.size(), c.keywords.size());
  for (size_t code = 0; code < c.keywords.size(); ++code) {
    EXPECT_EQ(records::KeywordCode(c.enumeration, c.keywords[code]), static_cast<int>(code));
    EXPECT_EQ(records::CodeKeyword(c.enumeration, static_cast<int>(code)), c.keywords[code]);
  }
  for (const std::string& keyword : c.keywords) {
    std::string upper = keyword;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    std::string capitalized = keyword;
    capitalized[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(capitalized[0])));
    for (const std::string& text : {upper, capitalized, " " + keyword, keyword + " ",
                                    keyword.substr(0, keyword.size() - 1)}) {
      EXPECT_EQ(records::KeywordCode(c.enumeration, text), c.read_fallback) << text;
    }
  }
  EXPECT_EQ(records::KeywordCode(c.enumeration, ""), c.read_fallback);
  const int size = static_cast<int>(c.keywords.size());
  for (int code : {-1, size, size + 1, INT_MIN, INT_MAX}) {
    EXPECT_EQ(records::CodeKeyword(c.enumeration, code), std::nullopt) << code;
  }
  EXPECT_EQ(records::Info(c.enumeration).written_when_invalid, c.written_when_invalid);
}

INSTANTIATE_TEST_SUITE_P(
    Vocabulary, EnumerationTableTest,
    testing::Values(
        EnumerationCase{Enumeration::kRequestType, {"builtin", "snmp", "registry"}, 0, {}},
        EnumerationCase{Enumeration::kInstanceMonitor, {"any", "average"}, 0, {}},
        EnumerationCase{
            Enumeration::kValueType, {"absolute", "delta-any", "delta-inc", "delta-dec"}, 0, {}},
        EnumerationCase{
            Enumeration::kOperator,
            {"equal", "not-equal", "less", "less-equal", "greater", "greater-equal", "within-range",
             "out-of-range", "exist-to-none-exist", "none-exist-to-exist", "exist-change"},
            0,
            {}},
        EnumerationCase{
            Enumeration::kValuation, {"single-value", "average-linear", "average-muted"}, 0, {}},
        EnumerationCase{Enumeration::kEventControl,
                        {"single-shot", "continuous", "continuous-with-delay"},
                        1,
                        {}},
        EnumerationCase{Enumeration::kAlternating, {"false", "true"}, 0, {}},
        EnumerationCase{Enumeration::kPerformanceSeverity,
                        {"unknown", "normal", "information", "warning", "critical"},
                        0,
                        {}},
        EnumerationCase{Enumeration::kEventType, {"snmp-trap"}, records::kNoCode, ""},
        EnumerationCase{Enumeration::kEventSeverity,
                        {"critical", "major", "minor", "informational"},
                        records::kNoCode,
                        "informational"}));

TEST(KeywordCodeTest, NoCodeShowsAsMibValueZero) {
  EXPECT_EQ(records::MibEnumValue(records::KeywordCode(Enumeration::kEventSeverity, "warning")), 0);
  EXPECT_EQ(records::MibEnumValue(records::KeywordCode(Enumeration::kEventType, "mail")), 0);
}

}  // namespace
