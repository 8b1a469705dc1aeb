// An XML document held as one text, with a table of element records that say
// where each element lies in that text.  Reads cut their results out of the
// text and decode them; edits change the text in place and shift the records
// behind the change, so the text itself is always the document's output.
//
// The parser is lenient: it always yields a usable element table, keeps the
// first error's message in ResultText() and leaves it to CheckWellFormed() to
// say whether the document was sound.  Navigation uses a three-level position:
// a parent element, a current element among its children, and a current child
// of the current element.
//
//   MarkupDocument doc("<Rules><Rule Name=\"cpu\"/></Rules>");
//   doc.NextElement("Rules");
//   doc.EnterElement();
//   while (doc.NextElement("Rule")) Use(doc.ElementAttribute("Name"));
//   doc.AppendElement("Rule");
//   doc.SetAttribute("Name", "disk");
//   Send(doc.DocumentText());
//
// A document has no lock; one thread uses it at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "markup/detail/ElementRecord.h"

namespace markup::detail {
struct DocumentInspector;
}

class MarkupDocument {
 public:
  using ElementRecord = markup::detail::ElementRecord;

  MarkupDocument();
  explicit MarkupDocument(std::string_view text);
  MarkupDocument(const MarkupDocument&) = default;
  MarkupDocument& operator=(const MarkupDocument&) = default;
  // Moving leaves the source an empty document.
  MarkupDocument(MarkupDocument&& other) noexcept;
  MarkupDocument& operator=(MarkupDocument&& other) noexcept;
  ~MarkupDocument() = default;

  // Replaces the text and parses it; returns CheckWellFormed().  A text too
  // long for 32-bit offsets leaves an empty document with the message
  // "Document too large".
  bool LoadText(std::string_view text = {});
  // Gives what LoadText(source.ElementMarkup()) gives.  While source holds
  // the records of a sound parse, unedited since, the element's records are
  // copied instead of parsing its text again.
  bool LoadElementOf(const MarkupDocument& source);
  // True when the last parse met no error and left exactly one root element.
  bool CheckWellFormed() const;
  // The first error of the last parse, or one of "Empty document",
  // "No root element", "Root element has sibling"; empty if none.
  const std::string& ResultText() const { return result_text_; }
  // The document text, as edited.
  const std::string& DocumentText() const { return text_; }

  // Encodes < & > (and for attribute values also ' and ") as references.
  static std::string EscapeText(std::string_view text, bool attribute);
  // Decodes the five named references and numeric references (UTF-8 output)
  // in the first `length` characters of `text` (all of it if length < 0).
  static std::string UnescapeText(std::string_view text, int64_t length = -1);

  // Navigation.  Each returns true on success; on failure the position stays
  // (except that NextChildElement first moves to the root element when there
  // is no current element).  Names match exactly, case-sensitively; the
  // overloads without a name take any element.
  void ResetPosition();  // back to the document level, before the root element
  bool NextElement();    // next sibling of the current element, or first child of the parent
  bool NextElement(std::string_view name);
  bool NextChildElement();  // next child of the current element, behind the current child
  bool NextChildElement(std::string_view name);
  bool EnterElement();  // current element becomes the parent, current child the current element
  bool LeaveElement();  // the reverse of EnterElement
  // Saves the deepest level set (child, else element, else parent) under a
  // name; restoring fails when nothing was saved or the element was removed.
  bool SavePosition(std::string_view name = {});
  bool RestorePosition(std::string_view name = {});

  // Reading: "" when the element (or attribute) is missing.
  std::string TagName() const { return TagNameOf(current_); }
  std::string ChildTagName() const { return TagNameOf(child_); }
  std::string ElementAttribute(std::string_view name) const { return AttributeOf(current_, name); }
  std::string ChildElementAttribute(std::string_view name) const {
    return AttributeOf(child_, name);
  }
  std::string AttributeName(int n) const;
  std::string ElementText() const { return TextOf(current_); }
  std::string ChildElementText() const { return TextOf(child_); }
  std::string ElementMarkup() const { return MarkupOf(current_); }
  std::string ChildElementMarkup() const { return MarkupOf(child_); }

  // Writing: false (and nothing changed) when the element needed is missing.
  bool SetAttribute(std::string_view name, std::string_view value) {
    return SetAttributeOf(current_, name, value);
  }
  bool SetChildAttribute(std::string_view name, std::string_view value) {
    return SetAttributeOf(child_, name, value);
  }
  bool SetIntAttribute(std::string_view name, int number) {
    return SetAttributeOf(current_, name, std::to_string(number));
  }
  bool SetChildIntAttribute(std::string_view name, int number) {
    return SetAttributeOf(child_, name, std::to_string(number));
  }
  bool SetElementText(std::string_view value) { return SetTextOf(current_, value); }
  bool SetChildElementText(std::string_view value) { return SetTextOf(child_, value); }
  // Adds <name/> (empty value) or <name>value</name> and a CR LF behind the
  // current element (child), or last in its parent; the new element becomes
  // the current element (child).
  bool AppendElement(std::string_view name, std::string_view value = {});
  bool AppendChildElement(std::string_view name, std::string_view value = {});
  // Removes the element (child) with its descendants and the whitespace after
  // it; its previous sibling, if any, becomes the current element (child).
  bool RemoveElement();
  bool RemoveChildElement();
  // Parse `text` and place its elements behind the current child (as children
  // of the current element) or in front of the current element; the first new
  // element becomes the current child or element.  Both insert the text even
  // when they return false; they return true only when `text` held exactly
  // one element and parsed without error.
  bool AppendChildMarkup(std::string_view text);
  bool InsertMarkup(std::string_view text);

 protected:
  // Reads by element index for the document kinds built on this one, which
  // look up many items at a time; index 0 is the document itself.  None of
  // them moves the position.

  // The first child of `parent` with that tag, 0 if none.
  uint32_t ChildNamed(uint32_t parent, std::string_view name) const {
    uint32_t found = 0;
    return NextMatching(Rec(parent).first_child, &name, &found) ? found : 0;
  }
  // Calls visit(index, tag) for the children of `parent` in document order.
  template <typename Visit>
  void ForEachChild(uint32_t parent, Visit&& visit) const {
    for (uint32_t c = Rec(parent).first_child; c != 0; c = Rec(c).next_sibling) {
      visit(c, TagNameView(c));
    }
  }
  // The attribute's value as written (references not decoded); "" when the
  // element or attribute is missing.  An attribute without value gives its name.
  std::string_view RawAttribute(uint32_t i, std::string_view name) const;
  // Append what ElementAttribute(name) and ElementText() give for the element,
  // and what UnescapeText(text) gives.
  void AppendAttribute(uint32_t i, std::string_view name, std::string* out) const {
    AppendUnescaped(RawAttribute(i, name), out);
  }
  void AppendText(uint32_t i, std::string* out) const;
  static void AppendUnescaped(std::string_view text, std::string* out);

 private:
  friend struct markup::detail::DocumentInspector;

  // Longest text whose offsets and lengths fit the records' 32-bit fields.
  static constexpr size_t kMaxTextLength = 0xFFFFFFF0u;
  // InsertBody's `before` for "at the start of the parent's content".
  static constexpr uint32_t kAtStart = 0xFFFFFFFFu;
  static constexpr uint32_t kSegmentBits = 16;
  static constexpr uint32_t kSegmentSize = 1u << kSegmentBits;

  struct SavedPosition {
    std::string name;
    uint32_t index;
    int level;  // 0 parent, 1 current element, 2 child
  };
  struct BuildResult {
    bool error = false;
    std::string message;
  };
  struct AttributeSpan;

  ElementRecord& Rec(uint32_t i) { return segments_[i >> kSegmentBits][i & (kSegmentSize - 1)]; }
  const ElementRecord& Rec(uint32_t i) const {
    return segments_[i >> kSegmentBits][i & (kSegmentSize - 1)];
  }

  // Record table.
  void ResetTable(size_t text_length);
  // A record index taken from the free list or the unused tail; NewRecord
  // also clears the record, TakeRecord leaves it for the caller to fill.
  uint32_t NewRecord() {
    const uint32_t i = TakeRecord();
    Rec(i) = ElementRecord{};
    return i;
  }
  uint32_t TakeRecord() {
    if (free_head_ != 0) {
      const uint32_t i = free_head_;
      free_head_ = Rec(i).next_sibling;
      return i;
    }
    if (next_unused_ >= capacity_) GrowTable();
    return next_unused_++;
  }
  void GrowTable();
  void FreeSubtree(uint32_t i);
  // Calls visit(index) for root and its descendants in document order,
  // without recursion: nesting depth is bounded only by memory.
  template <typename Visit>
  void ForEachInSubtree(uint32_t root, Visit&& visit) const {
    uint32_t i = root;
    for (;;) {
      visit(i);
      if (Rec(i).first_child != 0) {
        i = Rec(i).first_child;
        continue;
      }
      while (i != root && Rec(i).next_sibling == 0) i = Rec(i).parent;
      if (i == root) break;
      i = Rec(i).next_sibling;
    }
  }
  uint32_t StartTagLength(uint32_t i) const {
    const uint32_t field = Rec(i).StartTagField();
    return field != ElementRecord::kStartTagMax ? field : LongTag(i).first;
  }
  uint32_t EndTagLength(uint32_t i) const {
    const uint32_t field = Rec(i).EndTagField();
    return field != ElementRecord::kEndTagMax ? field : LongTag(i).second;
  }
  void SetTagLengths(uint32_t i, uint64_t start_tag, uint64_t end_tag) {
    if (start_tag < ElementRecord::kStartTagMax && end_tag < ElementRecord::kEndTagMax) {
      Rec(i).tag_lengths = static_cast<uint32_t>(start_tag | (end_tag << 22));
      if (!long_tags_.empty()) long_tags_.erase(i);
    } else {
      SetLongTag(i, start_tag, end_tag);
    }
  }
  std::pair<uint32_t, uint32_t> LongTag(uint32_t i) const;
  void SetLongTag(uint32_t i, uint64_t start_tag, uint64_t end_tag);

  // Links.
  uint32_t LastChild(uint32_t parent) const;
  uint32_t PrevSibling(uint32_t i) const;
  void LinkAfter(uint32_t parent, uint32_t ref, uint32_t node);
  void Unlink(uint32_t node);

  // Offsets.
  void ShiftSubtree(uint32_t root, int64_t delta);
  void ShiftSiblings(uint32_t first, int64_t delta);
  void ShiftFollowing(uint32_t node, int64_t delta);
  void ShiftBehind(uint32_t container, uint32_t first_shifted, int64_t delta);
  bool ReplaceText(size_t pos, size_t count, std::string_view with);
  uint32_t ContentBegin(uint32_t i) const;
  uint32_t ContentEnd(uint32_t i) const;
  size_t SkipTrailingWhitespace(size_t pos) const;
  bool IsEmptyElementTag(uint32_t i) const;
  uint32_t ChildLevel(uint32_t parent) const;

  // Parsing.
  uint32_t AppendRecord(uint32_t parent, uint32_t start, uint32_t length, uint32_t level);
  BuildResult Build(std::string_view text, uint32_t base, uint32_t base_level);
  void FixLevels(uint32_t base, uint32_t base_level);

  // Element operations behind the public forms.
  bool TagIs(uint32_t i, std::string_view name) const;
  std::string_view TagNameView(uint32_t i) const;
  std::string TagNameOf(uint32_t i) const { return std::string(TagNameView(i)); }
  bool FindAttribute(uint32_t i, std::string_view name, AttributeSpan* span) const;
  std::string AttributeOf(uint32_t i, std::string_view name) const {
    std::string value;
    AppendAttribute(i, name, &value);
    return value;
  }
  std::string TextOf(uint32_t i) const {
    std::string text;
    AppendText(i, &text);
    return text;
  }
  std::string MarkupOf(uint32_t i) const;
  bool SetAttributeOf(uint32_t i, std::string_view name, std::string_view value);
  bool SetTextOf(uint32_t i, std::string_view value);
  bool NextMatching(uint32_t from, const std::string_view* name, uint32_t* found) const;
  bool InsertBody(uint32_t parent, uint32_t ref, uint32_t before, std::string body,
                  size_t* body_pos);
  bool AddElement(uint32_t parent, uint32_t ref, std::string_view name, std::string_view value,
                  uint32_t* added);
  bool AddMarkup(uint32_t parent, uint32_t ref, uint32_t before, std::string_view text,
                 uint32_t* first_added);
  void RemoveRecord(uint32_t i);

  std::string text_;
  std::string result_text_;
  // True while the records are those a parse of text_ gives and that parse
  // met no error; any edit clears it.
  bool parsed_sound_ = false;
  uint32_t parent_ = 0;
  uint32_t current_ = 0;
  uint32_t child_ = 0;
  // A non-element node position; nothing here moves to such nodes, so it stays clear.
  int node_kind_ = 0;
  uint32_t node_offset_ = 0;
  uint32_t node_length_ = 0;
  uint32_t next_unused_ = 1;
  uint32_t free_head_ = 0;
  uint64_t capacity_ = 0;
  std::vector<SavedPosition> saved_;
  int flags_ = 0;  // document options; names are always compared case-sensitively
  std::vector<std::vector<ElementRecord>> segments_;
  // True start- and end-tag lengths of records whose packed fields overflowed.
  std::unordered_map<uint32_t, std::pair<uint32_t, uint32_t>> long_tags_;
};
