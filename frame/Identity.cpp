// The agent's identity at process attach: module path, registry roots, message
// library, trap configuration file, computer name, the banner and the module
// lock list.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "frame/AgentStatus.h"
#include "frame/Extension.h"
#include "frame/SnmpAgent.h"
#include "host/ProcessModules.h"
#include "platform/system/Modules.h"
#include "platform/system/Paths.h"
#include "platform/registry/Registry.h"
#include "platform/system/System.h"
#include "trace/FileDebug.h"

namespace {

const char* Module() { return Extension().module_name; }

// Whether the file can be opened for reading (existing files only).
bool CanOpenForReading(const char* path) {
  const int fd = open(platform::ToNativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

}  // namespace

void PinLibraryInMemory(const char* path) {
  // RTLD_NODELETE on a module that is already loaded keeps it mapped until the
  // process ends; the extra reference is never dropped on purpose.
  if (path != nullptr && *path != '\0') dlopen(path, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

void CSnmpAgent::InitializeIdentity(HMODULE module) {
  if (GetModuleFileNameA(module, module_path_, sizeof module_path_) == 0) return;

  const CRegistryRootSet roots;
  char module_name[MAX_PATH] = {};
  SplitModuleName(module_path_, module_name, sizeof module_name);
  std::string agent_root;
  if (module_name[0] != '\0') agent_root = roots.AgentKey(module_name);
  SetRoots(roots.CommonRoot(), agent_root, roots.DataRoot());
  if (module_name[0] != '\0') SetAgentStatus(static_cast<DWORD>(AgentStatus::kLoaded));

  const CRegistryRootSet message_roots;
  const std::string message_library = message_roots.FileRoot() + "\\Messages.dll";
  trap_alert_->LoadMessageDLL(message_library.c_str());

  char trap_ini[MAX_PATH] = {};
  if (GetAgentRegFilePath("TrapIni", trap_ini, sizeof trap_ini, "BRALLOCK")) {
    // A bare file name is taken relative to the working directory.
    std::string path = trap_ini;
    if (path.find_first_of("\\/") == std::string::npos) path = ".\\" + path;
    path.copy(trap_config_path_, sizeof trap_config_path_ - 1);
    trap_config_path_[std::min(path.size(), sizeof trap_config_path_ - 1)] = '\0';
    trap_config_open_ = CanOpenForReading(trap_config_path_);
    if (!trap_config_open_) {
      TRACE(2, "\nBRALLOCK            : ERROR! Could not open trap config \"%s\" - trap suppression not possible",
            trap_config_path_);
    }
  }

  DWORD size = sizeof computer_name_;
  if (!GetComputerNameA(computer_name_, &size)) computer_name_[0] = '\0';

  if (GetTrace().IsActive()) {
    FileVersionInfo& version = *version_info_;
    TRACE(1, "\n\n*** SNMP agent module \"%s\" loaded ***\n", Module());
    TRACE(1, "\n  Agent name    : %s", version.QueryString(module_path_, "FileDescription", 0, 0));
    TRACE(1, "\n  Company name  : %s", version.QueryString(module_path_, "CompanyName", 0, 0));
    TRACE(1, "\n  Dll version   : %s", version.QueryString(module_path_, "FileVersion", 0, 0));
    TRACE(1, "\n  Agent version : %s", version.QueryString(module_path_, "ProductVersion", 0, 0));
    TRACE(1, "\n  BuildEnv      : Win32");
    TRACE(1, "\n  Module path   : %s", module_path_);
    TRACE(1, "\n  Module name   : %s", Module());
    TRACE(1, "\n  Server name   : %s", computer_name_);
    TRACE(2, "\n");
    TRACE(2, "\n  Common root   : %s", common_root_);
    TRACE(2, "\n  Agent root    : %s", agent_root_);
    TRACE(1, "\n\n");
  }

  ApplyModuleLockList();
}

void CSnmpAgent::ApplyModuleLockList() {
  // Libraries of this process named in the lock list get one more load
  // reference that is never released, so that no later unload removes them.
  const std::string key_path = std::string(common_root_) + "\\#LockList";
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                    &key) != ERROR_SUCCESS) {
    return;
  }
  ProcessModuleReader reader;
  if (!reader.Load(nullptr) || reader.enum_process_modules() == nullptr ||
      reader.get_module_base_name() == nullptr) {
    RegCloseKey(key);
    return;
  }
  // At most 256 module handles: the lock list is meant for the few libraries an
  // administrator names, and a bounded list keeps one enumeration cheap.
  std::map<std::string, HMODULE> loaded;
  std::vector<HMODULE> modules(256);
  DWORD needed = 0;
  if (reader.enum_process_modules()(GetCurrentProcess(), modules.data(),
                                    static_cast<DWORD>(modules.size() * sizeof(HMODULE)),
                                    &needed)) {
    const size_t count = std::min<size_t>(needed / sizeof(HMODULE), modules.size());
    for (size_t i = 0; i < count; ++i) {
      char base[MAX_PATH] = {};
      if (reader.get_module_base_name()(GetCurrentProcess(), modules[i], base, sizeof base) > 0) {
        loaded.emplace(base, modules[i]);
      }
    }
  }
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD name_size = sizeof name;
    char data[MAX_PATH + 1] = {};
    DWORD data_size = MAX_PATH;
    DWORD type = 0;
    if (RegEnumValueA(key, index, name, &name_size, nullptr, &type,
                      reinterpret_cast<BYTE*>(data), &data_size) != ERROR_SUCCESS) {
      break;
    }
    TRACE(3, "\n%-20s: Dirty module \"%s\" found in list", Module(), data);
    const auto found = loaded.find(data);
    if (found != loaded.end()) {
      // A module that cannot be loaded again stays unlocked, quietly.
      if (HMODULE locked = LoadLibraryA(data); locked != nullptr) {
        TRACE(3, "\n%-20s: Dirty module %s (0x%llX) successfully locked!", Module(), data,
              static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(locked)));
      }
    } else {
      TRACE(3, "\n%-20s: Dirty module %s was not already loaded before this agent!", Module(),
            data);
    }
  }
  reader.Unload();
  RegCloseKey(key);
}
