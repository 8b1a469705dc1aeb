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

TEST(MarkupAttributeEditTest, NewAttributeGoesAfterTheLastOneEncodedWithAllFiveReferences) {
  MarkupDocument doc("<a />");
  doc.NextElement();
  ASSERT_TRUE(doc.SetAttribute("b", "1"));
  EXPECT_EQ(Text(doc), "<a b=\"1\" />");
  ASSERT_TRUE(doc.SetAttribute("c", "2"));
  EXPECT_EQ(Text(doc), "<a b=\"1\" c=\"2\" />");
  MarkupDocument valueless("<a x y='2'/>");
  valueless.NextElement();
  ASSERT_TRUE(valueless.SetAttribute("x", "1"));
  EXPECT_EQ(Text(valueless), "<a x=\"1\" y='2'/>");
  MarkupDocument encoded("<a/>");
  encoded.NextElement();
  ASSERT_TRUE(encoded.SetAttribute("x", "a\"b"));
  EXPECT_EQ(Text(encoded), "<a x=\"a&quot;b\"/>");
  ASSERT_TRUE(encoded.SetAttribute("y", "<'&>"));
  EXPECT_EQ(Text(encoded), "<a x=\"a&quot;b\" y=\"&lt;&apos;&amp;&gt;\"/>");
  EXPECT_EQ(encoded.ElementAttribute("y"), "<'&>");
  MarkupDocument numbers("<r><c/></r>");
  numbers.NextElement();
  ASSERT_TRUE(numbers.SetIntAttribute("n", -42));
  numbers.NextChildElement();
  ASSERT_TRUE(numbers.SetChildIntAttribute("m", 2147483647));
  EXPECT_EQ(Text(numbers), "<r n=\"-42\"><c m=\"2147483647\"/></r>");
}

TEST(MarkupAttributeEditTest, ExistingValueIsReplacedInItsQuotesAMissingElementChangesNothing) {
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
  MarkupDocument bare("<r/>");
  EXPECT_FALSE(bare.SetAttribute("a", "1"));
  EXPECT_FALSE(bare.SetChildAttribute("a", "1"));
  EXPECT_FALSE(bare.SetElementText("x"));
  EXPECT_FALSE(bare.RemoveElement());
  EXPECT_FALSE(bare.RemoveChildElement());
  EXPECT_FALSE(bare.AppendChildElement("c"));
  EXPECT_FALSE(bare.AppendChildMarkup("<c/>"));
  EXPECT_EQ(Text(bare), "<r/>");
}

TEST(MarkupTextEditTest, ContentIsReplacedEncodedWithoutLineBreaks) {
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
  MarkupDocument parent("<a><b/></a>");
  parent.NextElement();
  EXPECT_FALSE(parent.SetElementText("x"));
  EXPECT_EQ(Text(parent), "<a><b/></a>");
  MarkupDocument encoded("<r><a>x</a><b/></r>");
  encoded.NextElement();
  encoded.NextChildElement("a");
  ASSERT_TRUE(encoded.SetChildElementText("it's <1> & \"2\""));
  EXPECT_EQ(Text(encoded), "<r><a>it's &lt;1&gt; &amp; \"2\"</a><b/></r>");
  EXPECT_EQ(encoded.ChildElementText(), "it's <1> & \"2\"");
  MarkupDocument unended("<r><a><b/></r>");
  unended.NextElement();
  unended.NextChildElement("a");
  ASSERT_TRUE(unended.SetChildElementText("v"));
  EXPECT_EQ(unended.DocumentText(), "<r><a>v</a><b/></r>");
  EXPECT_EQ(CheckConsistency(unended), "");
}

TEST(MarkupAppendTest, NewChildGoesOnItsOwnLineBeforeTheEndTagOrAfterTheCurrentChild) {
  MarkupDocument doc("<p/>");
  doc.NextElement();
  ASSERT_TRUE(doc.AppendChildElement("n", ""));
  EXPECT_EQ(Text(doc), "<p>\r\n<n/>\r\n</p>");
  EXPECT_EQ(doc.ChildTagName(), "n");
  ASSERT_TRUE(doc.AppendChildElement("m", "v"));
  EXPECT_EQ(Text(doc), "<p>\r\n<n/>\r\n<m>v</m>\r\n</p>");
  EXPECT_EQ(doc.ChildTagName(), "m");
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
  MarkupDocument listed("<r>\r\n  <a/>\r\n  <b/>\r\n</r>");
  listed.NextElement();
  ASSERT_TRUE(listed.AppendChildElement("z"));
  EXPECT_EQ(Text(listed), "<r>\r\n  <a/>\r\n  <b/>\r\n<z/>\r\n</r>");
  listed.ResetPosition();
  listed.NextChildElement("a");
  ASSERT_TRUE(listed.AppendChildElement("a2", "x"));
  EXPECT_EQ(Text(listed), "<r>\r\n  <a/>\r\n  <a2>x</a2>\r\n<b/>\r\n<z/>\r\n</r>");
  ASSERT_TRUE(listed.NextChildElement());
  EXPECT_EQ(listed.ChildTagName(), "b");
  MarkupDocument texted("<r><a/> t</r>");
  texted.NextChildElement("a");
  ASSERT_TRUE(texted.AppendChildElement("b"));
  EXPECT_EQ(Text(texted), "<r><a/><b/>\r\n t</r>");
}

TEST(MarkupRemoveTest, RemovingAndAppendingElementsKeepsThePositionInStep) {
  MarkupDocument doc("<r>\r\n<a/>\r\n<b/>\r\n<c/>\r\n</r>");
  doc.NextChildElement("a");
  ASSERT_TRUE(doc.RemoveChildElement());
  EXPECT_EQ(doc.ChildTagName(), "");
  EXPECT_EQ(Text(doc), "<r>\r\n<b/>\r\n<c/>\r\n</r>");
  ASSERT_TRUE(doc.NextChildElement());
  EXPECT_EQ(doc.ChildTagName(), "b");
  MarkupDocument later("<r>\r\n<a/>\r\n<b><x/></b>\r\n<c/>\r\n</r>");
  later.NextChildElement("b");
  ASSERT_TRUE(later.RemoveChildElement());
  EXPECT_EQ(later.ChildTagName(), "a");
  EXPECT_EQ(Text(later), "<r>\r\n<a/>\r\n<c/>\r\n</r>");
  later.NextChildElement("c");
  ASSERT_TRUE(later.RemoveChildElement());
  ASSERT_TRUE(later.RemoveChildElement());
  EXPECT_EQ(Text(later), "<r>\r\n</r>");
  EXPECT_FALSE(later.RemoveChildElement());
  MarkupDocument deep("<r><a><x/><y><z/></y></a> text <b/></r>");
  deep.NextElement();
  deep.EnterElement();
  deep.NextElement("a");
  ASSERT_TRUE(deep.RemoveElement());
  EXPECT_EQ(deep.TagName(), "");
  EXPECT_EQ(Text(deep), "<r> text <b/></r>");
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(deep.AppendElement("n"));
  EXPECT_EQ(
      Text(deep), "<r> text <b/>" + [] {
        std::string s;
        for (int i = 0; i < 10; ++i) s += "<n/>\r\n";
        return s;
      }() + "</r>");
  MarkupDocument built;
  ASSERT_TRUE(built.AppendElement("Rules"));
  EXPECT_EQ(Text(built), "<Rules/>\r\n");
  EXPECT_EQ(built.TagName(), "Rules");
  ASSERT_TRUE(built.SetAttribute("Version", "2"));
  ASSERT_TRUE(built.EnterElement());
  ASSERT_TRUE(built.AppendElement("Rule"));
  ASSERT_TRUE(built.SetAttribute("Name", "cpu"));
  ASSERT_TRUE(built.AppendChildElement("Description", "a<b"));
  ASSERT_TRUE(built.AppendChildElement("Interval", "60"));
  ASSERT_TRUE(built.AppendElement("Rule"));
  ASSERT_TRUE(built.SetAttribute("Name", "disk"));
  EXPECT_EQ(Text(built),
            "<Rules Version=\"2\">\r\n"
            "<Rule Name=\"cpu\">\r\n"
            "<Description>a&lt;b</Description>\r\n"
            "<Interval>60</Interval>\r\n"
            "</Rule>\r\n"
            "<Rule Name=\"disk\"/>\r\n"
            "</Rules>\r\n");
  EXPECT_TRUE(built.CheckWellFormed());
  MarkupDocument level("<a/>");
  level.NextElement();
  ASSERT_TRUE(level.AppendElement("b"));
  EXPECT_EQ(Text(level), "<a/><b/>\r\n");
  EXPECT_FALSE(level.AppendElement(""));
  EXPECT_EQ(Text(level), "<a/><b/>\r\n");
  MarkupDocument rootless("<r><a/></r>\r\n");
  rootless.NextElement();
  ASSERT_TRUE(rootless.RemoveElement());
  EXPECT_EQ(Text(rootless), "");
  ASSERT_TRUE(rootless.AppendElement("s"));
  EXPECT_EQ(Text(rootless), "<s/>\r\n");
}

TEST(MarkupMarkupEditTest, OneElementIsInsertedAloneAnythingElseAsGivenReportingFalse) {
  MarkupDocument doc("<r>\r\n<a/>\r\n</r>");
  doc.NextElement();
  EXPECT_TRUE(doc.AppendChildMarkup("  <m k='1'><n>t</n></m>  "));
  EXPECT_EQ(Text(doc), "<r>\r\n<a/>\r\n<m k='1'><n>t</n></m>\r\n</r>");
  EXPECT_EQ(doc.ChildTagName(), "m");
  EXPECT_EQ(doc.ChildElementAttribute("k"), "1");
  EXPECT_TRUE(doc.EnterElement());
  EXPECT_TRUE(doc.NextChildElement("n"));
  EXPECT_EQ(doc.ChildElementText(), "t");
  MarkupDocument empty;
  EXPECT_TRUE(empty.InsertMarkup("<r><a/></r>"));
  EXPECT_EQ(Text(empty), "<r><a/></r>\r\n");
  EXPECT_EQ(empty.TagName(), "r");
  MarkupDocument several("<p/>");
  several.NextElement();
  EXPECT_FALSE(several.AppendChildMarkup("x<x/> <!--c--> <y/>z"));
  EXPECT_EQ(Text(several), "<p>\r\n<x/> <!--c--> <y/>\r\n</p>");
  EXPECT_EQ(several.ChildTagName(), "x");
  MarkupDocument broken("<r><a/></r>");
  broken.NextElement();
  EXPECT_FALSE(broken.AppendChildMarkup("just text"));
  EXPECT_EQ(broken.DocumentText(), "<r><a/>just text</r>");
  EXPECT_EQ(CheckConsistency(broken), "");
  EXPECT_FALSE(broken.AppendChildMarkup("<b><c></b>"));
  EXPECT_EQ(broken.DocumentText(), "<r><a/>just text<b><c></b></r>");
  EXPECT_EQ(CheckConsistency(broken), "");
  EXPECT_EQ(broken.ChildTagName(), "b");
  EXPECT_FALSE(broken.AppendChildMarkup(""));
  EXPECT_EQ(broken.DocumentText(), "<r><a/>just text<b><c></b></r>");
  MarkupDocument erring("<r/>");
  erring.NextElement();
  EXPECT_FALSE(erring.AppendChildMarkup("<a><1></a>"));
  EXPECT_EQ(erring.DocumentText(), "<r>\r\n<a><1></a></r>");
  EXPECT_EQ(CheckConsistency(erring), "");
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
  MarkupDocument rules("<Rules>\r\n<Rule Name=\"a\"/>\r\n<Rule Name=\"b\"/>\r\n</Rules>");
  rules.NextElement();
  rules.EnterElement();
  rules.NextElement("Rule");
  rules.NextElement("Rule");
  ASSERT_TRUE(rules.InsertMarkup("<Rule Name=\"b\"><Interval>5</Interval></Rule>"));
  ASSERT_TRUE(rules.NextElement());
  ASSERT_TRUE(rules.RemoveElement());
  EXPECT_EQ(Text(rules),
            "<Rules>\r\n<Rule Name=\"a\"/>\r\n<Rule Name=\"b\"><Interval>5</Interval></Rule>\r\n"
            "</Rules>");
  EXPECT_EQ(rules.ElementAttribute("Name"), "b");
  MarkupDocument sequence("<r><a/><b/></r>");
  sequence.NextElement();
  sequence.NextChildElement("b");
  sequence.SavePosition("");
  sequence.ResetPosition();
  sequence.NextElement();
  sequence.SetAttribute("x", "1234567890");
  sequence.NextChildElement("a");
  sequence.SetChildElementText("text");
  sequence.ResetPosition();
  ASSERT_TRUE(sequence.RestorePosition(""));
  EXPECT_EQ(sequence.ChildElementMarkup(), "<b/>");
  EXPECT_EQ(Text(sequence), "<r x=\"1234567890\"><a>text</a><b/></r>");
}

}  // namespace
