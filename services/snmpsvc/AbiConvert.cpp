// Extension-agent ABI <-> neutral varbinds.  This translation unit sees the
// Windows-ABI header only.
#include "services/snmpsvc/AbiConvert.h"

#include <cstring>

namespace snmpsvc {

bool FromAbi(const AsnObjectIdentifier& in, Oid* out) {
  if (in.idLength != 0 && in.ids == nullptr) return false;
  out->assign(in.ids, in.ids + in.idLength);
  return true;
}

namespace {

bool BytesFromAbi(const AsnOctetString& in, std::string* out) {
  if (in.length != 0 && in.stream == nullptr) return false;
  out->assign(reinterpret_cast<const char*>(in.stream), in.length);
  return true;
}

bool BytesToAbi(const std::string& in, AsnOctetString* out) {
  out->stream = nullptr;
  out->length = 0;
  out->dynamic = FALSE;
  if (in.empty()) return true;
  auto* stream = static_cast<BYTE*>(SnmpUtilMemAlloc(static_cast<UINT>(in.size())));
  if (stream == nullptr) return false;
  std::memcpy(stream, in.data(), in.size());
  out->stream = stream;
  out->length = static_cast<UINT>(in.size());
  out->dynamic = TRUE;
  return true;
}

}  // namespace

bool FromAbi(const AsnAny& in, Value* out) {
  *out = Value{};
  switch (in.asnType) {
    case ASN_INTEGER:
      *out = Value::Integer(in.asnValue.number);
      return true;
    case ASN_OCTETSTRING:
    case ASN_BITS:
      out->type = ValueType::kOctetString;
      return BytesFromAbi(in.asnValue.string, &out->octets);
    case ASN_OPAQUE:
      out->type = ValueType::kOpaque;
      return BytesFromAbi(in.asnValue.arbitrary, &out->octets);
    case ASN_IPADDRESS:
      out->type = ValueType::kIpAddress;
      return BytesFromAbi(in.asnValue.address, &out->octets) && out->octets.size() == 4;
    case ASN_NULL:
      return true;
    case ASN_OBJECTIDENTIFIER:
      out->type = ValueType::kObjectId;
      return FromAbi(in.asnValue.object, &out->oid);
    case ASN_COUNTER32:
      *out = Value::Unsigned(ValueType::kCounter32, in.asnValue.counter);
      return true;
    case ASN_GAUGE32:
    case ASN_UNSIGNED32:
      *out = Value::Unsigned(ValueType::kGauge32, in.asnValue.gauge);
      return true;
    case ASN_TIMETICKS:
      *out = Value::Unsigned(ValueType::kTimeTicks, in.asnValue.ticks);
      return true;
    case ASN_COUNTER64:
      *out = Value::Unsigned(ValueType::kCounter64, in.asnValue.counter64.QuadPart);
      return true;
    default:
      return false;
  }
}

bool FromAbi(const SnmpVarBind& in, VarBind* out) {
  return FromAbi(in.name, &out->name) && FromAbi(in.value, &out->value);
}

bool ToAbi(const Oid& in, AsnObjectIdentifier* out) {
  out->idLength = 0;
  out->ids = nullptr;
  if (in.empty()) return true;
  auto* ids = static_cast<UINT*>(SnmpUtilMemAlloc(static_cast<UINT>(in.size() * sizeof(UINT))));
  if (ids == nullptr) return false;
  std::memcpy(ids, in.data(), in.size() * sizeof(UINT));
  out->ids = ids;
  out->idLength = static_cast<UINT>(in.size());
  return true;
}

bool ToAbi(const Value& in, AsnAny* out) {
  std::memset(out, 0, sizeof *out);
  out->asnType = static_cast<BYTE>(in.type);
  switch (in.type) {
    case ValueType::kInteger:
      out->asnValue.number = in.integer;
      return true;
    case ValueType::kOctetString:
      return BytesToAbi(in.octets, &out->asnValue.string);
    case ValueType::kOpaque:
      return BytesToAbi(in.octets, &out->asnValue.arbitrary);
    case ValueType::kIpAddress:
      return BytesToAbi(in.octets, &out->asnValue.address);
    case ValueType::kNull:
      return true;
    case ValueType::kObjectId:
      return ToAbi(in.oid, &out->asnValue.object);
    case ValueType::kCounter32:
    case ValueType::kGauge32:
    case ValueType::kTimeTicks:
      out->asnValue.unsigned32 = static_cast<AsnUnsigned32>(in.number);
      return true;
    case ValueType::kCounter64:
      out->asnValue.counter64.QuadPart = in.number;
      return true;
  }
  out->asnType = ASN_NULL;
  return true;
}

bool ToAbi(const VarBind& in, SnmpVarBind* out) {
  out->value.asnType = ASN_NULL;
  if (!ToAbi(in.name, &out->name)) return false;
  if (!ToAbi(in.value, &out->value)) {
    SnmpUtilOidFree(&out->name);
    out->value.asnType = ASN_NULL;
    return false;
  }
  return true;
}

bool ToAbi(const std::vector<VarBind>& in, SnmpVarBindList* out) {
  out->list = nullptr;
  out->len = 0;
  if (in.empty()) return true;
  auto* list =
      static_cast<SnmpVarBind*>(SnmpUtilMemAlloc(static_cast<UINT>(in.size() * sizeof(SnmpVarBind))));
  if (list == nullptr) return false;
  out->list = list;
  for (const VarBind& vb : in) {
    if (!ToAbi(vb, &list[out->len])) {
      SnmpUtilVarBindListFree(out);
      return false;
    }
    ++out->len;
  }
  return true;
}

}  // namespace snmpsvc
