// Net-SNMP <-> neutral varbinds.  This translation unit sees Net-SNMP's
// headers only.
#include "services/snmpsvc/NetSnmpConvert.h"

// clang-format off
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
// clang-format on

#include <limits>
#include <type_traits>

static_assert(std::is_same_v<oid, unsigned long>, "Net-SNMP's oid is unsigned long");

namespace snmpsvc {

namespace {

constexpr unsigned long kMaxSubId = std::numeric_limits<std::uint32_t>::max();

}  // namespace

std::optional<Oid> FromNetSnmpOid(const unsigned long* ids, std::size_t length) {
  Oid result;
  result.reserve(length);
  for (std::size_t i = 0; i < length; ++i) {
    if (ids[i] > kMaxSubId) return std::nullopt;
    result.push_back(static_cast<std::uint32_t>(ids[i]));
  }
  return result;
}

std::vector<unsigned long> ToNetSnmpOid(const Oid& in) {
  return std::vector<unsigned long>(in.begin(), in.end());
}

bool FromNetSnmpValue(const variable_list& var, Value* out) {
  *out = Value{};
  switch (var.type) {
    case ASN_INTEGER: {
      if (var.val.integer == nullptr) return false;
      const long v = *var.val.integer;
      if (v < std::numeric_limits<std::int32_t>::min() ||
          v > std::numeric_limits<std::int32_t>::max()) {
        return false;
      }
      *out = Value::Integer(static_cast<std::int32_t>(v));
      return true;
    }
    case ASN_OCTET_STR:
    case ASN_OPAQUE:
    case ASN_IPADDRESS: {
      const auto type = var.type == ASN_OCTET_STR ? ValueType::kOctetString
                        : var.type == ASN_OPAQUE  ? ValueType::kOpaque
                                                  : ValueType::kIpAddress;
      if (var.val_len != 0 && var.val.string == nullptr) return false;
      if (type == ValueType::kIpAddress && var.val_len != 4) return false;
      *out = Value::Octets(type, std::string(reinterpret_cast<const char*>(var.val.string),
                                             var.val_len));
      return true;
    }
    case ASN_NULL:
      return true;
    case ASN_OBJECT_ID: {
      if (var.val.objid == nullptr && var.val_len != 0) return false;
      // SNMP allows at most MAX_OID_LEN sub-identifiers; a longer value could
      // not be sent back either.
      if (var.val_len / sizeof(oid) > MAX_OID_LEN) return false;
      auto value = FromNetSnmpOid(var.val.objid, var.val_len / sizeof(oid));
      if (!value) return false;
      *out = Value::ObjectId(std::move(*value));
      return true;
    }
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_TIMETICKS:
    case ASN_UINTEGER: {
      if (var.val.integer == nullptr) return false;
      const auto v = static_cast<unsigned long>(*var.val.integer);
      if (v > kMaxSubId) return false;
      const ValueType type = var.type == ASN_COUNTER     ? ValueType::kCounter32
                             : var.type == ASN_TIMETICKS ? ValueType::kTimeTicks
                                                         : ValueType::kGauge32;
      *out = Value::Unsigned(type, v);
      return true;
    }
    case ASN_COUNTER64: {
      if (var.val.counter64 == nullptr) return false;
      const std::uint64_t v = (std::uint64_t{var.val.counter64->high & kMaxSubId} << 32) |
                              (var.val.counter64->low & kMaxSubId);
      *out = Value::Unsigned(ValueType::kCounter64, v);
      return true;
    }
    default:
      return false;
  }
}

bool ToNetSnmpValue(const Value& value, variable_list* var) {
  switch (value.type) {
    case ValueType::kInteger: {
      const long v = value.integer;
      return snmp_set_var_typed_value(var, ASN_INTEGER, &v, sizeof v) == 0;
    }
    case ValueType::kOctetString:
    case ValueType::kOpaque:
    case ValueType::kIpAddress: {
      const u_char type = value.type == ValueType::kOctetString ? ASN_OCTET_STR
                          : value.type == ValueType::kOpaque    ? ASN_OPAQUE
                                                                : ASN_IPADDRESS;
      if (type == ASN_IPADDRESS && value.octets.size() != 4) return false;
      return snmp_set_var_typed_value(var, type, value.octets.data(), value.octets.size()) == 0;
    }
    case ValueType::kNull:
      return snmp_set_var_typed_value(var, ASN_NULL, nullptr, 0) == 0;
    case ValueType::kObjectId: {
      // An empty OID cannot be encoded; 0.0 is the conventional null OID.
      std::vector<oid> ids = value.oid.empty() ? std::vector<oid>{0, 0} : ToNetSnmpOid(value.oid);
      if (ids.size() > MAX_OID_LEN) return false;
      return snmp_set_var_typed_value(var, ASN_OBJECT_ID, ids.data(), ids.size() * sizeof(oid)) ==
             0;
    }
    case ValueType::kCounter32:
    case ValueType::kGauge32:
    case ValueType::kTimeTicks: {
      const u_char type = value.type == ValueType::kCounter32 ? ASN_COUNTER
                          : value.type == ValueType::kGauge32 ? ASN_GAUGE
                                                              : ASN_TIMETICKS;
      const u_long v = static_cast<u_long>(value.number & kMaxSubId);
      return snmp_set_var_typed_value(var, type, &v, sizeof v) == 0;
    }
    case ValueType::kCounter64: {
      counter64 v{};
      v.high = static_cast<u_long>(value.number >> 32);
      v.low = static_cast<u_long>(value.number & kMaxSubId);
      return snmp_set_var_typed_value(var, ASN_COUNTER64, &v, sizeof v) == 0;
    }
  }
  return false;
}

bool SetNetSnmpName(const Oid& name, variable_list* var) {
  if (name.empty() || name.size() > MAX_OID_LEN) return false;
  const std::vector<oid> ids = ToNetSnmpOid(name);
  return snmp_set_var_objid(var, ids.data(), ids.size()) == 0;
}

}  // namespace snmpsvc
