// The agent frame driven through the five entry points of a test copy of the
// agent library, loaded with dlopen as the SNMP service loads it, in a fresh
// state directory per test.  The trace goes to a real file through the registry
// settings and is read back.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/system/Modules.h"
#include "support/ExtensionLibrary.h"
#include "support/PrivateRegistry.h"
#include "support/WaitFor.h"

namespace {

namespace fs = std::filesystem;

constexpr const char kLibrary[] = LORVETH_BINARY_DIR "/tests/frame/Lorveth_TestAgent.so";
constexpr const char kStatusKey[] = "SOFTWARE\\Quorvath\\#Status";
constexpr const char kParametersKey[] = "SOFTWARE\\Quorvath\\Lorveth_TestAgent\\Parameters";

std::vector<UINT> Ids(std::initializer_list<UINT> tail) {
  std::vector<UINT> ids = {1, 3, 6, 1, 4, 1, 32473, 99};
  ids.insert(ids.end(), tail);
  return ids;
}

using test_support::NameOf;
using test_support::VarBinds;

std::string ReadString(const char* key, const char* value) {
  return test_support::ReadRegistryString(key, value);
}

bool KeyExists(const char* key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

void SetString(const char* key, const char* name, const std::string& value) {
  ASSERT_EQ(platform::RegistryKey::Create(HKEY_LOCAL_MACHINE, key)->SetString(name, value),
            ERROR_SUCCESS);
}

void SetDword(const char* key, const char* name, DWORD value) {
  ASSERT_EQ(platform::RegistryKey::Create(HKEY_LOCAL_MACHINE, key)->SetDword(name, value),
            ERROR_SUCCESS);
}

// The library with the test agent's extra exports.
struct AgentLibrary : test_support::ExtensionLibrary {
  AgentLibrary() : ExtensionLibrary(kLibrary) {}
  void Load() {
    Open();
    Bind(set_fault_mode, "LorvethTestAgent_SetFaultMode");
    Bind(queue_answer, "LorvethTestAgent_QueueAnswer");
    Bind(raise_setting, "LorvethTestAgent_RaiseSetting");
    Bind(flags, "LorvethTestAgent_Flags");
    Bind(create_trap, "LorvethTestAgent_CreateTrap");
  }
  void (*set_fault_mode)(int) = nullptr;
  void (*queue_answer)(unsigned char, const unsigned char*, size_t) = nullptr;
  long (*raise_setting)(unsigned short, unsigned char) = nullptr;
  void (*flags)(unsigned char*) = nullptr;
  int (*create_trap)(const char*, unsigned, const char*) = nullptr;
};

class AgentLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = registry_.Root();
    trace_path_ = dir_ + "/trace.log";
    SetDword("SOFTWARE\\Debug\\Lorveth_TestAgent", "FileDebugLevel", 5);
    SetDword("SOFTWARE\\Debug\\Lorveth_TestAgent", "TraceFileLimit", 0);
    SetString("SOFTWARE\\Debug\\Lorveth_TestAgent", "TraceFile", trace_path_);
  }

  void TearDown() override {
    Unload();
    for (const char* name : {"LORVETH_TEST_AGENT_NO_REGION", "LORVETH_TEST_AGENT_HANG",
                             "LORVETH_TEST_AGENT_NO_SWITCH"}) {
      unsetenv(name);
    }
  }

  void Load() { ASSERT_NO_THROW(lib_.Load()); }
  // SnmpExtensionInit, then waits until the agent reports "started".
  void Start() {
    ASSERT_NO_FATAL_FAILURE(Load());
    ASSERT_TRUE(lib_.Init());
    ASSERT_TRUE(WaitForStatus("started"));
  }

  bool WaitForStatus(const std::string& status) {
    return test_support::WaitFor(
        [&] { return ReadString(kStatusKey, "Lorveth_TestAgent") == status; });
  }

  void Unload() { lib_.Close(); }

  std::string Trace() const {
    std::ifstream in(trace_path_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // Loads and starts the library in a child process (for cases that leave the
  // library pinned or end the process), waits there until `ready` holds, then
  // runs `finish` with the close entry point and exits with its result.
  // Returns the child's exit code, 2 or 3 when loading or starting failed, 5
  // when it never got ready, -1 when it did not exit normally.
  static int RunStartedInChild(const std::function<bool()>& ready,
                               const std::function<int(PFNSNMPEXTENSIONCLOSE)>& finish) {
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
      auto* lib = new test_support::ExtensionLibrary(kLibrary);  // never unloaded
      try {
        lib->Open();
      } catch (...) {
        _exit(2);
      }
      if (!lib->Init()) _exit(3);
      if (!test_support::WaitFor(ready)) _exit(5);
      _exit(finish(lib->close));
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }

  static size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
      ++count;
    }
    return count;
  }

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
  Reply Query(BYTE type, std::initializer_list<std::pair<std::vector<UINT>, AsnInteger32>> rows) {
    VarBinds varbinds;
    for (const auto& [name, value] : rows) {
      if (value == 0) {
        varbinds.Add(name);
      } else {
        varbinds.AddInteger(name, value);
      }
    }
    return Query(type, varbinds);
  }
  AsnInteger32 GetNumber(const std::vector<UINT>& name) {
    VarBinds get;
    get.Add(name);
    EXPECT_TRUE(Query(SNMP_PDU_GET, get).ok);
    return get[0].value.asnValue.number;
  }

  test_support::PrivateRegistry registry_;
  std::string dir_;
  std::string trace_path_;
  AgentLibrary lib_;
};

TEST_F(AgentLibraryTest, RequestsBeforeInitializationAreRefusedWithNoSuchNameAtIndexOne) {
  ASSERT_NO_FATAL_FAILURE(Load());
  for (BYTE type : {BYTE{SNMP_PDU_GET}, BYTE{SNMP_PDU_GETNEXT}, BYTE{SNMP_PDU_SET}, BYTE{0x42}}) {
    const Reply reply = Query(type, {{Ids({1, 1, 0}), 0}, {Ids({1, 2, 0}), 0}});
    EXPECT_TRUE(reply.ok);
    EXPECT_EQ(reply.status, SNMP_ERRORSTATUS_NOSUCHNAME);
    EXPECT_EQ(reply.index, 1);
  }
  EXPECT_NE(Trace().find("request refused; ERROR status: <<no such name>>"), std::string::npos);
}

TEST_F(AgentLibraryTest, StartAnnouncesTheRegionAndRecordsParametersAndStatus) {
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(std::vector<UINT>(lib_.region.ids, lib_.region.ids + lib_.region.idLength), Ids({}));
  EXPECT_NE(lib_.trap_event, nullptr);
  EXPECT_EQ(ReadString(kParametersKey, "InvTableIndex"), "1.3.6.1.4.1.32473.99");
  EXPECT_EQ(ReadString(kParametersKey, "AgentPurpose"), "1");
  const std::string volatile_key = std::string(kParametersKey) + "\\VolatileParameters";
  EXPECT_EQ(ReadString(volatile_key.c_str(), "AgentStatus"), "0");
  EXPECT_EQ(ReadString(volatile_key.c_str(), "AgentLastError"), "initializing");

  AsnObjectIdentifier next{0, nullptr};
  EXPECT_FALSE(lib_.init_ex(&next));
  EXPECT_FALSE(lib_.init_ex(&next));
  EXPECT_EQ(next.idLength, 0u);

  lib_.close();
  EXPECT_EQ(ReadString(kStatusKey, "Lorveth_TestAgent"), "stopped");
  Unload();
  EXPECT_EQ(ReadString(kStatusKey, "Lorveth_TestAgent"), "unloaded");
  EXPECT_FALSE(KeyExists(volatile_key.c_str()));

  const std::string trace = Trace();
  EXPECT_NE(trace.find("*** SNMP agent module \"Lorveth_TestAgent\" loaded ***"),
            std::string::npos);
  // The identity banner reads the version block built into the library file.
  EXPECT_NE(trace.find("\n  Agent name    : Lorveth test agent"), std::string::npos);
  EXPECT_NE(trace.find("\n  Company name  : Lorveth test"), std::string::npos);
  EXPECT_NE(trace.find("\n  Dll version   : 4.0.1.7"), std::string::npos);
  EXPECT_NE(trace.find("\n  Agent version : 3.2.0.0"), std::string::npos);
  EXPECT_NE(trace.find("\n  BuildEnv      : Win32"), std::string::npos);
  EXPECT_NE(trace.find("Initialization done - SNMP requests enabled!"), std::string::npos);
  EXPECT_EQ(Count(trace, "SnmpClose(): Shutting down agent"), 1u);
  EXPECT_NE(trace.find("SNMP agent DLL unloaded"), std::string::npos);
}

// The error index points at the first varbind that failed; the result is
// false when no varbind was answered. Set rows: a read-only second varbind
// changes nothing, a failing second apply keeps the first change.
TEST_F(AgentLibraryTest, RequestsReportTheFirstFailingVarbind) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const std::vector<UINT> known = Ids({1, 1, 0}), unknown = Ids({1, 1, 9});
  const struct {
    const char* name;
    BYTE type;
    std::initializer_list<std::pair<std::vector<UINT>, AsnInteger32>> rows;
    BOOL ok;
    AsnInteger32 status, index, stored;
  } cases[] = {
      {"get, second unknown", SNMP_PDU_GET, {{known, 0}, {unknown, 0}}, TRUE, 2, 2, 7},
      {"get, first unknown", SNMP_PDU_GET, {{unknown, 0}, {known, 0}}, FALSE, 2, 1, 7},
      {"get, none", SNMP_PDU_GET, {}, FALSE, -1, 1, 7},
      {"set, none", SNMP_PDU_SET, {}, FALSE, -1, 1, 7},
      {"unknown type", 0xA5, {{known, 0}}, FALSE, -1, 1, 7},
      {"set, second read-only",
       SNMP_PDU_SET,
       {{Ids({1, 2, 0}), 5}, {Ids({1, 1, 0}), 1}},
       TRUE,
       SNMP_ERRORSTATUS_READONLY,
       2,
       7},
      {"set, second apply fails",
       SNMP_PDU_SET,
       {{Ids({1, 2, 0}), 5}, {Ids({1, 6, 0}), 1}},
       TRUE,
       SNMP_ERRORSTATUS_COMMITFAILED,
       2,
       5},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    const Reply reply = Query(row.type, row.rows);
    EXPECT_EQ(reply.ok, row.ok);
    EXPECT_TRUE(row.status < 0 || reply.status == row.status) << reply.status;
    EXPECT_EQ(reply.index, row.index);
    EXPECT_EQ(GetNumber(Ids({1, 2, 0})), row.stored);
  }
  VarBinds vbs;
  vbs.Add(known);
  EXPECT_TRUE(Query(SNMP_PDU_GET, vbs).ok);
  EXPECT_EQ(vbs[0].value.asnType, ASN_OCTETSTRING);
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
  const std::vector<UINT> beyond = {1, 3, 6, 1, 4, 1, 32473, 100};
  EXPECT_EQ(NameOf(vbs[1]), beyond);
  EXPECT_EQ(NameOf(vbs[2]), beyond);
  EXPECT_NE(Trace().find("GETNEXT SNMP Error 5 (callback failed) -> find next object"),
            std::string::npos);
}

TEST_F(AgentLibraryTest, FaultOrExceptionInsideAQueryIsRecordedAndTheAgentKeepsServing) {
  ASSERT_NO_FATAL_FAILURE(Start());
  // The thread's signal mask survives a fault as it was, whatever it holds, and
  // a second fault is caught like the first.
  sigset_t blocked, before, after;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR2);
  pthread_sigmask(SIG_BLOCK, &blocked, &before);
  pthread_sigmask(SIG_BLOCK, nullptr, &before);
  for (int mode : {1, 2, 1}) {
    lib_.set_fault_mode(mode);
    EXPECT_FALSE(Query(SNMP_PDU_GET, {{Ids({1, 1, 0}), 0}}).ok);
    EXPECT_EQ(ReadString(kStatusKey, "Lorveth_TestAgent"), "exception (SnmpExtensionQuery)");
    const std::string volatile_key = std::string(kParametersKey) + "\\VolatileParameters";
    EXPECT_EQ(ReadString(volatile_key.c_str(), "AgentStatus"), "4");
    EXPECT_EQ(ReadString(volatile_key.c_str(), "AgentLastError"), "exception occured");
    lib_.set_fault_mode(0);
    const Reply again = Query(SNMP_PDU_GET, {{Ids({1, 1, 0}), 0}});
    EXPECT_TRUE(again.ok);
    EXPECT_EQ(again.status, 0);
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
  EXPECT_EQ(ReadString(kStatusKey, "Lorveth_TestAgent"), "exception (SnmpExtensionInit)");
  const std::string trace = Trace();
  EXPECT_NE(
      trace.find("## FATAL ERROR: InitSupportedRegions() function not implemented or failed!!"),
      std::string::npos);
  EXPECT_NE(trace.find("Exception in SnmpExtensionInit !!"), std::string::npos);
}

TEST_F(AgentLibraryTest, AgentThatCannotAttachNeverServesAndClosesQuickly) {
  setenv("LORVETH_TEST_AGENT_NO_SWITCH", "1", 1);
  ASSERT_NO_FATAL_FAILURE(Load());
  ASSERT_TRUE(lib_.Init());
  ASSERT_TRUE(test_support::WaitFor([&] {
    return Trace().find("EXIT THREAD Thread_InitMib") != std::string::npos;
  })) << Trace();
  EXPECT_EQ(ReadString(kStatusKey, "Lorveth_TestAgent"), "starting");
  EXPECT_EQ(Query(SNMP_PDU_GET, {{Ids({1, 1, 0}), 0}}).status, SNMP_ERRORSTATUS_NOSUCHNAME);
  lib_.close();
  const std::string trace = Trace();
  EXPECT_NE(trace.find("SWITCH attach FAILED (Class not registered)"), std::string::npos);
  EXPECT_NE(trace.find("SnmpClose():   Init thread did already exit"), std::string::npos);
}

TEST_F(AgentLibraryTest, PermissionFlagsAreReadTwiceAtStartAndFollowSettingEvents) {
  ASSERT_NO_FATAL_FAILURE(Load());
  // Two rounds of the five settings: ShutdownIsAllowed, SetAllowed,
  // DoAccountCheck, Trap2EventLog, TrapToAdminAlert.
  const unsigned char values[] = {1, 1, 0, 3, 5, 1, 0, 1, 4, 6};
  for (unsigned char value : values) lib_.queue_answer(0, &value, 1);
  ASSERT_TRUE(lib_.Init());
  ASSERT_TRUE(WaitForStatus("started"));
  unsigned char flags[5] = {};
  lib_.flags(flags);
  EXPECT_EQ(std::vector<int>(flags, flags + 5), (std::vector<int>{1, 0, 1, 4, 6}));
  EXPECT_EQ(lib_.raise_setting(0x3800, 2), 0);
  lib_.flags(flags);
  EXPECT_EQ(flags[3], 2);
}

TEST_F(AgentLibraryTest, TrapsLeaveTheQueueInOrderWithTheirTimeStamp) {
  ASSERT_NO_FATAL_FAILURE(Start());
  AsnObjectIdentifier enterprise{0, nullptr};
  AsnInteger32 generic = 0, specific = 0;
  AsnTimeticks stamp = 0;
  SnmpVarBindList list{nullptr, 0};
  EXPECT_FALSE(lib_.trap(&enterprise, &generic, &specific, &stamp, &list));

  for (unsigned number : {2200u, 2201u, 2202u}) {
    EXPECT_EQ(lib_.create_trap("1.3.6.1.4.1.32473.99.2", number, "text"), 1);
  }
  EXPECT_EQ(WaitForSingleObject(lib_.trap_event, 0), WAIT_OBJECT_0);
  for (AsnInteger32 expected : {2200, 2201, 2202}) {
    ASSERT_TRUE(lib_.trap(&enterprise, &generic, &specific, &stamp, &list));
    EXPECT_EQ(generic, SNMP_GENERICTRAP_ENTERSPECIFIC);
    EXPECT_EQ(specific, expected);
    EXPECT_LT(stamp, 500u);  // hundredths of a second since the start
    ASSERT_EQ(list.len, 1u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(list.list[0].value.asnValue.string.stream),
                          list.list[0].value.asnValue.string.length),
              "text");
    EXPECT_EQ(enterprise.idLength, 9u);
    SnmpUtilVarBindListFree(&list);
    SnmpUtilOidFree(&enterprise);
  }
  EXPECT_FALSE(lib_.trap(&enterprise, &generic, &specific, &stamp, &list));
}

TEST_F(AgentLibraryTest, TrapTableDisablesTrapsSetToTwoAndAMissingOneDisablesNone) {
  for (const bool readable : {true, false}) {
    SCOPED_TRACE(readable);
    const std::string ini = dir_ + (readable ? "/traps.ini" : "/missing.ini");
    if (readable) std::ofstream(ini) << "[TrapTable]\n2201=2\n2202=0\n";
    SetString("SOFTWARE\\Quorvath\\BRALLOCK\\FILE", "TrapIni", ini);
    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_EQ(lib_.create_trap("1.3.6.1.4.1.32473.99.2", 2201, nullptr), readable ? 0 : 1);
    EXPECT_EQ(WaitForSingleObject(lib_.trap_event, 0), readable ? WAIT_TIMEOUT : WAIT_OBJECT_0);
    EXPECT_EQ(lib_.create_trap("1.3.6.1.4.1.32473.99.2", 2202, nullptr), 1);
    EXPECT_EQ(lib_.create_trap("1.3.6.1.4.1.32473.99.2", 2203, nullptr), 1);
    lib_.close();
    Unload();
  }
  const std::string trace = Trace();
  EXPECT_NE(trace.find("TRAP 2201 disabled!"), std::string::npos);
  EXPECT_NE(trace.find("ERROR! Could not open trap config"), std::string::npos);
}

TEST_F(AgentLibraryTest, ModuleLockListLocksOnlyModulesAlreadyLoadedByExactName) {
  SetString("SOFTWARE\\Quorvath\\#LockList", "a", "libc.so.6");
  SetString("SOFTWARE\\Quorvath\\#LockList", "b", "LIBC.SO.6");
  ASSERT_NO_FATAL_FAILURE(Load());
  const std::string trace = Trace();
  // The handle is written whole: on this platform it is wider than 32 bits.
  char locked[128];
  std::snprintf(
      locked, sizeof locked, "Dirty module libc.so.6 (0x%llX) successfully locked!",
      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(GetModuleHandleA("libc.so.6"))));
  EXPECT_NE(trace.find(locked), std::string::npos) << trace;
  EXPECT_NE(trace.find("Dirty module LIBC.SO.6 was not already loaded before this agent!"),
            std::string::npos);
}

size_t OpenDescriptors() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

// Once the close sequence has waited for the initialization thread, that thread
// runs no more code of the library, so unloading right away is safe.  What the
// library opened (trace lock file, registry files, message library) goes with
// it, so the process's descriptors stay as many as after the first round.
TEST_F(AgentLibraryTest, LibraryCanBeLoadedStartedClosedAndUnloadedAgainAndAgain) {
  SetString("SOFTWARE\\Quorvath\\#Setup", "FileRoot", LORVETH_BINARY_DIR "/tests/frame");
  size_t after_first_round = 0;
  for (int round = 0; round < 100; ++round) {
    ASSERT_NO_FATAL_FAILURE(Start());
    lib_.close();
    Unload();
    ASSERT_EQ(ReadString(kStatusKey, "Lorveth_TestAgent"), "unloaded") << round;
    if (round == 0) after_first_round = OpenDescriptors();
  }
  EXPECT_EQ(OpenDescriptors(), after_first_round);
  EXPECT_NE(Trace().find("load message DLL"), std::string::npos);
}

// A service that exits without unloading the library runs the detach from the
// exit handlers, after the C++ statics are gone; it must still finish cleanly
// (with a message library loaded, whose release once crashed there).
TEST_F(AgentLibraryTest, DetachAtProcessExitWithoutUnloadFinishesCleanly) {
  SetString("SOFTWARE\\Quorvath\\#Setup", "FileRoot", LORVETH_BINARY_DIR "/tests/frame");
  EXPECT_EQ(
      RunStartedInChild([] { return ReadString(kStatusKey, "Lorveth_TestAgent") == "started"; },
                        [](PFNSNMPEXTENSIONCLOSE close) {
                          close();
                          // No dlclose: the library's destructor runs among
                          // the exit handlers.
                          std::exit(0);
                          return 0;
                        }),
      0);
  const std::string trace = Trace();
  EXPECT_NE(trace.find("load message DLL"), std::string::npos);
  EXPECT_EQ(trace.find("Exception in DLL_PROCESS_DETACH"), std::string::npos);
  EXPECT_NE(trace.find("SNMP agent DLL unloaded"), std::string::npos);
  EXPECT_EQ(ReadString(kStatusKey, "Lorveth_TestAgent"), "unloaded");
}

// The close sequence gives up on a hanging initialization thread.  Runs in a
// child process: the abandoned thread keeps the library loaded there.
TEST_F(AgentLibraryTest, CloseGivesUpOnAHangingInitialization) {
  setenv("LORVETH_TEST_AGENT_HANG", "1", 1);
  EXPECT_EQ(RunStartedInChild(
                [this] {
                  return Trace().find("Calling the agent's InitializeMib()") != std::string::npos;
                },
                [](PFNSNMPEXTENSIONCLOSE close) {
                  close();
                  return 0;
                }),
            0);
  const std::string trace = Trace();
  EXPECT_NE(trace.find("Init thread did not terminate within 20 seconds! Thread is being killed!"),
            std::string::npos);
  EXPECT_NE(trace.find("TEMINATED!"), std::string::npos);
  EXPECT_EQ(ReadString(kStatusKey, "Lorveth_TestAgent"), "stopped");
}

}  // namespace
