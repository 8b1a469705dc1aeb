// OID texts, varbind value setters and readers, and the trace texts of values.
#include "mibtree/SnmpVarbind.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Trace buffers: one value text and one varbind text of this size each.
constexpr size_t kTextBufferSize = 1024;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsNumberType(BYTE asn_type) {
  switch (asn_type) {
    case ASN_INTEGER:
    case ASN_COUNTER32:
    case ASN_GAUGE32:
    case ASN_TIMETICKS:
    case ASN_UNSIGNED32:
      return true;
    default:
      return false;
  }
}

// Copies ids into a new OID from the SNMP allocator.
bool MakeOid(const std::vector<UINT>& ids, AsnObjectIdentifier* oid) {
  const size_t bytes = ids.size() * sizeof(UINT);
  if (ids.empty() || bytes > UINT32_MAX) return false;
  auto* block = static_cast<UINT*>(SnmpUtilMemAlloc(static_cast<UINT>(bytes)));
  if (block == nullptr) return false;
  std::memcpy(block, ids.data(), bytes);
  oid->ids = block;
  oid->idLength = static_cast<UINT>(ids.size());
  return true;
}

// Sub-identifiers of OID text after the leading blanks and dot (see OidFromString).
bool ParseOidText(const char* p, std::vector<UINT>& ids) {
  for (;;) {
    if (*p == '"') {
      const char* start = ++p;
      while (*p != '\0' && *p != '"') ++p;
      ids.push_back(static_cast<UINT>(p - start));
      for (const char* c = start; c < p; ++c) {
        // Quoted characters keep the value a signed character has when widened,
        // so bytes above 127 become large sub-identifiers.
        ids.push_back(static_cast<UINT>(static_cast<int32_t>(static_cast<signed char>(*c))));
      }
      if (*p == '\0') return true;  // an unterminated quote ends the text
      ++p;
    } else {
      uint64_t number = 0;
      while (*p >= '0' && *p <= '9') {
        number = number * 10 + static_cast<uint64_t>(*p - '0');
        if (number > UINT32_MAX) return false;
        ++p;
      }
      ids.push_back(static_cast<UINT>(number));
    }
    if (*p == '\0') return true;
    if (*p != '.') return false;
    ++p;
  }
}

}  // namespace

bool OidFromString(const char* text, AsnObjectIdentifier* oid) {
  if (oid == nullptr) return false;
  SnmpUtilOidFree(oid);
  if (text == nullptr) return false;
  const char* p = text;
  while (IsBlank(*p)) ++p;
  if (*p == '.') ++p;

  // The sub-identifiers are counted before parsing: one plus each separator
  // outside quotes plus each quoted character.  Text that counts fewer than two
  // is not an OID.
  size_t count = 1;
  bool quoted = false;
  for (const char* c = p; *c != '\0'; ++c) {
    if (*c == '"') {
      quoted = !quoted;
    } else if (quoted || *c == '.') {
      ++count;
    }
  }
  if (count < 2) return false;

  std::vector<UINT> ids;
  ids.reserve(count);
  if (!ParseOidText(p, ids) || ids.size() != count) return false;
  return MakeOid(ids, oid);
}

const char* OidToString(const AsnObjectIdentifier* oid) {
  // Room for kOidTextMaxSubIds sub-identifiers of at most 11 characters and a
  // dot each (far beyond what SNMP carries); longer OIDs are cut.  A plain
  // array keeps the thread-local trivially destructible, so it never pins the
  // library that holds it.
  constexpr size_t kOidTextSize = size_t{kOidTextMaxSubIds} * 12 + 1;
  thread_local char text[kOidTextSize];
  text[0] = '\0';
  if (oid == nullptr || oid->ids == nullptr) return text;
  size_t used = 0;
  for (UINT i = 0; i < oid->idLength && used + 1 < kOidTextSize; ++i) {
    // Signed, as the trace has always shown sub-identifiers.
    const int written = std::snprintf(text + used, kOidTextSize - used, i == 0 ? "%d" : ".%d",
                                      static_cast<int32_t>(oid->ids[i]));
    if (written < 0) break;
    used += std::min(static_cast<size_t>(written), kOidTextSize - used - 1);
  }
  return text;
}

bool AppendStringIndex(AsnObjectIdentifier* oid, const char* text) {
  if (oid == nullptr) return false;
  if (text == nullptr) return true;
  const size_t length = std::strlen(text);
  std::vector<UINT> ids;
  ids.reserve(length + 1);
  ids.push_back(static_cast<UINT>(length));
  for (size_t i = 0; i < length; ++i) ids.push_back(static_cast<unsigned char>(text[i]));
  AsnObjectIdentifier index{static_cast<UINT>(ids.size()), ids.data()};
  return SnmpUtilOidAppend(oid, &index) != SNMPAPI_ERROR;
}

bool SetVarbindNumber(SnmpVarBind* varbind, DWORD value, BYTE asn_type) {
  if (varbind == nullptr) return false;
  FreeVarbindValue(varbind);
  if (IsNumberType(asn_type)) {
    varbind->value.asnType = asn_type;
    varbind->value.asnValue.unsigned32 = value;
    return true;
  }
  if (asn_type == ASN_IPADDRESS) {
    auto* bytes = static_cast<BYTE*>(SnmpUtilMemAlloc(4));
    if (bytes == nullptr) return false;
    std::memcpy(bytes, &value, 4);
    varbind->value.asnType = ASN_IPADDRESS;
    varbind->value.asnValue.address = AsnIPAddress{bytes, 4, TRUE};
    return true;
  }
  return false;
}

bool SetVarbindText(SnmpVarBind* varbind, const char* text, BYTE asn_type) {
  if (varbind == nullptr) return false;
  if (text == nullptr) text = "";
  FreeVarbindValue(varbind);
  if (asn_type == ASN_OCTETSTRING) {
    const size_t length = std::strlen(text);
    if (length > UINT32_MAX) return false;
    AsnOctetString octets{nullptr, 0, FALSE};
    if (length != 0) {
      octets.stream = static_cast<BYTE*>(SnmpUtilMemAlloc(static_cast<UINT>(length)));
      if (octets.stream == nullptr) return false;
      std::memcpy(octets.stream, text, length);
      octets.length = static_cast<UINT>(length);
      octets.dynamic = TRUE;
    }
    varbind->value.asnType = ASN_OCTETSTRING;
    varbind->value.asnValue.string = octets;
    return true;
  }
  if (IsNumberType(asn_type)) {
    // Leading-number semantics; the low 32 bits make "4294967295" and "-1" the
    // same unsigned value.
    const long long number = std::strtoll(text, nullptr, 10);
    return SetVarbindNumber(varbind, static_cast<DWORD>(number), asn_type);
  }
  if (asn_type == ASN_OBJECTIDENTIFIER) {
    AsnObjectIdentifier oid{0, nullptr};
    if (!OidFromString(text, &oid)) return false;
    varbind->value.asnType = ASN_OBJECTIDENTIFIER;
    varbind->value.asnValue.object = oid;
    return true;
  }
  if (asn_type == ASN_IPADDRESS) {
    AsnObjectIdentifier oid{0, nullptr};
    if (!OidFromString(text, &oid)) return false;
    bool done = false;
    if (oid.idLength >= 4) {
      DWORD address = 0;
      auto* bytes = reinterpret_cast<BYTE*>(&address);
      for (int i = 0; i < 4; ++i) bytes[i] = static_cast<BYTE>(oid.ids[i]);
      done = SetVarbindNumber(varbind, address, ASN_IPADDRESS);
    }
    SnmpUtilOidFree(&oid);
    return done;
  }
  return false;
}

const char* GetString(SnmpVarBind* varbind) {
  if (varbind == nullptr || varbind->value.asnType != ASN_OCTETSTRING) {
    return "<<GetString type mismatch>>";
  }
  AsnOctetString& octets = varbind->value.asnValue.string;
  if (octets.stream == nullptr || octets.length == 0) return "";
  if (octets.stream[octets.length - 1] != 0) {
    if (octets.length == UINT32_MAX) return "<<SnmpUtilMemReAlloc ERROR>>";
    BYTE* grown = nullptr;
    if (octets.dynamic) {
      grown = static_cast<BYTE*>(SnmpUtilMemReAlloc(octets.stream, octets.length + 1));
    } else {
      // Bytes the value does not own cannot be reallocated: copy them.
      grown = static_cast<BYTE*>(SnmpUtilMemAlloc(octets.length + 1));
      if (grown != nullptr) std::memcpy(grown, octets.stream, octets.length);
    }
    if (grown == nullptr) return "<<SnmpUtilMemReAlloc ERROR>>";
    grown[octets.length] = 0;
    octets.stream = grown;
    octets.length += 1;
    octets.dynamic = TRUE;
  }
  return reinterpret_cast<const char*>(octets.stream);
}

AsnInteger32 GetInteger(const SnmpVarBind* varbind) {
  if (varbind == nullptr) return 0;
  switch (varbind->value.asnType) {
    case ASN_INTEGER:
    case ASN_COUNTER32:
    case ASN_GAUGE32:
    case ASN_TIMETICKS:
      return varbind->value.asnValue.number;
    default:
      return 0;
  }
}

void FreeVarbindValue(SnmpVarBind* varbind) {
  if (varbind != nullptr) SnmpUtilAsnAnyFree(&varbind->value);
}

const char* VarbindValueText(const AsnAny* value) {
  thread_local char text[kTextBufferSize];
  if (value == nullptr) {
    std::snprintf(text, sizeof text, "NULL");
    return text;
  }
  const char* type_name = "UNKNOWN TYPE";
  switch (value->asnType) {
    case ASN_INTEGER: type_name = "INTEGER"; break;
    case ASN_OCTETSTRING: type_name = "STRING"; break;
    case ASN_NULL: type_name = "NULL"; break;
    case ASN_OBJECTIDENTIFIER: type_name = "OID"; break;
    case ASN_IPADDRESS: type_name = "IP ADDRESS"; break;
    case ASN_COUNTER32: type_name = "COUNTER"; break;
    case ASN_GAUGE32: type_name = "GAUGE"; break;
    case ASN_TIMETICKS: type_name = "TIMETICKS"; break;
    case ASN_OPAQUE: type_name = "OPAQUE"; break;
    default: break;
  }
  switch (value->asnType) {
    case ASN_INTEGER:
    case ASN_COUNTER32:
    case ASN_GAUGE32:
    case ASN_TIMETICKS:
      std::snprintf(text, sizeof text, "%s: %d (0x%X)", type_name, value->asnValue.number,
                    value->asnValue.unsigned32);
      return text;
    case ASN_IPADDRESS: {
      const AsnOctetString& address = value->asnValue.address;
      if (address.stream != nullptr && address.length == 4) {
        std::snprintf(text, sizeof text, "%s: %u.%u.%u.%u", type_name, address.stream[0],
                      address.stream[1], address.stream[2], address.stream[3]);
        return text;
      }
      break;
    }
    case ASN_OCTETSTRING:
    case ASN_OPAQUE: {
      const AsnOctetString& octets = value->asnValue.string;
      if (octets.stream == nullptr || octets.length == 0) {
        std::snprintf(text, sizeof text, "%s: NULL", type_name);
        return text;
      }
      bool printable = true;
      for (UINT i = 0; i + 1 < octets.length; ++i) {
        if (octets.stream[i] < 32) {
          printable = false;
          break;
        }
      }
      size_t used = 0;
      if (printable) {
        used = static_cast<size_t>(std::snprintf(text, sizeof text, "%s: \"", type_name));
        // Room is kept for the closing quote and the terminator; a zero byte
        // (a stored terminator) ends the text.
        for (UINT i = 0; i < octets.length && used + 2 < sizeof text; ++i) {
          if (octets.stream[i] == 0) break;
          text[used++] = static_cast<char>(octets.stream[i]);
        }
        text[used++] = '"';
        text[used] = '\0';
      } else {
        used = static_cast<size_t>(std::snprintf(text, sizeof text, "OCTET STRING: "));
        for (UINT i = 0; i < octets.length && used + 3 < sizeof text; ++i) {
          used += static_cast<size_t>(
              std::snprintf(text + used, sizeof text - used, "%02X ", octets.stream[i]));
        }
      }
      return text;
    }
    default:
      break;
  }
  std::snprintf(text, sizeof text, "%s", type_name);
  return text;
}

const char* VarbindText(const SnmpVarBind* varbind) {
  thread_local char text[kTextBufferSize];
  if (varbind == nullptr) {
    std::snprintf(text, sizeof text, "Oid=, Value=NULL");
    return text;
  }
  std::snprintf(text, sizeof text, "Oid=%s, Value=%s", OidToString(&varbind->name),
                VarbindValueText(&varbind->value));
  return text;
}
