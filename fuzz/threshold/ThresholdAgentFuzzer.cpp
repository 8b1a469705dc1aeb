// Fuzz target for what the threshold agent takes from the threshold module
// and from SNMP requests: event frames handed to VarnReply (threshold events
// with their document, change events with any table code) and instance OIDs
// given to the row callbacks.  No switch is attached, so every request to the
// module fails and the callbacks deliver their fallbacks.
//
// Input layout: byte 0 chooses the path; for events bytes 1-2 are the OE and
// the rest the frame data; for callbacks the rest, four bytes at a time, are
// the sub-identifiers of the instance.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/SnmpOwners.h"
#include "switch/CommandBuffer.h"
#include "switch/SwitchProtocol.h"
#include "threshold/ThresholdAgent.h"

// The frame's process attach refers to the library's factory; the fuzzer
// builds its agent itself.
CSnmpAgent* CreateAgentInstance() { return nullptr; }

namespace {

CThresholdAgent& Agent() {
  // Created once and never destroyed: the end of an agent writes its status
  // to the registry, which has no place in a fuzzing run.
  static CThresholdAgent* agent = new CThresholdAgent;
  return *agent;
}

using Callback = DWORD (CThresholdAgent::*)(SnmpVarBind*, DWORD);
constexpr Callback kCallbacks[] = {
    &CThresholdAgent::fGetResourceCurrentValue,    &CThresholdAgent::fGetReportCurrentValue,
    &CThresholdAgent::fGetReportHighestIndexInUse, &CThresholdAgent::fGetReportOldestIndexInUse,
    &CThresholdAgent::fGetRulesetStatus,           &CThresholdAgent::fGetReportsetStatus,
    &CThresholdAgent::fGetThresholdStatus,         &CThresholdAgent::fGetPerformanceStatus,
    &CThresholdAgent::fGetConfigChangedTime,       &CThresholdAgent::fGetLastSetResultMsg,
};

void DrainTraps(CThresholdAgent& agent) {
  for (;;) {
    AsnObjectIdentifier enterprise{0, nullptr};
    AsnInteger32 specific = 0;
    SnmpVarBindList list{nullptr, 0};
    const BOOL taken = agent.ResolveTrapFromQueue(&enterprise, &specific, &list);
    SnmpUtilOidFree(&enterprise);
    SnmpUtilVarBindListFree(&list);
    if (!taken) break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  CThresholdAgent& agent = Agent();
  const uint8_t path = data[0];
  if (path < 0x80) {
    const DWORD oe = static_cast<DWORD>(data[1]) | static_cast<DWORD>(data[2]) << 8;
    const DWORD oc = (path & 1) != 0 ? switch_protocol::kOcThresholdEvent
                                     : switch_protocol::kOcStoreConfiguration;
    CommandBuffer frame(oc, oe, 0, 0, cmd_status::kEventMessage, data + 3,
                        static_cast<DWORD>(size - 3));
    agent.VarnReply(&frame);
    DrainTraps(agent);
  } else {
    std::vector<UINT> ids((size - 1) / 4);
    if (!ids.empty()) std::memcpy(ids.data(), data + 1, ids.size() * 4);
    VarBindOwner varbind;
    AsnObjectIdentifier view{static_cast<UINT>(ids.size()), ids.data()};
    if (!ids.empty() && !SnmpUtilOidCpy(&varbind->name, &view)) return 0;
    (agent.*kCallbacks[path % std::size(kCallbacks)])(varbind.Get(), 0);
  }
  return 0;
}
