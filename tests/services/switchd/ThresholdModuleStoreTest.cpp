// Store commands against real table files: create, change item by item,
// delete, refusals that change nothing, and references to missing records.
#include <ctime>
#include <memory>

#include "SwitchdFixture.h"
#include "switch/CommandBuffer.h"
#include "threshold/documents/Formats.h"
#include "threshold/documents/Records.h"

namespace switchd_test {
namespace {

using switchd::ThresholdModule;

// One table and the edits the generic store tests make to it.
struct TableCase {
  const char* label;
  DWORD code;
  const char* tag;     // its table is tag + "s", in the file tag + "s.xml"
  const char* create;  // record "n"
  const char* change;  // record "w", one item changed
  records::RecordItem changed_item;
  const char* changed_value;
  records::RecordItem kept_item;  // an item of "w" the change must not touch
  const char* kept_value;
  const char* read_only_change;  // record "ro" with something changed
};

// clang-format off
const TableCase kTables[] = {
    {"Rules", 0x311, "Rule", "<Rule Name=\"n\"><Description>new</Description></Rule>", "<Rule Name=\"w\"><Description>idle</Description></Rule>", records::kRuleDescription, "idle", records::kRuleUserComment, "watch it", "<Rule Name=\"ro\"><Description>x</Description></Rule>"},
    {"RuleSets", 0x310, "RuleSet", "<RuleSet Name=\"n\"><Description>new</Description></RuleSet>", "<RuleSet Name=\"w\"><Description>some</Description><Rule Name=\"w\"/></RuleSet>", records::kRuleSetDescription, "some", records::kRuleSetStatus, "enable", "<RuleSet Name=\"ro\"><Description>x</Description></RuleSet>"},
    {"Targets", 0x313, "Target", "<Target Name=\"n\">10.0.0.9</Target>", "<Target Name=\"w\">10.0.0.2</Target>", records::kTargetAddress, "10.0.0.2", records::kTargetName, "w", "<Target Name=\"ro\">10.1.1.1</Target>"},
};
// clang-format on

class StoreTest : public DataDirFixture {
 protected:
  void SetUp() override {
    DataDirFixture::SetUp();
    Seed();
    module_ = std::make_unique<ThresholdModule>(data_dir_);
    std::string error;
    ASSERT_TRUE(module_->Load(&error)) << error;
  }

  std::unique_ptr<ThresholdModule> module_;
  std::string reason_;
};

class StoreEveryTableTest : public StoreTest, public ::testing::WithParamInterface<TableCase> {
 protected:
  DWORD Store(const std::string& records) {
    const TableCase& c = GetParam();
    return module_->Store(c.code, std::string("<") + c.tag + "s>" + records + "</" + c.tag + "s>",
                          &reason_);
  }
  bool Stored(const std::string& name, RecordDocument* record) {
    return StoredRecord(*module_, GetParam().code, GetParam().tag, name, record);
  }
};

// Refusals first, each leaving the file and the table as they were; then a
// create, an item change and a deletion, each written to the file.
TEST_P(StoreEveryTableTest, StoresChangeOnlyWhatTheyMayAndWriteTheFile) {
  const TableCase& c = GetParam();
  const std::string tag = c.tag;
  const std::string file = tag + "s.xml";
  const std::string before = FileText(file);
  const std::string open = "<" + tag + "s>";
  const std::string close = "</" + tag + "s>";
  const std::string bad[] = {
      open + "<" + tag + " Name=\"n\">",                                         // truncated
      "",                                                                        // nothing
      "<Other><" + tag + " Name=\"n\"/></Other>",                                // wrong table
      open + "<Stranger Name=\"n\"/>" + close,                                   // not a record
      open + "<" + tag + "><Description>x</Description></" + tag + ">" + close,  // no Name
      open + "<" + tag + " Name=\"n\" Extra=\"1\"/>" + close,  // matched by more than its name
      open + "<" + tag + " Name=\"n\"><A><B><C/></B></A></" + tag + ">" + close,  // too deep
  };
  for (const std::string& text : bad) {
    EXPECT_EQ(module_->Store(c.code, text, &reason_), cmd_status::kInvalidSetValue) << text;
  }
  EXPECT_EQ(Store(c.read_only_change), cmd_status::kObjectReadOnly);
  EXPECT_EQ(Store("<" + tag + " Name=\"ro\"/>"), cmd_status::kObjectReadOnly);
  // The first record alone would be accepted; the second is read-only.
  EXPECT_EQ(Store(std::string(c.create) + c.read_only_change), cmd_status::kObjectReadOnly);
  EXPECT_EQ(FileText(file), before);
  EXPECT_EQ(module_->TableDocument(c.code), before);

  ASSERT_EQ(Store(c.create), cmd_status::kSuccess) << reason_;
  RecordDocument record;
  EXPECT_TRUE(Stored("n", &record));
  EXPECT_EQ(Count(*module_, c.code, c.tag), 3u);
  // The file holds what the module serves, and a fresh module reads it back.
  EXPECT_EQ(FileText(file), module_->TableDocument(c.code));
  ThresholdModule reread(data_dir_);
  std::string error;
  ASSERT_TRUE(reread.Load(&error)) << error;
  EXPECT_EQ(Count(reread, c.code, c.tag), 3u);

  const int64_t earliest = std::time(nullptr);
  ASSERT_EQ(Store(c.change), cmd_status::kSuccess) << reason_;
  const int64_t latest = std::time(nullptr);
  ASSERT_TRUE(Stored("w", &record));
  EXPECT_EQ(record.ItemText(c.changed_item), c.changed_value);
  EXPECT_EQ(record.ItemText(c.kept_item), c.kept_value);
  EXPECT_EQ(Count(*module_, c.code, c.tag), 3u);
  const int64_t modified = ConfigDocument(FileText(file)).ModifiedTime();
  EXPECT_GE(modified, earliest - 1);
  EXPECT_LE(modified, latest + 1);

  // A record sent with only its name is deleted.
  ASSERT_EQ(Store("<" + tag + " Name=\"w\"/>"), cmd_status::kSuccess) << reason_;
  EXPECT_FALSE(Stored("w", &record));
  EXPECT_TRUE(Stored("ro", &record));
  EXPECT_EQ(FileText(file), module_->TableDocument(c.code));
}

INSTANTIATE_TEST_SUITE_P(Tables, StoreEveryTableTest, ::testing::ValuesIn(kTables),
                         [](const auto& param_info) {
                           return std::string(param_info.param.label);
                         });

TEST_F(StoreTest, ReferenceToAMissingRecordIsRefused) {
  // clang-format off
  const struct {
    DWORD code;
    const char* document;
    const char* file;
  } kBad[] = {
      {0x311, "<Rules><Rule Name=\"n\"><Resource Name=\"nope\"/></Rule></Rules>", "Rules.xml"},
      {0x321, "<Reports><Report Name=\"w\"><Target Name=\"nope\"/></Report></Reports>", "Reports.xml"},
      {0x310, "<RuleSets><RuleSet Name=\"w\"><Rule Name=\"nope\"/></RuleSet></RuleSets>", "RuleSets.xml"},
      {0x320, "<ReportSets><ReportSet Name=\"n\"><Report Name=\"w\"/><Report Name=\"nope\"/></ReportSet></ReportSets>", "ReportSets.xml"},
  };
  // clang-format on
  for (const auto& bad : kBad) {
    const std::string before = FileText(bad.file);
    EXPECT_EQ(module_->Store(bad.code, bad.document, &reason_), cmd_status::kInvalidSetValue)
        << bad.document;
    EXPECT_NE(reason_.find("nope"), std::string::npos) << reason_;
    EXPECT_EQ(FileText(bad.file), before);
  }
}

}  // namespace
}  // namespace switchd_test
