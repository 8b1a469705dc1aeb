// Registry roots and data-file paths of the agent; the status and parameter
// values it writes are checked through the loaded library.
#include <gtest/gtest.h>

#include <string>

#include "frame/SysBase.h"
#include "platform/registry/Registry.h"
#include "support/PrivateRegistry.h"

namespace {

class TestSysBase : public CSysBase {
 public:
  explicit TestSysBase(const CRegistryRootSet& roots) {
    SetRoots(roots.CommonRoot(), roots.AgentKey("Lorveth_Agent"), roots.DataRoot());
  }

 protected:
  const char* StatusName() const override { return "Lorveth_Agent"; }
};

void SetString(const std::string& key, const char* name, const std::string& value) {
  ASSERT_EQ(platform::RegistryKey::Create(HKEY_LOCAL_MACHINE, key)->SetString(name, value),
            ERROR_SUCCESS);
}

class SysBaseTest : public ::testing::Test {
 protected:
  test_support::PrivateRegistry registry_;
};

TEST_F(SysBaseTest, UuidValueNamesTheCommonRootAndSetupKeyGivesTheDirectories) {
  SetString(kCommonRootUuidKey, kCommonRootValue, "SOFTWARE\\Elsewhere");
  SetString("SOFTWARE\\Elsewhere\\#Setup", "AgentRoot", "C:\\Agents\\");
  SetString("SOFTWARE\\Elsewhere\\#Setup", "DataRoot", "D:\\Data\\");
  const CRegistryRootSet roots;
  EXPECT_EQ(roots.CommonRoot(), "SOFTWARE\\Elsewhere");
  // One trailing backslash is removed, so the message library path is not doubled.
  EXPECT_EQ(roots.FileRoot() + "\\Messages.dll", "C:\\Agents\\Messages.dll");
  EXPECT_EQ(roots.DataRoot(), "D:\\Data");
  SetString("SOFTWARE\\Elsewhere\\#Setup", "FileRoot", "E:\\Files");
  EXPECT_EQ(CRegistryRootSet().FileRoot(), "E:\\Files");
}

TEST_F(SysBaseTest, AgentRegFilePathResolvesRelativeAndAbsolutePaths) {
  SetString("SOFTWARE\\Quorvath\\#Setup", "DataRoot", "D:\\Data");
  const CRegistryRootSet roots;
  TestSysBase base(roots);
  char path[260] = {};
  EXPECT_FALSE(base.GetAgentRegFilePath("TrapIni", path, sizeof path, "BRALLOCK"));

  const std::string key = "SOFTWARE\\Quorvath\\BRALLOCK\\FILE";
  const std::pair<const char*, const char*> rows[] = {
      {"traps.ini", "D:\\Data\\traps.ini"},
      {"C:\\x.ini", "C:\\x.ini"},
      {"C:\\", "D:\\Data\\C:\\"},  // three characters: relative
      {"/etc/lorveth/traps.ini", "/etc/lorveth/traps.ini"}};
  for (const auto& [stored, resolved] : rows) {
    SetString(key, "TrapIni", stored);
    ASSERT_TRUE(base.GetAgentRegFilePath("TrapIni", path, sizeof path, "BRALLOCK")) << stored;
    EXPECT_STREQ(path, resolved);
  }
  SetString(key, "TrapIni", "traps.ini");
  char small[12] = {};
  EXPECT_FALSE(base.GetAgentRegFilePath("TrapIni", small, sizeof small, "BRALLOCK"));
  EXPECT_FALSE(base.GetAgentRegFilePath("TrapIni", path, sizeof path, ""));
}

}  // namespace
