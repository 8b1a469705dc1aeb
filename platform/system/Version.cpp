// Version blocks: reading them from a file's ELF section, validating them, and
// looking values up in them.
#include "platform/system/Version.h"

#include <bit>
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system/ElfSections.h"
#include "platform/system/Paths.h"
#include "platform/system/Threads.h"
#include "platform/system/VersionBlock.h"
#include "platform/system/detail/Text.h"

static_assert(std::endian::native == std::endian::little,
              "version blocks are little-endian and are read in place");
static_assert(sizeof(VS_FIXEDFILEINFO) == platform::version_block::kFixedSize);

namespace {

namespace vb = platform::version_block;
using platform::detail::EqualsNoCase;
using platform::detail::Load16;
using platform::detail::Load32;

constexpr const char* kVersionSection = ".lorveth_version";

struct StringEntry {
  std::string_view key;
  size_t value_offset = 0;
  size_t value_size = 0;  // with terminator
};

struct StringTable {
  uint16_t language = 0;
  uint16_t codepage = 0;
  std::vector<StringEntry> strings;
};

struct ParsedBlock {
  size_t size = 0;
  size_t translation_count = 0;
  std::vector<StringTable> tables;
};

// Walks the block and checks every count, size and terminator against the
// block's own size, which must fit in `available`.
bool Parse(const unsigned char* data, size_t available, ParsedBlock& parsed) {
  if (data == nullptr || available < vb::kTranslationsOffset + 4) return false;
  if (std::memcmp(data, vb::kMagic, sizeof vb::kMagic) != 0) return false;
  const size_t size = Load32(data + 4);
  if (size > available || size < vb::kTranslationsOffset + 8 || size % 4 != 0) return false;
  if (Load16(data + 8) != vb::kLayoutVersion) return false;
  if (Load32(data + vb::kFixedOffset) != vb::kFixedSignature) return false;

  size_t at = vb::kTranslationsOffset;
  const size_t translations = Load32(data + at);
  at += 4;
  if (translations > (size - at) / 4) return false;
  at += translations * 4;
  if (size - at < 4) return false;
  const size_t table_count = Load32(data + at);
  at += 4;
  parsed.tables.clear();
  for (size_t t = 0; t < table_count; ++t) {
    if (size - at < 8) return false;
    StringTable table;
    table.language = Load16(data + at);
    table.codepage = Load16(data + at + 2);
    const size_t string_count = Load32(data + at + 4);
    at += 8;
    // Each string takes at least 8 bytes: this bounds the reservation.
    if (string_count > (size - at) / 8) return false;
    table.strings.reserve(string_count);
    for (size_t s = 0; s < string_count; ++s) {
      if (size - at < 4) return false;
      const size_t key_size = Load16(data + at);
      const size_t value_size = Load16(data + at + 2);
      at += 4;
      if (key_size == 0 || value_size == 0 || key_size + value_size > size - at) return false;
      const auto* key = reinterpret_cast<const char*>(data + at);
      if (key[key_size - 1] != '\0' || data[at + key_size + value_size - 1] != '\0') return false;
      table.strings.push_back({std::string_view(key, key_size - 1), at + key_size, value_size});
      const size_t used = 4 + key_size + value_size;
      at += key_size + value_size + vb::Padding(used);
      if (at > size) return false;
    }
    parsed.tables.push_back(std::move(table));
  }
  parsed.size = size;
  parsed.translation_count = translations;
  return true;
}

bool ParseHex(std::string_view text, uint32_t& value) {
  value = 0;
  if (text.empty() || text.size() > 8) return false;
  for (const char c : text) {
    uint32_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      return false;
    }
    value = value << 4 | digit;
  }
  return true;
}

std::vector<std::string_view> SplitPath(std::string_view path) {
  std::vector<std::string_view> parts;
  while (!path.empty()) {
    const size_t slash = path.find('\\');
    const std::string_view part = path.substr(0, slash);
    if (!part.empty()) parts.push_back(part);
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return parts;
}

// Reads the file's version section; on failure sets the last error.
bool ReadVersionSection(LPCSTR file, std::vector<unsigned char>& bytes, size_t& block_size) {
  if (file == nullptr || *file == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const platform::ElfResult result =
      platform::ReadElfSection(platform::ToNativePath(file), kVersionSection, bytes);
  if (result != platform::ElfResult::kOk) {
    SetLastError(platform::ElfResultError(result));
    return false;
  }
  // Where several objects each carried a block, the linker put them one after
  // the other: the first one counts.
  block_size = platform::ValidateVersionBlock(bytes.data(), bytes.size());
  if (block_size == 0) {
    SetLastError(bytes.empty() ? ERROR_RESOURCE_TYPE_NOT_FOUND : ERROR_INVALID_DATA);
    return false;
  }
  return true;
}

}  // namespace

namespace platform {

size_t ValidateVersionBlock(const unsigned char* data, size_t size) {
  ParsedBlock parsed;
  return Parse(data, size, parsed) ? parsed.size : 0;
}

}  // namespace platform

DWORD GetFileVersionInfoSizeA(LPCSTR file, DWORD* handle) {
  if (handle != nullptr) *handle = 0;
  std::vector<unsigned char> bytes;
  size_t block_size = 0;
  if (!ReadVersionSection(file, bytes, block_size)) return 0;
  return static_cast<DWORD>(block_size);
}

BOOL GetFileVersionInfoA(LPCSTR file, DWORD /*handle*/, DWORD size, LPVOID data) {
  if (data == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<unsigned char> bytes;
  size_t block_size = 0;
  if (!ReadVersionSection(file, bytes, block_size)) return FALSE;
  if (size < block_size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(data, bytes.data(), block_size);
  return TRUE;
}

BOOL VerQueryValueA(const void* block, LPCSTR sub_block, LPVOID* buffer, UINT* length) {
  if (block == nullptr || sub_block == nullptr || buffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const auto* data = static_cast<const unsigned char*>(block);
  // The block carries its own size; a block from GetFileVersionInfoA is whole.
  ParsedBlock parsed;
  if (!Parse(data, std::memcmp(data, vb::kMagic, sizeof vb::kMagic) == 0 ? Load32(data + 4) : 0,
             parsed)) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  auto found = [&](size_t offset, size_t size) {
    *buffer = const_cast<unsigned char*>(data + offset);
    if (length != nullptr) *length = static_cast<UINT>(size);
    return TRUE;
  };
  const std::vector<std::string_view> parts = SplitPath(sub_block);
  if (parts.empty()) return found(vb::kFixedOffset, vb::kFixedSize);
  if (parts.size() == 2 && EqualsNoCase(parts[0], "VarFileInfo") &&
      EqualsNoCase(parts[1], "Translation")) {
    return found(vb::kTranslationsOffset + 4, parsed.translation_count * 4);
  }
  uint32_t translation = 0;
  if (parts.size() == 3 && EqualsNoCase(parts[0], "StringFileInfo") && parts[1].size() == 8 &&
      ParseHex(parts[1], translation)) {
    const auto language = static_cast<uint16_t>(translation >> 16);
    const auto codepage = static_cast<uint16_t>(translation & 0xFFFF);
    for (const StringTable& table : parsed.tables) {
      if (table.language != language || table.codepage != codepage) continue;
      for (const StringEntry& entry : table.strings) {
        if (EqualsNoCase(entry.key, parts[2])) return found(entry.value_offset, entry.value_size);
      }
      SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
      return FALSE;
    }
    SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
    return FALSE;
  }
  SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return FALSE;
}
