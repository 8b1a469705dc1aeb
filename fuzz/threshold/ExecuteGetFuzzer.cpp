// Fuzz target for GET and GET-NEXT requests on the recorded report values:
// varbind lists with any OIDs go to ExecuteGET over a MIB tree that holds the
// report index rows and record placeholders of three reports.  No switch is
// attached, so every record read fails and GET-NEXT searches on through the
// placeholders; a search that does not end shows up as a time-out.  Trace
// output is captured (and dropped) so that every trace line is formatted.
//
// Input layout: byte 0 is the request type (even GET, odd GET-NEXT, 0xFF some
// other type), byte 1 bit 0 removes everything behind the record table.  Then
// varbinds: a length byte n, a flag byte (bit 0: the OID starts with root.1.4),
// then n sub-identifiers, each one byte, or 0xFF followed by four bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/SnmpOwners.h"
#include "threshold/MibRoot.h"
#include "threshold/ThresholdAgent.h"
#include "trace/FileDebug.h"

// The frame's process attach refers to the library's factory; the fuzzer
// builds its agent itself.
CSnmpAgent* CreateAgentInstance() { return nullptr; }

namespace {

using Callback = CThresholdAgent::MibCallback;

CThresholdAgent& Agent() {
  // Created once and never destroyed: the end of an agent writes its status
  // to the registry, which has no place in a fuzzing run.
  static CThresholdAgent* agent = [] {
    auto* created = new CThresholdAgent;
    for (const char* name : {"a", "bb", "c"}) {
      created->AddVarTableEntry(
          LORVETH_MIB_OID("1.4.7.1.1"), "reportHighestIndexInUse",
          static_cast<Callback>(&CThresholdAgent::fGetReportHighestIndexInUse), nullptr, nullptr,
          nullptr, kMibReadOnly, name);
      created->AddVarTableEntry(LORVETH_MIB_OID("1.4.7.1.2"), "reportOldestIndexInUse",
                                static_cast<Callback>(&CThresholdAgent::fGetReportOldestIndexInUse),
                                nullptr, nullptr, nullptr, kMibReadOnly, name);
      created->AddConstTableEntry(LORVETH_MIB_OID("1.4.8.1.1"), "reportValueRecord", 0, ASN_INTEGER,
                                  name, kNoNumberIndex);
    }
    GetTrace().SetCapture([](DWORD, const std::string&) {});
    return created;
  }();
  return *agent;
}

// Reads one sub-identifier; false at the end of the input.
bool ReadSubid(const uint8_t*& at, const uint8_t* end, UINT* subid) {
  if (at == end) return false;
  if (*at != 0xFF) {
    *subid = *at++;
    return true;
  }
  if (end - at < 5) return false;
  std::memcpy(subid, at + 1, 4);
  at += 5;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  CThresholdAgent& agent = Agent();
  const BYTE type = data[0] == 0xFF      ? BYTE{0xA5}
                    : (data[0] & 1) != 0 ? BYTE{SNMP_PDU_GETNEXT}
                                         : BYTE{SNMP_PDU_GET};
  if ((data[1] & 1) != 0) {
    agent.RemoveMibSubtree(LORVETH_MIB_OID("1.5"));
  } else {
    agent.AddConstMibEntry(LORVETH_MIB_OID("1.5.2.0"), "threshResourceTableChanged", 0, ASN_INTEGER,
                           kMibReadOnly);
  }

  OidOwner prefix;
  if (!OidFromString(LORVETH_MIB_OID("1.4"), prefix.Get())) return 0;
  std::vector<VarBindOwner> owners;
  const uint8_t* at = data + 2;
  const uint8_t* const end = data + size;
  while (end - at >= 2 && owners.size() < 8) {
    const UINT count = at[0];
    const bool rooted = (at[1] & 1) != 0;
    at += 2;
    std::vector<UINT> ids;
    if (rooted) ids.assign(prefix->ids, prefix->ids + prefix->idLength);
    UINT subid = 0;
    for (UINT i = 0; i < count && ReadSubid(at, end, &subid); ++i) ids.push_back(subid);
    VarBindOwner& owner = owners.emplace_back();
    AsnObjectIdentifier view{static_cast<UINT>(ids.size()), ids.data()};
    if (!ids.empty() && !SnmpUtilOidCpy(&owner->name, &view)) return 0;
  }

  // The list holds the varbinds by value, as the SNMP service hands them over.
  SnmpVarBindList list{nullptr, 0};
  list.list = static_cast<SnmpVarBind*>(
      SnmpUtilMemAlloc(static_cast<UINT>((owners.size() + 1) * sizeof(SnmpVarBind))));
  if (list.list == nullptr) return 0;
  for (VarBindOwner& owner : owners) list.list[list.len++] = owner.Release();
  AsnInteger32 status = 0;
  AsnInteger32 index = 0;
  agent.ExecuteGET(type, &list, &status, &index);
  SnmpUtilVarBindListFree(&list);
  return 0;
}
