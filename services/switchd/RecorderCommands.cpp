// switchctl reports / records: listings of the recorder's reports and records.
#include "services/switchd/RecorderCommands.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "services/switchd/RecordText.h"

namespace switchd {

namespace {

ControlAnswer Failure(std::string why) {
  ControlAnswer answer;
  answer.ok = false;
  answer.error = std::move(why);
  return answer;
}

ControlAnswer NoRecorder() { return Failure("the report recorder is not running"); }

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

std::string State(const ReportSummary& report, const RecorderStatus& status) {
  if (!report.recording) return "idle";
  if (status.stopped) return "stopped";
  return report.last_failed ? "failing" : "recording";
}

std::string StateMeaning(const std::string& state) {
  if (state == "idle") return "idle (no enabled report set holding it is inside its hours)";
  if (state == "stopped") return "stopped (the records cannot be written)";
  if (state == "failing") return "failing (recording, but the last read failed)";
  return state;
}

// A CSV field: quoted when it holds a separator, a quote or a line break.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

bool PositiveNumber(const std::string& text, DWORD* value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size() && *value > 0;
}

constexpr char kRecordsUsage[] =
    "usage: records REPORT [--from N] [--since TIME] [--last N] [--csv]";

}  // namespace

ControlAnswer ReportsCommand(const Recorder* recorder, const std::vector<std::string>& words) {
  if (words.size() > 2) return Failure("usage: reports [REPORT]");
  if (recorder == nullptr) return NoRecorder();
  const RecorderStatus status = recorder->Status();
  ControlAnswer answer;
  if (words.size() == 2) {
    const std::optional<ReportSummary> report = recorder->Summary(words[1]);
    if (!report) return Failure("no report named " + Quoted(words[1]));
    const RecordStore& store = recorder->Store();
    answer.lines = {
        "report " + report->name,
        "description " + report->description,
        "resource " + report->resource,
        "unit " + report->unit,
        "interval " + std::to_string(report->interval_seconds) + " s",
        "keep " + std::to_string(report->keep),
        "records " + std::to_string(report->records),
        "failed-reads " + std::to_string(report->failed_reads),
        "last-error " + report->last_error,
        "state " + StateMeaning(State(*report, status)),
        "last-value " + report->current_value.value_or(""),
    };
    if (report->records > 0) {
      answer.lines.push_back("oldest " + store.Text(report->name, 1).value_or(""));
      answer.lines.push_back("newest " + store.Text(report->name, report->records).value_or(""));
    }
    return answer;
  }

  const std::vector<ReportSummary> reports = recorder->Summaries();
  std::vector<std::vector<std::string>> rows = {{"REPORT", "RECORDS", "FAILED", "STATE", "LAST"}};
  for (const ReportSummary& report : reports) {
    rows.push_back({report.name, std::to_string(report.records),
                    std::to_string(report.failed_reads), State(report, status),
                    report.current_value.value_or("-")});
  }
  std::vector<size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  for (const auto& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      // Names and texts left-aligned, counts right-aligned; the last column unpadded.
      const bool number = i == 1 || i == 2;
      const std::string pad(widths[i] - row[i].size(), ' ');
      if (i + 1 == row.size()) {
        line += row[i];
      } else {
        line += (number ? pad + row[i] : row[i] + pad) + "  ";
      }
    }
    answer.lines.push_back(line);
  }
  return answer;
}

ControlAnswer RecordsCommand(const Recorder* recorder, const Clock& clock,
                             const std::vector<std::string>& words) {
  if (words.size() < 2) return Failure(kRecordsUsage);
  const std::string& name = words[1];
  std::optional<DWORD> from;
  std::optional<DWORD> last;
  std::optional<std::string> since;
  std::string since_argument;
  bool csv = false;
  for (size_t i = 2; i < words.size(); ++i) {
    const std::string& option = words[i];
    const bool has_value = i + 1 < words.size();
    if (option == "--csv") {
      csv = true;
    } else if ((option == "--from" || option == "--last") && has_value) {
      DWORD value = 0;
      if (!PositiveNumber(words[++i], &value)) {
        return Failure(option + " takes a record number from 1 on, not " + Quoted(words[i]));
      }
      (option == "--from" ? from : last) = value;
    } else if (option == "--since" && has_value) {
      since_argument = words[++i];
      since = SinceText(since_argument, clock);
      if (!since) {
        return Failure(
            "--since takes YYYY-MM-DD, YYYY-MM-DDThh:mm[:ss] or a span back from now "
            "such as 90s, 30m, 2h or 7d, not " +
            Quoted(since_argument));
      }
    } else {
      return Failure(kRecordsUsage);
    }
  }
  if (from && since) return Failure("--from and --since both choose the first record: use one");
  if (recorder == nullptr) return NoRecorder();

  const std::optional<ReportSummary> report = recorder->Summary(name);
  if (!report) return Failure("no report named " + Quoted(name));
  const RecordStore& store = recorder->Store();
  const DWORD count = store.Count(name);
  if (count == 0) {
    std::string why = "report " + Quoted(name) + " has no records";
    if (report->last_failed) {
      why += ": its last read failed: " + report->last_error;
    } else if (!report->recording) {
      why += ": no enabled report set holding it is inside its hours";
    }
    return Failure(why);
  }
  DWORD first = 1;
  if (from) {
    if (*from > count) {
      return Failure("--from " + std::to_string(*from) + " is past the end: report " +
                     Quoted(name) + " has " + std::to_string(count) + " records");
    }
    first = *from;
  }
  if (since) {
    first = store.FirstNotBefore(name, *since);
    if (first > count) {
      return Failure("report " + Quoted(name) + " has no record since " + since_argument +
                     " (the newest is " + store.Text(name, count).value_or("gone") + ")");
    }
  }
  if (last && *last < count - first + 1) first = count - *last + 1;

  ControlAnswer answer;
  if (csv) answer.lines.push_back("number,time,instance,value,unit");
  for (const StoredRecord& record : store.Range(name, first, count - first + 1)) {
    const std::string number = std::to_string(record.number);
    if (!csv) {
      answer.lines.push_back(number + " " + record.text);
      continue;
    }
    const std::optional<ParsedRecord> parsed = ParseRecord(record.text);
    if (!parsed) {
      answer.lines.push_back(number + ",,,,");
      continue;
    }
    for (const RecordValue& value : parsed->values) {
      answer.lines.push_back(number + "," + parsed->time + "," + CsvField(value.name) + "," +
                             std::to_string(value.value) + "," + CsvField(parsed->unit));
    }
  }
  return answer;
}

std::string RecorderStatusLine(const Recorder& recorder) {
  const RecorderStatus status = recorder.Status();
  const std::vector<std::string> reports = recorder.Store().Reports();
  uint64_t records = 0;
  for (const std::string& report : reports) records += recorder.Store().Count(report);
  std::string line = "recorder " + status.database + " records " + std::to_string(records);
  if (status.stopped) {
    line += " stopped: " + status.reason;
  } else {
    line += " writing";
  }
  if (status.lost_records > 0) line += " lost " + std::to_string(status.lost_records);
  return line;
}

}  // namespace switchd
