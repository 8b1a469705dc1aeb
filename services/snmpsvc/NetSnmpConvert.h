// Conversion between Net-SNMP's varbinds and the neutral varbinds of
// Varbind.h.  Net-SNMP's headers are not included here; callers that use these
// functions include them.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "services/snmpsvc/Varbind.h"

struct variable_list;

namespace snmpsvc {

// Net-SNMP sub-identifiers are unsigned long (64-bit here); those above
// 2^32-1 cannot reach an extension agent: nullopt.
std::optional<Oid> FromNetSnmpOid(const unsigned long* ids, std::size_t length);
std::vector<unsigned long> ToNetSnmpOid(const Oid& oid);

// The value of a request varbind (a SET) for an agent; false for types and
// values the agent ABI has no room for (floats in Opaque wrappers, an
// IpAddress of another length, an OID with a sub-identifier above 2^32-1).
bool FromNetSnmpValue(const variable_list& var, Value* out);

// Stores an agent's value into a Net-SNMP varbind; false if Net-SNMP refuses
// it (an OID longer than it can encode, out of memory).
bool ToNetSnmpValue(const Value& value, variable_list* var);

// Sets a varbind's name; false if the OID is longer than Net-SNMP can encode.
bool SetNetSnmpName(const Oid& name, variable_list* var);

}  // namespace snmpsvc
