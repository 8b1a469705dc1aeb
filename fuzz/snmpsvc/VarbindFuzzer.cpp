// Request values as Net-SNMP hands them to snmpsvc (a type tag and raw value
// bytes from the manager), and OID text: whatever is accepted must cross to
// the agent ABI and back to Net-SNMP unchanged; nothing may crash.
// clang-format off
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
// clang-format on

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "services/snmpsvc/NetSnmpConvert.h"
#include "services/snmpsvc/Varbind.h"

namespace snmpsvc {
// From AbiConvert.h, declared here: its header and Net-SNMP's cannot meet.
bool RoundTripThroughAbi(const Value& in, Value* out);
}  // namespace snmpsvc

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto oid = snmpsvc::ParseOid(text)) {
    if (snmpsvc::ParseOid(snmpsvc::OidToString(*oid)) != oid) std::abort();
  }

  netsnmp_variable_list* var =
      static_cast<netsnmp_variable_list*>(calloc(1, sizeof(netsnmp_variable_list)));
  const u_char type = data[0];
  // Net-SNMP stores integers as long and OIDs as arrays of oid: the payload is
  // shaped the way its decoder leaves them.
  if (snmp_set_var_typed_value(var, type, data + 1, size - 1) != 0) {
    snmp_free_var(var);
    return 0;
  }
  snmpsvc::Value value;
  if (snmpsvc::FromNetSnmpValue(*var, &value)) {
    snmpsvc::Value back;
    if (!snmpsvc::RoundTripThroughAbi(value, &back) || !(back == value)) std::abort();
    netsnmp_variable_list* again =
        static_cast<netsnmp_variable_list*>(calloc(1, sizeof(netsnmp_variable_list)));
    snmpsvc::Value final_value;
    if (!snmpsvc::ToNetSnmpValue(back, again) || !snmpsvc::FromNetSnmpValue(*again, &final_value)) {
      // An empty OID is sent as 0.0; nothing else may fail.
      if (!(back.type == snmpsvc::ValueType::kObjectId && back.oid.empty())) std::abort();
    } else if (!(final_value == value) &&
               !(value.type == snmpsvc::ValueType::kObjectId && value.oid.empty())) {
      std::abort();
    }
    snmp_free_var(again);
  }
  snmp_free_var(var);
  return 0;
}
