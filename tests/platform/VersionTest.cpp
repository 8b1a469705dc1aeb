// Version blocks: built into a library, read back from its file, queried, rejected when damaged.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/system/Threads.h"
#include "platform/system/Version.h"
#include "platform/system/VersionBlock.h"

namespace {

namespace vb = platform::version_block;

std::vector<unsigned char> ReadBlock(const char* path) {
  DWORD handle = 99;
  const DWORD size = GetFileVersionInfoSizeA(path, &handle);
  EXPECT_EQ(handle, 0u);
  std::vector<unsigned char> block(size);
  if (size != 0) {
    EXPECT_TRUE(GetFileVersionInfoA(path, 0, size, block.data()));
  }
  return block;
}

std::string QueryText(const void* block, const char* sub_block) {
  LPVOID value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block, sub_block, &value, &length)) return "<failed>";
  const std::string text(static_cast<const char*>(value));
  EXPECT_EQ(length, text.size() + 1) << sub_block;
  return text;
}

TEST(VersionFileTest, BuiltLibraryCarriesItsStringsAndParsedVersions) {
  const std::vector<unsigned char> block = ReadBlock(LORVETH_VERSIONED_MODULE);
  ASSERT_FALSE(block.empty());
  // The texts, the translation and the missing pieces the host reads are the
  // host's tests'; here what the build puts in and the fixed part.
  EXPECT_EQ(QueryText(block.data(), "\\StringFileInfo\\040704E4\\LegalCopyright"),
            "Nobody \"quoted\" \\ backslash");
  // Names and hex digits match without regard to case.
  EXPECT_EQ(QueryText(block.data(), "\\stringfileinfo\\040704e4\\fileDESCRIPTION"),
            "Versioned test module");
  LPVOID fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", &fixed, &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
  EXPECT_EQ(info->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(info->dwFileVersionMS, 0x00040001u);
  EXPECT_EQ(info->dwFileVersionLS, 0x00020003u);
  EXPECT_EQ(info->dwProductVersionMS, 0x00030005u);
  EXPECT_EQ(info->dwProductVersionLS, 0u);
  EXPECT_EQ(info->dwFileType, vb::kFileTypeDll);
}

constexpr vb::Entry kStrings[] = {{"FileDescription", "Desc"},
                                  {"FileVersion", "1.2.3.4"},
                                  {"ProductVersion", "4, 0, 7, 1"},
                                  {"Comments", ""}};
constexpr vb::Spec kSpec{0x0409, 0x04B0, vb::kFileTypeApp, kStrings, 4};

TEST(VersionBlockTest, TruncatedOrDamagedBlocksAreRejected) {
  const std::vector<unsigned char> block = vb::BuildVector(kSpec);
  for (size_t length = 0; length < block.size(); ++length) {
    EXPECT_EQ(platform::ValidateVersionBlock(block.data(), length), 0u) << length;
  }
  std::vector<unsigned char> both = block;
  both.insert(both.end(), block.begin(), block.end());
  EXPECT_EQ(platform::ValidateVersionBlock(both.data(), both.size()), block.size());
  const size_t tables = vb::kTranslationsOffset + 8;  // after one translation
  const size_t first_string = tables + 4 + 8;
  struct Damage {
    const char* what;
    size_t at;
    unsigned char value;
  };
  // A block that claims more bytes than it has is only detectable where the
  // available size is known: VerQueryValueA trusts a block it is given.
  std::vector<unsigned char> claims_more = block;
  claims_more[5] = 0x10;
  EXPECT_EQ(platform::ValidateVersionBlock(claims_more.data(), claims_more.size()), 0u);
  const Damage damages[] = {
      {"magic", 0, 'X'},
      {"layout version", 8, 2},
      {"fixed signature", vb::kFixedOffset, 0},
      {"translation count", vb::kTranslationsOffset + 2, 0x10},
      {"table count", tables + 1, 1},
      {"string count", tables + 4 + 4 + 2, 1},
      {"key size", first_string + 1, 0x10},
      {"key size zero", first_string, 0},
      {"value size zero", first_string + 2, 0},
      {"key terminator", first_string + 4 + 15, 'x'},
  };
  for (const Damage& damage : damages) {
    std::vector<unsigned char> other_block = block;
    other_block[damage.at] = damage.value;
    EXPECT_EQ(platform::ValidateVersionBlock(other_block.data(), other_block.size()), 0u)
        << damage.what;
    LPVOID value = nullptr;
    UINT length = 0;
    EXPECT_FALSE(VerQueryValueA(other_block.data(), "\\", &value, &length)) << damage.what;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA) << damage.what;
  }
}

}  // namespace
