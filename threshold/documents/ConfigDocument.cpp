// Record search, copying and merging in a configuration table.
#include "threshold/documents/ConfigDocument.h"

#include <string>
#include <utility>
#include <vector>

#include "threshold/documents/Formats.h"
#include "threshold/documents/detail/PositionGuard.h"

using records::detail::PositionGuard;

// What identifies a record: its tag and the values of its root's attributes.
struct ConfigDocument::RecordKey {
  std::string tag;
  std::vector<std::pair<std::string, std::string>> attributes;
  std::string markup;  // the root element's markup

  // Reads the key of the record's root; false when it has none.
  bool Read(RecordDocument& record) {
    PositionGuard guard(record);
    if (!record.NextElement()) return false;
    tag = record.TagName();
    markup = record.ElementMarkup();
    for (int n = 0;; ++n) {
      std::string name = record.AttributeName(n);
      if (name.empty()) break;
      std::string value = record.ElementAttribute(name);
      attributes.emplace_back(std::move(name), std::move(value));
    }
    return true;
  }
};

bool ConfigDocument::FindFirstRecord(std::string_view tag, RecordDocument* record) {
  const auto lock = Lock();
  ResetPosition();
  if (!NextElement() || !EnterElement() || !NextElement(tag)) return false;
  record->LoadElementOf(*this);
  return true;
}

bool ConfigDocument::FindNextRecord(std::string_view tag, RecordDocument* record) {
  const auto lock = Lock();
  if (!NextElement() || TagName() != tag) return false;
  record->LoadElementOf(*this);
  return true;
}

int64_t ConfigDocument::ModifiedTime() {
  const auto lock = Lock();
  PositionGuard guard(*this);
  if (!NextElement()) return 0;
  return records::ParseModified(ElementAttribute("Modified"));
}

bool ConfigDocument::ResetDocument(std::string_view collection_tag) {
  const auto lock = Lock();
  LoadText({});
  AppendElement(collection_tag);
  ResetPosition();
  const bool sound = CheckWellFormed() && NextElement() && TagName() == collection_tag;
  ResetPosition();
  return sound;
}

// Moves to the first matching record below the root; expects nothing of the
// position and leaves it anywhere on failure.
bool ConfigDocument::FindMatch(const RecordKey& key) {
  if (key.attributes.empty()) return false;
  ResetPosition();
  if (!NextElement() || !EnterElement()) return false;
  while (NextElement(key.tag)) {
    bool equal = true;
    for (const auto& [name, value] : key.attributes) {
      if (ElementAttribute(name) != value) {
        equal = false;
        break;
      }
    }
    if (equal) return true;
  }
  return false;
}

bool ConfigDocument::FindMatchingRecord(RecordDocument& record) {
  RecordKey key;
  if (!key.Read(record)) return false;
  const auto lock = Lock();
  SavePosition();
  if (FindMatch(key)) return true;
  if (!RestorePosition()) ResetPosition();
  return false;
}

bool ConfigDocument::MergeRecord(RecordDocument& record) {
  RecordKey key;
  if (!key.Read(record)) return false;
  // Checked up front: the markup operations insert a text even when it does
  // not parse as one element, and the table must stay as it was then.
  if (!MarkupDocument(key.markup).CheckWellFormed()) return false;

  const auto lock = Lock();
  PositionGuard guard(*this);
  if (FindMatch(key)) {
    // The new version goes in front of the old one, which then follows it.
    if (!InsertMarkup(key.markup)) return false;
    return NextElement() && RemoveElement();
  }
  ResetPosition();
  return NextElement() && AppendChildMarkup(key.markup);
}
