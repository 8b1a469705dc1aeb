// Values, varbinds and traps as snmpsvc passes them between an extension
// agent (Windows ABI) and Net-SNMP.  Neither side's headers are included here:
// their ASN.1 macros clash, so each side converts to and from these types in a
// translation unit of its own.
//
//   VarBind vb{ParseOid("1.3.6.1.2.1.1.1.0").value(), Value::Integer(5)};
//   OidToString(vb.name);  // "1.3.6.1.2.1.1.1.0"
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace snmpsvc {

// Sub-identifiers are 32-bit, as on the extension-agent ABI.
using Oid = std::vector<std::uint32_t>;

// BER tags: both sides number their types after the protocol.
enum class ValueType : std::uint8_t {
  kInteger = 0x02,
  kOctetString = 0x04,
  kNull = 0x05,
  kObjectId = 0x06,
  kIpAddress = 0x40,
  kCounter32 = 0x41,
  kGauge32 = 0x42,
  kTimeTicks = 0x43,
  kOpaque = 0x44,
  kCounter64 = 0x46,
};

struct Value {
  ValueType type = ValueType::kNull;
  std::int32_t integer = 0;     // kInteger
  std::uint64_t number = 0;     // kCounter32, kGauge32, kTimeTicks, kCounter64
  std::string octets;           // kOctetString, kIpAddress (4 bytes), kOpaque
  Oid oid;                      // kObjectId

  static Value Null() { return {}; }
  static Value Integer(std::int32_t v);
  static Value Unsigned(ValueType type, std::uint64_t v);
  static Value Octets(ValueType type, std::string bytes);
  static Value ObjectId(Oid v);

  friend bool operator==(const Value&, const Value&) = default;
};

struct VarBind {
  Oid name;
  Value value;
  friend bool operator==(const VarBind&, const VarBind&) = default;
};

// One trap as SnmpExtensionTrap returns it.
struct Trap {
  Oid enterprise;
  std::int32_t generic = 0;
  std::int32_t specific = 0;
  std::uint32_t time_stamp = 0;  // hundredths of a second
  std::vector<VarBind> bindings;
};

// Dotted text; an empty OID gives "".
std::string OidToString(const Oid& oid);
// Parses dotted text (an optional leading "."); nullopt for anything else,
// including sub-identifiers above 2^32-1.
std::optional<Oid> ParseOid(std::string_view text);

// True if `prefix` is a prefix of `oid` (or equal to it).
bool OidStartsWith(const Oid& oid, const Oid& prefix);
// Lexicographic order by unsigned sub-identifier, a prefix first.
std::strong_ordering CompareOid(const Oid& a, const Oid& b);

// SNMP error status codes used by the service itself (protocol numbers).
constexpr std::int32_t kNoError = 0;
constexpr std::int32_t kTooBig = 1;
constexpr std::int32_t kNoSuchName = 2;
constexpr std::int32_t kBadValue = 3;
constexpr std::int32_t kReadOnly = 4;
constexpr std::int32_t kGenErr = 5;
constexpr std::int32_t kWrongType = 7;
constexpr std::int32_t kWrongValue = 10;
constexpr std::int32_t kNotWritable = 17;

// Request types as the extension ABI numbers them.
constexpr std::uint8_t kPduGet = 0xA0;
constexpr std::uint8_t kPduGetNext = 0xA1;
constexpr std::uint8_t kPduSet = 0xA3;

}  // namespace snmpsvc
