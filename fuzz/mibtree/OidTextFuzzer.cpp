// OID text parsing, formatting and string indexes.  Input: OID text, then
// optionally a newline and a text to append as string index.
//
// Properties checked:
// - a failed parse leaves the OID empty; a successful one has two or more
//   sub-identifiers;
// - formatting a parsed OID and parsing the text again gives the same OID,
//   as long as every sub-identifier is below 2^31 (larger ones are formatted as
//   negative numbers, which the parser does not take back) and the OID fits
//   the formatter's buffer;
// - appending a string index adds its length and its unsigned bytes;
// - for a 7-bit text without quotes, appending it as index equals parsing the
//   formatted OID followed by the text in double quotes.
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

bool SameOid(const AsnObjectIdentifier& a, const AsnObjectIdentifier& b) {
  return a.idLength == b.idLength &&
         (a.idLength == 0 || std::memcmp(a.ids, b.ids, a.idLength * sizeof(UINT)) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t newline = input.find('\n');
  const std::string oid_text = input.substr(0, newline).c_str();  // up to a NUL
  const bool has_index = newline != std::string::npos;
  const std::string index = has_index ? input.substr(newline + 1).c_str() : std::string();

  OidOwner oid;
  if (!OidFromString(oid_text.c_str(), oid.Get())) {
    Check(oid->idLength == 0 && oid->ids == nullptr);
    return 0;
  }
  Check(oid->idLength >= 2);

  bool small = oid->idLength <= kOidTextMaxSubIds;
  for (UINT i = 0; i < oid->idLength; ++i) small = small && oid->ids[i] < 0x80000000u;
  const std::string text = OidToString(oid.Get());
  OidOwner again;
  const bool reparsed = OidFromString(text.c_str(), again.Get());
  if (small) {
    Check(reparsed && SameOid(*oid.Get(), *again.Get()));
    Check(text == OidToString(again.Get()));
  } else {
    Check(text.find('-') != std::string::npos);
  }

  if (!has_index) return 0;
  const UINT before = oid->idLength;
  Check(AppendStringIndex(oid.Get(), index.c_str()));
  Check(oid->idLength == before + 1 + index.size());
  Check(oid->ids[before] == index.size());
  for (size_t i = 0; i < index.size(); ++i) {
    Check(oid->ids[before + 1 + i] == static_cast<unsigned char>(index[i]));
  }

  bool plain = small;
  for (const char c : index) plain = plain && c != '"' && static_cast<unsigned char>(c) < 0x80;
  if (plain) {
    OidOwner quoted;
    Check(OidFromString((text + ".\"" + index + "\"").c_str(), quoted.Get()));
    Check(SameOid(*oid.Get(), *quoted.Get()));
  }
  return 0;
}
