// Neutral value helpers and OID text conversion.
#include "services/snmpsvc/Varbind.h"

#include <algorithm>
#include <charconv>

namespace snmpsvc {

Value Value::Integer(std::int32_t v) {
  Value value;
  value.type = ValueType::kInteger;
  value.integer = v;
  return value;
}

Value Value::Unsigned(ValueType type, std::uint64_t v) {
  Value value;
  value.type = type;
  value.number = v;
  return value;
}

Value Value::Octets(ValueType type, std::string bytes) {
  Value value;
  value.type = type;
  value.octets = std::move(bytes);
  return value;
}

Value Value::ObjectId(Oid v) {
  Value value;
  value.type = ValueType::kObjectId;
  value.oid = std::move(v);
  return value;
}

std::string OidToString(const Oid& oid) {
  std::string text;
  for (std::size_t i = 0; i < oid.size(); ++i) {
    if (i != 0) text += '.';
    text += std::to_string(oid[i]);
  }
  return text;
}

std::optional<Oid> ParseOid(std::string_view text) {
  if (!text.empty() && text.front() == '.') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  Oid oid;
  while (true) {
    const std::size_t dot = text.find('.');
    const std::string_view part = text.substr(0, dot);
    std::uint32_t sub = 0;
    const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), sub);
    if (part.empty() || ec != std::errc() || end != part.data() + part.size()) return std::nullopt;
    oid.push_back(sub);
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  return oid;
}

bool OidStartsWith(const Oid& oid, const Oid& prefix) {
  return prefix.size() <= oid.size() && std::equal(prefix.begin(), prefix.end(), oid.begin());
}

std::strong_ordering CompareOid(const Oid& a, const Oid& b) {
  return std::lexicographical_compare_three_way(a.begin(), a.end(), b.begin(), b.end());
}

}  // namespace snmpsvc
