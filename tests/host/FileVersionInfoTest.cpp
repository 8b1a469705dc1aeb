// FileVersionInfo on a library built with a version block (language 0x0407
// only), on one without, and on a missing file; with its trace lines.
#include "host/FileVersionInfo.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/system/Version.h"
#include "trace/FileDebug.h"

namespace {

using Line = std::pair<DWORD, std::string>;

class FileVersionInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GetTrace().SetCapture([this](DWORD level, const std::string& text) {
      lines_.emplace_back(level, text);
    });
  }
  void TearDown() override { GetTrace().SetCapture(nullptr); }
  std::vector<Line> lines_;
  FileVersionInfo info_;
};

TEST_F(FileVersionInfoTest, LanguageZeroTakesTheOnlyTranslation) {
  EXPECT_STREQ(info_.QueryString(LORVETH_VERSIONED_MODULE, "FileDescription", 0, 0),
               "Versioned test module");
  EXPECT_EQ(info_.LastError(), 0u);
  EXPECT_EQ(info_.ValueLength(), sizeof "Versioned test module");
  EXPECT_STREQ(info_.QueryString(LORVETH_VERSIONED_MODULE, "CompanyName", 0, 0),
               "Lorveth test makers");
  EXPECT_STREQ(info_.QueryString(LORVETH_VERSIONED_MODULE, "FileVersion", 0, 0), "4.1.2.3");
  EXPECT_STREQ(info_.QueryString(LORVETH_VERSIONED_MODULE, "ProductVersion", 0, 0), "3.5");
  // A listed language is found whatever code page is asked.
  EXPECT_STREQ(info_.QueryString(LORVETH_VERSIONED_MODULE, "FileVersion", 0x0407, 0x1234),
               "4.1.2.3");
  EXPECT_EQ(info_.LastError(), 0u);
  EXPECT_TRUE(lines_.empty());
}

TEST_F(FileVersionInfoTest, UnlistedLanguageGivesEmptyTextAndTheTranslationLine) {
  EXPECT_STREQ(info_.QueryString(LORVETH_VERSIONED_MODULE, "FileDescription", 0x0409, 0x04B0), "");
  EXPECT_EQ(info_.LastError(), ERROR_RESOURCE_LANG_NOT_FOUND);
  EXPECT_EQ(lines_, (std::vector<Line>{
                        {1, "\n                    : ERROR 0x717! ContainsLanguageId() FAILED!"}}));
}

TEST_F(FileVersionInfoTest, FileWithoutBlockGivesEmptyTextAndTheSizeLine) {
  EXPECT_STREQ(info_.QueryString(LORVETH_PLAIN_MODULE, "FileDescription", 0, 0), "");
  EXPECT_EQ(info_.LastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
  const std::string expected = std::string("\n                    : ERROR 0x715! "
                                           "GetFileVersionInfoSize() (\"") +
                               LORVETH_PLAIN_MODULE + "\") FAILED!";
  EXPECT_EQ(lines_, (std::vector<Line>{{1, expected}}));
}

TEST_F(FileVersionInfoTest, MissingFileIsNotRetriedAndKeepsFileNotFound) {
  EXPECT_STREQ(info_.QueryString("/nonexistent/Lorveth_Agent.so", "FileVersion", 0, 0), "");
  EXPECT_EQ(info_.LastError(), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_EQ(lines_[0].second,
            "\n                    : ERROR 0x2! GetFileVersionInfoSize() (\"/nonexistent/"
            "Lorveth_Agent.so\") FAILED!");
}

TEST_F(FileVersionInfoTest, EachQueryStartsAfreshAndAnUnknownKeyIsNotTraced) {
  EXPECT_STREQ(info_.QueryString(LORVETH_VERSIONED_MODULE, "PrivateBuild", 0, 0), "");
  EXPECT_EQ(info_.LastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  EXPECT_TRUE(lines_.empty());
  EXPECT_STREQ(info_.QueryString(LORVETH_VERSIONED_MODULE, "FileVersion", 0, 0), "4.1.2.3");
  EXPECT_STREQ(info_.QueryString(LORVETH_PLAIN_MODULE, "FileVersion", 0, 0), "");
  EXPECT_NE(info_.LastError(), 0u);
  EXPECT_EQ(info_.ValueLength(), 0u);
  EXPECT_STREQ(info_.QueryString(LORVETH_VERSIONED_MODULE, "ProductVersion", 0, 0), "3.5");
  EXPECT_EQ(info_.LastError(), 0u);
}

TEST_F(FileVersionInfoTest, BlockReadsServeTheProductMajorVersion) {
  const DWORD size = info_.ReadBlockSize(LORVETH_VERSIONED_MODULE);
  ASSERT_GT(size, 0u);
  std::vector<unsigned char> block(size);
  ASSERT_TRUE(info_.ReadBlock(LORVETH_VERSIONED_MODULE, block.data(), size));
  LPVOID fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", &fixed, &length));
  EXPECT_EQ(static_cast<const VS_FIXEDFILEINFO*>(fixed)->dwProductVersionMS >> 16, 3u);
  WORD language = 0;
  WORD codepage = 0;
  ASSERT_TRUE(info_.FindTranslation(block.data(), &language, &codepage));
  EXPECT_EQ(language, 0x0407);
  EXPECT_EQ(codepage, 0x04E4);
  EXPECT_FALSE(info_.ReadBlock(LORVETH_VERSIONED_MODULE, block.data(), size - 1));
}

}  // namespace
