// Fuzz target for the markup document: parses the input, then runs a
// sequence of navigation, reading and editing operations chosen by the
// input's first bytes, checking the record table against the text after each.
//
// Input layout: byte 0 = number n of operation bytes; bytes 1..n choose the
// operations and their arguments; the rest is the document text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "markup/MarkupDocument.h"
#include "markup/detail/MarkupConsistency.h"

namespace {

constexpr std::string_view kNames[] = {"a", "Rule", "x", "b:c", "Name"};
constexpr std::string_view kValues[] = {"", "v", "<&>\"'", "12", "\r\n  "};
constexpr std::string_view kMarkup[] = {"<m/>",      "<m a='1'><n>t</n></m>", "<x/><y/>",
                                        "<bad",      "text",                   "<a></b>",
                                        "<!-- c -->", "<p><q></p>",            ""};

template <size_t N>
std::string_view Pick(const std::string_view (&table)[N], uint8_t byte) {
  return table[byte % N];
}

void Check(const MarkupDocument& doc, int op) {
  const std::string fault = markup::detail::CheckConsistency(doc);
  if (!fault.empty()) {
    std::fprintf(stderr, "after operation %d: %s\n", op, fault.c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t op_count = std::min<size_t>(data[0], size - 1);
  const uint8_t* ops = data + 1;
  const std::string_view text(reinterpret_cast<const char*>(data + 1 + op_count),
                              size - 1 - op_count);

  MarkupDocument doc(text);
  Check(doc, -1);
  (void)MarkupDocument::UnescapeText(text);

  for (size_t i = 0; i < op_count; ++i) {
    const uint8_t op = ops[i];
    const uint8_t arg = i + 1 < op_count ? ops[i + 1] : 0;
    switch (op % 24) {
      case 0: doc.NextElement(); break;
      case 1: doc.NextElement(Pick(kNames, arg)); break;
      case 2: doc.NextChildElement(); break;
      case 3: doc.NextChildElement(Pick(kNames, arg)); break;
      case 4: doc.EnterElement(); break;
      case 5: doc.LeaveElement(); break;
      case 6: doc.ResetPosition(); break;
      case 7: doc.SavePosition(""); break;
      case 8: doc.RestorePosition(""); break;
      case 9:
        (void)doc.TagName();
        (void)doc.ChildTagName();
        (void)doc.AttributeName(arg % 4);
        (void)doc.ElementAttribute(Pick(kNames, arg));
        (void)doc.ChildElementAttribute(Pick(kNames, arg));
        break;
      case 10:
        (void)doc.ElementText();
        (void)doc.ChildElementText();
        (void)doc.ElementMarkup();
        (void)doc.ChildElementMarkup();
        break;
      case 11: doc.SetAttribute(Pick(kNames, arg), Pick(kValues, arg >> 3)); break;
      case 12: doc.SetChildAttribute(Pick(kNames, arg), Pick(kValues, arg >> 3)); break;
      case 13: doc.SetIntAttribute(Pick(kNames, arg), -arg); break;
      case 14: doc.SetElementText(Pick(kValues, arg)); break;
      case 15: doc.SetChildElementText(Pick(kValues, arg)); break;
      case 16: doc.AppendElement(Pick(kNames, arg), Pick(kValues, arg >> 3)); break;
      case 17: doc.AppendChildElement(Pick(kNames, arg), Pick(kValues, arg >> 3)); break;
      case 18: doc.RemoveElement(); break;
      case 19: doc.RemoveChildElement(); break;
      case 20: doc.AppendChildMarkup(Pick(kMarkup, arg)); break;
      case 21: doc.InsertMarkup(Pick(kMarkup, arg)); break;
      case 22: {
        const MarkupDocument copy = doc;
        Check(copy, static_cast<int>(i));
        break;
      }
      default: doc.AppendChildMarkup(text.substr(0, arg)); break;
    }
    Check(doc, static_cast<int>(i));
  }
  return 0;
}
