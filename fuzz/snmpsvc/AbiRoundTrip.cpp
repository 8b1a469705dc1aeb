// The agent-ABI half of the varbind fuzzer (kept apart from Net-SNMP's headers).
#include "services/snmpsvc/AbiConvert.h"

namespace snmpsvc {

bool RoundTripThroughAbi(const Value& in, Value* out) {
  AsnAny any{};
  const bool ok = ToAbi(in, &any) && FromAbi(any, out);
  SnmpUtilAsnAnyFree(&any);
  return ok;
}

}  // namespace snmpsvc
