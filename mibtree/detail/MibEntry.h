// The stored form of a MIB entry and the pieces of the store that do not depend
// on the agent class: the compact key encoding of OIDs, object-name interning.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/Snmp.h"

namespace mibtree::detail {

// Bytes of an encoded OID.
struct KeySpan {
  const unsigned char* data = nullptr;
  size_t size = 0;
};

// An OID as the store keys it.  Each sub-identifier becomes 1 to 5 bytes:
//   0..0x7F                   0xxxxxxx
//   0x80..0x3FFF              10xxxxxx + 1 byte
//   0x4000..0x1FFFFF          110xxxxx + 2 bytes
//   0x200000..0xFFFFFFF       1110xxxx + 3 bytes
//   0x10000000..0xFFFFFFFF    11110000 + 4 bytes       (big-endian value bits)
// The code is prefix-free and keeps the order of numbers, so comparing keys
// byte by byte (a shorter key first when it is a prefix) orders OIDs exactly as
// SnmpUtilOidCmp does, and an OID begins with a prefix OID exactly when its key
// begins with the prefix's key.  Table cells of the agent (about 26
// sub-identifiers, mostly below 128) take about 28 bytes instead of 104.
class OidKey {
 public:
  explicit OidKey(const AsnObjectIdentifier& oid);
  OidKey(const OidKey&) = delete;
  OidKey& operator=(const OidKey&) = delete;
  KeySpan Span() const { return KeySpan{data_, size_}; }

 private:
  // Room for any OID of up to 32 sub-identifiers without touching the heap.
  std::array<unsigned char, 160> inline_{};
  std::vector<unsigned char> heap_;
  const unsigned char* data_ = nullptr;
  size_t size_ = 0;
};

// Appends the code of one sub-identifier to key.
void AppendKeyId(UINT id, std::vector<unsigned char>* key);

// Decodes key into oid (from the SNMP allocator; oid is overwritten, not freed).
// False when memory runs out.
bool DecodeOidKey(KeySpan key, AsnObjectIdentifier* oid);

inline int CompareKeys(KeySpan a, KeySpan b) {
  const size_t common = a.size < b.size ? a.size : b.size;
  const int order = common == 0 ? 0 : std::memcmp(a.data, b.data, common);
  if (order != 0) return order;
  if (a.size == b.size) return 0;
  return a.size < b.size ? -1 : 1;
}

inline bool KeyStartsWith(KeySpan key, KeySpan prefix) {
  return key.size >= prefix.size &&
         (prefix.size == 0 || std::memcmp(key.data, prefix.data, prefix.size) == 0);
}

// One registered object instance.  Kept compact because a large agent holds a
// million of these: 64 bytes on a 64-bit machine.  The key is stored in the
// entry itself when it is short, the value without the padding of AsnAny, the
// callbacks as an index into the tree's table of distinct callback sets, and
// the object name as a pointer into the tree's interned names.  The store hands
// out const elements; everything but the key may be updated in place.
class MibEntry {
 public:
  // Longest key kept inside the entry; longer keys live on the heap.  A cell
  // of the agent's tables whose index is a name of up to 14 characters fits.
  static constexpr size_t kInlineKeyBytes = 30;
  // Longest key an entry can hold at all (some 13,000 sub-identifiers).
  static constexpr size_t kMaxKeyBytes = UINT16_MAX;

  // key.size must not exceed kMaxKeyBytes.  The value starts NULL.
  explicit MibEntry(KeySpan key);
  ~MibEntry();
  MibEntry(const MibEntry&) = delete;
  MibEntry& operator=(const MibEntry&) = delete;
  // Moving takes the key and the value over; the source keeps an empty key
  // and a NULL value.
  MibEntry(MibEntry&& other) noexcept;
  MibEntry& operator=(MibEntry&& other) noexcept;

  KeySpan Key() const {
    if (key_size_ <= kInlineKeyBytes) return KeySpan{key_, key_size_};
    const unsigned char* bytes = nullptr;
    std::memcpy(&bytes, key_, sizeof bytes);
    return KeySpan{bytes, key_size_};
  }

  // The value, still owned by the entry.
  AsnAny Value() const {
    AsnAny value;
    value.asnType = value_type_;
    std::memcpy(&value.asnValue, value_, sizeof value_);
    return value;
  }
  // Takes value over and frees the one held before.
  void SetValue(const AsnAny& value) const;

  mutable const char* object_name = "";
  mutable DWORD user_word = 0;
  mutable uint16_t callbacks = 0;  // 0: no callbacks
  mutable BYTE access = 0;         // 2: read-write

 private:
  mutable BYTE value_type_ = ASN_NULL;
  mutable unsigned char value_[sizeof(AsnAny::asnValue)] = {};
  uint16_t key_size_ = 0;
  // The key, or (when longer than kInlineKeyBytes) a pointer to it, copied in
  // byte by byte since the array has no pointer alignment.
  unsigned char key_[kInlineKeyBytes];
};

struct EntryOrder {
  using is_transparent = void;
  bool operator()(const MibEntry& a, const MibEntry& b) const {
    return CompareKeys(a.Key(), b.Key()) < 0;
  }
  bool operator()(KeySpan a, const MibEntry& b) const { return CompareKeys(a, b.Key()) < 0; }
  bool operator()(const MibEntry& a, KeySpan b) const { return CompareKeys(a.Key(), b) < 0; }
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
