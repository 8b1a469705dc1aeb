// Row names in instance OIDs: every table of the threshold MIB is indexed by a
// record name written as a length-prefixed string (one sub-identifier for the
// length, then one per byte).
//
//   // root.1.3.1.1.25.3.99.112.117 with the column OID of 14 sub-identifiers
//   std::string name = RowNameAt(varbind->name, 14);   // "cpu"
#pragma once

#include <string>

#include "platform/Snmp.h"

// The name whose length is the sub-identifier at 0-based `position`, with that
// many following sub-identifiers as its bytes (each taken as its low 8 bits);
// a name that the OID cuts short is taken as far as it goes.  "" when the OID
// ends before `position` or the length is 0.
std::string RowNameAt(const AsnObjectIdentifier& oid, UINT position);
