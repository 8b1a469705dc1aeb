// Editing: the exact text each edit leaves and the position it sets. After every edit the
// record table must match the text: the document re-parsed from its own text has the same tree.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "MarkupTreeDump.h"
#include "markup/MarkupDocument.h"
#include "markup/detail/MarkupConsistency.h"

namespace {

using markup::detail::CheckConsistency;
using markup_test::DumpTree;
using Doc = MarkupDocument;

struct EditRow {
  const char* document;
  std::function<bool(Doc&)> edit;  // true when every result and position came out right
  std::string text;
  bool reparses = true;  // false where a fresh parse repairs an unended element
};

// clang-format off
const EditRow kEdits[] = {
    // Attributes: a new one goes after the last, encoded with all five references.
    {"<a />", [](Doc& d) { return d.NextElement() && d.SetAttribute("b", "1") && d.SetAttribute("c", "2"); },
     "<a b=\"1\" c=\"2\" />"},
    {"<a/>", [](Doc& d) { return d.NextElement() && d.SetAttribute("x", "a\"b") && d.SetAttribute("y", "<'&>") &&
                                 d.ElementAttribute("y") == "<'&>"; },
     "<a x=\"a&quot;b\" y=\"&lt;&apos;&amp;&gt;\"/>"},
    {"<r><c/></r>", [](Doc& d) { return d.NextElement() && d.SetIntAttribute("n", -42) && d.NextChildElement() &&
                                        d.SetChildIntAttribute("m", 2147483647); },
     "<r n=\"-42\"><c m=\"2147483647\"/></r>"},
    // An existing value is replaced in its quotes.
    {"<r><a x='old' y=bare z>t</a><b/></r>",
     [](Doc& d) { return d.NextElement() && d.NextChildElement("a") && d.SetChildAttribute("x", "new value") &&
                         d.SetChildAttribute("y", "") && d.SetChildAttribute("z", "1") && d.ChildElementText() == "t" &&
                         d.NextChildElement("b") && d.ChildElementMarkup() == "<b/>"; },
     "<r><a x=\"new value\" y=\"\" z=\"1\">t</a><b/></r>"},
    // Without an element nothing changes.
    {"<r/>", [](Doc& d) { return !d.SetAttribute("a", "1") && !d.SetChildAttribute("a", "1") && !d.SetElementText("x") &&
                                 !d.RemoveElement() && !d.RemoveChildElement() && !d.AppendChildElement("c") &&
                                 !d.AppendChildMarkup("<c/>"); },
     "<r/>"},
    // Text: the content is replaced, encoded, without line breaks.
    {"<a/>", [](Doc& d) { return d.NextElement() && d.SetElementText("new"); }, "<a>new</a>"},
    {"<a><b/></a>", [](Doc& d) { return d.NextElement() && !d.SetElementText("x"); }, "<a><b/></a>"},
    {"<r><a>x</a><b/></r>",
     [](Doc& d) { return d.NextElement() && d.NextChildElement("a") && d.SetChildElementText("it's <1> & \"2\"") &&
                         d.ChildElementText() == "it's <1> & \"2\""; },
     "<r><a>it's &lt;1&gt; &amp; \"2\"</a><b/></r>"},
    // A new child goes on its own line before the end tag or after the current child.
    {"<p/>", [](Doc& d) { return d.NextElement() && d.AppendChildElement("n", "") && d.ChildTagName() == "n" &&
                                 d.AppendChildElement("m", "v") && d.ChildTagName() == "m"; },
     "<p>\r\n<n/>\r\n<m>v</m>\r\n</p>"},
    {"<r><p><q/></r>", [](Doc& d) { return d.NextElement() && d.EnterElement() && d.NextElement("p") &&
                                           d.AppendChildElement("n"); },
     "<r><p>\r\n<n/>\r\n</p><q/></r>", false},
    {"<r>\r\n  <a/>\r\n  <b/>\r\n</r>",
     [](Doc& d) { return d.NextChildElement("a") && d.AppendChildElement("a2", "x") && d.NextChildElement() &&
                         d.ChildTagName() == "b"; },
     "<r>\r\n  <a/>\r\n  <a2>x</a2>\r\n<b/>\r\n</r>"},
    // Removing keeps the position in step: no child, or the one before.
    {"<r>\r\n<a/>\r\n<b/>\r\n<c/>\r\n</r>",
     [](Doc& d) { return d.NextChildElement("a") && d.RemoveChildElement() && d.ChildTagName().empty() &&
                         d.NextChildElement() && d.ChildTagName() == "b"; },
     "<r>\r\n<b/>\r\n<c/>\r\n</r>"},
    {"<r>\r\n<a/>\r\n<b><x/></b>\r\n<c/>\r\n</r>",
     [](Doc& d) { return d.NextChildElement("b") && d.RemoveChildElement() && d.ChildTagName() == "a"; },
     "<r>\r\n<a/>\r\n<c/>\r\n</r>"},
    {"<r><a><x/><y><z/></y></a> text <b/></r>",
     [](Doc& d) { return d.NextElement() && d.EnterElement() && d.NextElement("a") && d.RemoveElement() &&
                         d.TagName().empty(); },
     "<r> text <b/></r>"},
    {"", [](Doc& d) { return d.AppendElement("Rules") && d.SetAttribute("Version", "2") && d.EnterElement() &&
                             d.AppendElement("Rule") && d.SetAttribute("Name", "cpu") &&
                             d.AppendChildElement("Description", "a<b") && d.AppendChildElement("Interval", "60") &&
                             d.AppendElement("Rule") && d.SetAttribute("Name", "disk") && d.CheckWellFormed(); },
     "<Rules Version=\"2\">\r\n<Rule Name=\"cpu\">\r\n<Description>a&lt;b</Description>\r\n"
     "<Interval>60</Interval>\r\n</Rule>\r\n<Rule Name=\"disk\"/>\r\n</Rules>\r\n"},
    {"<a/>", [](Doc& d) { return d.NextElement() && d.AppendElement("b") && !d.AppendElement(""); }, "<a/><b/>\r\n"},
    {"<r><a/></r>\r\n", [](Doc& d) { return d.NextElement() && d.RemoveElement(); }, ""},
    // Markup: one element is inserted alone, anything else as given, reporting false.
    {"<r>\r\n<a/>\r\n</r>",
     [](Doc& d) { return d.NextElement() && d.AppendChildMarkup("  <m k='1'><n>t</n></m>  ") &&
                         d.ChildTagName() == "m" && d.ChildElementAttribute("k") == "1" && d.EnterElement() &&
                         d.NextChildElement("n") && d.ChildElementText() == "t"; },
     "<r>\r\n<a/>\r\n<m k='1'><n>t</n></m>\r\n</r>"},
    {"", [](Doc& d) { return d.InsertMarkup("<r><a/></r>") && d.TagName() == "r"; }, "<r><a/></r>\r\n"},
    {"<p/>", [](Doc& d) { return d.NextElement() && !d.AppendChildMarkup("x<x/> <!--c--> <y/>z") &&
                                 d.ChildTagName() == "x"; },
     "<p>\r\n<x/> <!--c--> <y/>\r\n</p>"},
    {"<r><a/></r>",
     [](Doc& d) { return d.NextElement() && !d.AppendChildMarkup("just text") && !d.AppendChildMarkup("<b><c></b>") &&
                         d.ChildTagName() == "b" && !d.AppendChildMarkup(""); },
     "<r><a/>just text<b><c></b></r>", false},
    // InsertMarkup goes before the current element, or first when there is none.
    {"<r>\r\n<a/>\r\n<b/>\r\n</r>",
     [](Doc& d) { return d.NextElement() && d.EnterElement() && d.InsertMarkup("<f/>") && d.NextElement() &&
                         d.TagName() == "a"; },
     "<r><f/>\r\n\r\n<a/>\r\n<b/>\r\n</r>"},
    {"<Rules>\r\n<Rule Name=\"a\"/>\r\n<Rule Name=\"b\"/>\r\n</Rules>",
     [](Doc& d) { return d.NextElement() && d.EnterElement() && d.NextElement("Rule") && d.NextElement("Rule") &&
                         d.InsertMarkup("<Rule Name=\"b\"><Interval>5</Interval></Rule>") && d.NextElement() &&
                         d.RemoveElement() && d.ElementAttribute("Name") == "b"; },
     "<Rules>\r\n<Rule Name=\"a\"/>\r\n<Rule Name=\"b\"><Interval>5</Interval></Rule>\r\n</Rules>"},
    // A saved position survives edits elsewhere that move the records.
    {"<r><a/><b/></r>",
     [](Doc& d) { d.NextElement(); d.NextChildElement("b"); d.SavePosition(""); d.ResetPosition(); d.NextElement();
                  d.SetAttribute("x", "1234567890"); d.NextChildElement("a"); d.SetChildElementText("text");
                  d.ResetPosition();
                  return d.RestorePosition("") && d.ChildElementMarkup() == "<b/>"; },
     "<r x=\"1234567890\"><a>text</a><b/></r>"},
};
// clang-format on

TEST(MarkupEditTest, EachEditLeavesItsTextAndATableInStepWithIt) {
  for (const EditRow& row : kEdits) {
    SCOPED_TRACE(std::string(row.document) + " -> " + row.text);
    Doc doc(row.document);
    EXPECT_TRUE(row.edit(doc));
    EXPECT_EQ(doc.DocumentText(), row.text);
    EXPECT_EQ(CheckConsistency(doc), "");
    if (row.reparses) {
      Doc reparsed(doc.DocumentText());
      Doc copy = doc;  // the dump moves the position
      EXPECT_EQ(DumpTree(copy), DumpTree(reparsed));
    }
  }
}

}  // namespace
