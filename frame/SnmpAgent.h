// CSnmpAgent: the extension agent object.  It owns the MIB tree, the trap queue,
// the switch client, the trap alerting and the initialization thread, and runs
// the lifecycle that the five entry points drive: SnmpInit (start the
// initialization thread), SnmpQuery (answer requests once the MIB is ready),
// SnmpTrap (hand queued traps to the SNMP service) and SnmpClose (stop, bounded).
//
// A concrete agent derives from it, implements InitializeMib and may override the
// other virtual operations; the library creates exactly one through
// CreateAgentInstance().
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <string>

#include "frame/AgentStatus.h"
#include "frame/SysBase.h"
#include "frame/Thread.h"
#include "frame/TrapAlert.h"
#include "host/FileVersionInfo.h"
#include "mibtree/SnmpErrorText.h"
#include "mibtree/SnmpMibTree.h"
#include "mibtree/SnmpVarbind.h"
#include "platform/Snmp.h"
#include "platform/system/Threads.h"
#include "switch/CommandBuffer.h"
#include "switch/VarnClient.h"

class CSnmpAgent;

// One queued trap: enterprise, enterprise-specific number and a deep copy of the
// bindings, freed with the record.
struct TrapRecord {
  AsnObjectIdentifier enterprise{0, nullptr};
  DWORD trap_number = 0;
  SnmpVarBindList varbinds{nullptr, 0};

  TrapRecord() = default;
  ~TrapRecord();
  TrapRecord(const TrapRecord&) = delete;
  TrapRecord& operator=(const TrapRecord&) = delete;
};

class CSnmpAgent : public CSnmpMibTree<CSnmpAgent>, public CSysBase {
 public:
  CSnmpAgent();

  // Virtual operations, in slot order.
  ~CSnmpAgent() override;                                                  // 0
  virtual void VarnReply(CommandBuffer* reply);                            // 1
  virtual void InitializeMib() = 0;                                        // 2
  virtual void CloseMib();                                                 // 3
  virtual const char* GetAgentModuleName();                                // 4
  virtual DWORD GetAgentPurpose();                                         // 5
  virtual BOOL ResolveTrap(AsnObjectIdentifier* enterprise, AsnInteger32* specific_trap,
                           SnmpVarBindList* varbinds);                     // 6
  virtual BOOL ResolveTrapEx(AsnObjectIdentifier* enterprise, AsnInteger32* specific_trap,
                             SnmpVarBindList* varbinds, DWORD parameter);  // 7
  virtual BOOL OnPreSnmpQuery(BYTE request_type, SnmpVarBindList* varbinds,
                              AsnInteger32* error_status, AsnInteger32* error_index);   // 8
  virtual void OnPostSnmpQuery(BYTE request_type, SnmpVarBindList* varbinds,
                               AsnInteger32* error_status, AsnInteger32* error_index);  // 9
  virtual BOOL InitSupportedRegions();                                     // 10

  // Entry-point bodies (the exception guards are the caller's).
  BOOL SnmpInit(DWORD uptime_reference, HANDLE* trap_event, AsnObjectIdentifier* first_region);
  BOOL SnmpInitEx(AsnObjectIdentifier* next_region);
  BOOL SnmpQuery(BYTE request_type, SnmpVarBindList* varbinds, AsnInteger32* error_status,
                 AsnInteger32* error_index);
  BOOL SnmpTrap(AsnObjectIdentifier* enterprise, AsnInteger32* generic_trap,
                AsnInteger32* specific_trap, AsnTimeticks* time_stamp, SnmpVarBindList* varbinds);
  // The close sequence; runs at most once per process.
  void SnmpClose();

  // Queues a trap unless the trap configuration disables it; non-zero when queued
  // and the trap event was set.
  BOOL CreateTrap(const char* enterprise, DWORD trap_number, SnmpVarBindList* varbinds);
  BOOL ResolveTrapFromQueue(AsnObjectIdentifier* enterprise, AsnInteger32* specific_trap,
                            SnmpVarBindList* varbinds);

  // Process attach, step 6: module path, registry roots, status "loaded",
  // message library, trap configuration file, computer name, banner, lock list.
  void InitializeIdentity(HMODULE module);

  // Records an exception caught by a guard: status code, "AgentStatus" 4 and
  // "AgentLastError" "exception occured".
  void RecordException(AgentStatus status);

  CVarnClient& SwitchClient() { return *switch_client_; }
  CRITICAL_SECTION& RequestLock() { return request_lock_; }
  FileVersionInfo& VersionInfo() { return *version_info_; }
  CTrapAlert& TrapAlert() { return *trap_alert_; }
  const char* ModulePath() const { return module_path_; }
  const char* ComputerName() const { return computer_name_; }
  bool RequestsEnabled() const { return requests_enabled_.load() != 0; }
  const CThread& InitThread() const { return *init_thread_; }
  const char* TrapConfigPath() const { return trap_config_path_; }
  bool TrapConfigOpen() const { return trap_config_open_; }

 protected:
  const char* StatusName() const override;

 private:
  friend DWORD Thread_InitMib(LPVOID agent);

  void ReadSwitchPermissionFlags();
  BYTE RequestSetting(DWORD setting);
  void ApplyModuleLockList();
  // GET-NEXT past the end of the MIB: the root of the region that holds the
  // varbind, with its last sub-identifier increased by one.
  void StepOutOfRegion(SnmpVarBind* varbind);
  void EnterRequestLock();
  void LeaveRequestLock();

 public:
  // Releases the request lock if this thread still holds it after a failed
  // (guarded) query.
  void ReleaseRequestLockAfterFailure();

 private:

  // Forwards the switch client's frames to VarnReply.
  class ReplyForwarder final : public IVarnReplyTarget {
   public:
    explicit ReplyForwarder(CSnmpAgent& agent) : agent_(agent) {}
    void VarnReply(CommandBuffer& reply) override { agent_.VarnReply(&reply); }

   private:
    CSnmpAgent& agent_;
  };

  // The owned parts are held by pointer so that the destructor releases them in
  // a fixed order: the alerting and the initialization thread first, then the
  // switch client, whose event threads may still queue traps, and the trap
  // queue last.
  HANDLE shutdown_event_ = nullptr;
  std::deque<std::unique_ptr<TrapRecord>> trap_queue_;
  CRITICAL_SECTION trap_queue_lock_;
  std::atomic<DWORD> trap_queue_used_{0};
  std::unique_ptr<FileVersionInfo> version_info_;
  ReplyForwarder reply_forwarder_{*this};
  std::unique_ptr<CVarnClient> switch_client_;
  char module_path_[MAX_PATH] = {};
  CRITICAL_SECTION request_lock_;
  std::atomic<DWORD> request_lock_owner_{0};
  std::unique_ptr<CThread> init_thread_;
  HANDLE trap_event_ = nullptr;
  std::unique_ptr<CTrapAlert> trap_alert_;
  char trap_config_path_[MAX_PATH] = {};
  bool trap_config_open_ = false;
  std::atomic<DWORD> requests_enabled_{0};
  DWORD agent_start_time_ = 0;
  DWORD next_region_index_ = 0;
  char computer_name_[16] = {};
};

// The thread procedure that attaches to the switch and builds the MIB.
DWORD Thread_InitMib(LPVOID agent);

// Creates the library's one agent object and adds its MIB region root (process
// attach); defined by the concrete agent.
CSnmpAgent* CreateAgentInstance();
