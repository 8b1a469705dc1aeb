// MarkupDocument: the record table, navigation, reading and editing.  Parsing
// lives in detail/MarkupBuilder.cpp, the codecs in detail/MarkupCodec.cpp.
#include "markup/MarkupDocument.h"

#include <algorithm>
#include <cstring>

#include "markup/detail/MarkupScanner.h"

using markup::detail::ElementRecord;
using markup::detail::IsMarkupWhitespace;
using markup::detail::MarkupScanner;
using markup::detail::MarkupToken;
using markup::detail::TokenKind;

namespace {

constexpr std::string_view kLineBreak = "\r\n";

bool IsTagNameEnd(char c) {
  switch (c) {
    case ' ': case '\t': case '\n': case '\r': case '<': case '>': case '=': case '\\':
    case '/': case '?': case '!':
      return true;
    default:
      return false;
  }
}

bool IsAttributeNameEnd(char c) {
  return IsMarkupWhitespace(c) || c == '=' || c == '>' || c == '/' || c == '?';
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

// Where one attribute lies in a start tag, as offsets into the tag's text.
struct Attribute {
  size_t name_begin = 0, name_end = 0;    // the name, quotes excluded
  size_t value_begin = 0, value_end = 0;  // the value, quotes excluded
  size_t raw_begin = 0, raw_end = 0;      // the value as written, quotes included
  bool has_value = false;                 // false: the value is the name itself
};

// Cuts a start tag ("<name ...>") into attributes and calls visit(attribute)
// for each until it returns true.  Returns the offset just after the last
// attribute seen (or after the tag name).
template <typename Visit>
size_t WalkAttributes(std::string_view tag, Visit&& visit) {
  size_t e = tag.size();
  if (e > 0 && tag[e - 1] == '>') --e;
  auto quoted_end = [&](size_t open) {  // offset of the closing quote, or e
    const size_t close = tag.find(tag[open], open + 1);
    return close == std::string_view::npos || close > e ? e : close;
  };
  size_t p = 1;
  while (p < e && !IsTagNameEnd(tag[p])) ++p;
  size_t last_end = p;
  for (;;) {
    while (p < e && IsMarkupWhitespace(tag[p])) ++p;
    if (p >= e || tag[p] == '/' || tag[p] == '>' || tag[p] == '?') break;
    Attribute a;
    if (IsQuote(tag[p])) {
      const size_t close = quoted_end(p);
      a.name_begin = p + 1;
      a.name_end = close;
      p = std::min(close + 1, e);
    } else {
      a.name_begin = p;
      while (p < e && !IsAttributeNameEnd(tag[p])) ++p;
      a.name_end = p;
    }
    const size_t after_name = p;
    while (p < e && IsMarkupWhitespace(tag[p])) ++p;
    if (p < e && tag[p] == '=') {
      ++p;
      while (p < e && IsMarkupWhitespace(tag[p])) ++p;
      a.raw_begin = p;
      if (p < e && IsQuote(tag[p])) {
        const size_t close = quoted_end(p);
        a.value_begin = p + 1;
        a.value_end = close;
        p = std::min(close + 1, e);
      } else {
        a.value_begin = p;
        while (p < e && !IsMarkupWhitespace(tag[p]) && tag[p] != '>') ++p;
        a.value_end = p;
      }
      a.raw_end = p;
      a.has_value = true;
      last_end = p;
    } else {
      a.value_begin = a.name_begin;
      a.value_end = a.name_end;
      a.raw_begin = a.raw_end = after_name;
      last_end = after_name;
    }
    if (visit(a)) break;
  }
  return last_end;
}

}  // namespace

struct MarkupDocument::AttributeSpan {
  Attribute attribute;
  size_t insert_at = 0;  // where a new attribute goes, relative to the tag
};

MarkupDocument::MarkupDocument() {
  LoadText({});
  flags_ = 0;
}

MarkupDocument::MarkupDocument(std::string_view text) {
  LoadText(text);
  flags_ = 0;
}

MarkupDocument::MarkupDocument(MarkupDocument&& other) noexcept { *this = std::move(other); }

MarkupDocument& MarkupDocument::operator=(MarkupDocument&& other) noexcept {
  if (this == &other) return *this;
  text_ = std::move(other.text_);
  result_text_ = std::move(other.result_text_);
  parsed_sound_ = other.parsed_sound_;
  parent_ = other.parent_;
  current_ = other.current_;
  child_ = other.child_;
  node_kind_ = other.node_kind_;
  node_offset_ = other.node_offset_;
  node_length_ = other.node_length_;
  next_unused_ = other.next_unused_;
  free_head_ = other.free_head_;
  capacity_ = other.capacity_;
  saved_ = std::move(other.saved_);
  flags_ = other.flags_;
  segments_ = std::move(other.segments_);
  long_tags_ = std::move(other.long_tags_);
  other.LoadText({});  // the source stays a usable, empty document
  return *this;
}

bool MarkupDocument::CheckWellFormed() const {
  if (segments_.empty()) return false;
  const ElementRecord& doc = Rec(0);
  return !doc.Has(ElementRecord::kDocumentError) && doc.first_child != 0 &&
         Rec(doc.first_child).next_sibling == 0;
}

// ---------------------------------------------------------------------------
// Record table

void MarkupDocument::ResetTable(size_t text_length) {
  capacity_ = text_length / 64 + 8;
  segments_.clear();
  const uint64_t count = (capacity_ + kSegmentSize - 1) / kSegmentSize;
  segments_.resize(count);
  for (uint64_t s = 0; s < count; ++s) {
    segments_[s].resize(std::min<uint64_t>(kSegmentSize, capacity_ - s * kSegmentSize));
  }
  long_tags_.clear();
  next_unused_ = 1;
  free_head_ = 0;
  Rec(0) = ElementRecord{};
}

void MarkupDocument::GrowTable() {
  // Indexes are 32-bit; a document cannot hold that many elements anyway,
  // since every element takes at least four characters of a text whose length
  // fits 32 bits.
  capacity_ = std::min<uint64_t>(capacity_ + capacity_ / 2 + 8, 0xFFFFFFFFu);
  const uint64_t count = (capacity_ + kSegmentSize - 1) / kSegmentSize;
  segments_.resize(count);
  for (uint64_t s = 0; s < count; ++s) {
    const uint64_t size = std::min<uint64_t>(kSegmentSize, capacity_ - s * kSegmentSize);
    if (segments_[s].size() < size) segments_[s].resize(size);
  }
}

void MarkupDocument::FreeSubtree(uint32_t root) {
  std::vector<uint32_t> doomed;
  ForEachInSubtree(root, [&doomed](uint32_t i) { doomed.push_back(i); });
  for (const uint32_t d : doomed) {
    if (!long_tags_.empty()) long_tags_.erase(d);
    ElementRecord& r = Rec(d);
    r = ElementRecord{};
    r.Set(ElementRecord::kDeleted);
    r.next_sibling = free_head_;
    free_head_ = d;
  }
}

std::pair<uint32_t, uint32_t> MarkupDocument::LongTag(uint32_t i) const {
  const auto it = long_tags_.find(i);
  if (it != long_tags_.end()) return it->second;
  return {Rec(i).StartTagField(), Rec(i).EndTagField()};
}

// Keeps the true lengths beside the record when either packed field overflows;
// the field then holds its maximum as the mark to look there.
void MarkupDocument::SetLongTag(uint32_t i, uint64_t start_tag, uint64_t end_tag) {
  const auto s = static_cast<uint32_t>(std::min<uint64_t>(start_tag, ElementRecord::kStartTagMax));
  const auto e = static_cast<uint32_t>(std::min<uint64_t>(end_tag, ElementRecord::kEndTagMax));
  Rec(i).tag_lengths = s | (e << 22);
  long_tags_[i] = {static_cast<uint32_t>(start_tag), static_cast<uint32_t>(end_tag)};
}

// ---------------------------------------------------------------------------
// Links

uint32_t MarkupDocument::LastChild(uint32_t parent) const {
  const uint32_t first = Rec(parent).first_child;
  return first == 0 ? 0 : Rec(first).prev_sibling;
}

uint32_t MarkupDocument::PrevSibling(uint32_t i) const {
  return Rec(i).Has(ElementRecord::kFirstChild) ? 0 : Rec(i).prev_sibling;
}

// Links a detached node into parent's children after ref (first if ref is 0).
void MarkupDocument::LinkAfter(uint32_t parent, uint32_t ref, uint32_t node) {
  Rec(node).parent = parent;
  if (ref == 0) {
    const uint32_t old_first = Rec(parent).first_child;
    if (old_first != 0) {
      Rec(node).next_sibling = old_first;
      Rec(node).prev_sibling = Rec(old_first).prev_sibling;
      Rec(old_first).prev_sibling = node;
      Rec(old_first).Clear(ElementRecord::kFirstChild);
    } else {
      Rec(node).next_sibling = 0;
      Rec(node).prev_sibling = node;
    }
    Rec(parent).first_child = node;
    Rec(node).Set(ElementRecord::kFirstChild);
    return;
  }
  const uint32_t next = Rec(ref).next_sibling;
  Rec(node).prev_sibling = ref;
  Rec(node).next_sibling = next;
  Rec(node).Clear(ElementRecord::kFirstChild);
  Rec(ref).next_sibling = node;
  if (next != 0) {
    Rec(next).prev_sibling = node;
  } else {
    Rec(Rec(parent).first_child).prev_sibling = node;
  }
}

void MarkupDocument::Unlink(uint32_t node) {
  const uint32_t parent = Rec(node).parent;
  const uint32_t first = Rec(parent).first_child;
  const uint32_t next = Rec(node).next_sibling;
  if (node == first) {
    Rec(parent).first_child = next;
    if (next != 0) {
      Rec(next).prev_sibling = Rec(node).prev_sibling;
      Rec(next).Set(ElementRecord::kFirstChild);
    }
  } else {
    const uint32_t prev = Rec(node).prev_sibling;
    Rec(prev).next_sibling = next;
    if (next != 0) {
      Rec(next).prev_sibling = prev;
    } else {
      Rec(first).prev_sibling = prev;
    }
  }
  Rec(node).next_sibling = 0;
  Rec(node).prev_sibling = 0;
  Rec(node).Clear(ElementRecord::kFirstChild);
}

// ---------------------------------------------------------------------------
// Offsets

void MarkupDocument::ShiftSubtree(uint32_t root, int64_t delta) {
  ForEachInSubtree(root, [this, delta](uint32_t i) {
    Rec(i).start = static_cast<uint32_t>(Rec(i).start + delta);
  });
}

// Shifts s, its following siblings and all their descendants.
void MarkupDocument::ShiftSiblings(uint32_t s, int64_t delta) {
  const auto step = static_cast<uint32_t>(delta);  // modulo 2^32, so negative works
  while (s != 0) {
    ElementRecord& r = Rec(s);
    if (r.first_child == 0) {
      r.start += step;
    } else {
      ShiftSubtree(s, delta);
    }
    s = r.next_sibling;
  }
}

// After a change of `delta` characters inside `node`: shifts everything behind
// node and grows its ancestors.
void MarkupDocument::ShiftFollowing(uint32_t node, int64_t delta) {
  for (;;) {
    ShiftSiblings(Rec(node).next_sibling, delta);
    const uint32_t parent = Rec(node).parent;
    Rec(parent).length = static_cast<uint32_t>(Rec(parent).length + delta);
    if (parent == 0) break;
    node = parent;
  }
}

// After a change of `delta` characters inside `container`, in front of its
// child `first_shifted` (0: behind all its children).
void MarkupDocument::ShiftBehind(uint32_t container, uint32_t first_shifted, int64_t delta) {
  ShiftSiblings(first_shifted, delta);
  Rec(container).length = static_cast<uint32_t>(Rec(container).length + delta);
  if (container != 0) ShiftFollowing(container, delta);
}

bool MarkupDocument::ReplaceText(size_t pos, size_t count, std::string_view with) {
  // An edit may leave records that a parse of the new text would not give
  // (an element name with a '>' in it, say).
  parsed_sound_ = false;
  const size_t needed = text_.size() - count + with.size();
  if (needed > kMaxTextLength) return false;
  if (needed > text_.capacity()) {
    text_.reserve(std::min<size_t>(needed + needed / 2 + 128, kMaxTextLength));
  }
  text_.replace(pos, count, with.data(), with.size());
  return true;
}

uint32_t MarkupDocument::ContentBegin(uint32_t i) const {
  return i == 0 ? 0 : Rec(i).start + StartTagLength(i);
}

uint32_t MarkupDocument::ContentEnd(uint32_t i) const {
  return i == 0 ? static_cast<uint32_t>(text_.size())
                : Rec(i).start + Rec(i).length - EndTagLength(i);
}

// The offset after the whitespace at pos when that whitespace runs up to a
// '<' or the end of the text; pos otherwise.
size_t MarkupDocument::SkipTrailingWhitespace(size_t pos) const {
  size_t q = pos;
  while (q < text_.size() && IsMarkupWhitespace(text_[q])) ++q;
  return q == text_.size() || text_[q] == '<' ? q : pos;
}

bool MarkupDocument::IsEmptyElementTag(uint32_t i) const {
  const uint32_t start_tag = StartTagLength(i);
  return i != 0 && EndTagLength(i) == 0 && !Rec(i).Has(ElementRecord::kNoEndTag) &&
         start_tag >= 3 && text_[Rec(i).start + start_tag - 2] == '/';
}

uint32_t MarkupDocument::ChildLevel(uint32_t parent) const {
  return parent == 0 ? 0 : Rec(parent).Level() + 1;
}

// ---------------------------------------------------------------------------
// Navigation

void MarkupDocument::ResetPosition() {
  parent_ = current_ = child_ = 0;
  node_kind_ = 0;
  node_offset_ = node_length_ = 0;
}

bool MarkupDocument::NextMatching(uint32_t from, const std::string_view* name,
                                  uint32_t* found) const {
  if (name == nullptr) {
    *found = from;
    return from != 0;
  }
  for (uint32_t s = from; s != 0; s = Rec(s).next_sibling) {
    if (TagIs(s, *name)) {
      *found = s;
      return true;
    }
  }
  return false;
}

bool MarkupDocument::NextElement() {
  uint32_t found;
  if (segments_.empty() ||
      !NextMatching(current_ ? Rec(current_).next_sibling : Rec(parent_).first_child, nullptr,
                    &found)) {
    return false;
  }
  current_ = found;
  child_ = 0;
  return true;
}

bool MarkupDocument::NextElement(std::string_view name) {
  uint32_t found;
  if (segments_.empty() ||
      !NextMatching(current_ ? Rec(current_).next_sibling : Rec(parent_).first_child, &name,
                    &found)) {
    return false;
  }
  current_ = found;
  child_ = 0;
  return true;
}

bool MarkupDocument::NextChildElement() {
  if (current_ == 0 && !NextElement()) return false;
  uint32_t found;
  if (!NextMatching(child_ ? Rec(child_).next_sibling : Rec(current_).first_child, nullptr,
                    &found)) {
    return false;
  }
  child_ = found;
  return true;
}

bool MarkupDocument::NextChildElement(std::string_view name) {
  if (current_ == 0 && !NextElement()) return false;
  uint32_t found;
  if (!NextMatching(child_ ? Rec(child_).next_sibling : Rec(current_).first_child, &name,
                    &found)) {
    return false;
  }
  child_ = found;
  return true;
}

bool MarkupDocument::EnterElement() {
  if (current_ == 0) return false;
  parent_ = current_;
  current_ = child_;
  child_ = 0;
  return true;
}

bool MarkupDocument::LeaveElement() {
  if (parent_ == 0) return false;
  child_ = current_;
  current_ = parent_;
  parent_ = Rec(parent_).parent;
  return true;
}

bool MarkupDocument::SavePosition(std::string_view name) {
  SavedPosition entry{std::string(name), parent_, 0};
  if (child_ != 0) {
    entry.index = child_;
    entry.level = 2;
  } else if (current_ != 0) {
    entry.index = current_;
    entry.level = 1;
  }
  for (SavedPosition& saved : saved_) {
    if (saved.name == name) {
      saved = std::move(entry);
      return true;
    }
  }
  saved_.push_back(std::move(entry));
  return true;
}

bool MarkupDocument::RestorePosition(std::string_view name) {
  for (const SavedPosition& saved : saved_) {
    if (saved.name != name) continue;
    const uint32_t i = saved.index;
    if (i != 0 && Rec(i).Has(ElementRecord::kDeleted)) return false;
    switch (saved.level) {
      case 2:
        child_ = i;
        current_ = Rec(i).parent;
        parent_ = Rec(current_).parent;
        break;
      case 1:
        child_ = 0;
        current_ = i;
        parent_ = Rec(i).parent;
        break;
      default:
        child_ = current_ = 0;
        parent_ = i;
        break;
    }
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Reading

std::string_view MarkupDocument::TagNameView(uint32_t i) const {
  if (i == 0) return {};
  const size_t begin = Rec(i).start + 1;
  const size_t limit = Rec(i).start + StartTagLength(i);
  size_t end = begin;
  while (end < limit && !IsTagNameEnd(text_[end])) ++end;
  return std::string_view(text_).substr(begin, end - begin);
}

// TagNameView(i) == name, without first finding where the tag name ends.
bool MarkupDocument::TagIs(uint32_t i, std::string_view name) const {
  const size_t begin = Rec(i).start + 1;
  const size_t limit = Rec(i).start + StartTagLength(i);
  const size_t room = limit > begin ? limit - begin : 0;
  const size_t n = name.size();
  if (n > room || (n < room && !IsTagNameEnd(text_[begin + n]))) return false;
  const char* tag = text_.data() + begin;
  for (size_t k = 0; k < n; ++k) {
    if (tag[k] != name[k]) return false;
  }
  // A tag name stops at its first such character, so a name holding one
  // matches no element.
  return std::none_of(name.begin(), name.end(), IsTagNameEnd);
}

bool MarkupDocument::FindAttribute(uint32_t i, std::string_view name, AttributeSpan* span) const {
  const std::string_view tag = std::string_view(text_).substr(Rec(i).start, StartTagLength(i));
  bool found = false;
  span->insert_at = WalkAttributes(tag, [&](const Attribute& a) {
    if (tag.substr(a.name_begin, a.name_end - a.name_begin) != name) return false;
    span->attribute = a;
    found = true;
    return true;
  });
  return found;
}

std::string_view MarkupDocument::RawAttribute(uint32_t i, std::string_view name) const {
  AttributeSpan span;
  if (i == 0 || !FindAttribute(i, name, &span)) return {};
  const Attribute& a = span.attribute;
  return std::string_view(text_).substr(Rec(i).start + a.value_begin,
                                        a.value_end - a.value_begin);
}

std::string MarkupDocument::AttributeName(int n) const {
  if (current_ == 0 || n < 0) return {};
  const std::string_view tag =
      std::string_view(text_).substr(Rec(current_).start, StartTagLength(current_));
  std::string name;
  int seen = 0;
  WalkAttributes(tag, [&](const Attribute& a) {
    if (seen++ != n) return false;
    name.assign(tag.substr(a.name_begin, a.name_end - a.name_begin));
    return true;
  });
  return name;
}

void MarkupDocument::AppendText(uint32_t i, std::string* out) const {
  if (i == 0 || Rec(i).first_child != 0) return;
  const size_t begin = ContentBegin(i);
  const size_t end = ContentEnd(i);
  if (end <= begin) return;
  const std::string_view content = std::string_view(text_).substr(begin, end - begin);
  if (content.find('<') == std::string_view::npos) {
    AppendUnescaped(content, out);
    return;
  }
  MarkupScanner scanner(std::string_view(text_).substr(0, end), begin);
  for (;;) {
    const MarkupToken token = scanner.Next();
    if (token.kind == TokenKind::kEndOfText) break;
    if (token.kind == TokenKind::kText) {
      AppendUnescaped(std::string_view(text_).substr(token.start, token.length), out);
    } else if (token.kind == TokenKind::kCData) {
      // Raw contents between "<![CDATA[" and "]]>"; a short "<![C...]]>" opener
      // gives what lies between its 'C' and the terminator.
      const size_t open = std::min<size_t>(9, token.length - 3);
      out->append(text_, token.start + open, token.length - 3 - open);
    }
  }
}

std::string MarkupDocument::MarkupOf(uint32_t i) const {
  if (i == 0) return {};
  const size_t begin = Rec(i).start;
  const size_t end = SkipTrailingWhitespace(begin + Rec(i).length);
  return text_.substr(begin, end - begin);
}

// ---------------------------------------------------------------------------
// Writing

bool MarkupDocument::SetAttributeOf(uint32_t i, std::string_view name, std::string_view value) {
  if (i == 0) return false;
  const std::string quoted = '"' + EscapeText(value, true) + '"';
  AttributeSpan span;
  const bool found = FindAttribute(i, name, &span);
  const Attribute& a = span.attribute;
  size_t pos;
  size_t count = 0;
  std::string insert;
  if (found && a.has_value) {
    pos = a.raw_begin;
    count = a.raw_end - a.raw_begin;
    insert = quoted;
  } else if (found) {
    // A name written without a value ("<a x/>") gets its value after the name.
    pos = a.raw_begin;
    insert = '=' + quoted;
  } else {
    pos = span.insert_at;
    insert.reserve(name.size() + quoted.size() + 2);
    insert += ' ';
    insert += name;
    insert += '=';
    insert += quoted;
  }
  const uint32_t start_tag = StartTagLength(i);
  if (!ReplaceText(Rec(i).start + pos, count, insert)) return false;
  const int64_t delta = static_cast<int64_t>(insert.size()) - static_cast<int64_t>(count);
  SetTagLengths(i, start_tag + delta, EndTagLength(i));
  ShiftBehind(i, Rec(i).first_child, delta);
  return true;
}

bool MarkupDocument::SetTextOf(uint32_t i, std::string_view value) {
  if (i == 0 || Rec(i).first_child != 0) return false;
  const std::string encoded = EscapeText(value, false);
  const uint32_t start_tag = StartTagLength(i);
  if (EndTagLength(i) > 0) {
    const size_t begin = ContentBegin(i);
    const size_t count = ContentEnd(i) - begin;
    if (!ReplaceText(begin, count, encoded)) return false;
    ShiftBehind(i, 0, static_cast<int64_t>(encoded.size()) - static_cast<int64_t>(count));
    return true;
  }
  const std::string name(TagNameView(i));
  const std::string end_tag = "</" + name + ">";
  ElementRecord& r = Rec(i);
  size_t pos;
  size_t count;
  std::string insert;
  uint32_t new_start_tag;
  if (IsEmptyElementTag(i)) {
    // "<a/>" opens to "<a>value</a>": its '/' gives way to the content.
    pos = r.start + start_tag - 2;
    count = 1;
    insert = '>' + encoded + "</" + name;
    new_start_tag = start_tag - 1;
  } else {
    pos = r.start + start_tag;
    count = 0;
    insert = encoded + end_tag;
    new_start_tag = start_tag;
  }
  if (!ReplaceText(pos, count, insert)) return false;
  SetTagLengths(i, new_start_tag, end_tag.size());
  Rec(i).length = static_cast<uint32_t>(new_start_tag + encoded.size() + end_tag.size());
  Rec(i).Clear(ElementRecord::kNoEndTag);
  ShiftFollowing(i, static_cast<int64_t>(insert.size()) - static_cast<int64_t>(count));
  return true;
}

// Inserts body as content of parent: in front of element `before` if given,
// else after child `ref` (and the whitespace behind it), else at the start
// (at_start) or the end of the parent's content.  A parent without content,
// written as "<p/>", or never closed is opened to "<p>" CR LF body "</p>".
// Sets *body_pos to where body begins.
bool MarkupDocument::InsertBody(uint32_t parent, uint32_t ref, uint32_t before, std::string body,
                                size_t* body_pos) {
  const bool at_start = before == kAtStart;
  if (before != 0 && !at_start) {
    *body_pos = Rec(before).start;
    if (!ReplaceText(*body_pos, 0, body)) return false;
    ShiftBehind(parent, before, static_cast<int64_t>(body.size()));
    return true;
  }
  if (ref != 0) {
    *body_pos = SkipTrailingWhitespace(Rec(ref).start + Rec(ref).length);
    if (!ReplaceText(*body_pos, 0, body)) return false;
    ShiftBehind(parent, Rec(ref).next_sibling, static_cast<int64_t>(body.size()));
    return true;
  }
  if (parent == 0) {
    *body_pos = at_start ? 0 : text_.size();
    if (!ReplaceText(*body_pos, 0, body)) return false;
    ShiftBehind(0, at_start ? Rec(0).first_child : 0, static_cast<int64_t>(body.size()));
    return true;
  }
  if (EndTagLength(parent) > 0) {
    const size_t begin = ContentBegin(parent);
    const size_t end = ContentEnd(parent);
    size_t pos = at_start ? begin : end;
    if (begin == end) {
      body.insert(0, kLineBreak);
      *body_pos = pos + kLineBreak.size();
    } else {
      *body_pos = pos;
    }
    if (!ReplaceText(pos, 0, body)) return false;
    ShiftBehind(parent, at_start ? Rec(parent).first_child : 0,
                static_cast<int64_t>(body.size()));
    return true;
  }
  const std::string name(TagNameView(parent));
  const uint32_t start_tag = StartTagLength(parent);
  const size_t end_tag = name.size() + 3;
  const size_t body_size = body.size();
  std::string insert;
  insert.reserve(body_size + end_tag + 3);
  size_t pos;
  size_t count;
  uint32_t new_start_tag;
  if (IsEmptyElementTag(parent)) {
    pos = Rec(parent).start + start_tag - 2;  // the '/' of "/>"
    count = 1;
    insert += '>';
    insert += kLineBreak;
    insert += body;
    insert += "</";
    insert += name;
    new_start_tag = start_tag - 1;
    *body_pos = pos + 3;
  } else {
    pos = Rec(parent).start + start_tag;
    count = 0;
    insert += kLineBreak;
    insert += body;
    insert += "</";
    insert += name;
    insert += '>';
    new_start_tag = start_tag;
    *body_pos = pos + 2;
  }
  if (!ReplaceText(pos, count, insert)) return false;
  SetTagLengths(parent, new_start_tag, end_tag);
  Rec(parent).length =
      static_cast<uint32_t>(new_start_tag + kLineBreak.size() + body_size + end_tag);
  Rec(parent).Clear(ElementRecord::kNoEndTag);
  ShiftFollowing(parent, static_cast<int64_t>(insert.size()) - static_cast<int64_t>(count));
  return true;
}

bool MarkupDocument::AddElement(uint32_t parent, uint32_t ref, std::string_view name,
                                std::string_view value, uint32_t* added) {
  if (name.empty()) return false;
  std::string body;
  uint64_t start_tag;
  uint64_t end_tag = 0;
  if (value.empty()) {
    body.reserve(name.size() + 5);
    body += '<';
    body += name;
    body += "/>";
    start_tag = name.size() + 3;
  } else {
    const std::string encoded = EscapeText(value, false);
    body.reserve(2 * name.size() + encoded.size() + 7);
    body += '<';
    body += name;
    body += '>';
    body += encoded;
    body += "</";
    body += name;
    body += '>';
    start_tag = name.size() + 2;
    end_tag = name.size() + 3;
  }
  const size_t element_length = body.size();
  body += kLineBreak;
  size_t pos;
  if (!InsertBody(parent, ref, 0, std::move(body), &pos)) return false;
  const uint32_t i = NewRecord();
  Rec(i).start = static_cast<uint32_t>(pos);
  Rec(i).length = static_cast<uint32_t>(element_length);
  SetTagLengths(i, start_tag, end_tag);
  Rec(i).SetLevel(ChildLevel(parent));
  LinkAfter(parent, ref != 0 ? ref : LastChild(parent), i);
  *added = i;
  return true;
}

bool MarkupDocument::AppendElement(std::string_view name, std::string_view value) {
  uint32_t added;
  if (!AddElement(parent_, current_, name, value, &added)) return false;
  current_ = added;
  child_ = 0;
  return true;
}

bool MarkupDocument::AppendChildElement(std::string_view name, std::string_view value) {
  uint32_t added;
  if (current_ == 0 || !AddElement(current_, child_, name, value, &added)) return false;
  child_ = added;
  return true;
}

void MarkupDocument::RemoveRecord(uint32_t i) {
  const uint32_t parent = Rec(i).parent;
  const uint32_t next = Rec(i).next_sibling;
  const size_t begin = Rec(i).start;
  const size_t end = SkipTrailingWhitespace(begin + Rec(i).length);
  Unlink(i);
  ReplaceText(begin, end - begin, {});
  ShiftBehind(parent, next, -static_cast<int64_t>(end - begin));
  FreeSubtree(i);
  std::erase_if(saved_, [this](const SavedPosition& saved) {
    return saved.index != 0 && Rec(saved.index).Has(ElementRecord::kDeleted);
  });
}

bool MarkupDocument::RemoveElement() {
  if (current_ == 0) return false;
  const uint32_t prev = PrevSibling(current_);
  RemoveRecord(current_);
  current_ = prev;
  child_ = 0;
  return true;
}

bool MarkupDocument::RemoveChildElement() {
  if (child_ == 0) return false;
  const uint32_t prev = PrevSibling(child_);
  RemoveRecord(child_);
  child_ = prev;
  return true;
}

// Parses text under a detached scratch record, inserts it (see InsertBody for
// parent, ref and before) and links its elements into place.
bool MarkupDocument::AddMarkup(uint32_t parent, uint32_t ref, uint32_t before,
                               std::string_view text, uint32_t* first_added) {
  *first_added = 0;
  if (text.size() > kMaxTextLength) return false;
  const uint32_t scratch = NewRecord();
  const BuildResult built = Build(text, scratch, ChildLevel(parent));
  const uint32_t first = Rec(scratch).first_child;
  const uint32_t last = LastChild(scratch);
  const bool single = !built.error && first != 0 && first == last;

  std::string body;
  size_t origin = 0;  // offset in text of body's first character
  if (!built.error && first != 0) {
    origin = Rec(first).start;
    const size_t end = Rec(last).start + Rec(last).length;
    body.reserve(end - origin + kLineBreak.size());
    body.append(text.substr(origin, end - origin));
    body += kLineBreak;
  } else {
    body.assign(text);
  }
  size_t pos = 0;
  if (body.empty() || !InsertBody(parent, ref, before, std::move(body), &pos)) {
    FreeSubtree(scratch);
    return false;
  }

  const int64_t delta = static_cast<int64_t>(pos) - static_cast<int64_t>(origin);
  uint32_t link_ref;
  if (before == kAtStart) {
    link_ref = 0;
  } else if (before != 0) {
    link_ref = PrevSibling(before);
  } else {
    link_ref = ref != 0 ? ref : LastChild(parent);
  }
  for (uint32_t c = first; c != 0;) {
    const uint32_t next = Rec(c).next_sibling;
    ShiftSubtree(c, delta);
    LinkAfter(parent, link_ref, c);
    link_ref = c;
    c = next;
  }
  if (Rec(scratch).Has(ElementRecord::kContainsError)) Rec(parent).Set(ElementRecord::kContainsError);
  Rec(scratch).first_child = 0;
  FreeSubtree(scratch);
  *first_added = first;
  return single;
}

bool MarkupDocument::AppendChildMarkup(std::string_view text) {
  if (current_ == 0) return false;
  uint32_t first;
  const bool single = AddMarkup(current_, child_, 0, text, &first);
  if (first != 0) child_ = first;
  return single;
}

bool MarkupDocument::InsertMarkup(std::string_view text) {
  uint32_t first;
  const bool single = AddMarkup(parent_, 0, current_ != 0 ? current_ : kAtStart, text, &first);
  if (first != 0) {
    current_ = first;
    child_ = 0;
  }
  return single;
}
