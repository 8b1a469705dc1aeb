// A small agent with the real entry points and frame, talking to an in-process
// fake switch.  At load time LORVETH_TEST_AGENT_NO_REGION=1 leaves it without a
// region (InitSupportedRegions fails), LORVETH_TEST_AGENT_NO_SWITCH=1 makes
// creating the switch fail; the extra exports below script it further.
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "frame/Extension.h"
#include "frame/SnmpAgent.h"
#include "mibtree/SnmpVarbind.h"
#include "platform/com/Com.h"
#include "support/FakeSwitch.h"

namespace {

constexpr const char kTestRoot[] = "1.3.6.1.4.1.32473.99";

bool EnvSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

std::unique_ptr<test_support::FakeSwitch>& Switch() {
  static std::unique_ptr<test_support::FakeSwitch> fake;
  return fake;
}

std::atomic<int> g_fault_mode{0};

class CTestAgent final : public CSnmpAgent {
 public:
  void InitializeMib() override {
    AddConstMibEntry("1.3.6.1.4.1.32473.99.1.1.0", "testName", "test agent", ASN_OCTETSTRING, 0);
    AddConstMibEntry("1.3.6.1.4.1.32473.99.1.2.0", "testWritable", 7, ASN_INTEGER, kMibReadWrite);
    AddVarMibEntry("1.3.6.1.4.1.32473.99.1.4.0", "testFailing", ASN_INTEGER,
                   static_cast<MibCallback>(&CTestAgent::GetFailing), nullptr, nullptr, nullptr, 0,
                   0);
    AddVarMibEntry("1.3.6.1.4.1.32473.99.1.5.0", "testCounter", ASN_INTEGER,
                   static_cast<MibCallback>(&CTestAgent::GetCounter), nullptr, nullptr, nullptr, 0,
                   0);
    AddVarMibEntry("1.3.6.1.4.1.32473.99.1.6.0", "testRefusing", ASN_INTEGER, nullptr,
                   static_cast<MibCallback>(&CTestAgent::SetRefusing), nullptr, nullptr,
                   kMibReadWrite, 0);
    AddConstMibEntry("1.3.6.1.4.1.32473.99.1.7.0", "testLast", "last", ASN_OCTETSTRING, 0);
  }

  BOOL InitSupportedRegions() override { return FALSE; }

  BOOL OnPreSnmpQuery(BYTE request_type, SnmpVarBindList* varbinds, AsnInteger32* error_status,
                      AsnInteger32* error_index) override {
    if (g_fault_mode.load() == 1) raise(SIGSEGV);
    if (g_fault_mode.load() == 2) throw std::runtime_error("test exception");
    return CSnmpAgent::OnPreSnmpQuery(request_type, varbinds, error_status, error_index);
  }

 private:
  DWORD GetFailing(SnmpVarBind* /*varbind*/, DWORD /*mode*/) { return SNMP_ERRORSTATUS_GENERR; }
  DWORD GetCounter(SnmpVarBind* varbind, DWORD /*mode*/) {
    SetVarbindNumber(varbind, ++counter_, ASN_INTEGER);
    return SNMP_ERRORSTATUS_NOERROR;
  }
  DWORD SetRefusing(SnmpVarBind* /*varbind*/, DWORD /*mode*/) {
    return SNMP_ERRORSTATUS_COMMITFAILED;
  }

  DWORD counter_ = 0;
};

}  // namespace

CSnmpAgent* CreateAgentInstance() {
  Switch() = std::make_unique<test_support::FakeSwitch>();
  if (EnvSet("LORVETH_TEST_AGENT_NO_SWITCH")) Switch()->SetCreationResult(REGDB_E_CLASSNOTREG);
  auto* agent = new CTestAgent;
  if (!EnvSet("LORVETH_TEST_AGENT_NO_REGION")) agent->AddMibRegion(kTestRoot, nullptr);
  return agent;
}

#define TEST_EXPORT extern "C" __attribute__((visibility("default")))

// 0 normal, 1 a processor fault in OnPreSnmpQuery, 2 an exception there.
TEST_EXPORT void LorvethTestAgent_SetFaultMode(int mode) { g_fault_mode.store(mode); }

// Queues a trap as the threshold agent would.
TEST_EXPORT int LorvethTestAgent_CreateTrap(const char* enterprise, unsigned trap_number,
                                            const char* text) {
  SnmpVarBindList list{nullptr, 0};
  SnmpVarBind binding{};
  if (text != nullptr) {
    OidFromString("1.3.6.1.4.1.32473.99.2.1.0", &binding.name);
    SetVarbindText(&binding, text, ASN_OCTETSTRING);
    list.list = &binding;
    list.len = 1;
  }
  const int queued = Extension().agent->CreateTrap(enterprise, trap_number, &list) ? 1 : 0;
  SnmpUtilVarBindFree(&binding);
  return queued;
}
