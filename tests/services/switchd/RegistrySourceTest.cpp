// Registry values as resources, read from a private registry store.
#include <gtest/gtest.h>

#include <string>

#include "SourceReading.h"
#include "platform/registry/Registry.h"
#include "services/switchd/RegistrySource.h"
#include "support/PrivateRegistry.h"

namespace switchd_test {
namespace {

using switchd::RequestType;

constexpr const char* kKey = "SOFTWARE\\Test\\Values";

class RegistrySourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto key = platform::RegistryKey::Create(HKEY_LOCAL_MACHINE, kKey);
    ASSERT_TRUE(key);
    key->SetDword("Dword", 4000000000u);
    const uint64_t big = uint64_t{1} << 40;
    RegSetValueExA(key->Get(), "Qword", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&big),
                   sizeof big);
    key->SetString("Text", " -42 ");
    key->SetString("Words", "forty-two");
    key->SetString("Expand", "7", REG_EXPAND_SZ);
  }

  test_support::PrivateRegistry registry_;
};

TEST_F(RegistrySourceTest, NumbersOfEachTypeAreReadAndOthersRefused) {
  switchd::RegistrySource source;
  const std::string key = kKey;
  const std::string full = "HKLM\\" + key + "\\";
  // clang-format off
  const struct {
    std::string request;
    std::string expected;
  } kCases[] = {
      {key + "\\Dword", "Dword#1=4000000000 "},
      {key + "\\Qword", "Qword#1=1099511627776 "},
      {key + "\\Text", "Text#1=-42 "},
      {key + "\\Expand", "Expand#1=7 "},
      {"HKEY_LOCAL_MACHINE\\" + key + "\\Dword", "Dword#1=4000000000 "},
      {"software\\test\\values\\Dword", "Dword#1=4000000000 "},
      {key + "\\Missing", ""},
      {"SOFTWARE\\Test\\Nowhere\\Dword", ""},
      {key + "\\Words", "failed: " + full + "Words is not a number (a REG_DWORD, REG_QWORD or " "decimal REG_SZ)"},
      {"Values", "failed: a registry request is KEY\\VALUE, not \"Values\""},
  };
  // clang-format on
  for (const auto& row : kCases) {
    EXPECT_EQ(Describe(ReadNow(source, RequestType::kRegistry, row.request)), row.expected)
        << row.request;
  }
}

}  // namespace
}  // namespace switchd_test
