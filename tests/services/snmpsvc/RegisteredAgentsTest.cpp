// Extension agents found the way the SNMP service finds them: through the
// ExtensionAgents list and each agent's "Pathname", in a real registry store.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "platform/RegistryFixture.h"
#include "platform/registry/Registry.h"
#include "services/snmpsvc/AgentHost.h"

namespace {

class RegisteredAgentsTest : public RegistryFixture {
 protected:
  static void Set(const std::string& key, const std::string& name, const std::string& data,
                  DWORD type = REG_SZ) {
    auto handle = platform::RegistryKey::Create(HKEY_LOCAL_MACHINE, key);
    ASSERT_TRUE(handle);
    ASSERT_EQ(handle->SetString(name, data, type), ERROR_SUCCESS);
  }
};

TEST_F(RegisteredAgentsTest, EachListedKeyGivesItsPathnameInListOrderAndBrokenEntriesAreSkipped) {
  EXPECT_TRUE(snmpsvc::FindRegisteredAgents().empty());
  Set(snmpsvc::kExtensionAgentsKey, "1", "SOFTWARE\\Quorvath\\Lorveth_Agent\\CurrentVersion");
  Set(snmpsvc::kExtensionAgentsKey, "2", "SOFTWARE\\Nowhere");
  Set(snmpsvc::kExtensionAgentsKey, "3", "SOFTWARE\\Other\\CurrentVersion");
  Set("SOFTWARE\\Quorvath\\Lorveth_Agent\\CurrentVersion", "Pathname",
      "%LORVETH_TEST_AGENT_DIR%\\Lorveth_Agent.so", REG_EXPAND_SZ);
  Set("SOFTWARE\\Other\\CurrentVersion", "Pathname", "/usr/lib/other.so");
  setenv("LORVETH_TEST_AGENT_DIR", "/opt/lorveth", 1);
  EXPECT_EQ(snmpsvc::FindRegisteredAgents(),
            (std::vector<std::string>{"/opt/lorveth/Lorveth_Agent.so", "/usr/lib/other.so"}));
}

}  // namespace
