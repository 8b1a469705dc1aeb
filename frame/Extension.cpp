// The five exported entry points, process attach and detach, and the exception
// guards around each of them.
#include "frame/Extension.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "frame/AgentStatus.h"
#include "frame/SnmpAgent.h"
#include "host/ProcessModules.h"
#include "platform/system/FaultGuard.h"
#include "platform/registry/Registry.h"
#include "platform/Snmp.h"
#include "platform/system/System.h"
#include "platform/system/Threads.h"
#include "trace/FileDebug.h"

namespace {

const char* Module() { return Extension().module_name; }

constexpr const char kRuleLine[] =
    "##############################################################################";

}  // namespace

void TraceExceptionBanner(const char* middle) {
  TRACE(1, "\n\n%s", kRuleLine);
  TRACE(1, "%s", middle);
  TRACE(1, "\n%s\n", kRuleLine);
}

ExtensionState& Extension() {
  static ExtensionState state;
  return state;
}

void SplitModuleName(const char* path, char* name, size_t size) {
  if (size == 0) return;
  name[0] = '\0';
  if (path == nullptr) return;
  const char* base = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') base = p + 1;
  }
  const char* dot = std::strrchr(base, '.');
  const size_t length = dot != nullptr ? static_cast<size_t>(dot - base) : std::strlen(base);
  std::snprintf(name, size, "%.*s", static_cast<int>(length), base);
}

bool ProcessAttach(HMODULE module) {
  ExtensionState& extension = Extension();
  platform::InstallFaultHandlers();

  char path[MAX_PATH] = {};
  GetModuleFileNameA(module, path, sizeof path);
  SplitModuleName(path, extension.module_name, sizeof extension.module_name);

  std::printf("\n## SNMP DLL [%s] loaded\n", extension.module_name);
  std::fflush(stdout);
  GetTrace().Configure(extension.module_name, true);

  if (GetTrace().IsActive()) {
    char process_name[MAX_PATH] = {};
    ProcessModuleReader reader;
    if (reader.Load(nullptr)) {
      reader.GetProcessName(GetCurrentProcessId(), process_name, sizeof process_name, nullptr, 0);
      reader.Unload();
    }
    TRACE(5, "\n%-20s: DllMain: ** DLL_PROCESS_ATTACH (PID %d \"%s\") **", Module(),
          GetCurrentProcessId(), process_name);
    TRACE(2, "\n%-20s: Starting SNMP agent...", Module());
  }

  CSnmpAgent* agent = CreateAgentInstance();
  extension.agent = agent;
  if (agent == nullptr) return false;
  agent->InitializeIdentity(module);
  return true;
}

void ProcessDetach() {
  ExtensionState& extension = Extension();
  CSnmpAgent* agent = extension.agent;
  const bool completed = platform::RunGuarded([&] {
    TRACE(5, "\n%-20s: DllMain: ** DLL_PROCESS_DETACH **", Module());
    if (agent != nullptr) {
      agent->SnmpClose();
      agent->SetAgentStatus(static_cast<DWORD>(AgentStatus::kUnloading));
      agent->DeleteVolatileParameters();
      TRACE(5, "\n%-20s: DllMain: Start delete agent instance...", Module());
      delete agent;
      TRACE(5, "\n%-20s: DllMain: ... agent instance deleted", Module());
    }
    extension.agent = nullptr;
    TRACE(1, "\n\n%-20s: SNMP agent DLL unloaded\n", Module());
    SYSTEMTIME now{};
    GetLocalTime(&now);
    TRACE(1, "\n\n----- Application [%s] closed at %02d:%02d:%02d %02d/%02d/%02d -----\n",
          Module(), now.wHour, now.wMinute, now.wSecond, now.wDay, now.wMonth, now.wYear);
  });
  if (!completed) {
    char middle[400];
    std::snprintf(middle, sizeof middle,
                  "\n                      %s - Exception in DLL_PROCESS_DETACH !!           ",
                  Module());
    TraceExceptionBanner(middle);
  }
  platform::RemoveFaultHandlers();
  // The trace facility and the registry connection belong to this library
  // and go with it; loading it again opens them afresh.
  GetTrace().Close();
  platform::CloseRegistryStore();
}

