// One SET request on the configuration tables while CThresholdAgent::ExecuteSET
// handles it: the per-call state, the tables a varbind can address with the
// handling of each of their columns, and the steps from the varbinds to the
// one configuration document sent to the threshold module.
//
//   threshold::detail::SetRequest request(agent, varbinds, &status, &index);
//   int handled = request.Execute();
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/Snmp.h"
#include "threshold/documents/RecordDocument.h"
#include "threshold/documents/Records.h"

class CThresholdAgent;

namespace threshold::detail {

enum class ColumnKind {
  kIndex,            // the row's own name: must equal the row index
  kText,             // a text written by the column's writer
  kNumber,           // a number checked against the column's range, then written
  kEnumeration,      // a MIB value 1..n written as keyword n - 1
  kRecordingEnd,     // seconds since 1970, written as a date; 0 is not stored
  kRowStatus,        // plain tables: active, createAndGo or destroy
  kSetRowStatus,     // set tables: also enable or disable the set
  kMemberCheck,      // contents tables: must equal the member number
  kMemberName,       // contents tables: the rule or report to add or remove
  kMemberRowStatus,  // contents tables: add or remove members of the set
  kReadOnly,         // refused with readOnly
  kPassThrough,      // hands the whole request to the MIB tree
};

struct ValueRange {
  int32_t low;
  int32_t high;
};

inline constexpr ValueRange kAnyValue{INT32_MIN, INT32_MAX};
inline constexpr ValueRange kPositive{1, INT32_MAX};
inline constexpr ValueRange kNonNegative{0, INT32_MAX};
inline constexpr ValueRange kMinutesOfDay{0, 1440};

struct SetColumn {
  UINT column;
  ColumnKind kind;
  // The item the column's writer writes; its setter name names the writer in
  // trace lines and in the last SET result message.
  const records::RecordItem* writer = nullptr;
  ValueRange range = kAnyValue;
  // The store trace line without the object and writer.
  bool brief_store_trace = false;
};

// Rule sets or report sets: how a set's configuration is fetched and what the
// edits of its member list trace.  Texts without a conversion are written as
// they are; null texts are not written.
struct SetKind {
  DWORD fetch_oc;
  const records::RecordItem* status;  // the set's enable/disable item
  std::string_view member_tag;
  // Set row status: announcements of the fetch for active and notInService.
  const char* fetch_to_enable;
  const char* fetch_to_disable;
  // Member row status.
  const char* fetch_members;
  const char* fetch_failed_on_destroy;  // a warning; the pass ends without error
  const char* fetch_failed;
  const char* member_found;          // %s: member name
  const char* index_with_member;     // %s: row index, %d: member number
  const char* index_without_member;  // %s: row index
  const char* name_missing_on_create;
  const char* name_missing_on_destroy;
  const char* adding;    // %s: member name, %s: row index
  const char* removing;  // %s: member name, %s: row index
  const char* with_member;
  const char* without_member;
  const char* removal_failed;
};

struct SetTable {
  const char* name;  // the MIB's name of the table
  UINT oid[3];       // below the MIB root: root.1.3.1 is {1, 3, 1}
  DWORD code;
  std::string_view record_tag;
  std::string_view container;
  std::span<const SetColumn> columns;
  const SetKind* set = nullptr;  // set and contents tables
  bool contents = false;         // contents tables: rows carry a member number
  bool checks_report_name = false;
};

// Places in an instance OID: the column number, then the row name as a
// length-prefixed string (and, in the contents tables, the member number).
inline constexpr UINT kColumnPosition = 13;
inline constexpr UINT kNamePosition = 14;

// The first of the nine tables, in their fixed order, whose OID is a prefix
// of oid; nullptr for none.
const SetTable* FindSetTable(const AsnObjectIdentifier& oid);
// The column entry of `column`, nullptr when the table does not list it.
const SetColumn* FindSetColumn(const SetTable& table, UINT column);

// The SNMP error status that answers a store reply's status; 0 for success.
AsnInteger32 SnmpStatusOfReply(DWORD reply_status);

class SetRequest {
 public:
  SetRequest(CThresholdAgent& agent, SnmpVarBindList* varbinds, AsnInteger32* error_status,
             AsnInteger32* error_index);
  SetRequest(const SetRequest&) = delete;
  SetRequest& operator=(const SetRequest&) = delete;
  ~SetRequest();

  // Runs the pass over the varbinds, the row evaluation and the store; returns
  // the handled flag (1: the request is answered with the status and index
  // written, 0: the MIB tree processes it).
  int Execute();

 private:
  // What the column handling knows of the varbind at hand.
  struct Target {
    SnmpVarBind* varbind;
    const SetTable* table;
    UINT position;           // 1-based place in the list
    std::string column_oid;  // dotted, without the instance
  };
  enum class Flow { kNext, kEndPass };

  // The pass (ExecuteSet.cpp).
  Flow HandleVarbind(SnmpVarBind* varbind, UINT position);
  bool CheckReportName(const std::string& name);
  // After the pass: row status, then the document to the module.
  void EvaluateRow();
  bool RowStatusAccepted();
  void StoreRecord();
  void Fail(AsnInteger32 status, UINT index);

  // The column handling (SetColumns.cpp).
  Flow HandleColumn(const Target& target);
  void HandleIndex(const Target& target);
  void HandleWriter(const Target& target, const SetColumn& column);
  void HandleEnumeration(const Target& target, const SetColumn& column);
  void HandleRecordingEnd(const Target& target, const SetColumn& column);
  void HandleRowStatus(const Target& target);
  void HandleSetRowStatus(const Target& target);
  void HandleMemberCheck(const Target& target);
  void HandleMemberName(const Target& target);
  Flow HandleMemberRowStatus(const Target& target);
  void RemoveAllMembers(records::SetRecordView& members, const SetKind& set);
  void TraceMemberIndex(const Target& target);
  void TakeRowStatus(const Target& target);
  enum class Fetch {
    kLoaded,     // the set's configuration is in the record
    kNoSuchSet,  // the module answered that it holds no set of that name
    kFailed,     // no usable answer: transport failure, bad status, no data, bad text
  };
  // Fetches the set's current configuration and loads it into the record;
  // the record stays unchanged unless the result is kLoaded.
  Fetch FetchSetConfiguration(const SetKind& set);
  // Whether the row status destroys the row the record names (a plain or a
  // set row, not a member of a set).
  bool DestroysRow() const;
  bool InRange(int32_t value, ValueRange range);

  CThresholdAgent& agent_;
  SnmpVarBindList* varbinds_;
  AsnInteger32* error_status_out_;
  AsnInteger32* error_index_out_;

  // Per-call state.
  int32_t table_code_ = -1;
  std::string row_index_;
  std::unique_ptr<RecordDocument> record_;
  std::string_view record_tag_;
  std::string container_;
  std::string row_status_column_;
  int32_t row_status_ = 0;
  // The last RowStatus varbind was the plain or set RowStatus of the record's own table.
  bool row_status_of_record_ = false;
  UINT row_status_position_ = 0;  // 1-based place of the last RowStatus varbind, 0: none
  bool objects_stored_ = false;
  int32_t member_number_ = -1;
  std::string member_name_;
  AsnInteger32 error_status_ = 0;
  int handled_ = 0;
};

}  // namespace threshold::detail
