// Trace texts and string reads of values as a manager may send them.  Input: one
// byte ASN type, then the value bytes (a number for the number types).
//
// Properties checked: the texts always fit their 1024-byte buffers; GetString of
// an OCTET STRING gives the stored bytes up to the first zero and grows the
// value by at most one byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mibtree/SnmpVarbind.h"
#include "platform/SnmpOwners.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const BYTE type = data[0];
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  VarBindOwner varbind;
  OidFromString("1.3.6.1.4.1.32473.2.47.1", &varbind->name);
  if (type == ASN_OCTETSTRING || type == ASN_OPAQUE || type == ASN_IPADDRESS) {
    auto* stream = static_cast<BYTE*>(SnmpUtilMemAlloc(static_cast<UINT>(bytes.size())));
    if (!bytes.empty()) std::memcpy(stream, bytes.data(), bytes.size());
    varbind->value.asnType = type;
    varbind->value.asnValue.string =
        AsnOctetString{stream, static_cast<UINT>(bytes.size()), TRUE};
  } else if (type == ASN_OBJECTIDENTIFIER) {
    SetVarbindText(varbind.Get(), bytes.c_str(), ASN_OBJECTIDENTIFIER);
  } else {
    SetVarbindText(varbind.Get(), bytes.c_str(), type);
  }

  Check(std::strlen(VarbindValueText(&varbind->value)) < 1024);
  Check(std::strlen(VarbindText(varbind.Get())) < 1024);

  if (varbind->value.asnType == ASN_OCTETSTRING) {
    const UINT before = varbind->value.asnValue.string.length;
    const std::string text = GetString(varbind.Get());
    const UINT after = varbind->value.asnValue.string.length;
    Check(after == before || after == before + 1);
    Check(text == bytes.substr(0, bytes.find('\0')));
  }
  return 0;
}
