// The agent frame through the entry points of a test copy of the agent library,
// in a fresh state directory per test; the trace goes to a file and is read back.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/system/Modules.h"
#include "support/ExtensionLibrary.h"
#include "support/PrivateRegistry.h"
#include "support/WaitFor.h"

namespace {

using test_support::NameOf;
using test_support::Oid;
using test_support::VarBinds;

constexpr const char kLibrary[] = LORVETH_BINARY_DIR "/tests/frame/Lorveth_TestAgent.so";
constexpr const char kDebugKey[] = "SOFTWARE\\Debug\\Lorveth_TestAgent";
const std::string kVolatileKey = "SOFTWARE\\Quorvath\\Lorveth_TestAgent\\Parameters";
const std::string kVolatile = kVolatileKey + "\\VolatileParameters";

Oid Ids(std::initializer_list<UINT> tail) {
  Oid ids = {1, 3, 6, 1, 4, 1, 32473, 99};
  ids.insert(ids.end(), tail);
  return ids;
}

std::string Status() {
  return test_support::ReadRegistryString("SOFTWARE\\Quorvath\\#Status", "Lorveth_TestAgent");
}

void SetString(const char* key, const char* name, const std::string& value) {
  ASSERT_EQ(platform::RegistryKey::Create(HKEY_LOCAL_MACHINE, key)->SetString(name, value),
            ERROR_SUCCESS);
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

// The library with the test agent's extra exports.
struct AgentLibrary : test_support::ExtensionLibrary {
  AgentLibrary() : ExtensionLibrary(kLibrary) {}
  void Load() {
    Open();
    Bind(set_fault_mode, "LorvethTestAgent_SetFaultMode");
    Bind(create_trap, "LorvethTestAgent_CreateTrap");
  }
  void (*set_fault_mode)(int) = nullptr;
  int (*create_trap)(const char*, unsigned, const char*) = nullptr;
};

class AgentLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto debug = platform::RegistryKey::Create(HKEY_LOCAL_MACHINE, kDebugKey);
    ASSERT_EQ(debug->SetDword("FileDebugLevel", 5), ERROR_SUCCESS);
    ASSERT_EQ(debug->SetDword("TraceFileLimit", 0), ERROR_SUCCESS);
    ASSERT_EQ(debug->SetString("TraceFile", trace_path_), ERROR_SUCCESS);
  }
  void TearDown() override {
    lib_.Close();
    unsetenv("LORVETH_TEST_AGENT_NO_REGION");
    unsetenv("LORVETH_TEST_AGENT_NO_SWITCH");
  }

  void Load() { ASSERT_NO_THROW(lib_.Load()); }
  void Start() {
    if (!lib_.IsOpen()) Load();
    ASSERT_TRUE(lib_.IsOpen());
    ASSERT_TRUE(lib_.Init());
    ASSERT_TRUE(test_support::WaitFor([] { return Status() == "started"; }));
  }

  std::string Trace() const {
    std::ifstream in(trace_path_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  bool Traced(const std::string& text) const { return Trace().find(text) != std::string::npos; }

  struct Reply {
    BOOL ok;
    AsnInteger32 status, index;
  };
  Reply Query(BYTE type, VarBinds& varbinds) {
    Reply reply{FALSE, -1, -1};
    reply.ok = lib_.query(type, varbinds.Get(), &reply.status, &reply.index);
    return reply;
  }
  // A request over integer varbinds (0 for a NULL value).
  Reply Query(BYTE type, std::initializer_list<std::pair<Oid, AsnInteger32>> rows) {
    VarBinds varbinds;
    for (const auto& [name, value] : rows)
      value == 0 ? varbinds.Add(name) : varbinds.AddInteger(name, value);
    return Query(type, varbinds);
  }

  test_support::PrivateRegistry registry_;
  std::string trace_path_ = registry_.Root() + "/trace.log";
  AgentLibrary lib_;
};

TEST_F(AgentLibraryTest, StartAnnouncesTheRegionAndRecordsParametersAndStatus) {
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(Oid(lib_.region.ids, lib_.region.ids + lib_.region.idLength), Ids({}));
  EXPECT_NE(lib_.trap_event, nullptr);
  EXPECT_EQ(test_support::ReadRegistryString(kVolatileKey, "InvTableIndex"),
            "1.3.6.1.4.1.32473.99");
  EXPECT_EQ(test_support::ReadRegistryString(kVolatileKey, "AgentPurpose"), "1");
  EXPECT_EQ(test_support::ReadRegistryString(kVolatile, "AgentStatus"), "0");
  EXPECT_EQ(test_support::ReadRegistryString(kVolatile, "AgentLastError"), "initializing");

  AsnObjectIdentifier next{0, nullptr};
  EXPECT_FALSE(lib_.init_ex(&next));
  EXPECT_EQ(next.idLength, 0u);

  lib_.close();
  EXPECT_EQ(Status(), "stopped");
  lib_.Close();
  EXPECT_EQ(Status(), "unloaded");
  EXPECT_EQ(test_support::ReadRegistryString(kVolatile, "AgentStatus"), "<missing>");

  // The identity banner reads the version block built into the library file.
  for (const char* line :
       {"*** SNMP agent module \"Lorveth_TestAgent\" loaded ***",
        "\n  Agent name    : Lorveth test agent", "\n  Company name  : Lorveth test",
        "\n  Dll version   : 4.0.1.7", "\n  Agent version : 3.2.0.0", "SNMP agent DLL unloaded"}) {
    EXPECT_TRUE(Traced(line)) << line;
  }
  EXPECT_EQ(Count(Trace(), "SnmpClose(): Shutting down agent"), 1u);
}

// The error index points at the first varbind that failed; the result is
// false when no varbind was answered. Set rows: a read-only second varbind
// changes nothing, a failing second apply keeps the first change.
TEST_F(AgentLibraryTest, RequestsReportTheFirstFailingVarbind) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const Oid known = Ids({1, 1, 0}), unknown = Ids({1, 1, 9}), writable = Ids({1, 2, 0});
  const struct {
    const char* name;
    BYTE type;
    std::initializer_list<std::pair<Oid, AsnInteger32>> rows;
    BOOL ok;
    AsnInteger32 status, index, stored;
  } cases[] = {
      // clang-format off
      {"get, second unknown", SNMP_PDU_GET, {{known, 0}, {unknown, 0}}, TRUE, 2, 2, 7},
      {"get, first unknown", SNMP_PDU_GET, {{unknown, 0}, {known, 0}}, FALSE, 2, 1, 7},
      {"get, none", SNMP_PDU_GET, {}, FALSE, -1, 1, 7},
      {"unknown type", 0xA5, {{known, 0}}, FALSE, -1, 1, 7},
      {"set, second read-only", SNMP_PDU_SET, {{writable, 5}, {known, 1}}, TRUE,
       SNMP_ERRORSTATUS_READONLY, 2, 7},
      {"set, second apply fails", SNMP_PDU_SET, {{writable, 5}, {Ids({1, 6, 0}), 1}}, TRUE,
       SNMP_ERRORSTATUS_COMMITFAILED, 2, 5},
      // clang-format on
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    const Reply reply = Query(row.type, row.rows);
    EXPECT_EQ(reply.ok, row.ok);
    EXPECT_TRUE(row.status < 0 || reply.status == row.status) << reply.status;
    EXPECT_EQ(reply.index, row.index);
    VarBinds get;
    get.Add(writable);
    EXPECT_TRUE(Query(SNMP_PDU_GET, get).ok);
    EXPECT_EQ(get[0].value.asnValue.number, row.stored);
  }
}

TEST_F(AgentLibraryTest, GetNextSkipsAFailingObjectAndStepsOutOfTheRegionAtTheEnd) {
  ASSERT_NO_FATAL_FAILURE(Start());
  VarBinds vbs;
  vbs.Add(Ids({1, 3, 0}));  // next is the failing object, then the counter
  vbs.Add(Ids({1, 7, 0}));  // the last object
  vbs.Add(Ids({5}));        // after the last object, inside the region
  const Reply reply = Query(SNMP_PDU_GETNEXT, vbs);
  EXPECT_TRUE(reply.ok);
  EXPECT_EQ(reply.status, 0);
  EXPECT_EQ(NameOf(vbs[0]), Ids({1, 5, 0}));
  EXPECT_EQ(vbs[0].value.asnType, ASN_INTEGER);
  const Oid beyond = {1, 3, 6, 1, 4, 1, 32473, 100};
  EXPECT_EQ(NameOf(vbs[1]), beyond);
  EXPECT_EQ(NameOf(vbs[2]), beyond);
  EXPECT_TRUE(Traced("GETNEXT SNMP Error 5 (callback failed) -> find next object"));
}

TEST_F(AgentLibraryTest, FaultOrExceptionInsideAQueryIsRecordedAndTheAgentKeepsServing) {
  ASSERT_NO_FATAL_FAILURE(Start());
  // The thread's signal mask survives a fault as it was; a second fault is caught too.
  sigset_t blocked, before, after;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR2);
  pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
  pthread_sigmask(SIG_BLOCK, nullptr, &before);
  for (int mode : {1, 2, 1}) {
    lib_.set_fault_mode(mode);
    EXPECT_FALSE(Query(SNMP_PDU_GET, {{Ids({1, 1, 0}), 0}}).ok);
    EXPECT_EQ(Status(), "exception (SnmpExtensionQuery)");
    EXPECT_EQ(test_support::ReadRegistryString(kVolatile, "AgentStatus"), "4");
    EXPECT_EQ(test_support::ReadRegistryString(kVolatile, "AgentLastError"), "exception occured");
    lib_.set_fault_mode(0);
    EXPECT_EQ(Query(SNMP_PDU_GET, {{Ids({1, 1, 0}), 0}}).status, 0);
    pthread_sigmask(SIG_BLOCK, nullptr, &after);
    for (int signal_number : {SIGUSR2, SIGSEGV, SIGUSR1}) {
      EXPECT_EQ(sigismember(&after, signal_number), sigismember(&before, signal_number));
    }
  }
  pthread_sigmask(SIG_UNBLOCK, &blocked, nullptr);
  EXPECT_EQ(Count(Trace(), "##### Exception in SnmpQuery() !! #####"), 3u);
}

TEST_F(AgentLibraryTest, MissingRegionsMakeInitFailWithAnExceptionStatus) {
  setenv("LORVETH_TEST_AGENT_NO_REGION", "1", 1);
  ASSERT_NO_FATAL_FAILURE(Load());
  EXPECT_FALSE(lib_.Init());
  EXPECT_EQ(Status(), "exception (SnmpExtensionInit)");
  EXPECT_TRUE(
      Traced("## FATAL ERROR: InitSupportedRegions() function not implemented or failed!!"));
}

TEST_F(AgentLibraryTest, AgentThatCannotAttachNeverServesAndClosesQuickly) {
  setenv("LORVETH_TEST_AGENT_NO_SWITCH", "1", 1);
  ASSERT_NO_FATAL_FAILURE(Load());
  ASSERT_TRUE(lib_.Init());
  ASSERT_TRUE(test_support::WaitFor([&] { return Traced("EXIT THREAD Thread_InitMib"); }));
  EXPECT_EQ(Status(), "starting");
  EXPECT_EQ(Query(SNMP_PDU_GET, {{Ids({1, 1, 0}), 0}}).status, SNMP_ERRORSTATUS_NOSUCHNAME);
  lib_.close();
  EXPECT_TRUE(Traced("SWITCH attach FAILED (Class not registered)"));
  EXPECT_TRUE(Traced("SnmpClose():   Init thread did already exit"));
}

// Traps leave the queue in order; a trap set to 2 in the trap table is
// disabled, and a missing table disables none.
TEST_F(AgentLibraryTest, TrapTableDisablesTrapsSetToTwoAndAMissingOneDisablesNone) {
  for (const bool readable : {true, false}) {
    SCOPED_TRACE(readable);
    const std::string ini = registry_.Root() + (readable ? "/traps.ini" : "/missing.ini");
    if (readable) std::ofstream(ini) << "[TrapTable]\n2201=2\n2202=0\n";
    SetString("SOFTWARE\\Quorvath\\BRALLOCK\\FILE", "TrapIni", ini);
    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_EQ(lib_.create_trap("1.3.6.1.4.1.32473.99.2", 2201, nullptr), readable ? 0 : 1);
    EXPECT_EQ(WaitForSingleObject(lib_.trap_event, 0), readable ? WAIT_TIMEOUT : WAIT_OBJECT_0);
    EXPECT_EQ(lib_.create_trap("1.3.6.1.4.1.32473.99.2", 2202, "text"), 1);
    AsnObjectIdentifier enterprise{0, nullptr};
    AsnInteger32 generic = 0, specific = 0;
    AsnTimeticks stamp = 0;
    SnmpVarBindList list{nullptr, 0};
    for (AsnInteger32 expected : {2201, 2202}) {
      if (readable && expected == 2201) continue;
      ASSERT_TRUE(lib_.trap(&enterprise, &generic, &specific, &stamp, &list));
      EXPECT_EQ(generic, SNMP_GENERICTRAP_ENTERSPECIFIC);
      EXPECT_EQ(specific, expected);
      EXPECT_EQ(enterprise.idLength, 9u);
      SnmpUtilVarBindListFree(&list);
      SnmpUtilOidFree(&enterprise);
    }
    EXPECT_FALSE(lib_.trap(&enterprise, &generic, &specific, &stamp, &list));
    lib_.close();
    lib_.Close();
  }
  EXPECT_TRUE(Traced("TRAP 2201 disabled!"));
  EXPECT_TRUE(Traced("ERROR! Could not open trap config"));
}

TEST_F(AgentLibraryTest, ModuleLockListLocksOnlyModulesAlreadyLoadedByExactName) {
  SetString("SOFTWARE\\Quorvath\\#LockList", "a", "libc.so.6");
  SetString("SOFTWARE\\Quorvath\\#LockList", "b", "LIBC.SO.6");
  ASSERT_NO_FATAL_FAILURE(Load());
  // The handle is written whole: on this platform it is wider than 32 bits.
  char locked[128];
  std::snprintf(
      locked, sizeof locked, "Dirty module libc.so.6 (0x%llX) successfully locked!",
      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(GetModuleHandleA("libc.so.6"))));
  EXPECT_TRUE(Traced(locked)) << Trace();
  EXPECT_TRUE(Traced("Dirty module LIBC.SO.6 was not already loaded before this agent!"));
}

}  // namespace
