// Editing: the exact text each edit leaves, the records it shifts, and the
// position it sets.  After every edit the record table must match the text:
// the document re-parsed from its own text has the same tree.
#include <gtest/gtest.h>

#include <string>

#include "MarkupTreeDump.h"
#include "markup/MarkupDocument.h"
#include "markup/detail/MarkupConsistency.h"

namespace {

using markup::detail::CheckConsistency;
using markup_test::DumpTree;

// Checks the table against the text and returns the text.
std::string Text(MarkupDocument& doc) {
  EXPECT_EQ(CheckConsistency(doc), "");
  MarkupDocument reparsed(doc.DocumentText());
  MarkupDocument copy = doc;
  EXPECT_EQ(DumpTree(copy), DumpTree(reparsed));
  return doc.DocumentText();
}

TEST(MarkupAttributeEditTest, NewAttributeGoesAfterTheLastOneBeforeTrailingWhitespace) {
  MarkupDocument doc("<a />");
  doc.NextElement();
  ASSERT_TRUE(doc.SetAttribute("b", "1"));
  EXPECT_EQ(Text(doc), "<a b=\"1\" />");
  ASSERT_TRUE(doc.SetAttribute("c", "2"));
  EXPECT_EQ(Text(doc), "<a b=\"1\" c=\"2\" />");
}

TEST(MarkupAttributeEditTest, ValueIsEncodedWithAllFiveReferences) {
  MarkupDocument doc("<a/>");
  doc.NextElement();
  ASSERT_TRUE(doc.SetAttribute("x", "a\"b"));
  EXPECT_EQ(Text(doc), "<a x=\"a&quot;b\"/>");
  ASSERT_TRUE(doc.SetAttribute("y", "<'&>"));
  EXPECT_EQ(Text(doc), "<a x=\"a&quot;b\" y=\"&lt;&apos;&amp;&gt;\"/>");
  EXPECT_EQ(doc.ElementAttribute("y"), "<'&>");
}

TEST(MarkupAttributeEditTest, ExistingValueIsReplacedWithItsQuotes) {
  MarkupDocument doc("<r><a x='old' y=bare z>t</a><b/></r>");
  doc.NextElement();
  doc.NextChildElement("a");
  ASSERT_TRUE(doc.SetChildAttribute("x", "new value"));
  EXPECT_EQ(Text(doc), "<r><a x=\"new value\" y=bare z>t</a><b/></r>");
  ASSERT_TRUE(doc.SetChildAttribute("y", ""));
  EXPECT_EQ(Text(doc), "<r><a x=\"new value\" y=\"\" z>t</a><b/></r>");
  ASSERT_TRUE(doc.SetChildAttribute("z", "1"));
  EXPECT_EQ(Text(doc), "<r><a x=\"new value\" y=\"\" z=\"1\">t</a><b/></r>");
  EXPECT_EQ(doc.ChildElementText(), "t");
  doc.NextChildElement("b");
  EXPECT_EQ(doc.ChildElementMarkup(), "<b/>");
}

TEST(MarkupAttributeEditTest, ValuelessAttributeGetsItsValueAfterTheName) {
  MarkupDocument doc("<a x y='2'/>");
  doc.NextElement();
  ASSERT_TRUE(doc.SetAttribute("x", "1"));
  EXPECT_EQ(Text(doc), "<a x=\"1\" y='2'/>");
}

TEST(MarkupAttributeEditTest, IntAttributeIsWrittenInDecimal) {
  MarkupDocument doc("<r><c/></r>");
  doc.NextElement();
  ASSERT_TRUE(doc.SetIntAttribute("n", -42));
  doc.NextChildElement();
  ASSERT_TRUE(doc.SetChildIntAttribute("m", 2147483647));
  EXPECT_EQ(Text(doc), "<r n=\"-42\"><c m=\"2147483647\"/></r>");
}

TEST(MarkupAttributeEditTest, MissingElementChangesNothing) {
  MarkupDocument doc("<r/>");
  EXPECT_FALSE(doc.SetAttribute("a", "1"));
  EXPECT_FALSE(doc.SetChildAttribute("a", "1"));
  EXPECT_FALSE(doc.SetElementText("x"));
  EXPECT_FALSE(doc.RemoveElement());
  EXPECT_FALSE(doc.RemoveChildElement());
  EXPECT_FALSE(doc.AppendChildElement("c"));
  EXPECT_FALSE(doc.AppendChildMarkup("<c/>"));
  EXPECT_EQ(Text(doc), "<r/>");
}

TEST(MarkupTextEditTest, ContentIsReplacedWithoutLineBreaks) {
  for (const char* before : {"<a>old</a>", "<a></a>", "<a/>", "<a><!--c--></a>"}) {
    MarkupDocument doc(before);
    doc.NextElement();
    ASSERT_TRUE(doc.SetElementText("new")) << before;
    EXPECT_EQ(Text(doc), "<a>new</a>") << before;
  }
  MarkupDocument doc("<a x='1' />");
  doc.NextElement();
  ASSERT_TRUE(doc.SetElementText(""));
  EXPECT_EQ(Text(doc), "<a x='1' ></a>");
}

TEST(MarkupTextEditTest, TextIsEncodedForElementContent) {
  MarkupDocument doc("<r><a>x</a><b/></r>");
  doc.NextElement();
  doc.NextChildElement("a");
  ASSERT_TRUE(doc.SetChildElementText("it's <1> & \"2\""));
  EXPECT_EQ(Text(doc), "<r><a>it's &lt;1&gt; &amp; \"2\"</a><b/></r>");
  EXPECT_EQ(doc.ChildElementText(), "it's <1> & \"2\"");
}

TEST(MarkupTextEditTest, ElementWithChildrenIsRefused) {
  MarkupDocument doc("<a><b/></a>");
  doc.NextElement();
  EXPECT_FALSE(doc.SetElementText("x"));
  EXPECT_EQ(Text(doc), "<a><b/></a>");
}

TEST(MarkupTextEditTest, UnendedElementGetsContentAndEndTag) {
  MarkupDocument doc("<r><a><b/></r>");
  doc.NextElement();
  doc.NextChildElement("a");
  ASSERT_TRUE(doc.SetChildElementText("v"));
  EXPECT_EQ(doc.DocumentText(), "<r><a>v</a><b/></r>");
  EXPECT_EQ(CheckConsistency(doc), "");
}

TEST(MarkupAppendTest, ChildrenOfAnEmptyElementTagGoOnTheirOwnLines) {
  MarkupDocument doc("<p/>");
  doc.NextElement();
  ASSERT_TRUE(doc.AppendChildElement("n", ""));
  EXPECT_EQ(Text(doc), "<p>\r\n<n/>\r\n</p>");
  EXPECT_EQ(doc.ChildTagName(), "n");
  ASSERT_TRUE(doc.AppendChildElement("m", "v"));
  EXPECT_EQ(Text(doc), "<p>\r\n<n/>\r\n<m>v</m>\r\n</p>");
  EXPECT_EQ(doc.ChildTagName(), "m");
}

TEST(MarkupAppendTest, ParentWithoutContentOrWithoutEndTagIsOpenedTheSameWay) {
  MarkupDocument empty("<p></p>");
  empty.NextElement();
  ASSERT_TRUE(empty.AppendChildElement("n"));
  EXPECT_EQ(Text(empty), "<p>\r\n<n/>\r\n</p>");

  MarkupDocument spaced("<p x='1' />");
  spaced.NextElement();
  ASSERT_TRUE(spaced.AppendChildElement("n"));
  EXPECT_EQ(Text(spaced), "<p x='1' >\r\n<n/>\r\n</p>");

  MarkupDocument unended("<r><p><q/></r>");
  unended.NextElement();
  unended.EnterElement();
  unended.NextElement("p");
  ASSERT_TRUE(unended.AppendChildElement("n"));
  EXPECT_EQ(unended.DocumentText(), "<r><p>\r\n<n/>\r\n</p><q/></r>");
  EXPECT_EQ(CheckConsistency(unended), "");
}

TEST(MarkupAppendTest, NewChildGoesBeforeTheEndTagOrAfterTheCurrentChild) {
  MarkupDocument doc("<r>\r\n  <a/>\r\n  <b/>\r\n</r>");
  doc.NextElement();
  ASSERT_TRUE(doc.AppendChildElement("z"));
  EXPECT_EQ(Text(doc), "<r>\r\n  <a/>\r\n  <b/>\r\n<z/>\r\n</r>");
  doc.ResetPosition();
  doc.NextChildElement("a");
  ASSERT_TRUE(doc.AppendChildElement("a2", "x"));
  EXPECT_EQ(Text(doc), "<r>\r\n  <a/>\r\n  <a2>x</a2>\r\n<b/>\r\n<z/>\r\n</r>");
  ASSERT_TRUE(doc.NextChildElement());
  EXPECT_EQ(doc.ChildTagName(), "b");
}

TEST(MarkupAppendTest, WhitespaceFollowedByTextIsNotSkipped) {
  MarkupDocument doc("<r><a/> t</r>");
  doc.NextChildElement("a");
  ASSERT_TRUE(doc.AppendChildElement("b"));
  EXPECT_EQ(Text(doc), "<r><a/><b/>\r\n t</r>");
}

TEST(MarkupAppendTest, AppendElementBuildsADocumentFromNothing) {
  MarkupDocument doc;
  ASSERT_TRUE(doc.AppendElement("Rules"));
  EXPECT_EQ(Text(doc), "<Rules/>\r\n");
  EXPECT_EQ(doc.TagName(), "Rules");
  ASSERT_TRUE(doc.SetAttribute("Version", "2"));
  ASSERT_TRUE(doc.EnterElement());
  ASSERT_TRUE(doc.AppendElement("Rule"));
  ASSERT_TRUE(doc.SetAttribute("Name", "cpu"));
  ASSERT_TRUE(doc.AppendChildElement("Description", "a<b"));
  ASSERT_TRUE(doc.AppendChildElement("Interval", "60"));
  ASSERT_TRUE(doc.AppendElement("Rule"));
  ASSERT_TRUE(doc.SetAttribute("Name", "disk"));
  EXPECT_EQ(Text(doc),
            "<Rules Version=\"2\">\r\n"
            "<Rule Name=\"cpu\">\r\n"
            "<Description>a&lt;b</Description>\r\n"
            "<Interval>60</Interval>\r\n"
            "</Rule>\r\n"
            "<Rule Name=\"disk\"/>\r\n"
            "</Rules>\r\n");
  EXPECT_TRUE(doc.CheckWellFormed());
}

TEST(MarkupAppendTest, AppendElementAtDocumentLevelFollowsTheCurrentElement) {
  MarkupDocument doc("<a/>");
  doc.NextElement();
  ASSERT_TRUE(doc.AppendElement("b"));
  EXPECT_EQ(Text(doc), "<a/><b/>\r\n");
  EXPECT_FALSE(doc.AppendElement(""));
  EXPECT_EQ(Text(doc), "<a/><b/>\r\n");
}

TEST(MarkupRemoveTest, RemovingTheFirstChildLeavesNoCurrentChild) {
  MarkupDocument doc("<r>\r\n<a/>\r\n<b/>\r\n<c/>\r\n</r>");
  doc.NextChildElement("a");
  ASSERT_TRUE(doc.RemoveChildElement());
  EXPECT_EQ(doc.ChildTagName(), "");
  EXPECT_EQ(Text(doc), "<r>\r\n<b/>\r\n<c/>\r\n</r>");
  ASSERT_TRUE(doc.NextChildElement());
  EXPECT_EQ(doc.ChildTagName(), "b");
}

TEST(MarkupRemoveTest, RemovingALaterChildMakesThePreviousSiblingCurrent) {
  MarkupDocument doc("<r>\r\n<a/>\r\n<b><x/></b>\r\n<c/>\r\n</r>");
  doc.NextChildElement("b");
  ASSERT_TRUE(doc.RemoveChildElement());
  EXPECT_EQ(doc.ChildTagName(), "a");
  EXPECT_EQ(Text(doc), "<r>\r\n<a/>\r\n<c/>\r\n</r>");
  doc.NextChildElement("c");
  ASSERT_TRUE(doc.RemoveChildElement());
  ASSERT_TRUE(doc.RemoveChildElement());
  EXPECT_EQ(Text(doc), "<r>\r\n</r>");
  EXPECT_FALSE(doc.RemoveChildElement());
}

TEST(MarkupRemoveTest, RemoveElementTakesDescendantsAndRecyclesTheirRecords) {
  MarkupDocument doc("<r><a><x/><y><z/></y></a> text <b/></r>");
  doc.NextElement();
  doc.EnterElement();
  doc.NextElement("a");
  ASSERT_TRUE(doc.RemoveElement());
  EXPECT_EQ(doc.TagName(), "");
  EXPECT_EQ(Text(doc), "<r> text <b/></r>");
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(doc.AppendElement("n"));
  EXPECT_EQ(Text(doc), "<r> text <b/>" + [] {
    std::string s;
    for (int i = 0; i < 10; ++i) s += "<n/>\r\n";
    return s;
  }() + "</r>");
}

TEST(MarkupRemoveTest, RemovingTheRootLeavesAnEmptyDocumentToBuildOn) {
  MarkupDocument doc("<r><a/></r>\r\n");
  doc.NextElement();
  ASSERT_TRUE(doc.RemoveElement());
  EXPECT_EQ(Text(doc), "");
  ASSERT_TRUE(doc.AppendElement("s"));
  EXPECT_EQ(Text(doc), "<s/>\r\n");
}

TEST(MarkupMarkupEditTest, SingleElementIsInsertedAloneWithALineBreak) {
  MarkupDocument doc("<r>\r\n<a/>\r\n</r>");
  doc.NextElement();
  EXPECT_TRUE(doc.AppendChildMarkup("  <m k='1'><n>t</n></m>  "));
  EXPECT_EQ(Text(doc), "<r>\r\n<a/>\r\n<m k='1'><n>t</n></m>\r\n</r>");
  EXPECT_EQ(doc.ChildTagName(), "m");
  EXPECT_EQ(doc.ChildElementAttribute("k"), "1");
  EXPECT_TRUE(doc.EnterElement());
  EXPECT_TRUE(doc.NextChildElement("n"));
  EXPECT_EQ(doc.ChildElementText(), "t");
}

TEST(MarkupMarkupEditTest, SeveralElementsAreInsertedAsASpanButReportFalse) {
  MarkupDocument doc("<p/>");
  doc.NextElement();
  EXPECT_FALSE(doc.AppendChildMarkup("x<x/> <!--c--> <y/>z"));
  EXPECT_EQ(Text(doc), "<p>\r\n<x/> <!--c--> <y/>\r\n</p>");
  EXPECT_EQ(doc.ChildTagName(), "x");
}

TEST(MarkupMarkupEditTest, BrokenOrElementlessMarkupIsInsertedAsGiven) {
  MarkupDocument doc("<r><a/></r>");
  doc.NextElement();
  EXPECT_FALSE(doc.AppendChildMarkup("just text"));
  EXPECT_EQ(doc.DocumentText(), "<r><a/>just text</r>");
  EXPECT_EQ(CheckConsistency(doc), "");
  EXPECT_FALSE(doc.AppendChildMarkup("<b><c></b>"));
  EXPECT_EQ(doc.DocumentText(), "<r><a/>just text<b><c></b></r>");
  EXPECT_EQ(CheckConsistency(doc), "");
  EXPECT_EQ(doc.ChildTagName(), "b");
  EXPECT_FALSE(doc.AppendChildMarkup(""));
  EXPECT_EQ(doc.DocumentText(), "<r><a/>just text<b><c></b></r>");
}

TEST(MarkupMarkupEditTest, InsertMarkupGoesBeforeTheCurrentElement) {
  MarkupDocument doc("<r>\r\n<a/>\r\n<b/>\r\n</r>");
  doc.NextElement();
  doc.EnterElement();
  doc.NextElement("b");
  EXPECT_TRUE(doc.InsertMarkup("<n/>"));
  EXPECT_EQ(Text(doc), "<r>\r\n<a/>\r\n<n/>\r\n<b/>\r\n</r>");
  EXPECT_EQ(doc.TagName(), "n");
  doc.ResetPosition();
  doc.NextElement();
  doc.EnterElement();
  EXPECT_TRUE(doc.InsertMarkup("<f/>"));
  EXPECT_EQ(Text(doc), "<r><f/>\r\n\r\n<a/>\r\n<n/>\r\n<b/>\r\n</r>");
  ASSERT_TRUE(doc.NextElement());
  EXPECT_EQ(doc.TagName(), "a");
}

TEST(MarkupMarkupEditTest, ReplacingAnElementByInsertThenRemove) {
  MarkupDocument doc("<Rules>\r\n<Rule Name=\"a\"/>\r\n<Rule Name=\"b\"/>\r\n</Rules>");
  doc.NextElement();
  doc.EnterElement();
  doc.NextElement("Rule");
  doc.NextElement("Rule");
  ASSERT_TRUE(doc.InsertMarkup("<Rule Name=\"b\"><Interval>5</Interval></Rule>"));
  ASSERT_TRUE(doc.NextElement());
  ASSERT_TRUE(doc.RemoveElement());
  EXPECT_EQ(Text(doc),
            "<Rules>\r\n<Rule Name=\"a\"/>\r\n<Rule Name=\"b\"><Interval>5</Interval></Rule>\r\n"
            "</Rules>");
  EXPECT_EQ(doc.ElementAttribute("Name"), "b");
}

TEST(MarkupMarkupEditTest, InsertMarkupIntoAnEmptyDocumentCreatesTheRoot) {
  MarkupDocument doc;
  EXPECT_TRUE(doc.InsertMarkup("<r><a/></r>"));
  EXPECT_EQ(Text(doc), "<r><a/></r>\r\n");
  EXPECT_EQ(doc.TagName(), "r");
}

TEST(MarkupMarkupEditTest, ErrorInsideInsertedMarkupMarksTheParent) {
  MarkupDocument doc("<r/>");
  doc.NextElement();
  EXPECT_FALSE(doc.AppendChildMarkup("<a><1></a>"));
  EXPECT_EQ(doc.DocumentText(), "<r>\r\n<a><1></a></r>");
  EXPECT_EQ(CheckConsistency(doc), "");
}

TEST(MarkupEditSequenceTest, SavedPositionSurvivesEditsAroundIt) {
  MarkupDocument doc("<r><a/><b/></r>");
  doc.NextElement();
  doc.NextChildElement("b");
  doc.SavePosition("");
  doc.ResetPosition();
  doc.NextElement();
  doc.SetAttribute("x", "1234567890");
  doc.NextChildElement("a");
  doc.SetChildElementText("text");
  doc.ResetPosition();
  ASSERT_TRUE(doc.RestorePosition(""));
  EXPECT_EQ(doc.ChildElementMarkup(), "<b/>");
  EXPECT_EQ(Text(doc), "<r x=\"1234567890\"><a>text</a><b/></r>");
}

}  // namespace
