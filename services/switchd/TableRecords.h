// Walking the records of a configuration table, shared by the rule engine and
// the report recorder.
//
//   ForEachRecord<records::RuleRecord>(module.TableDocument(0x311),
//                                      [&](records::RuleRecord& rule) { ... });
#pragma once

#include <string>

#include "threshold/documents/ConfigDocument.h"
#include "threshold/documents/RecordDocument.h"

namespace switchd {

// Calls `visit` with a view of every record of View::kTag in a table
// document, in document order (the walk ends at the first element of
// another kind, as the agent's loader does).
template <typename View, typename Visit>
void ForEachRecord(const std::string& text, Visit visit) {
  ConfigDocument table(text);
  RecordDocument record;
  for (bool more = table.FindFirstRecord(View::kTag, &record); more;
       more = table.FindNextRecord(View::kTag, &record)) {
    View view(record);
    visit(view);
  }
}

}  // namespace switchd
