// One element of a markup document: where it lies in the document text and how
// it is linked to its parent, children and siblings.  Records are addressed by
// a 32-bit index into the document's record table; index 0 is the document.
#pragma once

#include <cstdint>

namespace markup::detail {

struct ElementRecord {
  // Widths of the packed fields.  A start tag of 4 MiB or more, or an end tag
  // of 1 KiB or more, does not fit: the field then holds its maximum and the
  // document keeps the true length in a side table (see MarkupDocument).
  static constexpr uint32_t kStartTagMax = (1u << 22) - 1;
  static constexpr uint32_t kEndTagMax = (1u << 10) - 1;
  // Nesting deeper than this is recorded as this level; nothing navigates by it.
  static constexpr uint32_t kLevelMax = 0xFFFF;

  // Flags, kept in the upper half of level_flags.
  static constexpr uint32_t kFirstChild = 1u << 16;
  static constexpr uint32_t kNoEndTag = 1u << 17;  // never closed by an end tag
  static constexpr uint32_t kContainsError = 1u << 18;
  static constexpr uint32_t kDocumentError = 1u << 19;  // record 0 only
  static constexpr uint32_t kDeleted = 1u << 20;        // on the free list

  uint32_t start = 0;        // offset of the element's '<'
  uint32_t length = 0;       // start tag through end tag, or the start tag alone
  uint32_t tag_lengths = 0;  // start-tag length (low 22 bits), end-tag length (high 10)
  uint32_t level_flags = 0;  // level (low 16 bits), flags (high 16 bits)
  uint32_t parent = 0;
  uint32_t first_child = 0;
  uint32_t next_sibling = 0;   // also the free-list link of a deleted record
  uint32_t prev_sibling = 0;   // for the first child: the parent's LAST child

  uint32_t StartTagField() const { return tag_lengths & kStartTagMax; }
  uint32_t EndTagField() const { return tag_lengths >> 22; }
  uint32_t Level() const { return level_flags & 0xFFFF; }
  uint32_t Flags() const { return level_flags & 0xFFFF0000u; }
  bool Has(uint32_t flag) const { return (level_flags & flag) != 0; }
  void Set(uint32_t flag) { level_flags |= flag; }
  void Clear(uint32_t flag) { level_flags &= ~flag; }
  void SetLevel(uint32_t level) {
    level_flags = (level_flags & 0xFFFF0000u) | (level > kLevelMax ? kLevelMax : level);
  }
};

}  // namespace markup::detail
