// Conversion between the extension-agent ABI (platform/Snmp.h) and the neutral
// varbinds of Varbind.h.  Everything built here is allocated with
// SnmpUtilMemAlloc, so an agent may free or replace it, and is freed with the
// SnmpUtil*Free functions.
#pragma once

#include "platform/Snmp.h"
#include "services/snmpsvc/Varbind.h"

namespace snmpsvc {

// Agent to neutral.  False (and *out unspecified) for what cannot cross: an
// unknown type tag, an IpAddress that is not 4 bytes, a stream or id array
// that is NULL with a non-zero length.  BITS crosses as OCTET STRING and
// unsigned32 as Gauge32, as SNMPv2 encodes them.
bool FromAbi(const AsnObjectIdentifier& in, Oid* out);
bool FromAbi(const AsnAny& in, Value* out);
bool FromAbi(const SnmpVarBind& in, VarBind* out);

// Neutral to agent; *out must be empty (or freed) before.  False only when
// memory runs out; *out is then left empty.
bool ToAbi(const Oid& in, AsnObjectIdentifier* out);
bool ToAbi(const Value& in, AsnAny* out);
bool ToAbi(const VarBind& in, SnmpVarBind* out);
bool ToAbi(const std::vector<VarBind>& in, SnmpVarBindList* out);

// Owns a varbind list and frees it with SnmpUtilVarBindListFree.
class ScopedVarBindList {
 public:
  ScopedVarBindList() = default;
  ~ScopedVarBindList() { SnmpUtilVarBindListFree(&list_); }
  ScopedVarBindList(const ScopedVarBindList&) = delete;
  ScopedVarBindList& operator=(const ScopedVarBindList&) = delete;
  SnmpVarBindList* get() { return &list_; }

 private:
  SnmpVarBindList list_{nullptr, 0};
};

}  // namespace snmpsvc
