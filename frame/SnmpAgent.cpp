// The agent lifecycle: initialization thread, request processing, trap queue and
// the bounded close sequence.
#include "frame/SnmpAgent.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "frame/AgentStatus.h"
#include "frame/ErrorText.h"
#include "frame/Extension.h"
#include "platform/com/Com.h"
#include "platform/system/FaultGuard.h"
#include "platform/system/Paths.h"
#include "platform/system/Profile.h"
#include "platform/system/System.h"
#include "switch/SwitchProtocol.h"
#include "trace/FileDebug.h"

namespace {

const char* Module() { return Extension().module_name; }

constexpr DWORD kInitThreadStackSize = 0x100000;
constexpr DWORD kCloseWaitMs = 20000;

}  // namespace

TrapRecord::~TrapRecord() {
  SnmpUtilOidFree(&enterprise);
  SnmpUtilVarBindListFree(&varbinds);
}

CSnmpAgent::CSnmpAgent()
    : version_info_(std::make_unique<FileVersionInfo>()),
      switch_client_(std::make_unique<CVarnClient>(&reply_forwarder_, &Extension().switch_flags)),
      init_thread_(std::make_unique<CThread>()),
      trap_alert_(std::make_unique<CTrapAlert>()) {
  shutdown_event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  InitializeCriticalSection(&trap_queue_lock_);
  InitializeCriticalSection(&request_lock_);
  trap_event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  // The switch lists its clients by name; the agent attaches as its module.
  switch_client_->SetDefaultClientName(Module());
}

CSnmpAgent::~CSnmpAgent() {
  if (shutdown_event_ != nullptr) CloseHandle(shutdown_event_);
  shutdown_event_ = nullptr;
  SetAgentStatus(static_cast<DWORD>(AgentStatus::kUnloaded));
  trap_config_open_ = false;
  trap_alert_.reset();
  if (trap_event_ != nullptr) CloseHandle(trap_event_);
  trap_event_ = nullptr;
  init_thread_.reset();
  DeleteCriticalSection(&request_lock_);
  switch_client_.reset();
  version_info_.reset();
  {
    CriticalSectionLock lock(trap_queue_lock_);
    trap_queue_.clear();
  }
  DeleteCriticalSection(&trap_queue_lock_);
}

const char* CSnmpAgent::StatusName() const { return Module(); }

void CSnmpAgent::VarnReply(CommandBuffer* /*reply*/) {}

void CSnmpAgent::CloseMib() {}

const char* CSnmpAgent::GetAgentModuleName() { return Module(); }

DWORD CSnmpAgent::GetAgentPurpose() { return 1; }

BOOL CSnmpAgent::ResolveTrap(AsnObjectIdentifier* /*enterprise*/, AsnInteger32* /*specific_trap*/,
                             SnmpVarBindList* /*varbinds*/) {
  TRACE(1, "\n%-20s: ## ERROR in CSnmpAgent::ResolveTrap(): function not overloaded! Trap request ignored!!",
        Module());
  return FALSE;
}

BOOL CSnmpAgent::ResolveTrapEx(AsnObjectIdentifier* enterprise, AsnInteger32* specific_trap,
                               SnmpVarBindList* varbinds, DWORD /*parameter*/) {
  return ResolveTrap(enterprise, specific_trap, varbinds);
}

BOOL CSnmpAgent::OnPreSnmpQuery(BYTE /*request_type*/, SnmpVarBindList* /*varbinds*/,
                                AsnInteger32* /*error_status*/, AsnInteger32* /*error_index*/) {
  return TRUE;
}

void CSnmpAgent::OnPostSnmpQuery(BYTE /*request_type*/, SnmpVarBindList* /*varbinds*/,
                                 AsnInteger32* /*error_status*/, AsnInteger32* /*error_index*/) {}

BOOL CSnmpAgent::InitSupportedRegions() { return FALSE; }

void CSnmpAgent::RecordException(AgentStatus status) {
  SetAgentStatus(static_cast<DWORD>(status));
  SetAgentStatusValue(4);
  SetAgentLastError("exception occured");
}

// ---------------------------------------------------------------------------
// Initialization

BOOL CSnmpAgent::SnmpInit(DWORD uptime_reference, HANDLE* trap_event,
                          AsnObjectIdentifier* first_region) {
  TRACE(2, "\n%-20s: SnmpInit(): Initializing agent...", Module());
  SetAgentStatus(static_cast<DWORD>(AgentStatus::kInitializing));

  agent_start_time_ = uptime_reference;
  TRACE(4, "\n%-20s:  Agent start time = %u...", Module(), agent_start_time_);

  if (trap_event != nullptr) *trap_event = trap_event_;
  if (trap_event_ == nullptr) TRACE(1, "\n##%-20s: ERROR: Could not create trap event!", Module());

  requests_enabled_.store(0);

  if (GetMibRegionCount() == 0) {
    if (!InitSupportedRegions()) {
      TRACE(1, "\n\n## FATAL ERROR: InitSupportedRegions() function not implemented or failed!!\n");
      TRACE(1, "\nThe agent needs the MIB root OIDs to be defined in InitSupportedRegions()!");
      TRACE(1, "\nCall AddMibRegion() for every MIB root OID there.\nException raised to abort initialization!\n");
      throw std::runtime_error("InitSupportedRegions failed");
    }
  } else {
    TRACE(4, "\n%-20s: InitSupportedRegions() not needed to be called because MIB root already defined",
          Module());
  }

  if (first_region != nullptr && GetMibRegionCount() > 0) {
    SnmpUtilOidCpy(first_region, const_cast<AsnObjectIdentifier*>(GetMibRegionOid(0)));
  }
  next_region_index_ = 1;

  TRACE(3, "\n%-20s: Storing agent parameters...", Module());
  SetInvTableIndex(GetMibRegionCount() > 0 ? OidToString(GetMibRegionOid(0)) : nullptr);
  SetAgentPurpose(GetAgentPurpose());
  SetAgentStatusValue(0);
  SetAgentLastError("initializing");

  TRACE(3, "\n%-20s: Starting MIB initialization thread...", Module());
  // The suffix is appended only when the whole name fits the 31 characters.
  std::string name = Module();
  if (name.size() > 31) name.resize(31);
  if (name.size() + std::strlen(":Thread_InitMib") <= 31) name += ":Thread_InitMib";
  init_thread_->SetName(name.c_str());
  if (init_thread_->Create(&Thread_InitMib, this, kInitThreadStackSize)) {
    init_thread_->Resume();
    Sleep(0);
  }
  TRACE(3, "\n%-20s: ...MIB initialization thread started", Module());
  TRACE(5, "\n%-20s: -> SnmpInit()", Module());
  return TRUE;
}

BOOL CSnmpAgent::SnmpInitEx(AsnObjectIdentifier* next_region) {
  TRACE(2, "\n%-20s: SnmpInitEx(): Get next MIB region [%d]", Module(), next_region_index_);
  if (next_region_index_ < GetMibRegionCount()) {
    TRACE(3, "\n%-20s:  supplying additional MIB region: %s %s", Module(),
          GetMibRegionDescription(next_region_index_), OidToString(GetMibRegionOid(next_region_index_)));
    if (next_region != nullptr) {
      SnmpUtilOidCpy(next_region,
                     const_cast<AsnObjectIdentifier*>(GetMibRegionOid(next_region_index_)));
    }
    ++next_region_index_;
    return TRUE;
  }
  TRACE(3, "\n%-20s: no additional MIB regions available", Module());
  return FALSE;
}

BYTE CSnmpAgent::RequestSetting(DWORD setting) {
  CommandBuffer frame;
  frame.SetHeaderFields(switch_protocol::kOcReadConfiguration, setting, 0,
                        switch_protocol::kAgentCabinet, switch_protocol::kStatRequestPending);
  frame.SendRequest(*switch_client_, 0, 0, 0);
  return frame.HasReplyData(1, false) ? frame.DataByte(0) : 0;
}

void CSnmpAgent::ReadSwitchPermissionFlags() {
  SwitchPermissionFlags& flags = Extension().switch_flags;
  TRACE(2, "\n%-20s: Checking for SNMP shutdown allowed...", Module());
  flags.ShutdownIsAllowed = RequestSetting(switch_protocol::kSettingShutdownIsAllowed);
  TRACE(3, "\n%-20s:    ShutdownIsAllowed = %d", Module(), flags.ShutdownIsAllowed.load());
  TRACE(2, "\n%-20s: Checking for SNMP set allowed...", Module());
  flags.SetAllowed = RequestSetting(switch_protocol::kSettingSetAllowed);
  TRACE(3, "\n%-20s:    SetAllowed = %d", Module(), flags.SetAllowed.load());
  flags.DoAccountCheck = RequestSetting(switch_protocol::kSettingDoAccountCheck);
  TRACE(3, "\n%-20s:    DoAccountCheck = %d", Module(), flags.DoAccountCheck.load());
  TRACE(2, "\n%-20s: Checking for SNMP trap forwarding settings...", Module());
  flags.Trap2EventLog = RequestSetting(switch_protocol::kSettingTrap2EventLog);
  TRACE(3, "\n%-20s:    Trap2EventLog filter is = %d", Module(), flags.Trap2EventLog.load());
  flags.TrapToAdminAlert = RequestSetting(switch_protocol::kSettingTrapToAdminAlert);
  TRACE(3, "\n%-20s:    TrapToAdminAlert filter is = %d", Module(), flags.TrapToAdminAlert.load());
}

DWORD Thread_InitMib(LPVOID argument) {
  auto* agent = static_cast<CSnmpAgent*>(argument);
  ExtensionState& extension = Extension();
  const bool completed = platform::RunGuarded([&] {
    TRACE(2, "\n\n%-20s: *** START THREAD Thread_InitMib() ***\n", Module());
    agent->SetAgentStatus(static_cast<DWORD>(AgentStatus::kStarting));
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);

    CVarnClient& client = *agent->switch_client_;
    if (!client.Attach(nullptr)) {
      TRACE(1, "\n\n%-20s: ## ERROR 0x%X! SWITCH attach FAILED (%s)!\n", Module(),
            static_cast<DWORD>(client.m_LasthResult),
            ComErrorMessage(client.m_LasthResult).c_str());
    } else {
      client.EnableCancelRequest(true);
      if (extension.shutdown.load() == 0) {
        TRACE(3, "\n%-20s: Enable SWITCH events ...", Module());
        client.EnableEvents(true);
        TRACE(3, "\n%-20s: ...SWITCH events enabled!", Module());

        bool initialize = false;
        if (extension.shutdown.load() == 0) {
          agent->ReadSwitchPermissionFlags();
          initialize = extension.shutdown.load() == 0;
        }
        if (initialize) {
          TRACE(3, "\n%-20s: Calling the agent's InitializeMib()...", Module());
          agent->InitializeMib();
        } else {
          TRACE(2, "\n%-20s: Agent's InitializeMib() not called - agent shutdown in progress!",
                Module());
        }
        if (extension.shutdown.load() == 0) agent->ReadSwitchPermissionFlags();

        agent->requests_enabled_.store(1);
        TRACE(3, "\n%-20s: Initialization done - SNMP requests enabled!", Module());
        agent->SetAgentStatus(static_cast<DWORD>(AgentStatus::kStarted));

        WaitForSingleObject(agent->shutdown_event_, INFINITE);
        TRACE(1, "\n%-20s: Shutdown SNMP agent signaled!!", Module());
        TRACE(3, "\n%-20s: Disable SWITCH events ...", Module());
        client.EnableEvents(false);
        TRACE(3, "\n%-20s: ... SWITCH events disabled", Module());
      }
      client.Detach();
    }

    TRACE(4, "\n\n%-20s: Start CoUninitialize() ...", Module());
    if (com == S_OK || com == S_FALSE) CoUninitialize();
    TRACE(4, "\n\n%-20s: ... CoUninitialize() done.", Module());
    TRACE(2, "\n\n%-20s: *** EXIT THREAD Thread_InitMib() ***\n", Module());
  });
  if (!completed) {
    TraceExceptionBanner(
        "\n####                   Exception in MIB Init Thread !!                    ####");
    agent->RecordException(AgentStatus::kExceptionInitializeMib);
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Requests

BOOL CSnmpAgent::SnmpQuery(BYTE request_type, SnmpVarBindList* varbinds,
                           AsnInteger32* error_status, AsnInteger32* error_index) {
  ExtensionState& extension = Extension();
  const UINT count = varbinds != nullptr ? varbinds->len : 0;
  const bool tracing = GetTrace().IsActive();
  std::vector<const char*> object_names(count, "");

  if (tracing) {
    TRACE(2, "\n\n%-20s: SNMP query: number queries=%d", Module(), count);
    if (request_type == SNMP_PDU_GET || request_type == SNMP_PDU_GETNEXT) {
      TRACE(2, request_type == SNMP_PDU_GET ? "\n%-20s:   RequestType: GET"
                                            : "\n%-20s:   RequestType: GETNEXT",
            Module());
      for (UINT i = 0; i < count; ++i) {
        TRACE(2, "\n%-20s:   Req[%d] Oid:  %s", Module(), i + 1,
              OidToString(&varbinds->list[i].name));
      }
    } else if (request_type == SNMP_PDU_SET) {
      TRACE(2, "\n%-20s:   RequestType: SET", Module());
      for (UINT i = 0; i < count; ++i) {
        TRACE(2, "\n%-20s:   Set[%d] Oid:  %s", Module(), i + 1,
              OidToString(&varbinds->list[i].name));
        TRACE(2, "\n%-20s:     Value:     %s", Module(),
              VarbindValueText(&varbinds->list[i].value));
      }
    }
  }

  BOOL result = TRUE;
  if (requests_enabled_.load() == 0 || extension.shutdown.load() != 0) {
    TRACE(2, "\n%-20s: ## Init not completed or agent shutdown; request refused; ERROR status: <<no such name>>",
          Module());
    *error_status = SNMP_ERRORSTATUS_NOSUCHNAME;
    *error_index = 1;
  } else if (!OnPreSnmpQuery(request_type, varbinds, error_status, error_index)) {
    TRACE(4, "\n%-20s: SnmpQuery() skipped!", Module());
    OnPostSnmpQuery(request_type, varbinds, error_status, error_index);
  } else {
    *error_status = 0;
    *error_index = 0;
    UINT i = 0;
    {
      EnterRequestLock();
      switch (request_type) {
        case SNMP_PDU_GET:
          result = FALSE;
          for (i = 0; i < count && *error_status == 0; ++i) {
            if (MibGetVarbind(&varbinds->list[i], SNMP_PDU_GET, error_status, &object_names[i])) {
              result = TRUE;
            } else {
              TRACE(1, "\n%-20s: Execution of  MibGetVarbind FAILED!", Module());
            }
          }
          break;
        case SNMP_PDU_GETNEXT:
          for (i = 0; i < count && *error_status == 0 && extension.shutdown.load() == 0; ++i) {
            SnmpVarBind* varbind = &varbinds->list[i];
            bool found =
                MibGetVarbind(varbind, SNMP_PDU_GETNEXT, error_status, &object_names[i]);
            while (found && *error_status != 0) {
              TRACE(2, "\n%-20s:   Ret[%d] Oid:  %s - GETNEXT SNMP Error %d (callback failed) -> find next object",
                    Module(), i + 1, OidToString(&varbind->name), *error_status);
              found = MibGetVarbind(varbind, SNMP_PDU_GETNEXT, error_status, &object_names[i]);
            }
            if (!found) {
              TRACE(2, "\n%-20s:   Ret[%d] - End of MIB tree -> reply OID outside of this MIB",
                    Module(), i + 1);
              StepOutOfRegion(varbind);
              *error_status = 0;
            }
          }
          break;
        case SNMP_PDU_SET:
          result = FALSE;
          for (i = 0; i < count && *error_status == 0; ++i) {
            if (MibCheckSetVarbind(&varbinds->list[i], error_status, &object_names[i])) {
              result = TRUE;
              TRACE(3, "\n%-20s: MibCheckSetVarbind returned %d (%s)", Module(), *error_status,
                    SnmpErrorText(*error_status));
            } else {
              TRACE(1, "\n%-20s: Execution of MibCheckSetVarbind FAILED!", Module());
            }
          }
          if (*error_status == 0) {
            for (i = 0; i < count && *error_status == 0; ++i) {
              if (MibSetVarbind(&varbinds->list[i], error_status)) {
                result = TRUE;
                TRACE(3, "\n%-20s: MibSetVarbind returned %d (%s)", Module(), *error_status,
                      SnmpErrorText(*error_status));
              } else {
                TRACE(1, "\n%-20s: Execution of MibSetVarbind FAILED!", Module());
              }
            }
          }
          break;
        default:
          result = FALSE;
          break;
      }
      LeaveRequestLock();
    }
    // Each loop stops right after the varbind that set the status, so i is one
    // past it: the 1-based position.
    if (result && *error_status != 0) *error_index = static_cast<AsnInteger32>(i);
    if (!result) {
      TRACE(1, "\n%-20s: ## ERROR: SnmpQuery() failed!!\n", Module());
      *error_index = 1;
    }
    OnPostSnmpQuery(request_type, varbinds, error_status, error_index);
  }

  if (tracing) {
    for (UINT k = 0; k < count; ++k) {
      TRACE(2, "\n%-20s:   Ret[%d] Oid:  %s", Module(), k + 1, OidToString(&varbinds->list[k].name));
      TRACE(2, "\n%-20s:   Ret Value: %s", Module(),
            VarbindValueText(&varbinds->list[k].value));
      TRACE(2, "\n%-20s:   Object:      %s", Module(), object_names[k]);
    }
    if (*error_status != 0) {
      TRACE(1, "\n%-20s: ## SNMP error status: <<%s>> at varbind [%d]", Module(),
            SnmpErrorText(*error_status), *error_index);
    } else if (request_type == SNMP_PDU_SET) {
      TRACE(2, "\n%-20s: SNMP Set done, no errors", Module());
    }
    TRACE(2, "\n");
  }
  return result;
}

void CSnmpAgent::EnterRequestLock() {
  EnterCriticalSection(&request_lock_);
  request_lock_owner_.store(GetCurrentThreadId());
}

void CSnmpAgent::LeaveRequestLock() {
  request_lock_owner_.store(0);
  LeaveCriticalSection(&request_lock_);
}

void CSnmpAgent::ReleaseRequestLockAfterFailure() {
  if (request_lock_owner_.load() == GetCurrentThreadId()) LeaveRequestLock();
}

void CSnmpAgent::StepOutOfRegion(SnmpVarBind* varbind) {
  for (size_t r = 0; r < GetMibRegionCount(); ++r) {
    auto* root = const_cast<AsnObjectIdentifier*>(GetMibRegionOid(r));
    if (root->idLength == 0 ||
        SnmpUtilOidNCmp(root, &varbind->name, root->idLength) != 0) {
      continue;
    }
    AsnObjectIdentifier after{0, nullptr};
    if (!SnmpUtilOidCpy(&after, root)) return;
    ++after.ids[after.idLength - 1];
    SnmpUtilOidFree(&varbind->name);
    varbind->name = after;
    return;
  }
}

// ---------------------------------------------------------------------------
// Traps

BOOL CSnmpAgent::CreateTrap(const char* enterprise, DWORD trap_number, SnmpVarBindList* varbinds) {
  if (trap_config_open_) {
    char key[16];
    std::snprintf(key, sizeof key, "%i", static_cast<int>(trap_number));
    if (GetPrivateProfileIntA("TrapTable", key, 1, trap_config_path_) == 2) {
      TRACE(2, "\n\n%-20s:  ## Trap %d not enabled!\n", Module(), trap_number);
      TRACE(1, "\n%-20s: TRAP %d disabled!", Module(), trap_number);
      return FALSE;
    }
  }
  TRACE(3, "\n%-20s: CreateTrap(): queue trap parameters to resolve it in agent framework...",
        Module());
  trap_queue_used_.store(1);
  {
    CriticalSectionLock lock(trap_queue_lock_);
    auto record = std::make_unique<TrapRecord>();
    OidFromString(enterprise, &record->enterprise);
    record->trap_number = trap_number;
    SnmpUtilVarBindListCpy(&record->varbinds, varbinds);
    trap_queue_.push_back(std::move(record));
  }
  TRACE(4, "\n%-20s: CreateTrap(): trap parameters queued", Module());
  if (trap_event_ == nullptr) return FALSE;
  return SetEvent(trap_event_);
}

BOOL CSnmpAgent::ResolveTrapFromQueue(AsnObjectIdentifier* enterprise,
                                      AsnInteger32* specific_trap, SnmpVarBindList* varbinds) {
  {
    CriticalSectionLock lock(trap_queue_lock_);
    if (trap_queue_.empty()) {
      TRACE(3, "\n%-20s: CSnmpAgent::ResolveTrap(): no (more) trap data in queue", Module());
      return FALSE;
    }
  }
  CriticalSectionLock lock(trap_queue_lock_);
  std::unique_ptr<TrapRecord> record = std::move(trap_queue_.front());
  trap_queue_.pop_front();
  TRACE(2, "\n%-20s: SnmpAgent::ResolveTrap(): Found trap #%d in trap queue, resolve trap",
        Module(), record->trap_number);
  SnmpUtilOidCpy(enterprise, &record->enterprise);
  SnmpUtilVarBindListCpy(varbinds, &record->varbinds);
  *specific_trap = static_cast<AsnInteger32>(record->trap_number);
  return TRUE;
}

BOOL CSnmpAgent::SnmpTrap(AsnObjectIdentifier* enterprise, AsnInteger32* generic_trap,
                          AsnInteger32* specific_trap, AsnTimeticks* time_stamp,
                          SnmpVarBindList* varbinds) {
  BOOL taken = FALSE;
  const bool completed = platform::RunGuarded([&] {
    if (trap_queue_used_.load() != 0) {
      TRACE(4, "\n%-20s: SnmpTrap(): SNMP trap and trap queue used, calling ResolveTrapFromQueue()...",
            Module());
      taken = ResolveTrapFromQueue(enterprise, specific_trap, varbinds);
    }
    if (taken) {
      TRACE(4, "\n%-20s: SnmpTrap(): ResolveTrapEx() returned TRUE - trap to send...", Module());
      *generic_trap = SNMP_GENERICTRAP_ENTERSPECIFIC;
      *time_stamp = GetTickCount() / 10 - agent_start_time_;
      TRACE(1, "\n\n%-20s: ## Trap %d (Param: %d, OID: %s) ##\n", Module(), *specific_trap,
            varbinds->len, OidToString(enterprise));
      const SwitchPermissionFlags& flags = Extension().switch_flags;
      const BYTE to_event_log = flags.Trap2EventLog.load();
      const BYTE to_admin_alert = flags.TrapToAdminAlert.load();
      if (to_event_log != 0 || to_admin_alert != 0) {
        trap_alert_->SetTrapParams(varbinds, static_cast<DWORD>(*specific_trap));
      }
      if (to_event_log != 0 && !trap_alert_->Write2EventLog(to_event_log, nullptr)) {
        TRACE(2, "\n%-20s: SnmpExtensionTrap(): Nothing written to event log!", Module());
      }
      if (to_admin_alert != 0 && !trap_alert_->RaiseAdminAlert(to_admin_alert)) {
        TRACE(1, "\n%-20s: ## ERROR: sending administrator alert failed!!", Module());
      }
      TRACE(3, "\n%-20s: SnmpTrap(): trap handling finished, send the trap to SNMP service",
            Module());
    } else {
      TRACE(4, "\n%-20s: SnmpTrap(): No (more) traps to send!", Module());
    }
  });
  if (!completed) {
    char middle[400];
    std::snprintf(middle, sizeof middle,
                  "\n####                  %s - Exception in SnmpExtensionTrap !!                ####",
                  Module());
    TraceExceptionBanner(middle);
    RecordException(AgentStatus::kExceptionTrap);
    taken = FALSE;
  }
  TRACE(4, "\n%-20s: SnmpTrap(): SNMP trap exit (TrapToSend=%s)", Module(),
        taken ? "TRUE" : "FALSE");
  return taken;
}

// ---------------------------------------------------------------------------
// Close

void CSnmpAgent::SnmpClose() {
  ExtensionState& extension = Extension();
  if (extension.close_done.exchange(1) != 0) return;

  SetAgentStatus(static_cast<DWORD>(AgentStatus::kStopping));
  extension.shutdown.store(1);
  TRACE(2, "\n%-20s: SnmpClose(): Shutting down agent", Module());
  TRACE(3, "\n%-20s: SnmpClose():   Cancel outstanding VARN calls...", Module());
  switch_client_->CancelRequest(1);

  TRACE(3, "\n%-20s: SnmpClose():   Calling the agent's CloseMib()...", Module());
  CloseMib();
  TRACE(3, "\n%-20s: SnmpClose():   ...CloseMib() done", Module());

  SetAgentStatus(static_cast<DWORD>(AgentStatus::kShutdown));
  SetEvent(shutdown_event_);

  if (init_thread_->IsRunning()) {
    TRACE(3, "\n%-20s: SnmpClose():   waiting for exit of init thread ...", Module());
    if (init_thread_->Wait(kCloseWaitMs) == WAIT_OBJECT_0) {
      TRACE(3, "\n%-20s: SnmpClose():   init thread terminated, do some other cleanup...",
            Module());
    } else {
      TRACE(1, "\n\n##%-20s: ERROR in SnmpClose(): Init thread did not terminate within 20 seconds! Thread is being killed!\n",
            Module());
      // The abandoned thread still runs this library's code: keep the library
      // mapped for the rest of the process so that an unload cannot pull the
      // code from under it.
      PinLibraryInMemory(module_path_);
      const DWORD id = init_thread_->Id();
      init_thread_->Terminate(0);
      TRACE(1, "\n\n ###  WARNING! RUNNING THREAD %d (%s) TEMINATED!  ###\n", id,
            init_thread_->Name());
    }
  } else {
    TRACE(3, "\n%-20s: SnmpClose():   Init thread did already exit", Module());
  }

  TRACE(3, "\n%-20s: SnmpClose():   delete MIB...", Module());
  ClearMib();
  TRACE(3, "\n%-20s: SnmpClose():   ... MIB deleted.", Module());
  TRACE(2, "\n%-20s: SnmpClose(): Agent shutdown finished.", Module());
  SetAgentStatus(static_cast<DWORD>(AgentStatus::kStopped));
}
