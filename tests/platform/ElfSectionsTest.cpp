// The ELF section reader on built libraries and on synthesized images of both classes
// (random damage is the fuzz target's).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/ElfImage.h"
#include "platform/system/ElfSections.h"
#include "support/TempDir.h"

namespace {

using platform::ElfResult;
using platform::ReadElfSection;

std::vector<unsigned char> ReadWhole(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

std::vector<unsigned char> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

class ElfFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::vector<unsigned char>& bytes) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  const test_support::TempDir temp_{"lorveth-elf"};
  const std::string dir_ = temp_.path();
};

TEST_F(ElfFileTest, BuiltLibraryYieldsItsSectionAndFilesWithoutOneAreTold) {
  std::vector<unsigned char> from_file;
  ASSERT_EQ(ReadElfSection(LORVETH_VERSIONED_MODULE, ".lorveth_version", from_file),
            ElfResult::kOk);
  ASSERT_GE(from_file.size(), 4u);
  EXPECT_EQ(std::string(from_file.begin(), from_file.begin() + 4), "LVVR");
  std::vector<unsigned char> from_memory;
  ASSERT_EQ(ReadElfSection(ReadWhole(LORVETH_VERSIONED_MODULE), ".lorveth_version", from_memory),
            ElfResult::kOk);
  EXPECT_EQ(from_file, from_memory);
  std::vector<unsigned char> bytes{1, 2, 3};
  EXPECT_EQ(ReadElfSection(LORVETH_PLAIN_MODULE, ".lorveth_version", bytes),
            ElfResult::kSectionNotFound);
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(ReadElfSection(LORVETH_PLAIN_MODULE, ".dynstr", bytes), ElfResult::kOk);
  EXPECT_FALSE(bytes.empty());
  std::vector<unsigned char> other_bytes;
  EXPECT_EQ(ReadElfSection(dir_ + "/absent.so", ".text", other_bytes), ElfResult::kFileNotFound);
  EXPECT_EQ(
      ReadElfSection(Write("notes.txt", Bytes("[TrapTable]\n2201=2\n")), ".text", other_bytes),
      ElfResult::kNotElf);
  EXPECT_EQ(ReadElfSection(Write("empty", {}), ".text", other_bytes), ElfResult::kNotElf);
  EXPECT_EQ(ReadElfSection(dir_, ".text", other_bytes), ElfResult::kReadFailed);
  EXPECT_EQ(platform::CheckElfFile(LORVETH_PLAIN_MODULE), ElfResult::kOk);
  EXPECT_EQ(platform::CheckElfFile(dir_ + "/notes.txt"), ElfResult::kNotElf);
}

class ElfImageTest : public ::testing::TestWithParam<bool> {};

TEST_P(ElfImageTest, NamedSectionIsFoundAmongOthers) {
  const auto image = testing_elf::Build(GetParam(), {{".first", 1, Bytes("one")},
                                                     {".lorveth_version", 1, Bytes("block")},
                                                     {".lorveth_version", 1, Bytes("second")}});
  std::vector<unsigned char> bytes;
  ASSERT_EQ(ReadElfSection(image.bytes, ".lorveth_version", bytes), ElfResult::kOk);
  EXPECT_EQ(bytes, Bytes("block"));
  ASSERT_EQ(ReadElfSection(image.bytes, ".first", bytes), ElfResult::kOk);
  EXPECT_EQ(bytes, Bytes("one"));
  EXPECT_EQ(ReadElfSection(image.bytes, ".firs", bytes), ElfResult::kSectionNotFound);
  EXPECT_EQ(ReadElfSection(image.bytes, "", bytes), ElfResult::kOk);  // the null section
  EXPECT_TRUE(bytes.empty());
  const auto extended_image =
      testing_elf::Build(GetParam(), {{".data", 1, Bytes("payload")}}, true);
  std::vector<unsigned char> extended_bytes;
  ASSERT_EQ(ReadElfSection(extended_image.bytes, ".data", extended_bytes), ElfResult::kOk);
  EXPECT_EQ(extended_bytes, Bytes("payload"));
  // SHT_NOBITS with a size far beyond the file: nothing is read.
  auto other_image = testing_elf::Build(GetParam(), {{".bss", 8, Bytes("xxxx")}});
  const size_t size_field =
      other_image.table_offset + other_image.entry_size + (GetParam() ? 32 : 20);
  testing_elf::Put(other_image.bytes, size_field, 0x7FFFFFF0, 4);
  std::vector<unsigned char> other_bytes;
  EXPECT_EQ(ReadElfSection(other_image.bytes, ".bss", other_bytes), ElfResult::kOk);
  EXPECT_TRUE(other_bytes.empty());
}

// The checks of either class run the same code: the wider class suffices.
TEST(ElfImageTest, InconsistentFieldsAreMalformedOtherFormatsUnsupported) {
  const auto good = testing_elf::Build(true, {{".data", 1, Bytes("payload")}});
  const size_t entry = good.table_offset + good.entry_size;  // the .data header
  const size_t names_entry = good.table_offset + 2 * good.entry_size;
  struct Damage {
    const char* what;
    size_t at;
    uint64_t value;
    size_t width;
  };
  const Damage damages[] = {
      {"table offset past the end", 40u, good.bytes.size(), 8u},
      {"table offset wraps", 40u, ~uint64_t{0} - 8, 8u},
      {"entry size too small", 58u, 8, 2},
      {"count beyond the file", 60u, 0xFFFE, 2},
      {"name table index out of range", 62u, 9, 2},
      {"section offset past the end", entry + 24, good.bytes.size(), 4},
      {"section size past the end", entry + 32, good.bytes.size(), 4},
      {"section name past the name table", entry, 5000, 4},
      {"name table past the end", names_entry + 32, 0x10000, 4},
  };
  for (const Damage& damage : damages) {
    auto image = good;
    testing_elf::Put(image.bytes, damage.at, damage.value, damage.width);
    std::vector<unsigned char> bytes;
    EXPECT_EQ(ReadElfSection(image.bytes, ".data", bytes), ElfResult::kMalformed) << damage.what;
    EXPECT_TRUE(bytes.empty()) << damage.what;
  }
  // Cut the name table's size so that its last name loses the terminator: a name before the
  // broken one is still found; a search that reaches it fails.
  auto cut = good.bytes;
  const uint32_t names_size = cut[names_entry + 32] | (cut[names_entry + 33] << 8);
  testing_elf::Put(cut, names_entry + 32, names_size - 1, 4);
  std::vector<unsigned char> bytes;
  EXPECT_EQ(ReadElfSection(cut, ".data", bytes), ElfResult::kOk);
  EXPECT_EQ(ReadElfSection(cut, ".absent", bytes), ElfResult::kMalformed);
  for (const auto& [at, value] : {std::pair{5, 2}, {4, 3}}) {  // big-endian, unknown class
    auto foreign = good.bytes;
    foreign[at] = static_cast<unsigned char>(value);
    EXPECT_EQ(ReadElfSection(foreign, ".data", bytes), ElfResult::kUnsupported);
  }
  auto no_table = good.bytes;  // no section table at all
  testing_elf::Put(no_table, 40, 0, 8);
  EXPECT_EQ(ReadElfSection(no_table, ".data", bytes), ElfResult::kSectionNotFound);
}

INSTANTIATE_TEST_SUITE_P(BothClasses, ElfImageTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return param.param ? "Elf64" : "Elf32";
                         });

}  // namespace
