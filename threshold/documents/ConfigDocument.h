// A whole configuration table as exchanged with the threshold module: one
// root element named by the table's collection tag ("Rules", "RuleSets", ...)
// whose children are the records.  The document carries a lock of its own:
// every operation below takes it for its duration, and a caller that needs
// several steps to stay together (an iteration with FindFirstRecord and
// FindNextRecord while another thread may merge) holds Lock() around them.
//
//   ConfigDocument table(reply_text);
//   RecordDocument record;
//   for (bool more = table.FindFirstRecord("Rule", &record); more;
//        more = table.FindNextRecord("Rule", &record)) {
//     Register(records::RuleRecord(record));
//   }
#pragma once

#include <cstdint>
#include <mutex>
#include <string_view>

#include "markup/MarkupDocument.h"
#include "threshold/documents/RecordDocument.h"

class ConfigDocument : public MarkupDocument {
 public:
  ConfigDocument() = default;
  explicit ConfigDocument(std::string_view text) : MarkupDocument(text) {}
  ConfigDocument(const ConfigDocument&) = delete;
  ConfigDocument& operator=(const ConfigDocument&) = delete;
  ~ConfigDocument() = default;

  // The document's lock (re-entrant), for callers that combine operations.
  std::unique_lock<std::recursive_mutex> Lock() const {
    return std::unique_lock<std::recursive_mutex>(mutex_);
  }

  // Makes the root's first child of that tag the current element and loads
  // its markup into *record.  False (record untouched) when there is none.
  // The root's own name is not checked.
  bool FindFirstRecord(std::string_view tag, RecordDocument* record);
  // Moves to the next sibling of the current element; succeeds only when it
  // has that tag, then loads it into *record.  An iteration thus ends at the
  // first sibling of another tag.
  bool FindNextRecord(std::string_view tag, RecordDocument* record);

  // The root's "Modified" attribute as seconds since 1970, read as local
  // time; 0 when missing or unparsable.  The caller's position is kept.
  int64_t ModifiedTime();

  // Replaces the content by an empty root element of that tag and resets the
  // position; true when the result is well-formed with that root.
  bool ResetDocument(std::string_view collection_tag);

  // Finds, among the root's children of the record's tag, the first whose
  // values of every attribute of the record's root equal the record's (a
  // missing attribute compares as ""); a record without attributes matches
  // nothing.  On success the match is the current element; otherwise the
  // caller's position is kept.  The record's position is kept.
  bool FindMatchingRecord(RecordDocument& record);

  // Puts the record into the table: in place of the matching record (which
  // keeps its place) or, without a match, as the root's last child.  False,
  // with nothing changed, when the record or the table has no root element
  // or the record's markup is not one well-formed element.  The caller's
  // position is kept where it still exists, else reset.
  bool MergeRecord(RecordDocument& record);

 private:
  struct RecordKey;
  bool FindMatch(const RecordKey& key);

  mutable std::recursive_mutex mutex_;
};
