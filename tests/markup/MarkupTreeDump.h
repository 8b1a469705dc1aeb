// A canonical text of a document's element tree read through the public navigation API.
#pragma once

#include <string>

#include "markup/MarkupDocument.h"

namespace markup_test {

// "<name a='v' ...>text{children}" for the current element; blank text counts as none.
inline void DumpCurrent(MarkupDocument& doc, std::string& out) {
  out += '<' + doc.TagName();
  for (int n = 0; !doc.AttributeName(n).empty(); ++n) {
    out += ' ' + doc.AttributeName(n) + "='" + doc.ElementAttribute(doc.AttributeName(n)) + "'";
  }
  const std::string text = doc.ElementText();
  out += '>' + (text.find_first_not_of(" \t\r\n") == std::string::npos ? "" : text) + '{';
  doc.EnterElement();  // the children, then back to the current element
  while (doc.NextElement()) DumpCurrent(doc, out);
  doc.LeaveElement();
  out += '}';
}

inline std::string DumpTree(MarkupDocument& doc) {
  std::string out;
  doc.ResetPosition();
  while (doc.NextElement()) DumpCurrent(doc, out);
  doc.ResetPosition();
  return out;
}

}  // namespace markup_test
