// Threshold module: table files, commands and store semantics.
#include "services/switchd/ThresholdModule.h"

#include <cstring>
#include <ctime>

#include "platform/system/Paths.h"
#include "services/switchd/Log.h"
#include "switch/CommandBuffer.h"
#include "switch/SwitchProtocol.h"
#include "threshold/documents/ConfigDocument.h"
#include "threshold/documents/RecordDocument.h"
#include "threshold/documents/Records.h"

namespace switchd {

namespace sp = switch_protocol;

namespace {

// Texts arrive with their terminating NUL; whatever follows it is not part of
// the text.
std::string_view UpToNul(std::string_view data) {
  const size_t end = data.find('\0');
  return end == std::string_view::npos ? data : data.substr(0, end);
}

std::vector<BYTE> TextBytes(std::string_view text) {
  std::vector<BYTE> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

bool IsBlank(std::string_view text) {
  return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

ModuleReply Byte(BYTE value) {
  ModuleReply reply;
  reply.data.push_back(value);
  return reply;
}

ModuleReply Status(DWORD stat) {
  ModuleReply reply;
  reply.stat = stat;
  return reply;
}

records::RecordItem NameItem(std::string_view tag) {
  return records::RecordItem{.record = tag, .attribute = "Name"};
}

records::RecordItem AccessItem(std::string_view tag) {
  return records::RecordItem{.record = tag, .child = "Access", .form = records::ItemForm::kAccess};
}

// The names of the current element's attributes, in document order.
std::vector<std::string> AttributeNames(const MarkupDocument& doc) {
  std::vector<std::string> names;
  for (int n = 0;; ++n) {
    std::string name = doc.AttributeName(n);
    if (name.empty()) break;
    names.push_back(std::move(name));
  }
  return names;
}

// A reference from a record to a record of another table.
struct Reference {
  records::RecordItem item;
  DWORD table;
  const char* what;
};

const Reference kRuleReferences[] = {
    {records::kRuleResourceName, sp::kTableResources, "resource"},
    {records::kRuleTargetName, sp::kTableTargets, "target"},
    {records::kRuleEventName, sp::kTableEvents, "event"},
};
const Reference kReportReferences[] = {
    {records::kReportResourceName, sp::kTableResources, "resource"},
    {records::kReportTargetName, sp::kTableTargets, "target"},
};

// A warning for a table file that holds an element of another kind between
// two of its records, "" when it holds none.  Readers of a table take its
// records up to the first such element, so the records behind it are not seen.
std::string ForeignElementWarning(const TableInfo& table, const std::string& path,
                                  const std::string& text) {
  if (text.empty()) return {};
  MarkupDocument doc(text);
  doc.ResetPosition();
  if (!doc.NextElement()) return {};
  bool after_record = false;
  std::string foreign;
  while (doc.NextChildElement()) {
    const std::string tag = doc.ChildTagName();
    if (tag != table.record) {
      if (after_record && foreign.empty()) foreign = tag;
      continue;
    }
    if (!foreign.empty()) {
      return path + ": the element <" + foreign + "> stands between the " +
             std::string(table.record) + " records; clients read the records only up to it";
    }
    after_record = true;
  }
  return {};
}

class RecordApplier {
 public:
  RecordApplier(const TableInfo& table, ConfigDocument& candidate, std::string* reason)
      : table_(table), candidate_(candidate), reason_(reason) {}

  // Applies one record of a store to the candidate table; a status.  *name
  // is the record's name, *kept whether the record is in the table after.
  DWORD Apply(RecordDocument& sent, std::string* name, bool* kept) {
    *kept = false;
    *name = sent.ItemText(NameItem(table_.record));
    if (name->empty()) return Refuse(cmd_status::kInvalidSetValue, "a record without a Name");

    sent.ResetPosition();
    sent.NextElement();
    for (const std::string& attribute : AttributeNames(sent)) {
      // Records are matched by all their root attributes; only the name may be there.
      if (attribute != "Name") {
        return Refuse(cmd_status::kInvalidSetValue,
                      "record \"" + *name + "\" carries the attribute " + attribute);
      }
    }
    const bool only_name = sent.CarriesOnlyName();

    RecordDocument key(table_.record, *name);
    RecordDocument stored;
    const bool exists = candidate_.FindMatchingRecord(key);
    if (exists) {
      stored.LoadText(candidate_.ElementMarkup());
      if (stored.ItemValue(AccessItem(table_.record)) != 0) {
        return Refuse(cmd_status::kObjectReadOnly, "record \"" + *name + "\" is read-only");
      }
    }
    if (only_name) {
      if (exists && !candidate_.RemoveElement()) {
        return Refuse(cmd_status::kCommandFailed, "cannot remove \"" + *name + "\"");
      }
      return cmd_status::kSuccess;
    }
    *kept = true;
    // A new record is built item by item too, so that it passes the same checks.
    if (!exists) stored = RecordDocument(table_.record, *name);
    const DWORD status = ChangeItems(sent, stored, *name);
    if (status != cmd_status::kSuccess) return status;
    if (exists ? !candidate_.MergeRecord(stored) : !PlaceNewRecord(stored)) {
      return Refuse(cmd_status::kCommandFailed, "cannot store \"" + *name + "\"");
    }
    return cmd_status::kSuccess;
  }

 private:
  DWORD Refuse(DWORD status, std::string why) {
    *reason_ = std::move(why);
    return status;
  }

  // A new record goes right behind the last record of its kind (or last in
  // the table when there is none): readers of the table take its records up
  // to the first element of another kind, and would not see a record put
  // behind foreign elements at the end.
  bool PlaceNewRecord(RecordDocument& record) {
    record.ResetPosition();
    if (!record.NextElement()) return false;
    const std::string markup = record.ElementMarkup();
    candidate_.ResetPosition();
    if (!candidate_.NextElement()) return false;
    while (candidate_.NextChildElement(table_.record)) {
    }
    return candidate_.AppendChildMarkup(markup);
  }

  bool Write(RecordDocument& stored, std::string_view child, std::string_view grandchild,
             std::string_view attribute, std::string_view value) {
    const records::RecordItem item{
        .record = table_.record, .child = child, .grandchild = grandchild, .attribute = attribute};
    return stored.SetItemText(item, value);
  }

  // Copies every attribute and text that `sent` carries onto `stored`; the
  // member list of a set is replaced by the one sent.
  DWORD ChangeItems(RecordDocument& sent, RecordDocument& stored, const std::string& name) {
    const std::string bad = "record \"" + name + "\": cannot store ";
    std::vector<std::string> members;
    sent.ResetPosition();
    sent.NextElement();
    bool has_children = false;
    while (sent.NextChildElement()) {
      has_children = true;
      const std::string child = sent.ChildTagName();
      if (!table_.member.empty() && child == table_.member) {
        members.push_back(sent.ChildElementAttribute("Name"));
        continue;
      }
      sent.EnterElement();
      const std::vector<std::string> attributes = AttributeNames(sent);
      for (const std::string& attribute : attributes) {
        if (!Write(stored, child, {}, attribute, sent.ElementAttribute(attribute))) {
          return Refuse(cmd_status::kInvalidSetValue, bad + child + "[" + attribute + "]");
        }
      }
      bool has_grandchildren = false;
      while (sent.NextChildElement()) {
        has_grandchildren = true;
        const std::string grandchild = sent.ChildTagName();
        sent.EnterElement();
        if (sent.NextChildElement()) {
          return Refuse(cmd_status::kInvalidSetValue,
                        bad + child + "/" + grandchild + ": elements nest too deep");
        }
        const std::vector<std::string> inner = AttributeNames(sent);
        for (const std::string& attribute : inner) {
          if (!Write(stored, child, grandchild, attribute, sent.ElementAttribute(attribute))) {
            return Refuse(cmd_status::kInvalidSetValue,
                          bad + child + "/" + grandchild + "[" + attribute + "]");
          }
        }
        const std::string text = sent.ElementText();
        if ((!text.empty() || inner.empty()) && !Write(stored, child, grandchild, {}, text)) {
          return Refuse(cmd_status::kInvalidSetValue, bad + child + "/" + grandchild);
        }
        sent.LeaveElement();
      }
      // An element that only carries attributes leaves the stored text alone.
      const std::string text = sent.ElementText();
      if (!has_grandchildren && (!text.empty() || attributes.empty()) &&
          !Write(stored, child, {}, {}, text)) {
        return Refuse(cmd_status::kInvalidSetValue, bad + child);
      }
      sent.LeaveElement();
    }
    if (!has_children) {
      const std::string text = sent.ElementText();
      if (!IsBlank(text) && !Write(stored, {}, {}, {}, text)) {
        return Refuse(cmd_status::kInvalidSetValue, bad + "the record's text");
      }
    }
    if (!table_.member.empty()) {
      for (const std::string& old : stored.MemberNames(table_.record, table_.member)) {
        stored.RemoveMember(table_.record, table_.member, old);
      }
      for (const std::string& member : members) {
        stored.AddMember(table_.record, table_.member, member);
      }
    }
    return cmd_status::kSuccess;
  }

  const TableInfo& table_;
  ConfigDocument& candidate_;
  std::string* reason_;
};

}  // namespace

ThresholdModule::ThresholdModule(std::string data_dir) : data_dir_(std::move(data_dir)) {
  for (const TableInfo& table : Tables()) Keep(table, "");
}

void ThresholdModule::Keep(const TableInfo& table, std::string text, MarkupDocument* parsed) {
  texts_[table.code] = std::move(text);
  std::set<std::string, std::less<>>& names = names_[table.code];
  names.clear();
  std::optional<MarkupDocument> own;
  if (parsed == nullptr) parsed = &own.emplace(ServedText(table));
  // The records a client reads (ConfigDocument::FindFirstRecord and
  // FindNextRecord: the root's first run of children of the record's tag),
  // named in place rather than each loaded into a document of its own.
  MarkupDocument& doc = *parsed;
  doc.ResetPosition();
  if (!doc.NextElement() || !doc.EnterElement() || !doc.NextElement(table.record)) return;
  do {
    names.insert(doc.ElementAttribute("Name"));
  } while (doc.NextElement() && doc.TagName() == table.record);
}

bool ThresholdModule::ParseTable(const TableInfo& table, const std::string& text,
                                 std::string* reason) const {
  if (text.empty()) return true;
  ConfigDocument doc(text);
  if (!doc.CheckWellFormed()) {
    *reason = "not well-formed: " + doc.ResultText();
    return false;
  }
  doc.ResetPosition();
  doc.NextElement();
  if (doc.TagName() != table.collection) {
    *reason =
        "the root element is <" + doc.TagName() + ">, not <" + std::string(table.collection) + ">";
    return false;
  }
  return true;
}

bool ThresholdModule::Load(std::string* error, std::vector<std::string>* warnings) {
  if (!platform::MakeDirectories(data_dir_)) {
    *error = "cannot create the data directory " + data_dir_;
    return false;
  }
  RemoveStaleTemporaries(data_dir_);
  std::map<DWORD, std::string> loaded;
  for (const TableInfo& table : Tables()) {
    const std::string path = data_dir_ + "/" + std::string(table.file);
    std::string text;
    bool missing = false;
    if (!ReadWholeFile(path, &text, &missing)) {
      if (!missing) {
        *error = "cannot read " + path;
        return false;
      }
      text.clear();
    }
    std::string reason;
    if (!ParseTable(table, text, &reason)) {
      *error = path + ": " + reason;
      return false;
    }
    std::string warning = ForeignElementWarning(table, path, text);
    if (warnings != nullptr && !warning.empty()) warnings->push_back(std::move(warning));
    loaded[table.code] = std::move(text);
  }
  std::lock_guard lock(mutex_);
  for (const TableInfo& table : Tables()) Keep(table, std::move(loaded[table.code]));
  return true;
}

std::vector<DWORD> ThresholdModule::Reload(std::vector<std::string>* problems,
                                           std::vector<std::string>* warnings) {
  std::vector<DWORD> changed = ReloadUnannounced(problems, warnings);
  for (const DWORD table : changed) Announce(table);
  return changed;
}

std::vector<DWORD> ThresholdModule::ReloadUnannounced(std::vector<std::string>* problems,
                                                      std::vector<std::string>* warnings) {
  std::vector<DWORD> changed;
  std::lock_guard lock(mutex_);
  for (const TableInfo& table : Tables()) {
    const std::string path = data_dir_ + "/" + std::string(table.file);
    std::string text;
    bool missing = false;
    if (!ReadWholeFile(path, &text, &missing)) {
      if (!missing) {
        problems->push_back("cannot read " + path);
        continue;
      }
      text.clear();
    }
    if (text == texts_[table.code]) continue;
    std::string reason;
    if (!ParseTable(table, text, &reason)) {
      problems->push_back(path + ": " + reason + "; the table stays as it was");
      continue;
    }
    std::string warning = ForeignElementWarning(table, path, text);
    if (warnings != nullptr && !warning.empty()) warnings->push_back(std::move(warning));
    Keep(table, std::move(text));
    changed.push_back(table.code);
  }
  return changed;
}

std::string ThresholdModule::ServedText(const TableInfo& table) const {
  const std::string& text = texts_.at(table.code);
  if (!text.empty()) return text;
  return "<" + std::string(table.collection) + "/>";
}

std::string ThresholdModule::TableDocument(DWORD table) {
  const TableInfo* info = FindTable(table);
  if (info == nullptr) return {};
  std::lock_guard lock(mutex_);
  return ServedText(*info);
}

bool ThresholdModule::Exists(DWORD table, std::string_view name) const {
  const auto names = names_.find(table);
  return !name.empty() && names != names_.end() && names->second.contains(name);
}

std::optional<std::string> ThresholdModule::RecordMarkup(DWORD table, std::string_view name) const {
  const TableInfo* info = FindTable(table);
  if (info == nullptr || name.empty()) return std::nullopt;
  ConfigDocument doc(ServedText(*info));
  RecordDocument key(info->record, name);
  if (!doc.FindMatchingRecord(key)) return std::nullopt;
  return doc.ElementMarkup();
}

std::vector<TableSummary> ThresholdModule::Summaries() {
  std::vector<TableSummary> summaries;
  std::lock_guard lock(mutex_);
  for (const TableInfo& table : Tables()) {
    ConfigDocument doc(ServedText(table));
    RecordDocument record;
    size_t count = 0;
    for (bool more = doc.FindFirstRecord(table.record, &record); more;
         more = doc.FindNextRecord(table.record, &record)) {
      ++count;
    }
    doc.ResetPosition();
    doc.NextElement();
    summaries.push_back(
        {&table, count, doc.ElementAttribute("Modified"), !texts_.at(table.code).empty()});
  }
  return summaries;
}

void ThresholdModule::SetSettings(const SettingValues& values) {
  std::lock_guard lock(mutex_);
  settings_ = values;
}

SettingValues ThresholdModule::CurrentSettings() {
  std::lock_guard lock(mutex_);
  return settings_;
}

void ThresholdModule::AddChangeListener(std::function<void(DWORD table)> listener) {
  listeners_.push_back(std::move(listener));
}

void ThresholdModule::Announce(DWORD table) const {
  for (const auto& listener : listeners_) listener(table);
}

DWORD ThresholdModule::Store(DWORD table, std::string_view document, std::string* reason) {
  const DWORD status = StoreUnannounced(table, document, reason);
  if (status == cmd_status::kSuccess) Announce(table);
  return status;
}

DWORD ThresholdModule::StoreUnannounced(DWORD table, std::string_view document,
                                        std::string* reason) {
  ++store_requests_;
  const TableInfo* info = FindTable(table);
  DWORD status = cmd_status::kInvalidSetValue;
  if (info == nullptr) {
    *reason = "no table has the code " + std::to_string(table);
  } else {
    status = ApplyStore(*info, document, reason);
  }
  if (status != cmd_status::kSuccess) {
    ++store_refusals_;
    const std::string what =
        info == nullptr ? "table " + std::to_string(table) : std::string(info->collection);
    Log(LogLevel::kWarning,
        "store to " + what + " refused (status " + std::to_string(status) + "): " + *reason);
    std::lock_guard lock(mutex_);
    last_refusal_ = FormatModified(std::time(nullptr)) + " " + what + ": " + *reason;
    return status;
  }
  ChangeListener listener;
  {
    std::lock_guard lock(mutex_);
    listener = change_listener_;
  }
  if (listener) listener(table);
  return status;
}

std::string ThresholdModule::LastRefusal() const {
  std::lock_guard lock(mutex_);
  return last_refusal_;
}

void ThresholdModule::AddStoreCheck(StoreCheck check) {
  std::lock_guard lock(mutex_);
  store_checks_.push_back(std::move(check));
}

void ThresholdModule::SetChangeListener(ChangeListener listener) {
  std::lock_guard lock(mutex_);
  change_listener_ = std::move(listener);
}

DWORD ThresholdModule::ApplyStore(const TableInfo& table_info, std::string_view document,
                                  std::string* reason) {
  const TableInfo* info = &table_info;
  ConfigDocument sent(UpToNul(document));
  if (!sent.CheckWellFormed()) {
    *reason = "the document is not well-formed: " + sent.ResultText();
    return cmd_status::kInvalidSetValue;
  }
  sent.ResetPosition();
  sent.NextElement();
  if (sent.TagName() != info->collection) {
    *reason = "the document's root is <" + sent.TagName() + ">, not <" +
              std::string(info->collection) + ">";
    return cmd_status::kInvalidSetValue;
  }

  std::lock_guard lock(mutex_);
  ConfigDocument candidate(ServedText(*info));
  RecordApplier applier(*info, candidate, reason);
  std::vector<std::string> kept;
  bool changed = false;
  while (sent.NextChildElement()) {
    if (sent.ChildTagName() != info->record) {
      *reason = "<" + sent.ChildTagName() + "> is not a record of " + std::string(info->collection);
      return cmd_status::kInvalidSetValue;
    }
    RecordDocument record;
    record.LoadText(sent.ChildElementMarkup());
    std::string name;
    bool is_kept = false;
    const DWORD status = applier.Apply(record, &name, &is_kept);
    if (status != cmd_status::kSuccess) return status;
    if (is_kept) kept.push_back(name);
    changed = true;
  }
  if (!changed) return cmd_status::kSuccess;

  // References are checked on the records as they would be stored.
  for (const std::string& name : kept) {
    RecordDocument key(info->record, name);
    if (!candidate.FindMatchingRecord(key)) continue;
    RecordDocument record;
    record.LoadText(candidate.ElementMarkup());
    std::span<const Reference> references;
    if (info->code == sp::kTableRules) references = kRuleReferences;
    if (info->code == sp::kTableReports) references = kReportReferences;
    for (const Reference& reference : references) {
      const std::string target = record.ItemText(reference.item);
      if (!target.empty() && !Exists(reference.table, target)) {
        *reason =
            "record \"" + name + "\" names the missing " + reference.what + " \"" + target + "\"";
        return cmd_status::kInvalidSetValue;
      }
    }
    if (!info->member.empty()) {
      for (const std::string& member : record.MemberNames(info->record, info->member)) {
        if (!Exists(info->member_table, member)) {
          *reason = "set \"" + name + "\" names the missing " +
                    (info->member_table == sp::kTableRules ? "rule" : "report") + " \"" + member +
                    "\"";
          return cmd_status::kInvalidSetValue;
        }
      }
    }
  }

  if (!store_checks_.empty()) {
    const std::string candidate_text = candidate.DocumentText();
    const StoreCandidate shown{info->code, kept, [&](DWORD code) {
                                 if (code == info->code) return candidate_text;
                                 const TableInfo* other = FindTable(code);
                                 return other == nullptr ? std::string() : ServedText(*other);
                               }};
    for (const StoreCheck& check : store_checks_) {
      if (!check(shown, reason)) return cmd_status::kInvalidSetValue;
    }
  }

  candidate.ResetPosition();
  candidate.NextElement();
  candidate.SetAttribute("Modified", FormatModified(std::time(nullptr)));
  std::string text = candidate.DocumentText();
  if (!WriteFileAtomically(data_dir_, info->file, text, reason)) {
    return cmd_status::kCommandFailed;
  }
  // The candidate holds the stored text already parsed: the answer to the
  // store waits for this, so the table is not parsed a second time.
  Keep(*info, std::move(text), &candidate);
  return cmd_status::kSuccess;
}

ModuleReply ThresholdModule::Handle(const ModuleRequest& request) {
  const std::string name(UpToNul(request.data));
  switch (request.oc) {
    case sp::kOcReadConfiguration: {
      if (const TableInfo* table = FindTable(request.oe)) {
        ModuleReply reply;
        reply.data = TextBytes(TableDocument(table->code));
        return reply;
      }
      if (const auto index = SettingIndex(request.oe)) {
        ModuleReply reply;
        reply.data.push_back(CurrentSettings()[*index]);
        return reply;
      }
      return Status(cmd_status::kIllegalObject);
    }
    case sp::kOcStoreConfiguration: {
      std::string reason;
      ModuleReply reply = Status(Store(request.oe, request.data, &reason));
      if (reply.stat == cmd_status::kSuccess) reply.changed_table = request.oe;
      return reply;
    }
    case sp::kOcThresholdStatus:
    case sp::kOcPerformanceStatus: {
      const std::shared_ptr<const RuleState> rules = Rules();
      BYTE status = 0;
      if (rules) {
        status = request.oc == sp::kOcThresholdStatus ? rules->ThresholdStatus()
                                                      : rules->PerformanceStatus();
      }
      return Byte(status);
    }
    case sp::kOcRuleSetStatus:
    case sp::kOcReportSetStatus: {
      const bool rule_set = request.oc == sp::kOcRuleSetStatus;
      {
        std::lock_guard lock(mutex_);
        // An empty name asks for all sets together.
        const DWORD table = rule_set ? sp::kTableRuleSets : sp::kTableReportSets;
        if (!name.empty() && !Exists(table, name)) return Status(cmd_status::kIllegalObject);
      }
      BYTE status = 0;
      if (rule_set) {
        if (const auto rules = Rules()) status = rules->RuleSetStatus(name);
      } else if (const auto reports = Reports()) {
        status = reports->ReportSetStatus(name);
      }
      return Byte(status);
    }
    case sp::kOcRuleCurrentValue:
    case sp::kOcReportCurrentValue:
    case sp::kOcReportRecordValue: {
      const bool rule = request.oc == sp::kOcRuleCurrentValue;
      {
        std::lock_guard lock(mutex_);
        if (!Exists(rule ? sp::kTableRules : sp::kTableReports, name)) {
          return Status(cmd_status::kIllegalObject);
        }
      }
      std::optional<std::string> text;
      if (rule) {
        if (const auto rules = Rules()) text = rules->RuleCurrentValue(name);
      } else if (const auto reports = Reports()) {
        if (request.oc == sp::kOcReportCurrentValue) {
          text = reports->ReportCurrentValue(name);
        } else {
          // The record number less one, its high half in OE: record r is (OE << 16) + OID + 1.
          const uint64_t index = (uint64_t{request.oe} << 16) + request.oid;
          if (index < 0xFFFFFFFFu) text = reports->RecordText(name, static_cast<DWORD>(index + 1));
        }
      }
      // Nothing measured or recorded: no data.
      if (!text) return Status(cmd_status::kNoMoreReplies);
      ModuleReply reply;
      reply.data = TextBytes(*text);
      return reply;
    }
    case sp::kOcReportHighestRecord:
    case sp::kOcReportOldestRecord: {
      {
        std::lock_guard lock(mutex_);
        if (!Exists(sp::kTableReports, name)) return Status(cmd_status::kIllegalObject);
      }
      // Record numbers are positions: the oldest kept is 1, so "oldest less one" is 0.
      DWORD number = 0;
      if (request.oc == sp::kOcReportHighestRecord) {
        if (const auto reports = Reports()) number = reports->HighestRecord(name);
      }
      ModuleReply reply;
      reply.data.resize(4);
      std::memcpy(reply.data.data(), &number, 4);
      return reply;
    }
    case sp::kOcRuleSetDocument:
    case sp::kOcReportSetDocument: {
      const bool rule_set = request.oc == sp::kOcRuleSetDocument;
      const DWORD table = rule_set ? sp::kTableRuleSets : sp::kTableReportSets;
      std::lock_guard lock(mutex_);
      const auto markup = RecordMarkup(table, name);
      if (!markup) return Status(cmd_status::kIllegalObject);
      // The set states its status even where its file leaves it implied: a
      // client edits the set and stores it back, and a set stored without
      // members must not come back as a record that names only the set,
      // which removes it.
      RecordDocument set;
      set.LoadText(*markup);
      set.MakeItemExplicit(rule_set ? records::kRuleSetStatus : records::kReportSetStatus);
      ModuleReply reply;
      reply.data = TextBytes(set.DocumentText());
      return reply;
    }
    default:
      return Status(cmd_status::kUnsupportedCommand);
  }
}

void ThresholdModule::SetRuleState(std::shared_ptr<const RuleState> rules) {
  std::lock_guard lock(live_mutex_);
  rules_ = std::move(rules);
}

void ThresholdModule::SetReportState(std::shared_ptr<const ReportState> reports) {
  std::lock_guard lock(live_mutex_);
  reports_ = std::move(reports);
}

std::shared_ptr<const RuleState> ThresholdModule::Rules() const {
  std::lock_guard lock(live_mutex_);
  return rules_;
}

std::shared_ptr<const ReportState> ThresholdModule::Reports() const {
  std::lock_guard lock(live_mutex_);
  return reports_;
}

bool ThresholdModule::BuildThresholdEvent(std::string_view rule, std::string_view value,
                                          std::string_view event, std::string* document,
                                          std::string* error) {
  std::lock_guard lock(mutex_);
  const auto rule_markup = RecordMarkup(sp::kTableRules, rule);
  if (!rule_markup) {
    *error = "no rule named \"" + std::string(rule) + "\"";
    return false;
  }
  const auto event_markup = RecordMarkup(sp::kTableEvents, event);
  if (!event_markup) {
    *error = "no event named \"" + std::string(event) + "\"";
    return false;
  }
  RecordDocument stored_rule;
  stored_rule.LoadText(*rule_markup);
  RecordDocument stored_event;
  stored_event.LoadText(*event_markup);
  *document = ThresholdEventDocument(rule, stored_rule.ItemText(records::kRuleUserComment), value,
                                     event, stored_event.ItemText(records::kEventType),
                                     stored_event.ItemText(records::kEventSeverity));
  return true;
}

std::string ThresholdEventDocument(std::string_view rule, std::string_view comment,
                                   std::string_view value, std::string_view event,
                                   std::string_view type, std::string_view severity) {
  RecordDocument sent_event("Event", event);
  sent_event.SetItemText(records::kEventType, type);
  sent_event.SetItemText(records::kEventSeverity, severity);

  RecordDocument threshold("Threshold");
  threshold.SetItemText(records::kThresholdRuleName, rule);
  threshold.SetItemText(records::kThresholdRuleComment, comment);
  threshold.SetItemText(records::kThresholdValue, value);
  threshold.ResetPosition();
  threshold.NextElement();
  threshold.NextChildElement("Value");
  threshold.AppendChildMarkup(sent_event.DocumentText());
  return threshold.DocumentText();
}

}  // namespace switchd
