// Moving the three-level position and reading names, attributes, text and
// markup through it.
#include <gtest/gtest.h>

#include <string>

#include "markup/MarkupDocument.h"

namespace {

TEST(MarkupNavigationTest, NextElementByNameSkipsLongerNamesWithTheSamePrefix) {
  MarkupDocument doc("<T><RuleSet/><Rule/></T>");
  ASSERT_TRUE(doc.NextElement());
  ASSERT_TRUE(doc.EnterElement());
  ASSERT_TRUE(doc.NextElement("Rule"));
  EXPECT_EQ(doc.ElementMarkup(), "<Rule/>");
  EXPECT_FALSE(doc.NextElement("Rule"));
  EXPECT_EQ(doc.TagName(), "Rule");  // a failed search leaves the position
}

TEST(MarkupNavigationTest, NameMatchNeedsTheWholeName) {
  MarkupDocument doc("<T><Rul/><RuleSet/></T>");
  doc.NextElement();
  doc.EnterElement();
  EXPECT_FALSE(doc.NextElement("Rule"));
  EXPECT_FALSE(doc.NextElement("rul"));  // case-sensitive
  EXPECT_EQ(doc.TagName(), "");
}

TEST(MarkupNavigationTest, NextChildElementWithoutCurrentElementStartsAtTheRoot) {
  MarkupDocument doc("<T><a/><b/><a x='2'/></T>");
  ASSERT_TRUE(doc.NextChildElement("a"));
  EXPECT_EQ(doc.TagName(), "T");
  EXPECT_EQ(doc.ChildTagName(), "a");
  ASSERT_TRUE(doc.NextChildElement("a"));
  EXPECT_EQ(doc.ChildElementAttribute("x"), "2");
  EXPECT_FALSE(doc.NextChildElement("a"));
  EXPECT_EQ(doc.ChildElementAttribute("x"), "2");
}

TEST(MarkupNavigationTest, NavigationOnAnEmptyDocumentFails) {
  MarkupDocument doc;
  EXPECT_FALSE(doc.NextElement());
  EXPECT_FALSE(doc.NextChildElement());
  EXPECT_FALSE(doc.EnterElement());
  EXPECT_FALSE(doc.LeaveElement());
  EXPECT_EQ(doc.TagName(), "");
  EXPECT_EQ(doc.ElementText(), "");
  EXPECT_EQ(doc.ElementMarkup(), "");
  EXPECT_EQ(doc.AttributeName(0), "");
}

TEST(MarkupNavigationTest, EnterAndLeaveShiftTheThreeLevels) {
  MarkupDocument doc("<r><a><x/><y/></a><b/></r>");
  doc.NextElement();
  doc.NextChildElement("a");
  ASSERT_TRUE(doc.EnterElement());  // parent r, current a
  EXPECT_EQ(doc.TagName(), "a");
  EXPECT_EQ(doc.ChildTagName(), "");
  ASSERT_TRUE(doc.EnterElement());  // parent a, no current
  EXPECT_EQ(doc.TagName(), "");
  ASSERT_TRUE(doc.NextElement("y"));
  ASSERT_TRUE(doc.LeaveElement());  // parent r, current a, child y
  EXPECT_EQ(doc.TagName(), "a");
  EXPECT_EQ(doc.ChildTagName(), "y");
  ASSERT_TRUE(doc.NextElement());
  EXPECT_EQ(doc.TagName(), "b");
  ASSERT_TRUE(doc.LeaveElement());  // document level, current r
  EXPECT_EQ(doc.TagName(), "r");
  EXPECT_FALSE(doc.LeaveElement());
}

TEST(MarkupNavigationTest, RestorePositionReturnsToTheSavedLevel) {
  MarkupDocument doc("<r><a><x/></a><b/></r>");
  doc.NextElement();
  doc.NextChildElement("a");
  doc.EnterElement();
  doc.NextChildElement("x");
  ASSERT_TRUE(doc.SavePosition(""));  // saves the child x
  doc.ResetPosition();
  doc.NextElement();
  ASSERT_TRUE(doc.RestorePosition(""));
  EXPECT_EQ(doc.ChildTagName(), "x");
  EXPECT_EQ(doc.TagName(), "a");
  ASSERT_TRUE(doc.LeaveElement());
  EXPECT_EQ(doc.TagName(), "r");

  doc.ResetPosition();
  doc.NextElement();
  doc.EnterElement();
  doc.NextElement("b");
  ASSERT_TRUE(doc.SavePosition("e"));  // the current element b
  doc.ResetPosition();
  ASSERT_TRUE(doc.RestorePosition("e"));
  EXPECT_EQ(doc.TagName(), "b");
  EXPECT_EQ(doc.ChildTagName(), "");
  EXPECT_TRUE(doc.LeaveElement());

  doc.ResetPosition();
  doc.NextElement();
  doc.EnterElement();
  ASSERT_TRUE(doc.SavePosition("p"));  // only the parent r is set
  doc.ResetPosition();
  ASSERT_TRUE(doc.RestorePosition("p"));
  EXPECT_EQ(doc.TagName(), "");
  ASSERT_TRUE(doc.NextElement());
  EXPECT_EQ(doc.TagName(), "a");

  EXPECT_FALSE(doc.RestorePosition("never saved"));
}

TEST(MarkupNavigationTest, RestoreFailsOnceTheSavedElementIsRemoved) {
  MarkupDocument doc("<r><a/><b/></r>");
  doc.NextElement();
  doc.NextChildElement("b");
  doc.SavePosition("");
  doc.RemoveChildElement();
  doc.AppendChildElement("c");  // may reuse b's record
  EXPECT_FALSE(doc.RestorePosition(""));
}

TEST(MarkupReadingTest, TagNameStopsAtTheFirstDelimiter) {
  MarkupDocument doc("<a=b/>");
  doc.NextElement();
  EXPECT_EQ(doc.TagName(), "a");
  doc.LoadText("<ns:Rule\r\nx='1'/>");
  doc.NextElement();
  EXPECT_EQ(doc.TagName(), "ns:Rule");
}

TEST(MarkupReadingTest, AttributeValuesAreDecodedAndValuelessNamesGiveThemselves) {
  MarkupDocument doc("<a x='1&lt;2'/>");
  doc.NextElement();
  EXPECT_EQ(doc.ElementAttribute("x"), "1<2");
  doc.LoadText("<a x/>");
  doc.NextElement();
  EXPECT_EQ(doc.ElementAttribute("x"), "x");
  doc.LoadText("<a one=1 two = \"2\" three='a\"b' four=x/y five>t</a>");
  doc.NextElement();
  EXPECT_EQ(doc.ElementAttribute("one"), "1");
  EXPECT_EQ(doc.ElementAttribute("two"), "2");
  EXPECT_EQ(doc.ElementAttribute("three"), "a\"b");
  EXPECT_EQ(doc.ElementAttribute("four"), "x/y");
  EXPECT_EQ(doc.ElementAttribute("five"), "five");
  EXPECT_EQ(doc.ElementAttribute("fiv"), "");
  EXPECT_EQ(doc.ElementAttribute("six"), "");
  EXPECT_EQ(doc.AttributeName(0), "one");
  EXPECT_EQ(doc.AttributeName(4), "five");
  EXPECT_EQ(doc.AttributeName(5), "");
  EXPECT_EQ(doc.AttributeName(-1), "");
}

TEST(MarkupReadingTest, SlashOrQuestionMarkEndsTheAttributeList) {
  MarkupDocument doc("<?x a='1' b='2'?><r a='1' / b='2'></r>");
  doc.NextElement();
  EXPECT_EQ(doc.ElementAttribute("a"), "1");
  EXPECT_EQ(doc.ElementAttribute("b"), "");
}

TEST(MarkupReadingTest, ElementTextJoinsTextAndCDataButNotChildElements) {
  MarkupDocument doc("<a> x &amp; y </a>");
  doc.NextElement();
  EXPECT_EQ(doc.ElementText(), " x & y ");
  doc.LoadText("<a>1<![CDATA[<2>]]> </a>");
  doc.NextElement();
  EXPECT_EQ(doc.ElementText(), "1<2>");
  doc.LoadText("<a><b/></a>");
  doc.NextElement();
  EXPECT_EQ(doc.ElementText(), "");
  doc.LoadText("<a>  <!-- c --> v <?p?>w</a>");
  doc.NextElement();
  EXPECT_EQ(doc.ElementText(), " v w");
  doc.LoadText("<a>\r\n  </a>");
  doc.NextElement();
  EXPECT_EQ(doc.ElementText(), "\r\n  ");
  doc.LoadText("<a/>");
  doc.NextElement();
  EXPECT_EQ(doc.ElementText(), "");
}

TEST(MarkupReadingTest, ElementMarkupTakesTrailingWhitespaceOnlyUpToATag) {
  MarkupDocument doc("<r><a>1</a>\r\n <b/> x<c/>  </r>");
  doc.NextElement();
  doc.NextChildElement("a");
  EXPECT_EQ(doc.ChildElementMarkup(), "<a>1</a>\r\n ");
  doc.NextChildElement("b");
  EXPECT_EQ(doc.ChildElementMarkup(), "<b/>");
  doc.NextChildElement("c");
  EXPECT_EQ(doc.ChildElementMarkup(), "<c/>  ");
  EXPECT_EQ(doc.ElementMarkup(), doc.DocumentText());
  doc.LoadText("<r/>\n\n");
  doc.NextElement();
  EXPECT_EQ(doc.ElementMarkup(), "<r/>\n\n");
}

}  // namespace
