// Names of the SNMP error status codes.
#include "mibtree/SnmpErrorText.h"

#include <array>
#include <cstddef>

const char* SnmpErrorText(int status) {
  // Indexed by the protocol's own status numbers.
  static constexpr std::array<const char*, 19> kNames = {
      "no error",          "too big",          "no such name",         "bad value",
      "value is read-only", "generic error",   "no access",            "wrong type",
      "wrong length",      "wrong encoding",   "wrong value",          "no creation",
      "inconsistent value", "resource unavailable", "commit failed",   "undo failed",
      "authorization error", "not writeable",  "inconsistent name"};
  if (status < 0 || static_cast<std::size_t>(status) >= kNames.size()) return "unknown";
  return kNames[static_cast<std::size_t>(status)];
}
