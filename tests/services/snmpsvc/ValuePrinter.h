// Readable test output for neutral values.
#pragma once

#include <ostream>

#include "services/snmpsvc/Varbind.h"

namespace snmpsvc {

inline void PrintTo(const Value& value, std::ostream* out) {
  *out << "type 0x" << std::hex << static_cast<int>(value.type) << std::dec << " integer "
       << value.integer << " number " << value.number << " octets " << value.octets.size()
       << " bytes, oid " << OidToString(value.oid);
}

}  // namespace snmpsvc
