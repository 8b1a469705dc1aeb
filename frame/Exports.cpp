// The five exported entry points of an extension agent library, each behind an
// exception guard, and the library's load and unload as process attach and
// detach.  Compiled into every agent library itself (not into the frame
// library), so that only a loaded agent runs the attach.
#include <cstdio>

#include "frame/AgentStatus.h"
#include "frame/Extension.h"
#include "frame/SnmpAgent.h"
#include "platform/system/FaultGuard.h"
#include "platform/Snmp.h"
#include "platform/system/System.h"
#include "trace/FileDebug.h"

#define LORVETH_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const char* Module() { return Extension().module_name; }

void EmptyOid(AsnObjectIdentifier* oid) {
  if (oid == nullptr) return;
  oid->idLength = 0;
  oid->ids = nullptr;
}

}  // namespace

LORVETH_EXPORT BOOL SnmpExtensionInit(DWORD dwUpTimeReference, HANDLE* phSubagentTrapEvent,
                                      AsnObjectIdentifier* pFirstSupportedRegion) {
  TRACE(5, "\n%-20s: DllEntry: SnmpExtensionInit()", Module());
  EmptyOid(pFirstSupportedRegion);
  CSnmpAgent* agent = Extension().agent;
  if (agent == nullptr) return FALSE;
  BOOL result = FALSE;
  if (!platform::RunGuarded([&] {
        result = agent->SnmpInit(dwUpTimeReference, phSubagentTrapEvent, pFirstSupportedRegion);
      })) {
    TraceExceptionBanner(
        "\n####                   Exception in SnmpExtensionInit !!                  ####");
    agent->RecordException(AgentStatus::kExceptionInit);
    result = FALSE;
  }
  return result;
}

LORVETH_EXPORT BOOL SnmpExtensionInitEx(AsnObjectIdentifier* pNextSupportedRegion) {
  TRACE(5, "\n%-20s: DllEntry: SnmpExtensionInitEx()", Module());
  EmptyOid(pNextSupportedRegion);
  CSnmpAgent* agent = Extension().agent;
  if (agent == nullptr) return FALSE;
  BOOL result = FALSE;
  if (!platform::RunGuarded([&] { result = agent->SnmpInitEx(pNextSupportedRegion); })) {
    TraceExceptionBanner(
        "\n####                   Exception in SnmpExtensionInitEx !!                ####");
    agent->RecordException(AgentStatus::kExceptionInit);
    result = FALSE;
  }
  return result;
}

LORVETH_EXPORT BOOL SnmpExtensionQuery(BYTE bPduType, SnmpVarBindList* pVarBindList,
                                       AsnInteger32* pErrorStatus, AsnInteger32* pErrorIndex) {
  TRACE(5, "\n%-20s: DllEntry: SnmpExtensionQuery()", Module());
  CSnmpAgent* agent = Extension().agent;
  if (agent == nullptr || pVarBindList == nullptr || pErrorStatus == nullptr ||
      pErrorIndex == nullptr) {
    return FALSE;
  }
  BOOL result = FALSE;
  if (!platform::RunGuarded(
          [&] { result = agent->SnmpQuery(bPduType, pVarBindList, pErrorStatus, pErrorIndex); })) {
    agent->ReleaseRequestLockAfterFailure();
    TRACE(1, "\n\n%-20s: ##### Exception in SnmpQuery() !! #####\n", Module());
    agent->RecordException(AgentStatus::kExceptionQuery);
    result = FALSE;
  }
  return result;
}

LORVETH_EXPORT BOOL SnmpExtensionTrap(AsnObjectIdentifier* pEnterprise, AsnInteger32* pGenericTrap,
                                      AsnInteger32* pSpecificTrap, AsnTimeticks* pTimeStamp,
                                      SnmpVarBindList* pVarBindList) {
  TRACE(5, "\n%-20s: DllEntry: SnmpExtensionTrap()", Module());
  EmptyOid(pEnterprise);
  if (pVarBindList != nullptr) {
    pVarBindList->list = nullptr;
    pVarBindList->len = 0;
  }
  CSnmpAgent* agent = Extension().agent;
  if (agent == nullptr || pEnterprise == nullptr || pGenericTrap == nullptr ||
      pSpecificTrap == nullptr || pTimeStamp == nullptr || pVarBindList == nullptr) {
    return FALSE;
  }
  return agent->SnmpTrap(pEnterprise, pGenericTrap, pSpecificTrap, pTimeStamp, pVarBindList);
}

LORVETH_EXPORT void SnmpExtensionClose() {
  TRACE(5, "\n%-20s: DllEntry: SnmpExtensionClose()", Module());
  CSnmpAgent* agent = Extension().agent;
  if (agent == nullptr) return;
  if (!platform::RunGuarded([&] { agent->SnmpClose(); })) {
    TRACE(1, "\n%-20s: ####  Exception in SnmpExtensionClose() #### ", Module());
    agent->RecordException(AgentStatus::kExceptionClose);
  }
}

// The library's load and unload play the process attach and detach.
__attribute__((constructor)) static void LorvethProcessAttach() {
  ProcessAttach(GetModuleHandleFromAddress(reinterpret_cast<const void*>(&LorvethProcessAttach)));
}

__attribute__((destructor)) static void LorvethProcessDetach() { ProcessDetach(); }
