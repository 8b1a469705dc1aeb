// Parsing: messages and their first-error rule, repairs of misnested and
// unclosed elements, the scanner's token rules, and the record table.
#include <gtest/gtest.h>

#include <string>

#include "MarkupTreeDump.h"
#include "markup/MarkupDocument.h"
#include "markup/detail/MarkupConsistency.h"

namespace {

using markup::detail::CheckConsistency;
using markup_test::DumpTree;

struct ParseCase {
  const char* text;
  bool well_formed;
  const char* message;
  const char* tree;
};

class MarkupParseMessageTest : public testing::TestWithParam<ParseCase> {};

TEST_P(MarkupParseMessageTest, YieldsMessageWellFormednessAndRepairedTree) {
  const ParseCase& c = GetParam();
  MarkupDocument doc;
  EXPECT_EQ(doc.LoadText(c.text), c.well_formed);
  EXPECT_EQ(doc.CheckWellFormed(), c.well_formed);
  EXPECT_EQ(doc.ResultText(), c.message);
  EXPECT_EQ(CheckConsistency(doc), "");
  EXPECT_EQ(DumpTree(doc), c.tree);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, MarkupParseMessageTest,
    testing::Values(
        ParseCase{"", false, "Empty document", ""}, ParseCase{"   ", false, "No root element", ""},
        ParseCase{"abc<a/>xyz", true, "", "<a>{}"},
        ParseCase{"<a/><b/>", false, "Root element has sibling", "<a>{}<b>{}"},
        // Children of an unended element move up behind it, in order.
        ParseCase{"<r><a><b/><c><d/></c><e></r>", false,
                  "End tag 'r' at offset 25 does not match start tag 'e' at offset 21",
                  "<r>{<a>{}<b>{}<c>{<d>{}}<e>{}}"},
        ParseCase{"<a><b></a>", false,
                  "End tag 'a' at offset 7 does not match start tag 'b' at offset 3", "<a>{<b>{}}"},
        ParseCase{"<a></b></a>", false, "No start tag for end tag 'b' at offset 3", "<a>{}"},
        // Innermost first: the later message for a is not kept.
        ParseCase{"<a><b>", false, "Element 'b' at offset 3 not ended", "<a>{}<b>{}"},
        ParseCase{"<a x=1/>", false, "Element 'a' at offset 0 not ended", "<a x='1/'>{}"},
        ParseCase{"<r><1a/></r>", false, "Incorrect tag name character at offset 3", "<r>{}"},
        ParseCase{"<a/><!-x>", false, "Incorrect comment tag at offset 4", "<a>{}"},
        ParseCase{"<a><!-- x", false, "Comment at offset 3 unterminated", "<a>{}"},
        ParseCase{"<a/><![x]>", false, "Incorrect tag at offset 4", "<a>{}"},
        ParseCase{"<a/><!x>", false, "Incorrect ! tag at offset 4", "<a>{}"},
        ParseCase{"<a><![CDATA[x", false, "CDATA Section at offset 3 unterminated", "<a>{}"},
        ParseCase{"<a><?pi x", false, "Processing instruction at offset 3 unterminated", "<a>{}"},
        ParseCase{"<a><!DOCTYPE a [<!ENTITY x 'y'>", false, "Doctype at offset 3 unterminated",
                  "<a>{}"},
        ParseCase{"<a><b x='1", false, "Element tag at offset 3 unterminated", "<a>{}"},
        ParseCase{"<a/><", false, "tag at offset 4 unterminated", "<a>{}"},
        // A broken document often has several top-level elements: its first error stays.
        ParseCase{"<a></b></a><c/>", false, "No start tag for end tag 'b' at offset 3",
                  "<a>{}<c>{}"},
        // Prolog, comments, declarations and instructions anywhere are accepted.
        ParseCase{"<?xml version=\"1.0\"?>\r\n<!DOCTYPE r [<!ELEMENT r ANY><!ATTLIST r a CDATA "
                  "'>'>]>\r\n<!-- c --><r><?p?><!--x--></r><!-- after -->",
                  true, "", "<r>{}"},
        // An end tag matches an outer element after stray end tags.
        ParseCase{"<r><a><b></x></y></a></r>", false, "No start tag for end tag 'x' at offset 9",
                  "<r>{<a>{<b>{}}}"},
        // An error inside an unended element marks its parent.
        ParseCase{"<r><a><1></r>", false, "Incorrect tag name character at offset 6",
                  "<r>{<a>{}}"}));

std::string Repeat(const std::string& part, int times) {
  std::string text;
  while (times-- > 0) text += part;
  return text;
}

// Nothing recurses, and an unclosed element hands its children to its parent in one move: done
// one by one this would move the same records again and again.
TEST(MarkupParseTest, DeepWideAndUnclosedDocumentsParseWithoutRecursionOrLimit) {
  constexpr int kDepth = 200000;
  MarkupDocument deep(Repeat("<a>", kDepth) + Repeat("</a>", kDepth));
  EXPECT_TRUE(deep.CheckWellFormed());
  int depth = 0;
  while (deep.NextElement() && deep.EnterElement()) ++depth;
  EXPECT_EQ(depth, kDepth);
  MarkupDocument unclosed("<r>" + Repeat("<a>", kDepth) + "</r>");
  EXPECT_EQ(unclosed.ResultText(), "End tag 'r' at offset " + std::to_string(3 * kDepth + 4) +
                                       " does not match start tag 'a' at offset " +
                                       std::to_string(3 * kDepth));
  unclosed.NextElement();
  int children = 0;
  while (unclosed.NextChildElement("a")) ++children;
  EXPECT_EQ(children, kDepth);
  // Sized for length / 64 + 8 records; short elements need far more.
  MarkupDocument wide("<r>" + Repeat("<e/>", 70000) + "</r>");
  EXPECT_TRUE(wide.CheckWellFormed());
  wide.NextElement();
  int count = 0;
  while (wide.NextChildElement("e")) ++count;
  EXPECT_EQ(count, 70000);
  MarkupDocument stray(Repeat("<a>", 50000) + Repeat("</b>", 50000) + Repeat("</a>", 50000));
  EXPECT_EQ(stray.ResultText(), "No start tag for end tag 'b' at offset 150000");
  for (MarkupDocument* doc : {&deep, &unclosed, &wide, &stray}) {
    EXPECT_EQ(CheckConsistency(*doc), "");
  }
}

TEST(MarkupParseTest, LongTagsBeyondThePackedFieldWidthsKeepTheirLengths) {
  const std::string name(2000, 'n');              // end tag > 1023 characters
  const std::string value(5 * 1024 * 1024, 'v');  // start tag > 4 MiB
  const std::string text = "<r><" + name + " a='" + value + "'>x</" + name + "></r>";
  MarkupDocument doc(text);
  ASSERT_TRUE(doc.CheckWellFormed()) << doc.ResultText();
  EXPECT_EQ(CheckConsistency(doc), "");
  doc.NextElement();
  doc.NextChildElement();
  EXPECT_EQ(doc.ChildTagName(), name);
  EXPECT_EQ(doc.ChildElementText(), "x");
  EXPECT_EQ(doc.ChildElementAttribute("a").size(), value.size());
  EXPECT_TRUE(doc.SetChildElementText("yz"));
  EXPECT_TRUE(doc.SetChildAttribute("b", "1"));
  EXPECT_EQ(CheckConsistency(doc), "");
  MarkupDocument reparsed(doc.DocumentText());
  EXPECT_EQ(DumpTree(reparsed), DumpTree(doc));
}

TEST(MarkupParseTest, NulBytesAreOrdinaryAndLoadReplacesEverything) {
  MarkupDocument doc(std::string("<a x='\0'>\0</a>", 14));
  EXPECT_TRUE(doc.CheckWellFormed());
  doc.NextElement();
  EXPECT_EQ(doc.ElementAttribute("x") + doc.ElementText(), std::string(2, '\0'));
  doc.SavePosition("");
  EXPECT_FALSE(doc.LoadText("<a></b></a>"));
  EXPECT_TRUE(doc.LoadText("<r><a/></r>"));
  EXPECT_EQ(doc.ResultText() + doc.TagName(), "");
  EXPECT_FALSE(doc.RestorePosition(""));
}

// The scanner's rules as parsing shows them: which bytes start a tag name,
// which start tags are empty, and where a tag, comment or doctype ends.
TEST(MarkupParseTest, TagNamesEmptyElementsAndTokenEndsFollowTheScannerRules) {
  // A tag name starts with a letter, '_', ':' or any byte above 0x60.
  for (int c = 0; c < 256; ++c) {
    const bool opens = (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c > 0x60;
    MarkupDocument doc("<r><" + std::string(1, static_cast<char>(c)) + "/></r>");
    EXPECT_EQ(doc.CheckWellFormed(), opens) << c;
  }
  EXPECT_FALSE(MarkupDocument("<a/ >").CheckWellFormed());
  MarkupDocument doc(
      "<r><a b='>' c=\"'>\">rest</a><t><!-- '--> '--><!DOCTYPE r [<!ENTITY x '>'>]>tail</t></r>");
  EXPECT_EQ(DumpTree(doc), "<r>{<a b='>' c=''>'>rest{}<t> '-->tail{}}");
}

}  // namespace
