// A canonical text of a document's element tree read through the public
// navigation API, to compare two documents (or another parser's view) at once.
#pragma once

#include <string>

#include "markup/MarkupDocument.h"

namespace markup_test {

// "<name a='v' ...>text{children}" for the current element; whitespace-only
// text counts as none.
inline void DumpCurrent(MarkupDocument& doc, std::string& out) {
  out += '<';
  out += doc.TagName();
  for (int n = 0;; ++n) {
    const std::string name = doc.AttributeName(n);
    if (name.empty()) break;
    out += ' ' + name + "='" + doc.ElementAttribute(name) + "'";
  }
  out += '>';
  const std::string text = doc.ElementText();
  if (text.find_first_not_of(" \t\r\n") != std::string::npos) out += text;
  out += '{';
  doc.EnterElement();  // the children, then back to the current element
  while (doc.NextElement()) DumpCurrent(doc, out);
  doc.LeaveElement();
  out += '}';
}

// The whole tree, from the document level.
inline std::string DumpTree(MarkupDocument& doc) {
  std::string out;
  doc.ResetPosition();
  while (doc.NextElement()) DumpCurrent(doc, out);
  doc.ResetPosition();
  return out;
}

}  // namespace markup_test
