// Small ELF images in memory, in either class: a header, the sections' contents, the
// section-name table and the section header table, in that order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

namespace testing_elf {

struct Section {
  std::string name;
  uint32_t type = 1;  // SHT_PROGBITS
  std::vector<unsigned char> bytes;
};

struct Image {
  std::vector<unsigned char> bytes;
  size_t table_offset = 0;   // section header table
  size_t entry_size = 0;     // one section header
  size_t names_offset = 0;   // section-name table contents
};

inline void Put(std::vector<unsigned char>& out, size_t at, uint64_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) out[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

// With extended numbering the header's count and name index are 0 and 0xFFFF
// and section 0 carries the real values.
inline Image Build(bool is64, const std::vector<Section>& sections, bool extended = false) {
  const size_t header_size = is64 ? 64 : 52;
  Image image;
  image.entry_size = is64 ? 64 : 40;
  std::vector<unsigned char>& out = image.bytes;
  out.assign(header_size, 0);
  std::vector<size_t> offsets;
  for (const Section& section : sections) {
    offsets.push_back(out.size());
    out.insert(out.end(), section.bytes.begin(), section.bytes.end());
  }
  std::string names(1, '\0');
  std::vector<size_t> name_offsets;
  for (const Section& section : sections) {
    name_offsets.push_back(names.size());
    names += section.name + '\0';
  }
  const size_t shstrtab_name = names.size();
  names += std::string(".shstrtab") + '\0';
  image.names_offset = out.size();
  out.insert(out.end(), names.begin(), names.end());
  while (out.size() % 8 != 0) out.push_back(0);
  image.table_offset = out.size();
  const size_t count = sections.size() + 2;
  out.resize(out.size() + count * image.entry_size, 0);

  auto write_header = [&](size_t index, size_t name, uint32_t type, uint64_t offset,
                          uint64_t size, uint32_t link) {
    const size_t at = image.table_offset + index * image.entry_size;
    Put(out, at, name, 4);
    Put(out, at + 4, type, 4);
    Put(out, at + (is64 ? 24 : 16), offset, is64 ? 8 : 4);
    Put(out, at + (is64 ? 32 : 20), size, is64 ? 8 : 4);
    Put(out, at + (is64 ? 40 : 24), link, 4);
  };
  write_header(0, 0, 0, 0, extended ? count : 0, extended ? static_cast<uint32_t>(count - 1) : 0);
  for (size_t i = 0; i < sections.size(); ++i) {
    write_header(i + 1, name_offsets[i], sections[i].type, offsets[i], sections[i].bytes.size(), 0);
  }
  write_header(count - 1, shstrtab_name, 3, image.names_offset, names.size(), 0);

  const unsigned char ident[] = {0x7F, 'E', 'L', 'F', static_cast<unsigned char>(is64 ? 2 : 1), 1, 1};
  std::copy(std::begin(ident), std::end(ident), out.begin());
  Put(out, 16, 3, 2);  // ET_DYN
  Put(out, is64 ? 40 : 32, image.table_offset, is64 ? 8 : 4);
  const size_t sizes = is64 ? 58 : 46;  // entry size, count, name table index
  Put(out, sizes, image.entry_size, 2);
  Put(out, sizes + 2, extended ? 0 : count, 2);
  Put(out, sizes + 4, extended ? 0xFFFF : count - 1, 2);
  return image;
}

}  // namespace testing_elf
