// The stored form of a MIB entry and the pieces of the store that do not depend
// on the agent class: OID ordering, object-name interning.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "platform/Snmp.h"

namespace mibtree::detail {

// One registered object instance.  The varbind's name is the entry's key and
// never changes while the entry is in the store; everything else may be updated
// in place (hence mutable: the store hands out const elements).  Kept compact
// because a large agent holds a million of these: callbacks are an index into
// the tree's table of distinct callback sets, the object name points into the
// tree's interned names.
struct MibEntry {
  // Adopts name, which must come from the SNMP allocator.
  explicit MibEntry(AsnObjectIdentifier name) {
    std::memset(&varbind, 0, sizeof varbind);
    varbind.name = name;
    varbind.value.asnType = ASN_NULL;
  }
  ~MibEntry() { SnmpUtilVarBindFree(&varbind); }
  MibEntry(const MibEntry&) = delete;
  MibEntry& operator=(const MibEntry&) = delete;

  mutable SnmpVarBind varbind;
  mutable const char* object_name = "";
  mutable DWORD user_word = 0;
  mutable uint16_t callbacks = 0;  // 0: no callbacks
  mutable BYTE access = 0;         // 2: read-write
};

// The order of SnmpUtilOidCmp (sub-identifier by sub-identifier as unsigned
// numbers, a prefix before the longer OID), inline because every lookup makes
// some twenty of these comparisons.
inline int CompareOids(const AsnObjectIdentifier& a, const AsnObjectIdentifier& b) {
  const UINT common = a.idLength < b.idLength ? a.idLength : b.idLength;
  for (UINT i = 0; i < common; ++i) {
    if (a.ids[i] != b.ids[i]) return a.ids[i] < b.ids[i] ? -1 : 1;
  }
  if (a.idLength == b.idLength) return 0;
  return a.idLength < b.idLength ? -1 : 1;
}

struct EntryOrder {
  using is_transparent = void;
  bool operator()(const MibEntry& a, const MibEntry& b) const {
    return CompareOids(a.varbind.name, b.varbind.name) < 0;
  }
  bool operator()(const AsnObjectIdentifier& a, const MibEntry& b) const {
    return CompareOids(a, b.varbind.name) < 0;
  }
  bool operator()(const MibEntry& a, const AsnObjectIdentifier& b) const {
    return CompareOids(a.varbind.name, b) < 0;
  }
};

// Object names are a small set of literals repeated over every row of a table;
// each distinct name is stored once and entries point at it.
class NameTable {
 public:
  // A stable copy of name ("" for null), valid as long as the table.
  const char* Intern(const char* name);

 private:
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
  };
  std::unordered_set<std::string, Hash, std::equal_to<>> names_;
};

}  // namespace mibtree::detail
