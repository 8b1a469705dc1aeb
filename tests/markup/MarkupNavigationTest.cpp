// Moving the three-level position and reading names, attributes, text and
// markup through it.
#include <gtest/gtest.h>

#include <string>

#include "markup/MarkupDocument.h"

namespace {

TEST(MarkupNavigationTest, NextElementAndNextChildElementFindWholeNames) {
  MarkupDocument doc("<T><RuleSet/><Rule/></T>");
  ASSERT_TRUE(doc.NextElement());
  ASSERT_TRUE(doc.EnterElement());
  ASSERT_TRUE(doc.NextElement("Rule"));
  EXPECT_EQ(doc.ElementMarkup(), "<Rule/>");
  EXPECT_FALSE(doc.NextElement("Rule"));
  EXPECT_EQ(doc.TagName(), "Rule");                   // a failed search leaves the position
  MarkupDocument shorter("<T><Rul/><RuleSet/></T>");  // the whole name must match
  shorter.NextElement();
  shorter.EnterElement();
  EXPECT_FALSE(shorter.NextElement("Rule"));
  EXPECT_FALSE(shorter.NextElement("rul"));  // case-sensitive
  EXPECT_EQ(shorter.TagName(), "");
  MarkupDocument children("<T><a/><b/><a x='2'/></T>");
  ASSERT_TRUE(children.NextChildElement("a"));
  EXPECT_EQ(children.TagName(), "T");
  EXPECT_EQ(children.ChildTagName(), "a");
  ASSERT_TRUE(children.NextChildElement("a"));
  EXPECT_EQ(children.ChildElementAttribute("x"), "2");
  EXPECT_FALSE(children.NextChildElement("a"));
  EXPECT_EQ(children.ChildElementAttribute("x"), "2");
  MarkupDocument nothing;
  EXPECT_FALSE(nothing.NextElement());
  EXPECT_FALSE(nothing.NextChildElement());
  EXPECT_FALSE(nothing.EnterElement());
  EXPECT_FALSE(nothing.LeaveElement());
  EXPECT_EQ(nothing.TagName(), "");
  EXPECT_EQ(nothing.ElementText(), "");
  EXPECT_EQ(nothing.ElementMarkup(), "");
  EXPECT_EQ(nothing.AttributeName(0), "");
}

TEST(MarkupNavigationTest, EnterLeaveAndRestorePositionShiftTheThreeLevels) {
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
  MarkupDocument saved("<r><a><x/></a><b/></r>");
  saved.NextElement();
  saved.NextChildElement("a");
  saved.EnterElement();
  saved.NextChildElement("x");
  ASSERT_TRUE(saved.SavePosition(""));  // saves the child x
  saved.ResetPosition();
  saved.NextElement();
  ASSERT_TRUE(saved.RestorePosition(""));
  EXPECT_EQ(saved.ChildTagName(), "x");
  EXPECT_EQ(saved.TagName(), "a");
  ASSERT_TRUE(saved.LeaveElement());
  EXPECT_EQ(saved.TagName(), "r");

  saved.ResetPosition();
  saved.NextElement();
  saved.EnterElement();
  saved.NextElement("b");
  ASSERT_TRUE(saved.SavePosition("e"));  // the current element b
  saved.ResetPosition();
  ASSERT_TRUE(saved.RestorePosition("e"));
  EXPECT_EQ(saved.TagName(), "b");
  EXPECT_EQ(saved.ChildTagName(), "");
  EXPECT_TRUE(saved.LeaveElement());

  saved.ResetPosition();
  saved.NextElement();
  saved.EnterElement();
  ASSERT_TRUE(saved.SavePosition("p"));  // only the parent r is set
  saved.ResetPosition();
  ASSERT_TRUE(saved.RestorePosition("p"));
  EXPECT_EQ(saved.TagName(), "");
  ASSERT_TRUE(saved.NextElement());
  EXPECT_EQ(saved.TagName(), "a");

  EXPECT_FALSE(saved.RestorePosition("never saved"));

  saved.LoadText("<r><a/><b/></r>");  // restoring fails once the saved element is removed
  saved.NextElement();
  saved.NextChildElement("b");
  saved.SavePosition("");
  saved.RemoveChildElement();
  saved.AppendChildElement("c");  // may reuse b's record
  EXPECT_FALSE(saved.RestorePosition(""));
}

TEST(MarkupReadingTest, TagNamesAttributeListsAndElementMarkupEndWhereTheyShould) {
  MarkupDocument doc("<a=b/>");
  doc.NextElement();
  EXPECT_EQ(doc.TagName(), "a");
  doc.LoadText("<ns:Rule\r\nx='1'/>");
  doc.NextElement();
  EXPECT_EQ(doc.TagName(), "ns:Rule");
  MarkupDocument slashed("<?x a='1' b='2'?><r a='1' / b='2'></r>");
  slashed.NextElement();
  EXPECT_EQ(slashed.ElementAttribute("a"), "1");
  EXPECT_EQ(slashed.ElementAttribute("b"), "");
  MarkupDocument marked("<r><a>1</a>\r\n <b/> x<c/>  </r>");
  marked.NextElement();
  marked.NextChildElement("a");
  EXPECT_EQ(marked.ChildElementMarkup(), "<a>1</a>\r\n ");
  marked.NextChildElement("b");
  EXPECT_EQ(marked.ChildElementMarkup(), "<b/>");
  marked.NextChildElement("c");
  EXPECT_EQ(marked.ChildElementMarkup(), "<c/>  ");
  EXPECT_EQ(marked.ElementMarkup(), marked.DocumentText());
  marked.LoadText("<r/>\n\n");
  marked.NextElement();
  EXPECT_EQ(marked.ElementMarkup(), "<r/>\n\n");
}

// Quoted values, references, sections, comments and instructions in text are
// the differential test's; here the forms the oracle does not accept.
TEST(MarkupReadingTest, AttributesWithoutQuotesOrValueAndBlankText) {
  MarkupDocument doc("<a x/>");
  doc.NextElement();
  EXPECT_EQ(doc.ElementAttribute("x"), "x");
  doc.LoadText("<a one=1 two = \"2\" three='a\"b' four=x/y five>t</a>");
  doc.NextElement();
  EXPECT_EQ(doc.ElementAttribute("one"), "1");
  EXPECT_EQ(doc.ElementAttribute("four"), "x/y");
  EXPECT_EQ(doc.ElementAttribute("five"), "five");
  EXPECT_EQ(doc.ElementAttribute("fiv"), "");
  EXPECT_EQ(doc.ElementAttribute("six"), "");
  EXPECT_EQ(doc.AttributeName(0), "one");
  EXPECT_EQ(doc.AttributeName(4), "five");
  EXPECT_EQ(doc.AttributeName(5), "");
  EXPECT_EQ(doc.AttributeName(-1), "");
  doc.LoadText("<a>t<b/>u</a>");  // an element with children has no text
  doc.NextElement();
  EXPECT_EQ(doc.ElementText(), "");
  doc.LoadText("<a>\r\n  </a>");
  doc.NextElement();
  EXPECT_EQ(doc.ElementText(), "\r\n  ");
}

}  // namespace
