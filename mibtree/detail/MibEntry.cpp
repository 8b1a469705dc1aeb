// Key encoding, entry storage and object-name interning of the MIB store.
#include "mibtree/detail/MibEntry.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <new>
#include <utility>

namespace mibtree::detail {

namespace {

size_t EncodedSize(UINT id) {
  if (id < 0x80u) return 1;
  if (id < 0x4000u) return 2;
  if (id < 0x200000u) return 3;
  if (id < 0x10000000u) return 4;
  return 5;
}

unsigned char* Encode(UINT id, unsigned char* out) {
  switch (EncodedSize(id)) {
    case 1:
      *out++ = static_cast<unsigned char>(id);
      break;
    case 2:
      *out++ = static_cast<unsigned char>(0x80u | (id >> 8));
      *out++ = static_cast<unsigned char>(id);
      break;
    case 3:
      *out++ = static_cast<unsigned char>(0xC0u | (id >> 16));
      *out++ = static_cast<unsigned char>(id >> 8);
      *out++ = static_cast<unsigned char>(id);
      break;
    case 4:
      *out++ = static_cast<unsigned char>(0xE0u | (id >> 24));
      *out++ = static_cast<unsigned char>(id >> 16);
      *out++ = static_cast<unsigned char>(id >> 8);
      *out++ = static_cast<unsigned char>(id);
      break;
    default:
      *out++ = 0xF0u;
      *out++ = static_cast<unsigned char>(id >> 24);
      *out++ = static_cast<unsigned char>(id >> 16);
      *out++ = static_cast<unsigned char>(id >> 8);
      *out++ = static_cast<unsigned char>(id);
      break;
  }
  return out;
}

// Bytes of the code that starts with lead.
size_t CodeSize(unsigned char lead) {
  if (lead < 0x80u) return 1;
  if (lead < 0xC0u) return 2;
  if (lead < 0xE0u) return 3;
  if (lead < 0xF0u) return 4;
  return 5;
}

}  // namespace

OidKey::OidKey(const AsnObjectIdentifier& oid) {
  size_t size = 0;
  const UINT count = oid.ids != nullptr ? oid.idLength : 0;
  for (UINT i = 0; i < count; ++i) size += EncodedSize(oid.ids[i]);
  unsigned char* out = inline_.data();
  if (size > inline_.size()) {
    heap_.resize(size);
    out = heap_.data();
  }
  data_ = out;
  size_ = size;
  for (UINT i = 0; i < count; ++i) out = Encode(oid.ids[i], out);
}

void AppendKeyId(UINT id, std::vector<unsigned char>* key) {
  const size_t at = key->size();
  key->resize(at + EncodedSize(id));
  Encode(id, key->data() + at);
}

bool DecodeOidKey(KeySpan key, AsnObjectIdentifier* oid) {
  oid->idLength = 0;
  oid->ids = nullptr;
  size_t count = 0;
  for (size_t at = 0; at < key.size; at += CodeSize(key.data[at])) ++count;
  if (count == 0) return true;
  auto* ids = static_cast<UINT*>(SnmpUtilMemAlloc(static_cast<UINT>(count * sizeof(UINT))));
  if (ids == nullptr) return false;
  size_t at = 0;
  for (size_t i = 0; i < count; ++i) {
    const size_t code = CodeSize(key.data[at]);
    // The lead byte keeps the value bits below its marker bits.
    static constexpr unsigned char kLeadMask[6] = {0, 0x7F, 0x3F, 0x1F, 0x0F, 0x00};
    UINT id = key.data[at] & kLeadMask[code];
    for (size_t k = 1; k < code; ++k) id = (id << 8) | key.data[at + k];
    ids[i] = id;
    at += code;
  }
  oid->ids = ids;
  oid->idLength = static_cast<UINT>(count);
  return true;
}

MibEntry::MibEntry(KeySpan key) : key_size_(static_cast<uint16_t>(key.size)) {
  if (key.size <= kInlineKeyBytes) {
    if (key.size != 0) std::memcpy(key_, key.data, key.size);
    return;
  }
  void* bytes = std::malloc(key.size);
  if (bytes == nullptr) throw std::bad_alloc();
  std::memcpy(bytes, key.data, key.size);
  std::memcpy(key_, &bytes, sizeof bytes);
}

MibEntry::MibEntry(MibEntry&& other) noexcept
    : object_name(other.object_name),
      user_word(other.user_word),
      callbacks(other.callbacks),
      access(other.access),
      value_type_(other.value_type_),
      key_size_(other.key_size_) {
  std::memcpy(value_, other.value_, sizeof value_);
  std::memcpy(key_, other.key_, sizeof key_);
  other.key_size_ = 0;
  other.value_type_ = ASN_NULL;
}

MibEntry& MibEntry::operator=(MibEntry&& other) noexcept {
  if (this != &other) {
    this->~MibEntry();
    new (this) MibEntry(std::move(other));
  }
  return *this;
}

void MibEntry::SetValue(const AsnAny& value) const {
  AsnAny held = Value();
  SnmpUtilAsnAnyFree(&held);
  value_type_ = value.asnType;
  std::memcpy(value_, &value.asnValue, sizeof value_);
}

MibEntry::~MibEntry() {
  AsnAny held = Value();
  SnmpUtilAsnAnyFree(&held);
  if (key_size_ > kInlineKeyBytes) {
    void* bytes = nullptr;
    std::memcpy(&bytes, key_, sizeof bytes);
    std::free(bytes);
  }
}

const char* NameTable::Intern(const char* name) {
  if (name == nullptr || *name == '\0') return "";
  const std::string_view text(name);
  auto found = names_.find(text);
  if (found == names_.end()) found = names_.emplace(text).first;
  return found->c_str();
}

}  // namespace mibtree::detail
