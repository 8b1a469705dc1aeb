// The binary layout of a version block and a builder that runs at compile time,
// so that the build can place a finished block in an ELF section of a library
// (see cmake/VersionResource.cmake and docs/version-resource.md).
//
//   constexpr platform::version_block::Entry kStrings[] = {{"FileDescription", "Agent"}};
//   constexpr platform::version_block::Spec kSpec{0x0407, 0x04B0, 2, kStrings, 1};
//   constexpr auto kBlock =
//       platform::version_block::Build<platform::version_block::Size(kSpec)>(kSpec);
//
// All numbers are little-endian; every part starts at a multiple of 4 bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace platform::version_block {

inline constexpr unsigned char kMagic[4] = {'L', 'V', 'V', 'R'};
inline constexpr uint16_t kLayoutVersion = 1;
inline constexpr uint32_t kFixedSignature = 0xFEEF04BD;
inline constexpr uint32_t kFixedStructVersion = 0x00010000;
inline constexpr size_t kFixedOffset = 12;   // after magic, total size, layout version
inline constexpr size_t kFixedSize = 52;     // thirteen 32-bit words
inline constexpr size_t kTranslationsOffset = kFixedOffset + kFixedSize;
inline constexpr uint32_t kFileTypeApp = 1;  // VFT_APP
inline constexpr uint32_t kFileTypeDll = 2;  // VFT_DLL
// Key and value sizes are 16-bit fields that count the terminator.
inline constexpr size_t kMaxText = 0xFFFE;

struct Entry {
  std::string_view key;
  std::string_view value;
};

// One translation with one string table.  The fixed part's file and product
// versions are parsed from the "FileVersion" and "ProductVersion" strings.
struct Spec {
  uint16_t language;
  uint16_t codepage;
  uint32_t file_type;
  const Entry* strings;
  size_t count;
};

// "4.0.1.7" (or "4, 0, 1, 7") as most significant word << 32 | least
// significant word: each of up to four numbers takes 16 bits; missing ones are 0.
constexpr uint64_t ParseVersion(std::string_view text) {
  uint64_t parts[4] = {0, 0, 0, 0};
  size_t part = 0;
  bool in_number = false;
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      if (part < 4) parts[part] = (parts[part] * 10 + static_cast<uint64_t>(c - '0')) & 0xFFFF;
      in_number = true;
    } else if (c == '.' || c == ',') {
      if (in_number) ++part;
      in_number = false;
    } else if (c != ' ') {
      break;  // "4.0 beta": the numbers before the first other character count
    }
  }
  return (parts[0] << 48) | (parts[1] << 32) | (parts[2] << 16) | parts[3];
}

constexpr std::string_view FindValue(const Spec& spec, std::string_view key) {
  for (size_t i = 0; i < spec.count; ++i) {
    if (spec.strings[i].key == key) return spec.strings[i].value;
  }
  return {};
}

constexpr size_t Padding(size_t length) { return (4 - length % 4) % 4; }

// Writes the block for `spec` byte by byte into `sink` (anything with Put(byte)
// and Size()).
template <typename Sink>
constexpr void Write(const Spec& spec, Sink& sink) {
  auto put16 = [&sink](uint32_t value) {
    sink.Put(static_cast<unsigned char>(value & 0xFF));
    sink.Put(static_cast<unsigned char>((value >> 8) & 0xFF));
  };
  auto put32 = [&put16](uint32_t value) {
    put16(value & 0xFFFF);
    put16(value >> 16);
  };
  auto put_text = [&sink](std::string_view text) {
    for (const char c : text) sink.Put(static_cast<unsigned char>(c));
    sink.Put(0);
  };
  auto entry_size = [](const Entry& entry) {
    return 4 + entry.key.substr(0, kMaxText).size() + 1 + entry.value.substr(0, kMaxText).size() +
           1;
  };
  size_t total = kTranslationsOffset + 4 + 4 + 4 + 4 + 4;
  for (size_t i = 0; i < spec.count; ++i) {
    total += entry_size(spec.strings[i]) + Padding(entry_size(spec.strings[i]));
  }
  for (const unsigned char c : kMagic) sink.Put(c);
  put32(static_cast<uint32_t>(total));
  put16(kLayoutVersion);
  put16(0);
  const uint64_t file_version = ParseVersion(FindValue(spec, "FileVersion"));
  const uint64_t product_version = ParseVersion(FindValue(spec, "ProductVersion"));
  put32(kFixedSignature);
  put32(kFixedStructVersion);
  put32(static_cast<uint32_t>(file_version >> 32));
  put32(static_cast<uint32_t>(file_version));
  put32(static_cast<uint32_t>(product_version >> 32));
  put32(static_cast<uint32_t>(product_version));
  put32(0x3F);  // file flags mask
  put32(0);     // file flags
  put32(0);     // operating system: none of the Windows ones
  put32(spec.file_type);
  put32(0);     // subtype
  put32(0);     // date, most significant
  put32(0);     // date, least significant
  put32(1);     // translations
  put16(spec.language);
  put16(spec.codepage);
  put32(1);     // string tables
  put16(spec.language);
  put16(spec.codepage);
  put32(static_cast<uint32_t>(spec.count));
  for (size_t i = 0; i < spec.count; ++i) {
    const std::string_view key = spec.strings[i].key.substr(0, kMaxText);
    const std::string_view value = spec.strings[i].value.substr(0, kMaxText);
    put16(static_cast<uint32_t>(key.size() + 1));
    put16(static_cast<uint32_t>(value.size() + 1));
    put_text(key);
    put_text(value);
    for (size_t pad = Padding(entry_size(spec.strings[i])); pad > 0; --pad) sink.Put(0);
  }
}

class CountingSink {
 public:
  constexpr void Put(unsigned char) { ++size_; }
  constexpr size_t Size() const { return size_; }

 private:
  size_t size_ = 0;
};

template <size_t N>
class ArraySink {
 public:
  constexpr void Put(unsigned char byte) {
    if (size_ < N) bytes_[size_] = byte;
    ++size_;
  }
  constexpr size_t Size() const { return size_; }
  constexpr const std::array<unsigned char, N>& Bytes() const { return bytes_; }

 private:
  std::array<unsigned char, N> bytes_{};
  size_t size_ = 0;
};

class VectorSink {
 public:
  void Put(unsigned char byte) { bytes_.push_back(byte); }
  size_t Size() const { return bytes_.size(); }
  std::vector<unsigned char>& Bytes() { return bytes_; }

 private:
  std::vector<unsigned char> bytes_;
};

constexpr size_t Size(const Spec& spec) {
  CountingSink sink;
  Write(spec, sink);
  return sink.Size();
}

template <size_t N>
constexpr std::array<unsigned char, N> Build(const Spec& spec) {
  ArraySink<N> sink;
  Write(spec, sink);
  return sink.Bytes();
}

inline std::vector<unsigned char> BuildVector(const Spec& spec) {
  VectorSink sink;
  Write(spec, sink);
  return std::move(sink.Bytes());
}

}  // namespace platform::version_block
