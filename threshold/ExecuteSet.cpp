// SET requests on the configuration tables.  The columns are registered
// read-only; a SET instead becomes one configuration record, wrapped in its
// table's configuration document and sent to the threshold module, which
// reports the change by an event that reloads the table.  One request thus
// addresses one row of one table.
#include <algorithm>
#include <memory>
#include <string>

#include "mibtree/SnmpVarbind.h"
#include "switch/CommandBuffer.h"
#include "switch/SwitchProtocol.h"
#include "threshold/RowIndex.h"
#include "threshold/ThresholdAgent.h"
#include "threshold/detail/SetRequest.h"
#include "threshold/documents/ConfigDocument.h"
#include "trace/FileDebug.h"

namespace sp = switch_protocol;

int CThresholdAgent::ExecuteSET(SnmpVarBindList* varbinds, AsnInteger32* error_status,
                                AsnInteger32* error_index) {
  threshold::detail::SetRequest request(*this, varbinds, error_status, error_index);
  return request.Execute();
}

namespace threshold::detail {

namespace {

// Characters a report name may not hold: the module names files after reports.
constexpr std::string_view kBadReportNameCharacters = "/\\|:*\"<>?";

std::string ColumnOidText(const AsnObjectIdentifier& oid) {
  AsnObjectIdentifier column{std::min(oid.idLength, kColumnPosition + 1), oid.ids};
  return OidToString(&column);
}

}  // namespace

AsnInteger32 SnmpStatusOfReply(DWORD reply_status) {
  switch (reply_status) {
    case cmd_status::kSuccess:
      return SNMP_ERRORSTATUS_NOERROR;
    case cmd_status::kInvalidSetValue:
    case cmd_status::kSetStringTooLong:
    case cmd_status::kIllegalArgumentCount:
      return SNMP_ERRORSTATUS_WRONGVALUE;
    case cmd_status::kObjectReadOnly:
    case cmd_status::kObjectWriteProtected:
      return SNMP_ERRORSTATUS_READONLY;
    default:
      return SNMP_ERRORSTATUS_GENERR;
  }
}

SetRequest::SetRequest(CThresholdAgent& agent, SnmpVarBindList* varbinds,
                       AsnInteger32* error_status, AsnInteger32* error_index)
    : agent_(agent),
      varbinds_(varbinds),
      error_status_out_(error_status),
      error_index_out_(error_index) {}

SetRequest::~SetRequest() = default;

int SetRequest::Execute() {
  TRACE(1, "\nLORVETH_AGENT       :  ExecuteSET(): Start (Build : %s %s)", __DATE__, __TIME__);
  const UINT count = varbinds_ != nullptr && varbinds_->list != nullptr ? varbinds_->len : 0;
  bool failed = false;
  for (UINT i = 0; i < count && error_status_ == 0; ++i) {
    const Flow flow = HandleVarbind(&varbinds_->list[i], i + 1);
    if (error_status_ != 0) {
      Fail(error_status_, i + 1);
      failed = true;
      break;
    }
    if (flow == Flow::kEndPass) break;
  }
  if (!failed) EvaluateRow();
  record_.reset();
  TRACE(1, "\nLORVETH_AGENT       :  ExecuteSET(): End ");
  return handled_;
}

SetRequest::Flow SetRequest::HandleVarbind(SnmpVarBind* varbind, UINT position) {
  const SetTable* table = FindSetTable(varbind->name);
  if (table == nullptr) return Flow::kNext;  // left to the MIB tree, or to nobody
  handled_ = 1;

  const AsnObjectIdentifier& oid = varbind->name;
  const std::string row_name = RowNameAt(oid, kNamePosition);
  if (table->contents) {
    // The member number follows the name; it is absent when the OID ends with
    // the name (or before).
    member_number_ = -1;
    if (oid.idLength > kNamePosition &&
        uint64_t{oid.ids[kNamePosition]} + kNamePosition + 1 < oid.idLength) {
      member_number_ = static_cast<int32_t>(oid.ids[oid.idLength - 1]);
    }
  }

  if (table_code_ == -1) {
    if (table->checks_report_name && !CheckReportName(row_name)) return Flow::kNext;
    TRACE(
        3,
        "\nLORVETH_AGENT       :  ExecuteSET(): First object - save index (%s) and create XML doc",
        row_name.c_str());
    row_index_ = row_name;
    table_code_ = static_cast<int32_t>(table->code);
    record_tag_ = table->record_tag;
    container_ = table->container;
    record_ = std::make_unique<RecordDocument>(table->record_tag, row_name);
    if (!record_->CheckWellFormed()) record_.reset();
  } else if (row_name != row_index_) {
    // Only the names are compared: a varbind of another table with the same
    // name goes into the first varbind's record.
    TRACE(1,
          "\nLORVETH_AGENT       :  ExecuteSET(): ## ERROR! Current table index 1 (%s) not equal "
          "to SET index (%s)",
          row_index_.c_str(), row_name.c_str());
    agent_.SetLastSetResultMessage("Different table indexes in VarbindList");
    error_status_ = SNMP_ERRORSTATUS_INCONSISTENTVALUE;
    return Flow::kNext;
  }

  if (record_ == nullptr) {
    TRACE(1,
          "\nLORVETH_AGENT       :  ExecuteSET(): ## ERROR! Current table ID (0x%04X) not set or "
          "no XML doc available!",
          static_cast<DWORD>(table_code_));
    error_status_ = SNMP_ERRORSTATUS_GENERR;
    return Flow::kNext;
  }
  return HandleColumn(Target{varbind, table, position, ColumnOidText(oid)});
}

bool SetRequest::CheckReportName(const std::string& name) {
  const size_t bad = name.find_first_of(kBadReportNameCharacters);
  if (bad == std::string::npos) return true;
  TRACE(1,
        "\nLORVETH_AGENT       :  ExecuteSET(): ## ERROR! ReportName \"%s\" contains bad character "
        "at %d",
        name.c_str(), static_cast<int>(bad));
  agent_.SetLastSetResultMessage("ReportName contains bad character ('/\\|:*\"<>?')");
  error_status_ = SNMP_ERRORSTATUS_INCONSISTENTNAME;
  return false;
}

void SetRequest::Fail(AsnInteger32 status, UINT index) {
  if (error_status_out_ != nullptr) *error_status_out_ = status;
  if (error_index_out_ != nullptr) *error_index_out_ = static_cast<AsnInteger32>(index);
}

void SetRequest::EvaluateRow() {
  TRACE(3, "\nLORVETH_AGENT       :  ExecuteSET(): No error in SET, check row status %d...",
        row_status_);
  if (!RowStatusAccepted()) {
    // These failures belong to the row, not to one varbind: the error index
    // names the RowStatus varbind, or the first varbind when there was none.
    Fail(SNMP_ERRORSTATUS_INCONSISTENTVALUE, row_status_position_ != 0 ? row_status_position_ : 1);
    return;
  }
  if (record_ == nullptr) return;
  // The module reads a record that names only its row as the removal of that
  // row, and anything more as a change.  So a destroy sends exactly that,
  // whatever other columns came with it, and a request that leaves nothing
  // to change sends nothing at all instead of a removal.
  if (DestroysRow()) {
    record_ = std::make_unique<RecordDocument>(record_tag_, row_index_);
  } else if (record_->CarriesOnlyName()) {
    TRACE(3,
          "\nLORVETH_AGENT       :  ExecuteSET(): Nothing to change in row \"%s\", no config sent "
          "to VARN threshold module",
          row_index_.c_str());
    return;
  }
  StoreRecord();
}

bool SetRequest::RowStatusAccepted() {
  const char* row = row_index_.c_str();
  switch (row_status_) {
    case 1:  // active
    case 2:  // notInService
      TRACE(2, "\nLORVETH_AGENT       : --> Modify row \"%s\", make %sactive", row,
            row_status_ == 1 ? "" : "in");
      if (!agent_.RowAvailable(row_status_column_.c_str(), row, member_number_)) {
        TRACE(1,
              "\nLORVETH_AGENT       : ## ERROR when activate/modify row: row does not exist!\n");
        return false;
      }
      return true;
    case 4:  // createAndGo
    case 5:  // createAndWait
      TRACE(2, "\nLORVETH_AGENT       : --> Create row \"%s\"", row);
      if (!objects_stored_) {
        TRACE(1,
              "\nLORVETH_AGENT       : ## ERROR when creating row: no other objects in row "
              "provided!\n");
        return false;
      }
      if (agent_.RowAvailable(row_status_column_.c_str(), row, member_number_)) {
        TRACE(1, "\nLORVETH_AGENT       : ## ERROR when creating row: row already exists!\n");
        return false;
      }
      return true;
    case 6:  // destroy
      if (member_number_ != -1) {
        TRACE(2, "\nLORVETH_AGENT       : --> Delete row \"%s\"", row);
        if (!agent_.RowAvailable(row_status_column_.c_str(), row, member_number_)) {
          TRACE(2,
                "\nLORVETH_AGENT       : ## WARNING when deleting row: row does not exist! Don't "
                "report an error (according to RFC2579).\n");
        }
      }
      return true;
    default:  // no RowStatus varbind, notReady or a value outside the convention
      TRACE(1, "\nLORVETH_AGENT       : ## ERROR! Missing or illegal RowStatus in row!\n");
      return false;
  }
}

void SetRequest::StoreRecord() {
  ConfigDocument config;
  // A record that does not merge (a fetched configuration that was no single
  // element) would leave an empty table document: nothing is sent then.
  if (!config.ResetDocument(container_) || !config.CheckWellFormed() ||
      !config.MergeRecord(*record_)) {
    TRACE(1, "\nLORVETH_AGENT       :  ExecuteSET(): ERROR! Failed to create XML config");
    Fail(SNMP_ERRORSTATUS_GENERR, 1);
    return;
  }
  TRACE(3,
        "\nLORVETH_AGENT       :  ExecuteSET(): RowStatus OK, send config to VARN threshold "
        "module...");
  const std::string& text = config.DocumentText();
  TRACE(2, "\nLORVETH_AGENT       :  ExecuteSET(): XML config data:\n%s", text.c_str());

  CommandBuffer request;
  request.BuildFrame(sp::kOcStoreConfiguration, static_cast<DWORD>(table_code_), 0,
                     sp::kAgentCabinet, sp::kStatNoData, text.c_str(),
                     static_cast<DWORD>(text.size() + 1));
  request.SendRequest(agent_.SwitchClient(), 0, 0, 0);
  const DWORD status = request.FrameStatus();
  TRACE(3,
        "\nLORVETH_AGENT       : ExecuteSET(): VARN request status = %s (MIB update by VARN event)",
        CommandBuffer::StatusText(status));
  const AsnInteger32 snmp_status = SnmpStatusOfReply(status);
  if (snmp_status != SNMP_ERRORSTATUS_NOERROR) Fail(snmp_status, 1);
}

}  // namespace threshold::detail
