// CThresholdAgent: the threshold and report agent.  It mirrors the seven
// configuration tables of the threshold module into the MIB under the root of
// MibRoot.h, serves live values (status bytes, current values, record index
// bounds) by asking the module on each read, reloads a table when the module
// announces a change, and turns threshold events into traps.
//
// The library's factory creates the one instance and adds the region:
//
//   CSnmpAgent* CreateAgentInstance() {
//     auto* agent = new CThresholdAgent;
//     agent->AddMibRegion(kMibRoot);
//     return agent;
//   }
//
// Source files: ThresholdAgent.cpp (start-up, scalars, OnPreSnmpQuery),
// TableLoading.cpp (loaders, get callbacks, RowAvailable), Notifications.cpp
// (VarnReply, SendThresholdTrap), ExecuteSet.cpp (SET requests) and
// ExecuteGet.cpp (recorded report values).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "frame/SnmpAgent.h"
#include "platform/Snmp.h"
#include "switch/CommandBuffer.h"
#include "threshold/MibRoot.h"

class RecordDocument;

class CThresholdAgent : public CSnmpAgent {
 public:
  CThresholdAgent() = default;
  ~CThresholdAgent() override;

  // Table refresh after a change event and traps from threshold events; any
  // other frame is ignored.  Runs on the switch's delivery thread.
  void VarnReply(CommandBuffer* reply) override;
  // Identity and status scalars, then the seven tables; records the outcome as
  // the agent status.  Runs once on the initialization thread.
  void InitializeMib() override;
  // SET requests go to ExecuteSET, every other request to ExecuteGET; true
  // (the MIB tree serves the request) when the one called did not handle it.
  BOOL OnPreSnmpQuery(BYTE request_type, SnmpVarBindList* varbinds, AsnInteger32* error_status,
                      AsnInteger32* error_index) override;

  // Start-up steps.
  void InitializeAgentInfo();
  bool InitializeAgentOptions();

  // The loaders, one per table code.  Each adds the rows of its table as the
  // module reports it (removing old rows is the caller's job); false when the
  // module gave no good reply.  While the extension shuts down: true at once.
  bool InitializeRuleTable();
  bool InitializeRulesetTables();
  bool InitializeEventTable();
  bool InitializeReportTable();
  bool InitializeReportsetTable();
  bool InitializeResourceTable();
  bool InitializeTargetTable();

  // Get callbacks of the variable objects: fill the varbind, return 0.
  DWORD fGetConfigChangedTime(SnmpVarBind* varbind, DWORD mode);
  DWORD fGetLastSetResultMsg(SnmpVarBind* varbind, DWORD mode);
  DWORD fGetThresholdStatus(SnmpVarBind* varbind, DWORD mode);
  DWORD fGetPerformanceStatus(SnmpVarBind* varbind, DWORD mode);
  DWORD fGetResourceCurrentValue(SnmpVarBind* varbind, DWORD mode);
  DWORD fGetReportCurrentValue(SnmpVarBind* varbind, DWORD mode);
  DWORD fGetReportHighestIndexInUse(SnmpVarBind* varbind, DWORD mode);
  DWORD fGetReportOldestIndexInUse(SnmpVarBind* varbind, DWORD mode);
  DWORD fGetRulesetStatus(SnmpVarBind* varbind, DWORD mode);
  DWORD fGetReportsetStatus(SnmpVarBind* varbind, DWORD mode);

  // Whether the MIB tree holds the instance column_oid.<name>[.member]; member
  // -1 means none.  False for an empty column or name.  Takes the tree lock.
  bool RowAvailable(const char* column_oid, const char* name, int member);

  // Queues the trap of a threshold event frame (OC 0x2201).
  void SendThresholdTrap(CommandBuffer* reply);

  // SET requests: returns 1 when it answered the request (status and index
  // written), 0 to leave it to the MIB tree.
  int ExecuteSET(SnmpVarBindList* varbinds, AsnInteger32* error_status, AsnInteger32* error_index);
  // GET and GET-NEXT of recorded report values: 1 when it answered at least one
  // varbind, 0 to leave the request to the MIB tree.
  int ExecuteGET(BYTE request_type, SnmpVarBindList* varbinds, AsnInteger32* error_status,
                 AsnInteger32* error_index);

  // The last SET result message ("No SET executed" after start-up).  Any thread.
  std::string LastSetResultMessage() const;
  void SetLastSetResultMessage(const char* text);

  // The latest Modified time of any table load, seconds since 1970; 0 before
  // the first load that carried one.  Only grows.
  int64_t LatestConfigChangeTime() const { return config_change_time_.load(); }

  // Descriptions of the tables and their loaders (TableLoading.cpp).
  struct LoaderSpec;
  struct TableSpec;

 private:
  bool LoadTable(const LoaderSpec& loader);
  void RegisterRow(const TableSpec& table, RecordDocument& record, const std::string& name);
  void RegisterMembers(const LoaderSpec& loader, RecordDocument& record, const std::string& name);
  void RegisterChangeScalars(const LoaderSpec& loader, DWORD value);
  void NoteConfigChangeTime(int64_t modified);
  // Major product version of the agent module's version resource, -1 when
  // it cannot be read.
  int ProductMajorVersion();

  // One-byte status requests and named requests to the threshold module.
  bool RequestByte(DWORD oc, const char* name, BYTE* value, DWORD* status);
  DWORD SetStatusOf(SnmpVarBind* varbind, const char* name_column, const char* own_column, DWORD oc,
                    const char* callback);
  DWORD CurrentValueOf(SnmpVarBind* varbind, const char* column, DWORD oc, const char* callback);
  DWORD RecordIndexOf(SnmpVarBind* varbind, const char* column, DWORD oc, bool oldest);

  std::atomic<int64_t> config_change_time_{0};
  mutable std::mutex message_lock_;
  std::string last_set_result_;
};
