// The lenient builder: turns the scanner's tokens into element records,
// repairing misnested and unclosed elements instead of failing.
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "markup/MarkupDocument.h"
#include "markup/detail/MarkupScanner.h"

namespace {

using markup::detail::ElementRecord;
using markup::detail::MarkupScanner;
using markup::detail::MarkupToken;
using markup::detail::TokenKind;

// Tag names are short; a plain loop beats a call to memcmp.
inline bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

struct OpenTag {
  uint32_t record;
  std::string_view name;
};

}  // namespace

// Takes a record for an element at [start, start + length) and links it in
// as the last child of `parent`; the caller sets its tag lengths.
uint32_t MarkupDocument::AppendRecord(uint32_t parent, uint32_t start, uint32_t length,
                                      uint32_t level) {
  const uint32_t i = TakeRecord();
  ElementRecord fresh;
  fresh.start = start;
  fresh.length = length;
  fresh.SetLevel(level);
  fresh.parent = parent;
  // Written in one store once the links are known.
  ElementRecord& p = Rec(parent);
  if (p.first_child == 0) {
    p.first_child = i;
    fresh.prev_sibling = i;
    fresh.Set(ElementRecord::kFirstChild);
  } else {
    const uint32_t first = p.first_child;
    const uint32_t last = Rec(first).prev_sibling;
    Rec(last).next_sibling = i;
    Rec(first).prev_sibling = i;
    fresh.prev_sibling = last;
  }
  Rec(i) = fresh;
  return i;
}

MarkupDocument::BuildResult MarkupDocument::Build(std::string_view text, uint32_t base,
                                                  uint32_t base_level) {
  BuildResult result;
  auto record = [&result](const char* format, auto... args) {
    if (!result.message.empty()) return;  // only the first error survives
    const int size = std::snprintf(nullptr, 0, format, args...);
    if (size <= 0) return;
    std::string message(static_cast<size_t>(size), '\0');
    std::snprintf(message.data(), message.size() + 1, format, args...);
    result.message = std::move(message);
  };
  auto quoted = [](std::string_view name) {
    // The messages are C strings; a NUL inside a name ends it there.
    return std::string(name.substr(0, name.find('\0')));
  };

  std::vector<OpenTag> open;
  open.reserve(64);
  // Innermost open record per tag name; built only once an end tag fails to
  // match the innermost open element, so a sound document never pays for it,
  // and a long run of stray end tags still costs one lookup each.
  std::unordered_map<std::string_view, std::vector<uint32_t>> by_name;
  bool indexed = false;
  bool repaired = false;
  uint32_t current = base;

  // Closes open[from..] as "not ended": each loses its children to the element
  // that encloses it, innermost first, so all of them end up, in document
  // order, as children of the element enclosing open[from].
  auto close_not_ended = [&](size_t from, uint32_t keeper) {
    repaired = true;
    result.error = true;
    uint32_t tail = open[from].record;
    bool carry_error = false;
    for (size_t j = from; j < open.size(); ++j) {
      const uint32_t i = open[j].record;
      ElementRecord& r = Rec(i);
      r.Set(ElementRecord::kNoEndTag);
      r.length = StartTagLength(i);
      if (r.Has(ElementRecord::kContainsError)) {
        carry_error = true;
        r.Clear(ElementRecord::kContainsError);
      }
      const uint32_t first = r.first_child;
      if (first == 0) continue;
      r.first_child = 0;
      const uint32_t last = Rec(first).prev_sibling;
      Rec(tail).next_sibling = first;
      Rec(first).prev_sibling = tail;
      Rec(first).Clear(ElementRecord::kFirstChild);
      for (uint32_t c = first; c != 0; c = Rec(c).next_sibling) Rec(c).parent = keeper;
      tail = last;
    }
    Rec(tail).next_sibling = 0;
    Rec(Rec(keeper).first_child).prev_sibling = tail;
    if (carry_error) Rec(keeper).Set(ElementRecord::kContainsError);
    if (indexed) {
      for (size_t j = open.size(); j-- > from;) by_name[open[j].name].pop_back();
    }
    open.resize(from);
  };

  MarkupScanner scanner(text);
  for (;;) {
    scanner.SkipCharacterData();
    const MarkupToken token = scanner.Next();
    switch (token.kind) {
      case TokenKind::kStartTag: {
        const uint32_t i = AppendRecord(current, token.start, token.length,
                                        base_level + static_cast<uint32_t>(open.size()));
        SetTagLengths(i, token.length, 0);
        if (!token.empty_element) {
          open.push_back({i, token.text});
          if (indexed) by_name[token.text].push_back(static_cast<uint32_t>(open.size() - 1));
          current = i;
        }
        break;
      }
      case TokenKind::kEndTag: {
        size_t match = open.size();
        if (!open.empty() && SameName(open.back().name, token.text)) {
          match = open.size() - 1;
        } else if (!open.empty()) {
          if (!indexed) {
            indexed = true;
            for (size_t j = 0; j < open.size(); ++j) {
              by_name[open[j].name].push_back(static_cast<uint32_t>(j));
            }
          }
          const auto it = by_name.find(token.text);
          if (it != by_name.end() && !it->second.empty()) match = it->second.back();
        }
        if (match == open.size()) {
          Rec(current).Set(ElementRecord::kContainsError);
          result.error = true;
          record("No start tag for end tag '%s' at offset %u", quoted(token.text).c_str(),
                 static_cast<unsigned>(token.start));
          break;
        }
        const uint32_t i = open[match].record;
        if (match + 1 < open.size()) {
          const OpenTag& inner = open.back();
          record("End tag '%s' at offset %u does not match start tag '%s' at offset %u",
                 quoted(token.text).c_str(), static_cast<unsigned>(token.start + 1),
                 quoted(inner.name).c_str(), static_cast<unsigned>(Rec(inner.record).start));
          close_not_ended(match + 1, i);
        }
        ElementRecord& r = Rec(i);
        r.length = token.start + token.length - r.start;
        SetTagLengths(i, StartTagLength(i), token.length);
        if (indexed) by_name[open.back().name].pop_back();
        open.pop_back();
        current = Rec(i).parent;
        break;
      }
      case TokenKind::kError:
        Rec(current).Set(ElementRecord::kContainsError);
        result.error = true;
        record("%s", std::string(token.text).c_str());
        break;
      case TokenKind::kEndOfText:
        if (!open.empty()) {
          const OpenTag& inner = open.back();
          record("Element '%s' at offset %u not ended", quoted(inner.name).c_str(),
                 static_cast<unsigned>(Rec(inner.record).start));
          close_not_ended(0, base);
        }
        if (repaired) FixLevels(base, base_level);
        return result;
      default:
        break;  // character data, comments, CDATA, instructions, declarations
    }
  }
}

void MarkupDocument::FixLevels(uint32_t base, uint32_t base_level) {
  for (uint32_t top = Rec(base).first_child; top != 0; top = Rec(top).next_sibling) {
    ForEachInSubtree(top, [this, base, base_level](uint32_t i) {
      const uint32_t parent = Rec(i).parent;
      Rec(i).SetLevel(parent == base ? base_level : Rec(parent).Level() + 1);
    });
  }
}

bool MarkupDocument::LoadText(std::string_view text) {
  result_text_.clear();
  if (text.size() > kMaxTextLength) {
    parsed_sound_ = false;
    text_.clear();
    text_.shrink_to_fit();
    ResetTable(0);
    ResetPosition();
    result_text_ = "Document too large";
    return false;
  }
  text_.assign(text.data(), text.size());
  ResetPosition();
  saved_.clear();
  ResetTable(text_.size());

  BuildResult built = Build(text_, 0, 0);
  parsed_sound_ = !built.error;
  ElementRecord& doc = Rec(0);
  if (built.error) doc.Set(ElementRecord::kDocumentError);
  result_text_ = std::move(built.message);
  doc.length = static_cast<uint32_t>(text_.size());
  if (text_.empty()) {
    result_text_ = "Empty document";
  } else if (doc.first_child == 0) {
    result_text_ = "No root element";
  } else if (!built.error && Rec(doc.first_child).next_sibling != 0) {
    // Only for an otherwise sound parse: repairs turn an unclosed element's
    // children into its siblings, so a broken document often has several
    // top-level elements, and its first error says more.
    result_text_ = "Root element has sibling";
  }
  ResetPosition();
  return CheckWellFormed();
}

// In a sound parse every element's tokens lie within it, and the tokens of a
// text do not depend on what precedes it, so a parse of the element's markup
// alone gives the same records in the same order, one level up.
bool MarkupDocument::LoadElementOf(const MarkupDocument& source) {
  const uint32_t top = source.current_;
  if (this == &source || !source.parsed_sound_ || top == 0) {
    return LoadText(source.ElementMarkup());
  }
  const uint32_t begin = source.Rec(top).start;
  const size_t end =
      source.SkipTrailingWhitespace(size_t{begin} + source.Rec(top).length);
  text_.assign(source.text_, begin, end - begin);
  result_text_.clear();
  parsed_sound_ = true;
  ResetPosition();
  saved_.clear();
  ResetTable(text_.size());

  // Document order, as the builder takes its records; `parent` follows the
  // copy of the source record's parent and `level` its depth below top.
  uint32_t s = top;
  uint32_t parent = 0;
  uint32_t level = 0;
  for (;;) {
    const ElementRecord& from = source.Rec(s);
    const uint32_t i = AppendRecord(parent, from.start - begin, from.length, level);
    SetTagLengths(i, source.StartTagLength(s), source.EndTagLength(s));
    if (from.first_child != 0) {
      s = from.first_child;
      parent = i;
      ++level;
      continue;
    }
    uint32_t copy = i;
    while (s != top && source.Rec(s).next_sibling == 0) {
      s = source.Rec(s).parent;
      copy = Rec(copy).parent;
      --level;
    }
    if (s == top) break;
    s = source.Rec(s).next_sibling;
    parent = Rec(copy).parent;
  }
  Rec(0).length = static_cast<uint32_t>(text_.size());
  return true;
}
