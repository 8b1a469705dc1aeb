// Fuzz target for the configuration documents: loads the input as a table and
// as a single record, iterates the records of every kind, reads every item,
// then writes a few items chosen by the input's first bytes and merges the
// record back into the table.  The markup record tables are checked against
// their texts after the edits.
//
// Input layout: byte 0 = number n of operation bytes; bytes 1..n choose the
// items and values written; the rest is the document text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "markup/detail/MarkupConsistency.h"
#include "threshold/documents/ConfigDocument.h"
#include "threshold/documents/Records.h"

namespace {

constexpr std::string_view kTags[] = {"Rule",   "RuleSet", "Event",     "Resource",
                                      "Target", "Report",  "ReportSet", "Threshold"};
constexpr std::string_view kTexts[] = {"", "v", "<&>\"'", "read-only", "12:30", "1/2/2003"};
constexpr int64_t kValues[] = {0, 1, -1, 4, 1440, 1441, 2147483647, 1167616800};

void Check(const MarkupDocument& doc, const char* where) {
  const std::string fault = markup::detail::CheckConsistency(doc);
  if (!fault.empty()) {
    std::fprintf(stderr, "%s: %s\n", where, fault.c_str());
    std::abort();
  }
}

void ReadEverything(RecordDocument& record) {
  for (const records::RecordItem* item : records::AllItems()) {
    (void)record.ItemText(*item);
    (void)record.ItemValue(*item);
    (void)record.ColumnValue(*item);
  }
  (void)records::RuleSetRecord(record).MemberNames();
  (void)records::ReportSetRecord(record).MemberName(1);
  (void)record.RecordTag();
  RecordDocument event;
  records::ThresholdRecord(record).CopyEvent(&event);
  (void)records::EventRecord(event).Severity();
}

void WriteSome(RecordDocument& record, const uint8_t* ops, size_t count) {
  const auto items = records::AllItems();
  for (size_t i = 0; i + 1 < count; i += 2) {
    const records::RecordItem& item = *items[ops[i] % items.size()];
    const uint8_t choice = ops[i + 1];
    if (choice & 0x80) {
      record.SetItemText(item, kTexts[choice % std::size(kTexts)]);
    } else {
      record.SetItemValue(item, kValues[choice % std::size(kValues)]);
    }
    if (choice & 0x40) records::RuleSetRecord(record).AddMember(kTexts[choice % std::size(kTexts)]);
    if (choice & 0x20) records::ReportSetRecord(record).RemoveMember("v");
    Check(record, "record after a write");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t op_count = std::min<size_t>(data[0], size - 1);
  const uint8_t* ops = data + 1;
  const std::string_view text(reinterpret_cast<const char*>(data + 1 + op_count),
                              size - 1 - op_count);

  ConfigDocument table(text);
  (void)table.ModifiedTime();
  for (std::string_view tag : kTags) {
    RecordDocument record;
    int records_seen = 0;
    for (bool more = table.FindFirstRecord(tag, &record); more && records_seen < 64;
         more = table.FindNextRecord(tag, &record), ++records_seen) {
      ReadEverything(record);
    }
    if (records_seen > 0) {
      WriteSome(record, ops, op_count);
      ReadEverything(record);
      (void)table.FindMatchingRecord(record);
      table.MergeRecord(record);
      Check(table, "table after a merge");
    }
  }

  RecordDocument single;
  single.LoadText(text);
  ReadEverything(single);
  WriteSome(single, ops, op_count);
  ReadEverything(single);
  table.MergeRecord(single);
  Check(table, "table after merging the input");
  return 0;
}
