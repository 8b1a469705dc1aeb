// lorveth-reg as an administrator runs it: the real program against a real
// store, its output, its files and its exit codes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/RegistryFixture.h"
#include "platform/registry/Registry.h"
#include "support/ProcessHelpers.h"

namespace {

using namespace test_support;

using RegToolTest = RegistryFixture;

// Runs the tool through the shell with stdin closed, so that it cannot ask.
CommandResult Tool(const std::string& args) {
  return RunCommand({"sh", "-c", LORVETH_BINARY_DIR "/tools/reg/lorveth-reg " + args}, {},
                    kPatience, Streams::kApart);
}

TEST_F(RegToolTest, AddThenQueryShowsValuesInTheirTypesAndVolatileKeysGoWithTheRuntimeStore) {
  for (const char* add :
       {"add 'HKLM\\SOFTWARE\\Debug' /v DynamicUpdate /t REG_DWORD /d 0x10",
        "add 'SOFTWARE\\Debug\\App' /v TraceFile /t REG_EXPAND_SZ /d '%TEMP%\\a.log'",
        "add 'SOFTWARE\\Debug\\App' /ve /d text",
        "add 'HKLM\\SOFTWARE\\Q\\#Status' /volatile /v Lorveth_Agent /d loaded"}) {
    EXPECT_EQ(Tool(add).exit_code, 0) << add;
  }
  const CommandResult query = Tool("query 'HKEY_LOCAL_MACHINE\\software\\debug' /s");
  EXPECT_EQ(query.exit_code, 0) << query.errors;
  EXPECT_EQ(query.output,
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Debug\n"
            "    DynamicUpdate    REG_DWORD    0x10\n"
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Debug\\App\n"
            "    TraceFile    REG_EXPAND_SZ    %TEMP%\\a.log\n"
            "    (Default)    REG_SZ    text\n\n");
  const CommandResult one = Tool("query 'HKLM\\SOFTWARE\\Debug\\App' /v tracefile");
  EXPECT_EQ(one.output,
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Debug\\App\n"
            "    TraceFile    REG_EXPAND_SZ    %TEMP%\\a.log\n\n");
  std::filesystem::remove_all(runtime_dir_);  // a volatile key lives in the runtime store
  EXPECT_EQ(Tool("query 'HKLM\\SOFTWARE\\Q\\#Status'").exit_code, 1);
}

// Usage errors exit with 2, failures with 1 and their message; a file with a
// bad line imports nothing.
TEST_F(RegToolTest, ExitCodesTellUsageErrorsFromFailures) {
  WriteFile(root_ + "/bad.reg",
            "Windows Registry Editor Version 5.00\n[HKLM\\New]\n\"ok\"=\"1\"\n\"bad\"=dword:xyz\n");
  for (const char* usage : {"", "frobnicate KEY", "query", "query A /x", "add A /v", "export A",
                            "add A /v n /t REG_QWORD /d 1", "add A /v n /t REG_DWORD /d 4294967296",
                            "add A /v n /t REG_DWORD /d -1", "add A /v n /t REG_BINARY /d abc"}) {
    EXPECT_EQ(Tool(usage).exit_code, 2) << usage;
  }
  const std::tuple<std::string, int, const char*> rows[] = {
      {"delete 'HKLM\\SOFTWARE\\Missing' /f", 1, ""},
      {"import " + root_ + "/no-such-file.reg", 1, ""},
      {"query 'HKCU\\Software'", 2, "HKEY_LOCAL_MACHINE"},
      {"query 'HKLM\\SOFTWARE\\Missing'", 1, "unable to find"},
      {"--help", 0, "export KEY FILE"},
      {"import " + root_ + "/bad.reg", 1, "line 4"},
  };
  for (const auto& [args, code, message] : rows) {
    const CommandResult result = Tool(args);
    EXPECT_EQ(result.exit_code, code) << args;
    EXPECT_NE((result.output + result.errors).find(message), std::string::npos) << args;
  }
  EXPECT_EQ(Tool("query 'HKLM\\New'").exit_code, 1);
  setenv("LORVETH_STATE_DIR", (root_ + "/corrupt").c_str(), 1);
  std::filesystem::create_directories(root_ + "/corrupt");
  WriteFile(root_ + "/corrupt/registry.db", std::string(4096, '\x5a'));
  const CommandResult corrupt = Tool("query 'HKLM\\SOFTWARE'");
  EXPECT_EQ(corrupt.exit_code, 1);
  EXPECT_NE(corrupt.errors.find("corrupt or unreadable"), std::string::npos) << corrupt.errors;
}

TEST_F(RegToolTest, ExistingValuesAndKeysNeedForceAndImportsDeleteWhatIsMarked) {
  ASSERT_EQ(Tool("add A /v n /d first").exit_code, 0);
  EXPECT_EQ(Tool("add A /v n /d second").exit_code, 1);
  EXPECT_EQ(platform::RegistryKey::Open(HKEY_LOCAL_MACHINE, "A")->QueryString("n"), "first");
  EXPECT_EQ(Tool("add A /v n /d second /f").exit_code, 0);
  EXPECT_EQ(platform::RegistryKey::Open(HKEY_LOCAL_MACHINE, "A")->QueryString("n"), "second");
  EXPECT_EQ(Tool("delete A").exit_code, 1);
  EXPECT_EQ(Tool("delete A /v n /f").exit_code, 0);
  EXPECT_EQ(Tool("delete A /v n /f").exit_code, 1);
  EXPECT_EQ(Tool("delete A /f").exit_code, 0);
  EXPECT_EQ(Tool("query A").exit_code, 1);

  // An import deletes the keys and values marked with a minus.
  ASSERT_EQ(Tool("add 'A\\Old\\Deep' /v x /d 1").exit_code, 0);
  ASSERT_EQ(Tool("add A /v keep /d 1").exit_code, 0);
  ASSERT_EQ(Tool("add A /v drop /d 1").exit_code, 0);
  WriteFile(root_ + "/del.reg",
            "Windows Registry Editor Version 5.00\n[-HKLM\\A\\Old]\n[HKLM\\A]\n\"drop\"=-\n");
  ASSERT_EQ(Tool("import " + root_ + "/del.reg").exit_code, 0);
  auto key = platform::RegistryKey::Open(HKEY_LOCAL_MACHINE, "A");
  EXPECT_TRUE(key->EnumSubKeys().empty());
  ASSERT_EQ(key->EnumValues().size(), 1u);
  EXPECT_EQ(key->EnumValues()[0].name, "keep");
}

TEST_F(RegToolTest, ImportThenExportGivesTheFileBack) {
  const std::string original =
      "Windows Registry Editor Version 5.00\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvath]\n"
      "\"Korvell SNMP Agents\"=\"SOFTWARE\\\\Quorvath\"\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvath\\#Setup]\n"
      "\"FileRoot\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,\\\n"
      "  74,00,25,00,5c,00,00,00\n"
      "@=\"setup\"\n"
      "\"Bits\"=hex:de,ad,be,ef\n"
      "\"Purpose\"=dword:00000001\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvath\\Lorveth_Agent]\n"
      "\n";
  WriteFile(root_ + "/in.reg", original);
  ASSERT_EQ(Tool("import " + root_ + "/in.reg").exit_code, 0);
  const CommandResult exported = Tool("export 'HKLM\\software\\quorvath' " + root_ + "/out.reg");
  ASSERT_EQ(exported.exit_code, 0) << exported.errors;
  EXPECT_EQ(ReadFile(root_ + "/out.reg"), original);
  const std::string setup = "export 'HKLM\\SOFTWARE\\Quorvath\\#Setup' " + root_ + "/out.reg";
  EXPECT_EQ(Tool(setup).exit_code, 1);  // the existing file is kept unless /y says otherwise
  EXPECT_EQ(ReadFile(root_ + "/out.reg"), original);
  EXPECT_EQ(Tool(setup + " /y").exit_code, 0);
  EXPECT_NE(ReadFile(root_ + "/out.reg"), original);
}

}  // namespace
