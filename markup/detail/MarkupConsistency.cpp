// The record table checker; walks the tree without recursion.
#include "markup/detail/MarkupConsistency.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "markup/MarkupDocument.h"

namespace markup::detail {

struct DocumentInspector {
  static std::string Check(const MarkupDocument& d);
};

namespace {

std::string Fault(uint32_t i, const std::string& what) {
  return "record " + std::to_string(i) + ": " + what;
}

}  // namespace

std::string DocumentInspector::Check(const MarkupDocument& d) {
  if (d.segments_.empty()) return "no record table";
  const std::string& text = d.text_;
  const uint64_t n = text.size();
  const uint32_t limit = d.next_unused_;
  if (limit > d.capacity_) return "next unused index beyond the table";
  const ElementRecord& doc = d.Rec(0);
  if (doc.length != n) return "document length " + std::to_string(doc.length) + " != " + std::to_string(n);
  if (doc.parent != 0 || doc.next_sibling != 0) return "record 0 has a parent or sibling";

  std::vector<char> seen(limit, 0);
  seen[0] = 1;
  uint64_t live = 1;
  // Iterative pre-order walk over the tree, checking each parent's children.
  std::vector<uint32_t> pending{0};
  while (!pending.empty()) {
    const uint32_t p = pending.back();
    pending.pop_back();
    const uint64_t content_begin = d.ContentBegin(p);
    const uint64_t content_end = d.ContentEnd(p);
    const uint32_t first = d.Rec(p).first_child;
    uint32_t prev = 0;
    uint64_t prev_end = content_begin;
    for (uint32_t c = first; c != 0; c = d.Rec(c).next_sibling) {
      if (c >= limit) return Fault(p, "child index out of range");
      if (seen[c]) return Fault(c, "reached twice");
      seen[c] = 1;
      ++live;
      const ElementRecord& r = d.Rec(c);
      if (r.Has(ElementRecord::kDeleted)) return Fault(c, "deleted record in the tree");
      if (r.parent != p) return Fault(c, "parent link");
      if (r.Has(ElementRecord::kFirstChild) != (c == first)) return Fault(c, "first-child mark");
      if (c != first && r.prev_sibling != prev) return Fault(c, "previous-sibling link");
      if (r.next_sibling == 0 && d.Rec(first).prev_sibling != c) {
        return Fault(c, "first child does not point at the last child");
      }
      const uint32_t level = p == 0 ? 0 : d.Rec(p).Level() + 1;
      if (r.Level() != std::min(level, ElementRecord::kLevelMax)) return Fault(c, "level");
      const uint64_t start = r.start;
      const uint64_t end = start + r.length;
      const uint64_t start_tag = d.StartTagLength(c);
      const uint64_t end_tag = d.EndTagLength(c);
      if (start < prev_end || end > content_end) {
        return Fault(c, "lies outside its parent's content or overlaps its sibling");
      }
      if (start_tag < 3 || start_tag + end_tag > r.length) return Fault(c, "tag lengths");
      if (text[start] != '<' || text[start + start_tag - 1] != '>') {
        return Fault(c, "start tag not delimited by < and >");
      }
      if (end_tag > 0) {
        if (end_tag < 3 || text.compare(end - end_tag, 2, "</") != 0 || text[end - 1] != '>') {
          return Fault(c, "end tag not delimited by </ and >");
        }
      } else if (r.length != start_tag) {
        return Fault(c, "element without end tag is longer than its start tag");
      }
      if (end_tag == 0 && r.first_child != 0) return Fault(c, "children without an end tag");
      prev = c;
      prev_end = end;
      pending.push_back(c);
    }
  }

  uint64_t free_count = 0;
  for (uint32_t f = d.free_head_; f != 0; f = d.Rec(f).next_sibling) {
    if (f >= limit) return Fault(f, "free-list index out of range");
    if (seen[f]) return Fault(f, "on the free list and in the tree, or on it twice");
    seen[f] = 1;
    if (!d.Rec(f).Has(ElementRecord::kDeleted)) return Fault(f, "free record not marked deleted");
    ++free_count;
  }
  if (live + free_count != limit) {
    return "records lost: " + std::to_string(limit - live - free_count) + " neither live nor free";
  }

  auto live_record = [&](uint32_t i) { return i < limit && !d.Rec(i).Has(ElementRecord::kDeleted); };
  if (!live_record(d.parent_) || !live_record(d.current_) || !live_record(d.child_)) {
    return "position on a deleted record";
  }
  if (d.current_ != 0 && d.Rec(d.current_).parent != d.parent_) return "current element not a child of the parent";
  if (d.child_ != 0 && (d.current_ == 0 || d.Rec(d.child_).parent != d.current_)) {
    return "current child not a child of the current element";
  }
  for (const auto& saved : d.saved_) {
    if (!live_record(saved.index)) return "saved position on a deleted record";
  }
  return {};
}

std::string CheckConsistency(const MarkupDocument& document) {
  return DocumentInspector::Check(document);
}

}  // namespace markup::detail
