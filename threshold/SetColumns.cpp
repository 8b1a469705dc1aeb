// The columns of the nine configuration tables as SET sees them, and what each
// kind of column does with a varbind: check the row name or member number,
// write the value into the record through the column's writer, take the row
// status (fetching and editing a set's configuration where the table needs
// it), refuse the SET, or pass the request on to the MIB tree.
#include <cinttypes>
#include <optional>
#include <string>

#include "mibtree/SnmpVarbind.h"
#include "platform/SnmpOwners.h"
#include "switch/CommandBuffer.h"
#include "switch/SwitchProtocol.h"
#include "threshold/ThresholdAgent.h"
#include "threshold/detail/SetRequest.h"
#include "threshold/documents/Records.h"
#include "trace/FileDebug.h"

namespace threshold::detail {

namespace {

namespace r = records;
namespace sp = switch_protocol;

constexpr SetColumn Index(UINT column) { return {column, ColumnKind::kIndex}; }
constexpr SetColumn Text(UINT column, const r::RecordItem& item) {
  return {column, ColumnKind::kText, &item};
}
constexpr SetColumn Number(UINT column, const r::RecordItem& item, ValueRange range) {
  return {column, ColumnKind::kNumber, &item, range};
}
constexpr SetColumn Enumeration(UINT column, const r::RecordItem& item) {
  return {column, ColumnKind::kEnumeration, &item};
}
constexpr SetColumn Kind(UINT column, ColumnKind kind) { return {column, kind}; }
constexpr SetColumn ReadOnly(UINT column) { return {column, ColumnKind::kReadOnly}; }

constexpr SetColumn kRuleColumns[] = {
    Index(1),
    Text(2, r::kRuleDescription),
    Text(3, r::kRuleUserComment),
    Text(4, r::kRuleHelpText),
    Number(5, r::kRulePollInterval, kPositive),
    Text(6, r::kRuleResourceName),
    Enumeration(7, r::kRuleInstMonitor),
    Text(8, r::kRuleInstIndexes),
    Text(9, r::kRuleInstPatterns),
    Text(10, r::kRuleTargetName),
    Enumeration(11, r::kRuleValueType),
    Enumeration(12, r::kRuleValuation),
    Number(13, r::kRuleWatchPeriod, kNonNegative),
    Enumeration(14, r::kRuleOperator),
    Number(15, r::kRuleThresholdValue, kAnyValue),
    Number(16, r::kRuleRangeMinValue, kAnyValue),
    Number(17, r::kRuleRangeMaxValue, kAnyValue),
    Number(18, r::kRuleOccurenceCount, kNonNegative),
    Text(19, r::kRuleEventName),
    Enumeration(20, r::kRuleEventControl),
    Number(21, r::kRuleEventDelay, kNonNegative),
    Enumeration(22, r::kRuleEventAlternating),
    Kind(23, ColumnKind::kRowStatus),
    ReadOnly(24),
    ReadOnly(25),
    Kind(26, ColumnKind::kPassThrough),
    Enumeration(27, r::kRulePerfStatusSeverity),
};

constexpr SetColumn kRulesetColumns[] = {
    Index(1),
    Text(2, r::kRuleSetDescription),
    Number(3, r::kRuleSetStartTime, kMinutesOfDay),
    Number(4, r::kRuleSetStopTime, kMinutesOfDay),
    ReadOnly(5),
    Kind(6, ColumnKind::kSetRowStatus),
    ReadOnly(7),
};

// Both contents tables.
constexpr SetColumn kContentsColumns[] = {
    Kind(1, ColumnKind::kMemberCheck),
    Kind(2, ColumnKind::kMemberName),
    Kind(3, ColumnKind::kMemberRowStatus),
    ReadOnly(4),
};

constexpr SetColumn kEventColumns[] = {
    Index(1),
    Enumeration(2, r::kEventType),
    Enumeration(3, r::kEventSeverity),
    Kind(4, ColumnKind::kRowStatus),
    ReadOnly(5),
};

constexpr SetColumn kResourceColumns[] = {
    Index(1),
    Text(2, r::kResourceDescription),
    Text(3, r::kResourceHelpText),
    Enumeration(4, r::kResourceReqType),
    Text(5, r::kResourceReqString),
    Text(6, r::kResourceInstNameReq),
    Kind(7, ColumnKind::kRowStatus),
    ReadOnly(8),
    Text(9, r::kResourceValueUnit),
    Text(10, r::kResourceContainerName),
    Text(11, r::kResourceGroupName),
};

constexpr SetColumn kTargetColumns[] = {
    Index(1),
    Text(2, r::kTargetAddress),
    Kind(3, ColumnKind::kRowStatus),
    ReadOnly(4),
};

constexpr SetColumn kReportColumns[] = {
    Index(1),
    // The one writer column whose store trace names neither object nor writer.
    {2, ColumnKind::kText, &r::kReportDescription, kAnyValue, true},
    Text(3, r::kReportUserComment),
    Text(4, r::kReportHelpText),
    Number(5, r::kReportPollInterval, kPositive),
    Number(6, r::kReportMaxEntries, kNonNegative),
    Text(7, r::kReportResourceName),
    Enumeration(8, r::kReportInstMonitor),
    Text(9, r::kReportInstIndexes),
    Text(10, r::kReportInstPatterns),
    Text(11, r::kReportTargetName),
    Kind(12, ColumnKind::kRowStatus),
    ReadOnly(13),
    ReadOnly(14),
};

constexpr SetColumn kReportSetColumns[] = {
    Index(1),
    Text(2, r::kReportSetDescription),
    Number(3, r::kReportSetStartTime, kMinutesOfDay),
    Number(4, r::kReportSetStopTime, kMinutesOfDay),
    {5, ColumnKind::kRecordingEnd, &r::kReportSetRecordingEnd},
    ReadOnly(6),
    Kind(7, ColumnKind::kSetRowStatus),
    ReadOnly(8),
};

constexpr SetKind kRuleSets{
    .fetch_oc = sp::kOcRuleSetDocument,
    .status = &r::kRuleSetStatus,
    .member_tag = "Rule",
    .fetch_to_enable =
        "\nLORVETH_AGENT       :  ExecuteSET(): Getting current ruleset XML config to enable ...",
    .fetch_to_disable = nullptr,
    .fetch_members = "\nLORVETH_AGENT       :  ExecuteSET(): Getting current ruleset XML config...",
    .fetch_failed_on_destroy =
        "\nLORVETH_AGENT       :  ExecuteSET(): ## Warning! Failed to get ruleset XML config from "
        "SWITCH!Do not report an error\n",
    .fetch_failed =
        "\nLORVETH_AGENT       :  ExecuteSET(): ## ERROR! Failed to get ruleset XML config from "
        "SWITCH!\n",
    .member_found =
        "\nLORVETH_AGENT       :  ExecuteSET(): found rule name \"%s\" to add/modify/remove...",
    .index_with_member = "\nLORVETH_AGENT       :  ExecuteSET(): current rule index = \"%s\".%d",
    .index_without_member = "\nLORVETH_AGENT       :  ExecuteSET(): current rule index = \"%s\".*",
    .name_missing_on_create =
        "\nLORVETH_AGENT       :  ExecuteSET(): ## ERROR! Rule name not specified while modifying "
        "ruleset contents table!\n",
    .name_missing_on_destroy =
        "\nLORVETH_AGENT       :  ExecuteSET(): ## ERROR! Rule name not specified while destroying "
        "ruleset contents table!\n",
    .adding =
        "\nLORVETH_AGENT       :  ExecuteSET(): Adding/modifying rule \"%s\" in ruleset \"%s\"...",
    .removing =
        "\nLORVETH_AGENT       :  ExecuteSET(): Removing rule \"%s\" from ruleset \"%s\"...",
    .with_member = "\nLORVETH_AGENT       :  ExecuteSET(): RuleSetContent with Index specified",
    .without_member =
        "\nLORVETH_AGENT       :  ExecuteSET(): RuleSetContent without Index specified",
    // A rule that cannot be removed ends the removal of all rules silently.
    .removal_failed = nullptr,
};

constexpr SetKind kReportSets{
    .fetch_oc = sp::kOcReportSetDocument,
    .status = &r::kReportSetStatus,
    .member_tag = "Report",
    .fetch_to_enable =
        "\nLORVETH_AGENT       :  ExecuteSET(): Getting current reportset XML config to enable ...",
    .fetch_to_disable =
        "\nLORVETH_AGENT       :  ExecuteSET(): Getting current reportset XML config to disable "
        "...",
    .fetch_members =
        "\nLORVETH_AGENT       :  ExecuteSET(): Getting current reportset XML config...",
    .fetch_failed_on_destroy =
        "\nLORVETH_AGENT       :  ExecuteSET(): ## Warning! Failed to get reportset XML config "
        "from SWITCH! Do not report an error\n",
    .fetch_failed =
        "\nLORVETH_AGENT       :  ExecuteSET(): ## ERROR! Failed to get reportset XML config from "
        "SWITCH!\n",
    .member_found =
        "\nLORVETH_AGENT       :  ExecuteSET(): found report name \"%s\" to add/modify/remove...",
    .index_with_member =
        "\nLORVETH_AGENT       :  ExecuteSET(): current reportset index = \"%s\".%d",
    .index_without_member =
        "\nLORVETH_AGENT       :  ExecuteSET(): current reportset index = \"%s\".*",
    .name_missing_on_create =
        "\nLORVETH_AGENT       :  ExecuteSET(): ## ERROR! Report name not specified while "
        "modifying reportset contents table!\n",
    .name_missing_on_destroy =
        "\nLORVETH_AGENT       :  ExecuteSET(): ## ERROR! Report name not specified while "
        "destroying reportset contents table!\n",
    .adding =
        "\nLORVETH_AGENT       :  ExecuteSET(): Adding/modifying report \"%s\" in reportset "
        "\"%s\"...",
    .removing =
        "\nLORVETH_AGENT       :  ExecuteSET(): Removing report \"%s\" from reportset \"%s\"...",
    .with_member = "\nLORVETH_AGENT       :  ExecuteSET(): ReportSetContent with Index specified",
    .without_member =
        "\nLORVETH_AGENT       :  ExecuteSET(): ReportSetContent without Index specified",
    .removal_failed = "    FAILED!",
};

// clang-format off
// In the order in which a varbind's OID is tested.
constexpr SetTable kSetTables[] = {
    {.name = "threshRuleTable", .oid = {1, 3, 1}, .code = sp::kTableRules,
     .record_tag = "Rule", .container = "Rules", .columns = kRuleColumns},
    {.name = "threshRulesetTable", .oid = {1, 3, 3}, .code = sp::kTableRuleSets,
     .record_tag = "RuleSet", .container = "RuleSets", .columns = kRulesetColumns,
     .set = &kRuleSets},
    {.name = "threshRulesetContentsTable", .oid = {1, 3, 4}, .code = sp::kTableRuleSets,
     .record_tag = "RuleSet", .container = "RuleSets", .columns = kContentsColumns,
     .set = &kRuleSets, .contents = true},
    {.name = "threshEventTable", .oid = {1, 3, 6}, .code = sp::kTableEvents,
     .record_tag = "Event", .container = "Events", .columns = kEventColumns},
    {.name = "threshResourceTable", .oid = {1, 5, 1}, .code = sp::kTableResources,
     .record_tag = "Resource", .container = "Resources", .columns = kResourceColumns},
    {.name = "threshTargetTable", .oid = {1, 5, 3}, .code = sp::kTableTargets,
     .record_tag = "Target", .container = "Targets", .columns = kTargetColumns},
    {.name = "reportTable", .oid = {1, 4, 1}, .code = sp::kTableReports,
     .record_tag = "Report", .container = "Reports", .columns = kReportColumns,
     .checks_report_name = true},
    {.name = "reportSetTable", .oid = {1, 4, 3}, .code = sp::kTableReportSets,
     .record_tag = "ReportSet", .container = "ReportSets", .columns = kReportSetColumns,
     .set = &kReportSets},
    {.name = "reportSetContentsTable", .oid = {1, 4, 5}, .code = sp::kTableReportSets,
     .record_tag = "ReportSet", .container = "ReportSets", .columns = kContentsColumns,
     .set = &kReportSets, .contents = true},
};
// clang-format on

const AsnObjectIdentifier& RootOid() {
  static const OidOwner root = [] {
    OidOwner oid;
    OidFromString(kMibRoot, oid.Get());
    return oid;
  }();
  return *root.Get();
}

// Row status values (textual convention RowStatus).
constexpr int32_t kActive = 1;
constexpr int32_t kNotInService = 2;
constexpr int32_t kCreateAndGo = 4;
constexpr int32_t kCreateAndWait = 5;
constexpr int32_t kDestroy = 6;

void TraceIllegalRowStatus(int32_t value) {
  TRACE(1, "\nLORVETH_AGENT       :  ExecuteSET(): ## ERROR! Illegal RowStatus SET value (%d)!",
        value);
}

}  // namespace

const SetTable* FindSetTable(const AsnObjectIdentifier& oid) {
  const AsnObjectIdentifier& root = RootOid();
  if (oid.ids == nullptr || root.idLength != kMibRootLength || oid.idLength < kMibRootLength + 3) {
    return nullptr;
  }
  for (UINT i = 0; i < kMibRootLength; ++i) {
    if (oid.ids[i] != root.ids[i]) return nullptr;
  }
  for (const SetTable& table : kSetTables) {
    if (oid.ids[kMibRootLength] == table.oid[0] && oid.ids[kMibRootLength + 1] == table.oid[1] &&
        oid.ids[kMibRootLength + 2] == table.oid[2]) {
      return &table;
    }
  }
  return nullptr;
}

const SetColumn* FindSetColumn(const SetTable& table, UINT column) {
  for (const SetColumn& entry : table.columns) {
    if (entry.column == column) return &entry;
  }
  return nullptr;
}

SetRequest::Flow SetRequest::HandleColumn(const Target& target) {
  if (target.table->contents) TraceMemberIndex(target);

  const SetColumn* column = nullptr;
  if (target.varbind->name.idLength > kColumnPosition) {
    column = FindSetColumn(*target.table, target.varbind->name.ids[kColumnPosition]);
  }
  if (column == nullptr) {
    TRACE(1, "\nLORVETH_AGENT       :  ExecuteSET(): ## ERROR! SET on unknown object!");
    error_status_ = SNMP_ERRORSTATUS_NOSUCHNAME;
    return Flow::kNext;
  }

  switch (column->kind) {
    case ColumnKind::kIndex:
      HandleIndex(target);
      break;
    case ColumnKind::kText:
    case ColumnKind::kNumber:
      HandleWriter(target, *column);
      break;
    case ColumnKind::kEnumeration:
      HandleEnumeration(target, *column);
      break;
    case ColumnKind::kRecordingEnd:
      HandleRecordingEnd(target, *column);
      break;
    case ColumnKind::kRowStatus:
      HandleRowStatus(target);
      break;
    case ColumnKind::kSetRowStatus:
      HandleSetRowStatus(target);
      break;
    case ColumnKind::kMemberCheck:
      HandleMemberCheck(target);
      break;
    case ColumnKind::kMemberName:
      HandleMemberName(target);
      break;
    case ColumnKind::kMemberRowStatus:
      return HandleMemberRowStatus(target);
    case ColumnKind::kReadOnly:
      TRACE(1, "\nLORVETH_AGENT       :  ExecuteSET(): ## ERROR! SET on read-only value!(%s)",
            target.column_oid.c_str());
      error_status_ = SNMP_ERRORSTATUS_READONLY;
      break;
    case ColumnKind::kPassThrough:
      TRACE(3, "\nLORVETH_AGENT       :  ExecuteSET(): Object handled by callback function");
      handled_ = 0;
      return Flow::kEndPass;
  }
  return Flow::kNext;
}

void SetRequest::HandleIndex(const Target& target) {
  const char* value = GetString(target.varbind);
  if (row_index_ != value) {
    TRACE(1,
          "\nLORVETH_AGENT       :  ExecuteSET(): ## ERROR! SET index 1 (%s) does not match to "
          "index variable value (%s)!",
          row_index_.c_str(), value);
    error_status_ = SNMP_ERRORSTATUS_INCONSISTENTVALUE;
  }
}

bool SetRequest::InRange(int32_t value, ValueRange range) {
  if (value >= range.low && value <= range.high) return true;
  TRACE(1, "\nLORVETH_AGENT       :  ExecuteSET(): ## ERROR Value %d not in range(%d,%d)", value,
        range.low, range.high);
  error_status_ = SNMP_ERRORSTATUS_INCONSISTENTVALUE;
  return false;
}

void SetRequest::HandleWriter(const Target& target, const SetColumn& column) {
  const r::RecordItem& item = *column.writer;
  std::optional<int32_t> number;
  if (column.kind == ColumnKind::kNumber) {
    number = GetInteger(target.varbind);
    if (!InRange(*number, column.range)) return;
  }
  if (column.brief_store_trace) {
    TRACE(3, "\nLORVETH_AGENT       :  ExecuteSET(): Store object");
  } else {
    TRACE(3, "\nLORVETH_AGENT       :  ExecuteSET(): Store object %s with %s",
          target.column_oid.c_str(), std::string(item.setter).c_str());
  }
  // A writer that cannot place its value (a record of another kind) leaves
  // the record as it was; the module then sees the column unchanged.
  if (number) {
    record_->SetItemValue(item, *number);
  } else {
    record_->SetItemText(item, GetString(target.varbind));
  }
  objects_stored_ = true;
}

void SetRequest::HandleEnumeration(const Target& target, const SetColumn& column) {
  const r::RecordItem& item = *column.writer;
  const std::string writer(item.setter);
  TRACE(3, "\nLORVETH_AGENT       :  ExecuteSET(): Store object %s with %s",
        target.column_oid.c_str(), writer.c_str());
  // The MIB counts keywords from 1, the record's codes from 0.
  const int64_t code = int64_t{GetInteger(target.varbind)} - 1;
  if (!record_->SetItemValue(item, code)) {
    // Not an error of the SET: only the last SET result message tells.
    const std::string message = "Wrong enum value in " + writer + "!";
    TRACE(1, "\nLORVETH_AGENT       :  ExecuteSET(): ## ERROR! %s", message.c_str());
    agent_.SetLastSetResultMessage(message.c_str());
  }
  objects_stored_ = true;
}

void SetRequest::HandleRecordingEnd(const Target& target, const SetColumn& column) {
  const std::string writer(column.writer->setter);
  const int32_t seconds = GetInteger(target.varbind);
  if (seconds == 0) {
    TRACE(
        3,
        "\nLORVETH_AGENT       :  ExecuteSET(): Do not store object %s with %s because value is 0",
        target.column_oid.c_str(), writer.c_str());
    return;
  }
  TRACE(3, "\nLORVETH_AGENT       :  ExecuteSET(): Store object %s with %s",
        target.column_oid.c_str(), writer.c_str());
  // The writer traces the time in UTC and stores its date alone.
  record_->SetItemValue(*column.writer, seconds);
  objects_stored_ = true;
}

void SetRequest::TakeRowStatus(const Target& target) {
  row_status_column_ = target.column_oid;
  row_status_ = GetInteger(target.varbind);
  row_status_position_ = target.position;
  row_status_of_record_ = !target.table->contents && target.table->record_tag == record_tag_;
}

bool SetRequest::DestroysRow() const { return row_status_ == kDestroy && row_status_of_record_; }

void SetRequest::HandleRowStatus(const Target& target) {
  TakeRowStatus(target);
  if (row_status_ != kActive && row_status_ != kCreateAndGo && row_status_ != kDestroy) {
    TraceIllegalRowStatus(row_status_);
    error_status_ = SNMP_ERRORSTATUS_INCONSISTENTVALUE;
  }
}

SetRequest::Fetch SetRequest::FetchSetConfiguration(const SetKind& set) {
  CommandBuffer request;
  request.BuildFrame(set.fetch_oc, 0, 0, sp::kAgentCabinet, sp::kStatNoData, row_index_.c_str(),
                     static_cast<DWORD>(row_index_.size() + 1));
  request.SendRequest(agent_.SwitchClient(), 0, 0, 0);
  if (!request.HasReplyData(0, false)) {
    // Only the module itself answers with this status; a failed transport does not.
    return request.FrameStatus() == cmd_status::kIllegalObject ? Fetch::kNoSuchSet : Fetch::kFailed;
  }
  const char* text = request.DataText();
  // A cut or garbled reply would lose members when it is stored back: it
  // counts as no reply, and the record stays as it was.
  if (!MarkupDocument(text).CheckWellFormed()) return Fetch::kFailed;
  record_->LoadText(text);
  TRACE(4, "\nLORVETH_AGENT       :  ExecuteSET(): XML config: \n%s", text);
  return Fetch::kLoaded;
}

void SetRequest::HandleSetRowStatus(const Target& target) {
  const SetKind& set = *target.table->set;
  TakeRowStatus(target);
  switch (row_status_) {
    case kCreateAndGo:
    case kCreateAndWait:
      break;
    case kActive:
    case kNotInService: {
      const char* announcement =
          row_status_ == kActive ? set.fetch_to_enable : set.fetch_to_disable;
      if (announcement != nullptr) TRACE(4, "%s", announcement);
      if (FetchSetConfiguration(set) != Fetch::kLoaded) {
        error_status_ = SNMP_ERRORSTATUS_INCONSISTENTVALUE;
        return;
      }
      break;
    }
    case kDestroy:
      return;
    default:
      TraceIllegalRowStatus(row_status_);
      error_status_ = SNMP_ERRORSTATUS_INCONSISTENTVALUE;
      return;
  }
  const bool enable = row_status_ == kActive || row_status_ == kCreateAndGo;
  record_->SetItemValue(*set.status, enable ? 1 : 0);
}

void SetRequest::TraceMemberIndex(const Target& target) {
  const SetKind& set = *target.table->set;
  const AsnObjectIdentifier& oid = target.varbind->name;
  const UINT name_length = oid.idLength > kNamePosition ? oid.ids[kNamePosition] : 0;
  TRACE(3, "\nLORVETH_AGENT       :  ExecuteSET(): OID Length: %d und IndexStringLen %d\n",
        static_cast<int>(oid.idLength), static_cast<int>(name_length));
  if (member_number_ != -1) {
    TRACE(3, set.index_with_member, row_index_.c_str(), member_number_);
  } else {
    TRACE(3, set.index_without_member, row_index_.c_str());
  }
}

void SetRequest::HandleMemberCheck(const Target& target) {
  const int32_t value = GetInteger(target.varbind);
  if (value != member_number_) {
    TRACE(1,
          "\nLORVETH_AGENT       :  ExecuteSET(): ## ERROR! SET index 2 (%d) does not match to "
          "index variable value (%d)!",
          member_number_, value);
    error_status_ = SNMP_ERRORSTATUS_INCONSISTENTVALUE;
  }
}

void SetRequest::HandleMemberName(const Target& target) {
  member_name_ = GetString(target.varbind);
  TRACE(3, target.table->set->member_found, member_name_.c_str());
  objects_stored_ = true;
}

SetRequest::Flow SetRequest::HandleMemberRowStatus(const Target& target) {
  const SetKind& set = *target.table->set;
  TakeRowStatus(target);
  TRACE(4, "%s", set.fetch_members);
  const Fetch fetched = FetchSetConfiguration(set);
  if (fetched != Fetch::kLoaded) {
    if (row_status_ == kDestroy && fetched == Fetch::kNoSuchSet) {
      // A set the module does not hold has no members to remove: the row
      // evaluation still runs, and the record, which names only the set,
      // is not sent.
      TRACE(1, "%s", set.fetch_failed_on_destroy);
      return Flow::kEndPass;
    }
    // Without the member list no record can be built that removes one
    // member and keeps the others.
    TRACE(1, "%s", set.fetch_failed);
    error_status_ = SNMP_ERRORSTATUS_INCONSISTENTVALUE;
    return Flow::kNext;
  }

  r::SetRecordView members(*record_, target.table->record_tag, set.member_tag);
  switch (row_status_) {
    case kCreateAndGo:
      if (member_name_.empty()) {
        TRACE(1, "%s", set.name_missing_on_create);
        TRACE(1, "\nLORVETH_AGENT       :  ExecuteSET(): ## ERROR! RowStatus : Create and Go!\n");
        error_status_ = SNMP_ERRORSTATUS_INCONSISTENTVALUE;
        break;
      }
      TRACE(3, set.adding, member_name_.c_str(), row_index_.c_str());
      members.AddMember(member_name_);
      break;
    case kDestroy:
      if (member_number_ == -1) {
        TRACE(3, "%s", set.without_member);
        RemoveAllMembers(members, set);
        break;
      }
      TRACE(3, "%s", set.with_member);
      if (member_name_.empty()) {
        TRACE(1, "%s", set.name_missing_on_destroy);
        error_status_ = SNMP_ERRORSTATUS_INCONSISTENTVALUE;
        break;
      }
      TRACE(3, set.removing, member_name_.c_str(), row_index_.c_str());
      members.RemoveMember(member_name_);
      break;
    default:
      TraceIllegalRowStatus(row_status_);
      error_status_ = SNMP_ERRORSTATUS_INCONSISTENTVALUE;
      break;
  }
  // A set that lost its last member and states nothing else would read as
  // its own removal: it states the status it implied instead.
  if (error_status_ == 0 && record_->CarriesOnlyName()) record_->MakeItemExplicit(*set.status);
  return Flow::kNext;
}

void SetRequest::RemoveAllMembers(r::SetRecordView& members, const SetKind& set) {
  // Each round removes the first member; a member that cannot be removed
  // would come first again, so the loop ends there.
  while (const std::optional<std::string> name = members.MemberName(0)) {
    TRACE(3, set.removing, name->c_str(), row_index_.c_str());
    if (!members.RemoveMember(*name)) {
      if (set.removal_failed != nullptr) TRACE(3, "%s", set.removal_failed);
      break;
    }
  }
}

}  // namespace threshold::detail
