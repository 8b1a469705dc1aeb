// Loading the configuration tables of the threshold module into the MIB, the
// get callbacks that ask the module for live values, and RowAvailable.
//
// Every table is described by data: a TableSpec lists its columns with their
// object names, types and where each value comes from; a LoaderSpec ties a
// table code to the tables its records fill and to its change scalars.
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "frame/Extension.h"
#include "platform/SnmpOwners.h"
#include "switch/SwitchProtocol.h"
#include "threshold/RowIndex.h"
#include "threshold/ThresholdAgent.h"
#include "threshold/documents/ConfigDocument.h"
#include "threshold/documents/RecordDocument.h"
#include "threshold/documents/Records.h"
#include "trace/FileDebug.h"

namespace sp = switch_protocol;
using records::RecordItem;

namespace {

using Callback = CThresholdAgent::MibCallback;

enum class Source {
  kText,         // the item's text
  kValue,        // the item's MIB value (RecordDocument::ColumnValue)
  kConstant,     // a fixed number
  kVariable,     // produced by a get callback at each request
  kMemberIndex,  // contents tables: the member number k
  kMemberName,   // contents tables: the k-th member's name
};

struct ColumnSpec {
  UINT column;
  const char* object_name;
  Source source;
  const RecordItem* item = nullptr;  // kText, kValue
  int constant = 0;                  // kConstant
  Callback get = nullptr;            // kVariable
};

constexpr ColumnSpec Text(UINT column, const char* object_name, const RecordItem& item) {
  return {column, object_name, Source::kText, &item};
}
constexpr ColumnSpec Value(UINT column, const char* object_name, const RecordItem& item) {
  return {column, object_name, Source::kValue, &item};
}
constexpr ColumnSpec Constant(UINT column, const char* object_name, int value) {
  return {column, object_name, Source::kConstant, nullptr, value};
}
ColumnSpec Variable(UINT column, const char* object_name, Callback get) {
  return {column, object_name, Source::kVariable, nullptr, 0, get};
}
constexpr ColumnSpec MemberIndex(UINT column, const char* object_name) {
  return {column, object_name, Source::kMemberIndex};
}
constexpr ColumnSpec MemberName(UINT column, const char* object_name) {
  return {column, object_name, Source::kMemberName};
}

template <class F>
Callback Get(F callback) {
  return static_cast<Callback>(callback);
}

// Row status "active" and storage type "volatile" of rows that carry no such item.
constexpr int kActive = 1;
constexpr int kVolatile = 2;

namespace r = records;

const ColumnSpec kRuleColumns[] = {
    Text(1, "threshRuleName", r::kRuleName),
    Text(2, "threshRuleDescription", r::kRuleDescription),
    Text(3, "threshRuleUserComment", r::kRuleUserComment),
    Text(4, "threshRuleHelpText", r::kRuleHelpText),
    Value(5, "threshRulePollInterval", r::kRulePollInterval),
    Text(6, "threshRuleResourceName", r::kRuleResourceName),
    Value(7, "threshRuleInstMonitor", r::kRuleInstMonitor),
    Text(8, "threshRuleInstIndexes", r::kRuleInstIndexes),
    Text(9, "threshRuleInstPatterns", r::kRuleInstPatterns),
    Text(10, "threshRuleTargetName", r::kRuleTargetName),
    Value(11, "threshRuleValueType", r::kRuleValueType),
    Value(12, "threshRuleValuation", r::kRuleValuation),
    Value(13, "threshRuleWatchPeriod", r::kRuleWatchPeriod),
    Value(14, "threshRuleOperator", r::kRuleOperator),
    Value(15, "threshRuleThresholdValue", r::kRuleThresholdValue),
    Value(16, "threshRuleRangeMinValue", r::kRuleRangeMinValue),
    Value(17, "threshRuleRangeMaxValue", r::kRuleRangeMaxValue),
    Value(18, "threshRuleOccurenceCount", r::kRuleOccurenceCount),
    Text(19, "threshRuleEventName", r::kRuleEventName),
    Value(20, "threshRuleEventControl", r::kRuleEventControl),
    Value(21, "threshRuleEventDelay", r::kRuleEventDelay),
    Value(22, "threshRuleEventAlternating", r::kRuleEventAlternating),
    Constant(23, "threshRuleRowStatus", kActive),
    Value(24, "threshRuleStorageType", r::kRuleAccess),
    Variable(25, "threshRuleCurrentValue", Get(&CThresholdAgent::fGetResourceCurrentValue)),
    Constant(26, "threshRuleFireEvent", 0),
    Value(27, "threshRulePerfStatusSeverity", r::kRulePerfStatusSeverity),
};

const ColumnSpec kRulesetColumns[] = {
    Text(1, "threshRulesetName", r::kRuleSetName),
    Text(2, "threshRulesetDescription", r::kRuleSetDescription),
    Value(3, "threshRulesetStartTime", r::kRuleSetStartTime),
    Value(4, "threshRulesetStopTime", r::kRuleSetStopTime),
    Variable(5, "threshRulesetRunning", Get(&CThresholdAgent::fGetRulesetStatus)),
    Value(6, "threshRulesetRowStatus", r::kRuleSetStatus),
    Value(7, "threshRulesetStorageType", r::kRuleSetAccess),
};

constexpr ColumnSpec kRulesetContentsColumns[] = {
    MemberIndex(1, "threshRulesetContentsRuleIndex"),
    MemberName(2, "threshRulesetContentsRuleName"),
    Constant(3, "threshRulesetContentsRowStatus", kActive),
    Constant(4, "threshRulesetContentsStorageType", kVolatile),
};

constexpr ColumnSpec kEventColumns[] = {
    Text(1, "threshEventName", r::kEventName),
    // A type other than "snmp-trap" and a severity outside the four keywords
    // show 0, the MIB's other(0) and unknown(0).
    Value(2, "threshEventType", r::kEventType),
    Value(3, "threshEventSeverity", r::kEventSeverity),
    Constant(4, "threshEventRowStatus", kActive),
    Value(5, "threshEventStorageType", r::kEventAccess),
};

const ColumnSpec kReportColumns[] = {
    Text(1, "reportName", r::kReportName),
    Text(2, "reportDescription", r::kReportDescription),
    Text(3, "reportUserComment", r::kReportUserComment),
    Text(4, "reportHelpText", r::kReportHelpText),
    Value(5, "reportPollInterval", r::kReportPollInterval),
    Value(6, "reportMaxEntries", r::kReportMaxEntries),
    Text(7, "reportResourceName", r::kReportResourceName),
    Value(8, "reportInstMonitor", r::kReportInstMonitor),
    Text(9, "reportInstIndexes", r::kReportInstIndexes),
    Text(10, "reportInstPatterns", r::kReportInstPatterns),
    Text(11, "reportTargetName", r::kReportTargetName),
    Constant(12, "reportRowStatus", kActive),
    Value(13, "reportStorageType", r::kReportAccess),
    Variable(14, "reportCurrentValue", Get(&CThresholdAgent::fGetReportCurrentValue)),
};

const ColumnSpec kReportIndexColumns[] = {
    Variable(1, "reportHighestIndexInUse", Get(&CThresholdAgent::fGetReportHighestIndexInUse)),
    Variable(2, "reportOldestIndexInUse", Get(&CThresholdAgent::fGetReportOldestIndexInUse)),
};

// One placeholder per report; the records themselves are served by ExecuteGET.
constexpr ColumnSpec kReportValueRecordColumns[] = {
    Constant(1, "reportValueRecord", 0),
};

const ColumnSpec kReportSetColumns[] = {
    Text(1, "reportSetName", r::kReportSetName),
    Text(2, "reportSetDescription", r::kReportSetDescription),
    Value(3, "reportSetStartTime", r::kReportSetStartTime),
    Value(4, "reportSetStopTime", r::kReportSetStopTime),
    Value(5, "reportSetRecordingEnd", r::kReportSetRecordingEnd),
    Variable(6, "reportSetRunning", Get(&CThresholdAgent::fGetReportsetStatus)),
    Value(7, "reportSetRowStatus", r::kReportSetStatus),
    Value(8, "reportSetStorageType", r::kReportSetAccess),
};

constexpr ColumnSpec kReportSetContentsColumns[] = {
    MemberIndex(1, "reportSetContentsReportIndex"),
    MemberName(2, "reportSetContentsReportName"),
    Constant(3, "reportSetContentsRowStatus", kActive),
    Constant(4, "reportSetContentsStorageType", kVolatile),
};

constexpr ColumnSpec kResourceColumns[] = {
    Text(1, "threshResourceName", r::kResourceName),
    Text(2, "threshResourceDescription", r::kResourceDescription),
    Text(3, "threshResourceHelpText", r::kResourceHelpText),
    Value(4, "threshResourceReqType", r::kResourceReqType),
    Text(5, "threshResourceReqString", r::kResourceReqString),
    Text(6, "threshResourceInstNameReq", r::kResourceInstNameReq),
    Constant(7, "threshResourceRowStatus", kActive),
    Value(8, "threshResourceStorageType", r::kResourceAccess),
    Text(9, "threshResourceValueUnit", r::kResourceValueUnit),
    Text(10, "threshResourceContainerName", r::kResourceContainerName),
    Text(11, "threshResourceGroupName", r::kResourceGroupName),
};

constexpr ColumnSpec kTargetColumns[] = {
    Text(1, "threshTargetName", r::kTargetName),
    Text(2, "threshTargetAddress", r::kTargetAddress),
    Constant(3, "threshTargetRowStatus", kActive),
    Value(4, "threshTargetStorageType", r::kTargetAccess),
};

struct ChangeScalar {
  const char* oid;
  const char* object_name;
};

constexpr ChangeScalar kRuleChanged[] = {{LORVETH_MIB_OID("1.3.2.0"), "threshRuleTableChanged"}};
constexpr ChangeScalar kRulesetChanged[] = {{LORVETH_MIB_OID("1.3.5.0"), "threshRulesetsChanged"}};
constexpr ChangeScalar kEventChanged[] = {{LORVETH_MIB_OID("1.3.7.0"), "threshEventTableChanged"}};
constexpr ChangeScalar kReportChanged[] = {{LORVETH_MIB_OID("1.4.2.0"), "reportTableChanged"}};
constexpr ChangeScalar kReportSetChanged[] = {
    {LORVETH_MIB_OID("1.4.4.0"), "reportSetTableChanged"},
    {LORVETH_MIB_OID("1.4.6.0"), "reportSetContentsTableChanged"}};
constexpr ChangeScalar kResourceChanged[] = {
    {LORVETH_MIB_OID("1.5.2.0"), "threshResourceTableChanged"}};
constexpr ChangeScalar kTargetChanged[] = {
    {LORVETH_MIB_OID("1.5.4.0"), "threshTargetTableChanged"}};

// Column OIDs the callbacks work with.
constexpr const char kRuleCurrentValueColumn[] = LORVETH_MIB_OID("1.3.1.1.25");
constexpr const char kRulesetNameColumn[] = LORVETH_MIB_OID("1.3.3.1.1");
constexpr const char kRulesetRunningColumn[] = LORVETH_MIB_OID("1.3.3.1.5");
constexpr const char kReportCurrentValueColumn[] = LORVETH_MIB_OID("1.4.1.1.14");
constexpr const char kReportHighestColumn[] = LORVETH_MIB_OID("1.4.7.1.1");
constexpr const char kReportOldestColumn[] = LORVETH_MIB_OID("1.4.7.1.2");
constexpr const char kReportSetNameColumn[] = LORVETH_MIB_OID("1.4.3.1.1");
constexpr const char kReportSetRunningColumn[] = LORVETH_MIB_OID("1.4.3.1.6");

bool ShuttingDown() { return Extension().shutdown.load() != 0; }

// Sub-identifiers of a dotted OID text.
UINT CountSubids(const char* text) {
  UINT count = 1;
  for (const char* p = text; *p != '\0'; ++p) count += *p == '.' ? 1 : 0;
  return count;
}

// The row name of an instance of `column`: see RowNameAt.
std::string RowNameOf(const SnmpVarBind* varbind, const char* column) {
  return RowNameAt(varbind->name, CountSubids(column));
}

// A request with the name as text (terminator included), or without data.
void BuildNamedRequest(CommandBuffer& frame, DWORD oc, const char* name) {
  if (name == nullptr) {
    frame.BuildFrame(oc, 0, 0, sp::kAgentCabinet, sp::kStatNoData, nullptr, 0);
  } else {
    frame.BuildFrame(oc, 0, 0, sp::kAgentCabinet, sp::kStatNoData, name,
                     static_cast<DWORD>(std::strlen(name) + 1));
  }
}

}  // namespace

struct CThresholdAgent::TableSpec {
  const char* entry_oid;
  std::span<const ColumnSpec> columns;
};

struct CThresholdAgent::LoaderSpec {
  const char* name;
  DWORD table_code;
  const char* record_tag;
  const RecordItem& name_item;
  // Tables with one row per record.
  std::span<const TableSpec* const> row_tables;
  // The contents table with one row per member, and the members' tag.
  const TableSpec* member_table;
  const char* member_tag;
  std::span<const ChangeScalar> change_scalars;
  // Whether the change scalars are set to 0 before the table is requested.
  bool zero_scalars_first;
};

namespace {

using TableSpec = CThresholdAgent::TableSpec;

const TableSpec kRuleTable{LORVETH_MIB_OID("1.3.1.1"), kRuleColumns};
const TableSpec kRulesetTable{LORVETH_MIB_OID("1.3.3.1"), kRulesetColumns};
const TableSpec kRulesetContentsTable{LORVETH_MIB_OID("1.3.4.1"), kRulesetContentsColumns};
const TableSpec kEventTable{LORVETH_MIB_OID("1.3.6.1"), kEventColumns};
const TableSpec kReportTable{LORVETH_MIB_OID("1.4.1.1"), kReportColumns};
const TableSpec kReportIndexTable{LORVETH_MIB_OID("1.4.7.1"), kReportIndexColumns};
const TableSpec kReportValueRecordTable{LORVETH_MIB_OID("1.4.8.1"), kReportValueRecordColumns};
const TableSpec kReportSetTable{LORVETH_MIB_OID("1.4.3.1"), kReportSetColumns};
const TableSpec kReportSetContentsTable{LORVETH_MIB_OID("1.4.5.1"), kReportSetContentsColumns};
const TableSpec kResourceTable{LORVETH_MIB_OID("1.5.1.1"), kResourceColumns};
const TableSpec kTargetTable{LORVETH_MIB_OID("1.5.3.1"), kTargetColumns};

const TableSpec* const kRuleRows[] = {&kRuleTable};
const TableSpec* const kRulesetRows[] = {&kRulesetTable};
const TableSpec* const kEventRows[] = {&kEventTable};
const TableSpec* const kReportRows[] = {&kReportTable, &kReportIndexTable,
                                        &kReportValueRecordTable};
const TableSpec* const kReportSetRows[] = {&kReportSetTable};
const TableSpec* const kResourceRows[] = {&kResourceTable};
const TableSpec* const kTargetRows[] = {&kTargetTable};

using LoaderSpec = CThresholdAgent::LoaderSpec;

const LoaderSpec kRuleLoader{"InitializeRuleTable",
                             sp::kTableRules,
                             "Rule",
                             r::kRuleName,
                             kRuleRows,
                             nullptr,
                             nullptr,
                             kRuleChanged,
                             false};
const LoaderSpec kRulesetLoader{"InitializeRulesetTables",
                                sp::kTableRuleSets,
                                "RuleSet",
                                r::kRuleSetName,
                                kRulesetRows,
                                &kRulesetContentsTable,
                                "Rule",
                                kRulesetChanged,
                                false};
const LoaderSpec kEventLoader{"InitializeEventTable",
                              sp::kTableEvents,
                              "Event",
                              r::kEventName,
                              kEventRows,
                              nullptr,
                              nullptr,
                              kEventChanged,
                              false};
const LoaderSpec kReportLoader{"InitializeReportTable",
                               sp::kTableReports,
                               "Report",
                               r::kReportName,
                               kReportRows,
                               nullptr,
                               nullptr,
                               kReportChanged,
                               true};
const LoaderSpec kReportSetLoader{"InitializeReportsetTable",
                                  sp::kTableReportSets,
                                  "ReportSet",
                                  r::kReportSetName,
                                  kReportSetRows,
                                  &kReportSetContentsTable,
                                  "Report",
                                  kReportSetChanged,
                                  true};
const LoaderSpec kResourceLoader{"InitializeResourceTable",
                                 sp::kTableResources,
                                 "Resource",
                                 r::kResourceName,
                                 kResourceRows,
                                 nullptr,
                                 nullptr,
                                 kResourceChanged,
                                 false};
const LoaderSpec kTargetLoader{"InitializeTargetTable",
                               sp::kTableTargets,
                               "Target",
                               r::kTargetName,
                               kTargetRows,
                               nullptr,
                               nullptr,
                               kTargetChanged,
                               false};

}  // namespace

bool CThresholdAgent::InitializeRuleTable() { return LoadTable(kRuleLoader); }
bool CThresholdAgent::InitializeRulesetTables() { return LoadTable(kRulesetLoader); }
bool CThresholdAgent::InitializeEventTable() { return LoadTable(kEventLoader); }
bool CThresholdAgent::InitializeReportTable() { return LoadTable(kReportLoader); }
bool CThresholdAgent::InitializeReportsetTable() { return LoadTable(kReportSetLoader); }
bool CThresholdAgent::InitializeResourceTable() { return LoadTable(kResourceLoader); }
bool CThresholdAgent::InitializeTargetTable() { return LoadTable(kTargetLoader); }

bool CThresholdAgent::LoadTable(const LoaderSpec& loader) {
  if (ShuttingDown()) return true;

  TRACE(2, "\n\nLORVETH_AGENT       : --- %s --- START\n", loader.name);
  if (loader.zero_scalars_first) RegisterChangeScalars(loader, 0);

  TRACE(2, "\nLORVETH_AGENT       : INIT Request data from SWITCH");
  CommandBuffer request;
  request.SetHeaderFields(sp::kOcReadConfiguration, loader.table_code, 0, sp::kAgentCabinet,
                          sp::kStatRequestPending);
  TRACE(3, "\nLORVETH_AGENT       : INIT   VARN request OP=0x%04X, OE=0x%04X",
        sp::kOcReadConfiguration, loader.table_code);
  request.SendRequest(SwitchClient(), 0, 0, 0);
  TRACE(3, "\nLORVETH_AGENT       : INIT    VARN return, ST=0x%02X, LEN=%d", request.FrameStatus(),
        request.DataLength());

  if (!request.IsStatusOk()) {
    TRACE(1, "\nLORVETH_AGENT       : INIT ## ERROR in %s! Failed to get table data from SWITCH!\n",
          loader.name);
    return false;
  }
  if (request.DataLength() == 0) {
    RegisterChangeScalars(loader, 0);
    TRACE(2, "\nLORVETH_AGENT       : INIT  --> no data for table request");
    return true;
  }

  TRACE(3, "\nLORVETH_AGENT       : INIT no Error, processing data...");
  ConfigDocument table(request.DataText());
  RecordDocument record(loader.record_tag);
  // A reply that is not well-formed gives no rows: the parser's repairs could
  // otherwise turn a damaged table into rows it never held.  Its change time
  // still counts.
  const bool well_formed = table.CheckWellFormed();
  if (!well_formed) {
    TRACE(1, "\nLORVETH_AGENT       : INIT ## ERROR in %s! Table data not well-formed: %s\n",
          loader.name, table.ResultText().c_str());
  }
  for (bool more = well_formed && table.FindFirstRecord(loader.record_tag, &record); more;
       more = table.FindNextRecord(loader.record_tag, &record)) {
    TRACE(4, "\n\nLORVETH_AGENT       : INIT  -> Inserting XML:\n%s\n",
          record.DocumentText().c_str());
    const std::string name = record.ItemText(loader.name_item);
    TRACE(3, "\n\nLORVETH_AGENT       : INIT Add MIB row with index \"%s\"...\n", name.c_str());
    for (const TableSpec* row_table : loader.row_tables) RegisterRow(*row_table, record, name);
    if (loader.member_table != nullptr) RegisterMembers(loader, record, name);
  }

  const int64_t modified = table.ModifiedTime();
  NoteConfigChangeTime(modified);
  RegisterChangeScalars(loader, static_cast<DWORD>(modified));

  TRACE(2, "\nLORVETH_AGENT       : --- %s --- END\n", loader.name);
  return true;
}

void CThresholdAgent::RegisterRow(const TableSpec& table, RecordDocument& record,
                                  const std::string& name) {
  RecordDocument::Reader reader(record);
  std::string column_oid;
  std::string text;
  for (const ColumnSpec& column : table.columns) {
    column_oid.assign(table.entry_oid).append(".").append(std::to_string(column.column));
    switch (column.source) {
      case Source::kText:
        reader.ItemText(*column.item, &text);
        AddConstTableEntry(column_oid.c_str(), column.object_name, text.c_str(), ASN_OCTETSTRING,
                           name.c_str(), kNoNumberIndex);
        break;
      case Source::kValue:
        // Times are 64-bit; the MIB keeps their low 32 bits.
        AddConstTableEntry(column_oid.c_str(), column.object_name,
                           static_cast<DWORD>(reader.ColumnValue(*column.item)), ASN_INTEGER,
                           name.c_str(), kNoNumberIndex);
        break;
      case Source::kConstant:
        AddConstTableEntry(column_oid.c_str(), column.object_name, column.constant, ASN_INTEGER,
                           name.c_str(), kNoNumberIndex);
        break;
      case Source::kVariable:
        AddVarTableEntry(column_oid.c_str(), column.object_name, column.get, nullptr, nullptr,
                         nullptr, kMibReadOnly, name.c_str());
        break;
      case Source::kMemberIndex:
      case Source::kMemberName:
        break;  // member rows only
    }
  }
}

void CThresholdAgent::RegisterMembers(const LoaderSpec& loader, RecordDocument& record,
                                      const std::string& name) {
  const TableSpec& table = *loader.member_table;
  std::string column_oid;
  const std::vector<std::string> members = record.MemberNames(loader.record_tag, loader.member_tag);
  for (DWORD k = 1; k <= members.size(); ++k) {
    const std::string& member = members[k - 1];
    for (const ColumnSpec& column : table.columns) {
      column_oid.assign(table.entry_oid).append(".").append(std::to_string(column.column));
      switch (column.source) {
        case Source::kMemberIndex:
          AddConstTableEntry(column_oid.c_str(), column.object_name, k, ASN_INTEGER, name.c_str(),
                             k);
          break;
        case Source::kMemberName:
          AddConstTableEntry(column_oid.c_str(), column.object_name, member.c_str(),
                             ASN_OCTETSTRING, name.c_str(), k);
          break;
        case Source::kConstant:
          AddConstTableEntry(column_oid.c_str(), column.object_name, column.constant, ASN_INTEGER,
                             name.c_str(), k);
          break;
        default:
          break;  // record columns belong to the set's own row
      }
    }
  }
}

void CThresholdAgent::RegisterChangeScalars(const LoaderSpec& loader, DWORD value) {
  for (const ChangeScalar& scalar : loader.change_scalars) {
    AddConstMibEntry(scalar.oid, scalar.object_name, value, ASN_INTEGER, kMibReadOnly);
  }
}

void CThresholdAgent::NoteConfigChangeTime(int64_t modified) {
  int64_t latest = config_change_time_.load();
  while (modified > latest && !config_change_time_.compare_exchange_weak(latest, modified)) {
  }
}

// ---------------------------------------------------------------------------
// Get callbacks

bool CThresholdAgent::RequestByte(DWORD oc, const char* name, BYTE* value, DWORD* status) {
  CommandBuffer request;
  BuildNamedRequest(request, oc, name);
  request.SendRequest(SwitchClient(), 0, 0, 0);
  *status = request.FrameStatus();
  if (!request.HasReplyData(1, false)) return false;
  *value = request.DataByte(0);
  return true;
}

DWORD CThresholdAgent::fGetThresholdStatus(SnmpVarBind* varbind, DWORD /*mode*/) {
  BYTE reply = 0;
  DWORD status = 0;
  if (RequestByte(sp::kOcThresholdStatus, nullptr, &reply, &status)) {
    const int value = reply <= 2 ? reply + 2 : 1;
    SetVarbindNumber(varbind, static_cast<DWORD>(value), ASN_INTEGER);
    TRACE(3, "\nLORVETH_AGENT       : fGetThresholdStatus - current threshold status = %d", value);
  } else {
    SetVarbindNumber(varbind, 1, ASN_INTEGER);
    TRACE(
        3,
        "\nLORVETH_AGENT       : fGetThresholdStatus - ## ERROR! cannot get current threshold status (CmdStatus=0x%02X)",
        status);
  }
  return SNMP_ERRORSTATUS_NOERROR;
}

DWORD CThresholdAgent::fGetPerformanceStatus(SnmpVarBind* varbind, DWORD /*mode*/) {
  BYTE reply = 0;
  DWORD status = 0;
  if (RequestByte(sp::kOcPerformanceStatus, nullptr, &reply, &status)) {
    // The module's severities 1..4 (normal .. critical) shift up by one; the
    // MIB's 1 is "unknown".
    const int value = reply >= 1 && reply <= 4 ? reply + 1 : 1;
    SetVarbindNumber(varbind, static_cast<DWORD>(value), ASN_INTEGER);
    TRACE(3, "\nLORVETH_AGENT       : fGetPerformanceStatus - current threshold status = %d",
          value);
  } else {
    SetVarbindNumber(varbind, 1, ASN_INTEGER);
    TRACE(
        3,
        "\nLORVETH_AGENT       : fGetPerformanceStatus - ## ERROR! cannot get current performance status (CmdStatus=0x%02X)",
        status);
  }
  return SNMP_ERRORSTATUS_NOERROR;
}

DWORD CThresholdAgent::CurrentValueOf(SnmpVarBind* varbind, const char* column, DWORD oc,
                                      const char* callback) {
  SetVarbindText(varbind, "", ASN_OCTETSTRING);
  const std::string name = RowNameOf(varbind, column);
  if (name.empty()) return SNMP_ERRORSTATUS_NOERROR;
  CommandBuffer request;
  BuildNamedRequest(request, oc, name.c_str());
  request.SendRequest(SwitchClient(), 0, 0, 0);
  if (request.HasReplyData(0, false)) {
    const char* value = request.DataText();
    SetVarbindText(varbind, value, ASN_OCTETSTRING);
    TRACE(3, "\nLORVETH_AGENT       : %s - current value of resource \"%s\": %s", callback,
          name.c_str(), value);
  } else {
    TRACE(3, "\nLORVETH_AGENT       : %s - current value of resource \"%s\":  not available",
          callback, name.c_str());
  }
  return SNMP_ERRORSTATUS_NOERROR;
}

DWORD CThresholdAgent::fGetResourceCurrentValue(SnmpVarBind* varbind, DWORD /*mode*/) {
  return CurrentValueOf(varbind, kRuleCurrentValueColumn, sp::kOcRuleCurrentValue,
                        "fGetResourceCurrentValue");
}

DWORD CThresholdAgent::fGetReportCurrentValue(SnmpVarBind* varbind, DWORD /*mode*/) {
  return CurrentValueOf(varbind, kReportCurrentValueColumn, sp::kOcReportCurrentValue,
                        "fGetReportCurrentValue");
}

DWORD CThresholdAgent::RecordIndexOf(SnmpVarBind* varbind, const char* column, DWORD oc,
                                     bool oldest) {
  const std::string name = RowNameOf(varbind, column);
  if (name.empty()) return SNMP_ERRORSTATUS_NOERROR;
  CommandBuffer request;
  BuildNamedRequest(request, oc, name.c_str());
  request.SendRequest(SwitchClient(), 0, 0, 0);
  const char* callback = oldest ? "fGetReportOldestIndexInUse" : "fGetReportHighestIndexInUse";
  if (request.HasReplyData(4, false)) {
    // The module gives the oldest record number in use minus one.
    const DWORD value = request.DataWord(0) + (oldest ? 1 : 0);
    SetVarbindNumber(varbind, value, ASN_INTEGER);
    TRACE(3, "\nLORVETH_AGENT       : %s() = %d", callback, static_cast<int>(value));
  } else {
    SetVarbindNumber(varbind, 0, ASN_INTEGER);
    TRACE(3, "\nLORVETH_AGENT       : %s() = 0!", callback);
  }
  return SNMP_ERRORSTATUS_NOERROR;
}

DWORD CThresholdAgent::fGetReportHighestIndexInUse(SnmpVarBind* varbind, DWORD /*mode*/) {
  return RecordIndexOf(varbind, kReportHighestColumn, sp::kOcReportHighestRecord, false);
}

DWORD CThresholdAgent::fGetReportOldestIndexInUse(SnmpVarBind* varbind, DWORD /*mode*/) {
  return RecordIndexOf(varbind, kReportOldestColumn, sp::kOcReportOldestRecord, true);
}

DWORD CThresholdAgent::SetStatusOf(SnmpVarBind* varbind, const char* name_column,
                                   const char* own_column, DWORD oc, const char* callback) {
  // The set's name is the name column of the same row; an object without a
  // row (the overall report status) asks with the empty name.
  std::string name;
  OidOwner own;
  if (OidFromString(own_column, own.Get()) && varbind->name.idLength > own->idLength &&
      SnmpUtilOidNCmp(&varbind->name, own.Get(), own->idLength) == 0) {
    VarBindOwner lookup;
    AsnObjectIdentifier index{varbind->name.idLength - own->idLength,
                              varbind->name.ids + own->idLength};
    if (OidFromString(name_column, &lookup->name) && SnmpUtilOidAppend(&lookup->name, &index)) {
      AsnInteger32 status = 0;
      if (MibGetVarbind(lookup.Get(), SNMP_PDU_GET, &status, nullptr) &&
          lookup->value.asnType == ASN_OCTETSTRING) {
        name = GetString(lookup.Get());
        TRACE(3, "\nLORVETH_AGENT       : %s - %s name = %s", callback,
              oc == sp::kOcRuleSetStatus ? "Ruleset" : "Reportset", name.c_str());
      }
    }
  }

  BYTE reply = 0;
  DWORD frame_status = 0;
  if (!RequestByte(oc, name.c_str(), &reply, &frame_status)) {
    SetVarbindNumber(varbind, 1, ASN_INTEGER);
    return SNMP_ERRORSTATUS_NOERROR;
  }
  // 0 not running; 1 running, 2 running with one of its rules violated (both
  // shown as running); any other byte leaves the value as it is.
  int value = reply;
  if (reply == 0) {
    value = 1;
  } else if (reply == 1 || reply == 2) {
    value = 2;
  }
  if (reply <= 2) SetVarbindNumber(varbind, static_cast<DWORD>(value), ASN_INTEGER);
  if (oc == sp::kOcRuleSetStatus) {
    TRACE(3, "\nLORVETH_AGENT       : fGetRulesetStatus - current status of ruleset %s = %d",
          name.c_str(), value);
  }
  return SNMP_ERRORSTATUS_NOERROR;
}

DWORD CThresholdAgent::fGetRulesetStatus(SnmpVarBind* varbind, DWORD /*mode*/) {
  return SetStatusOf(varbind, kRulesetNameColumn, kRulesetRunningColumn, sp::kOcRuleSetStatus,
                     "fGetRulesetStatus");
}

DWORD CThresholdAgent::fGetReportsetStatus(SnmpVarBind* varbind, DWORD /*mode*/) {
  return SetStatusOf(varbind, kReportSetNameColumn, kReportSetRunningColumn, sp::kOcReportSetStatus,
                     "fGetReportsetStatus");
}

bool CThresholdAgent::RowAvailable(const char* column_oid, const char* name, int member) {
  if (column_oid == nullptr || *column_oid == '\0' || name == nullptr || *name == '\0') {
    return false;
  }
  VarBindOwner lookup;
  if (!OidFromString(column_oid, &lookup->name) || !AppendStringIndex(&lookup->name, name)) {
    return false;
  }
  if (member != -1) {
    UINT number = static_cast<UINT>(member);
    AsnObjectIdentifier suffix{1, &number};
    if (!SnmpUtilOidAppend(&lookup->name, &suffix)) return false;
  }
  TRACE(4, "\nLORVETH_AGENT       :  RowAvailable(): checking for object \"%s\" being available...",
        OidToString(&lookup->name));
  AsnInteger32 status = 0;
  const bool found = MibGetVarbind(lookup.Get(), SNMP_PDU_GET, &status, nullptr);
  TRACE(4, found ? "YES" : "NO");
  return found;
}
