// Process modules on the dynamic loader: dl_iterate_phdr lists them, dlopen and
// dlclose count their references, and files loaded as data are only noted.
#include "platform/system/Modules.h"

#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/system/ElfSections.h"
#include "platform/system/Paths.h"
#include "platform/system/Threads.h"

namespace {

// The Windows pseudo handle of the current process.
HANDLE const kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));

struct LoadedModule {
  HMODULE base = nullptr;
  std::string path;
};

struct DataFile {
  std::string path;
};

// Handles that LoadLibrary* gave out and FreeLibrary gives back.
struct ModuleTable {
  std::mutex mutex;
  std::map<HMODULE, std::vector<void*>> references;  // base -> dlopen handles
  std::map<HMODULE, std::unique_ptr<DataFile>> data_files;
};

ModuleTable& Table() {
  // Never destroyed: an agent library's detach may still need it at process
  // exit, after the C++ statics are gone (exit runs them before the
  // libraries' own destructors).
  static auto* table = new ModuleTable;
  return *table;
}

std::string ExecutablePath() {
  char target[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", target, sizeof target - 1);
  return length > 0 ? std::string(target, static_cast<size_t>(length)) : std::string();
}

int CollectModule(dl_phdr_info* info, size_t /*size*/, void* data) {
  auto& modules = *static_cast<std::vector<LoadedModule>*>(data);
  // The base is where the first loadable segment is mapped, as dladdr reports it.
  ElfW(Addr) lowest = ~ElfW(Addr){0};
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    if (info->dlpi_phdr[i].p_type == PT_LOAD && info->dlpi_phdr[i].p_vaddr < lowest) {
      lowest = info->dlpi_phdr[i].p_vaddr;
    }
  }
  if (lowest == ~ElfW(Addr){0}) return 0;
  const auto page = static_cast<ElfW(Addr)>(sysconf(_SC_PAGESIZE));
  LoadedModule module;
  module.base = reinterpret_cast<HMODULE>(info->dlpi_addr + (lowest & ~(page - 1)));
  module.path = info->dlpi_name != nullptr ? info->dlpi_name : "";
  if (modules.empty() && module.path.empty()) module.path = ExecutablePath();
  modules.push_back(std::move(module));
  return 0;
}

// The loaded modules in load order, the executable first.
std::vector<LoadedModule> ListModules() {
  std::vector<LoadedModule> modules;
  dl_iterate_phdr(CollectModule, &modules);
  return modules;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

// A loaded module named by base name (exact text) or by path.
const LoadedModule* FindByName(const std::vector<LoadedModule>& modules, const std::string& name) {
  const bool is_path = name.find('/') != std::string::npos;
  const std::string wanted = is_path ? RealPath(name) : name;
  for (const LoadedModule& module : modules) {
    if (module.path.empty()) continue;
    if (is_path ? (module.path == name || RealPath(module.path) == wanted)
                : BaseName(module.path) == wanted) {
      return &module;
    }
  }
  return nullptr;
}

const LoadedModule* FindByBase(const std::vector<LoadedModule>& modules, HMODULE base) {
  for (const LoadedModule& module : modules) {
    if (module.base == base) return &module;
  }
  return nullptr;
}

bool IsDataFile(HMODULE module) { return (reinterpret_cast<uintptr_t>(module) & 1) != 0; }

// Opens the already loaded module without loading anything.
void* OpenLoaded(const std::vector<LoadedModule>& modules, const LoadedModule& module, int flags) {
  const bool is_executable = &module == &modules.front();
  return dlopen(is_executable ? nullptr : module.path.c_str(), RTLD_LAZY | RTLD_NOLOAD | flags);
}

HMODULE BaseOfHandle(void* handle) {
  link_map* map = nullptr;
  Dl_info info{};
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_ld == nullptr ||
      dladdr(map->l_ld, &info) == 0) {
    return nullptr;
  }
  return info.dli_fbase;
}

DWORD CopyName(const std::string& text, LPSTR buffer, DWORD size) {
  if (buffer == nullptr || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  const size_t length = text.size() < size ? text.size() : size - 1;
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
  if (length < text.size()) SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return static_cast<DWORD>(length);
}

bool FindModuleName(HANDLE process, HMODULE module, std::string& path) {
  if (process != kCurrentProcess) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  const std::vector<LoadedModule> modules = ListModules();
  const LoadedModule* found = module == nullptr ? &modules.front() : FindByBase(modules, module);
  if (found == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return false;
  }
  path = found->path;
  return true;
}

HMODULE LoadDataFile(LPCSTR file) {
  const std::string path = RealPath(platform::ToNativePath(file));
  const platform::ElfResult result = platform::CheckElfFile(path);
  if (result != platform::ElfResult::kOk) {
    // As LoadLibrary reports it: a file that is not there is a missing module.
    const DWORD error = platform::ElfResultError(result);
    SetLastError(error == ERROR_FILE_NOT_FOUND ? ERROR_MOD_NOT_FOUND : error);
    return nullptr;
  }
  auto data_file = std::make_unique<DataFile>();
  data_file->path = path;
  // Heap addresses are even: the low bit marks a data file, as on Windows.
  auto* handle = reinterpret_cast<HMODULE>(reinterpret_cast<uintptr_t>(data_file.get()) | 1);
  ModuleTable& table = Table();
  const std::lock_guard<std::mutex> lock(table.mutex);
  table.data_files.emplace(handle, std::move(data_file));
  return handle;
}

}  // namespace

HANDLE GetCurrentProcess() { return kCurrentProcess; }

BOOL EnumProcessModules(HANDLE process, HMODULE* modules, DWORD size, DWORD* needed) {
  if (process != kCurrentProcess) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (needed == nullptr || (modules == nullptr && size != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::vector<LoadedModule> list = ListModules();
  *needed = static_cast<DWORD>(list.size() * sizeof(HMODULE));
  const size_t room = size / sizeof(HMODULE);
  for (size_t i = 0; i < list.size() && i < room; ++i) modules[i] = list[i].base;
  return TRUE;
}

DWORD GetModuleBaseNameA(HANDLE process, HMODULE module, LPSTR name, DWORD size) {
  std::string path;
  if (!FindModuleName(process, module, path)) return 0;
  return CopyName(BaseName(path), name, size);
}

DWORD GetModuleFileNameExA(HANDLE process, HMODULE module, LPSTR name, DWORD size) {
  std::string path;
  if (!FindModuleName(process, module, path)) return 0;
  return CopyName(path, name, size);
}

HMODULE LoadLibraryA(LPCSTR file) {
  if (file == nullptr || *file == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::string native = platform::ToNativePath(file);
  const std::vector<LoadedModule> modules = ListModules();
  void* handle = nullptr;
  if (const LoadedModule* loaded = FindByName(modules, native); loaded != nullptr) {
    handle = OpenLoaded(modules, *loaded, RTLD_NODELETE);
  } else {
    handle = dlopen(native.c_str(), RTLD_NOW);
  }
  if (handle == nullptr) {
    struct stat info {};
    const bool exists = native.find('/') != std::string::npos && stat(native.c_str(), &info) == 0;
    SetLastError(exists ? ERROR_BAD_FORMAT : ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  const HMODULE base = BaseOfHandle(handle);
  if (base == nullptr) {
    dlclose(handle);
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  ModuleTable& table = Table();
  const std::lock_guard<std::mutex> lock(table.mutex);
  table.references[base].push_back(handle);
  return base;
}

HMODULE LoadLibraryExA(LPCSTR file, HANDLE reserved, DWORD flags) {
  if (file == nullptr || *file == '\0' || reserved != nullptr ||
      (flags != 0 && flags != LOAD_LIBRARY_AS_DATAFILE)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return flags == LOAD_LIBRARY_AS_DATAFILE ? LoadDataFile(file) : LoadLibraryA(file);
}

BOOL FreeLibrary(HMODULE module) {
  ModuleTable& table = Table();
  void* handle = nullptr;
  {
    const std::lock_guard<std::mutex> lock(table.mutex);
    if (IsDataFile(module)) {
      if (table.data_files.erase(module) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
      }
      return TRUE;
    }
    const auto found = table.references.find(module);
    if (found == table.references.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    handle = found->second.back();
    found->second.pop_back();
    if (found->second.empty()) table.references.erase(found);
  }
  dlclose(handle);
  return TRUE;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  if (name == nullptr || IsDataFile(module)) {
    SetLastError(name == nullptr ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const std::vector<LoadedModule> modules = ListModules();
  const LoadedModule* loaded = module == nullptr ? &modules.front() : FindByBase(modules, module);
  void* handle = loaded != nullptr ? OpenLoaded(modules, *loaded, 0) : nullptr;
  if (handle == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  void* symbol = dlsym(handle, name);
  dlclose(handle);
  if (symbol == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

HMODULE GetModuleHandleA(LPCSTR name) {
  const std::vector<LoadedModule> modules = ListModules();
  if (name == nullptr) return modules.front().base;
  const LoadedModule* found = FindByName(modules, platform::ToNativePath(name));
  if (found == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return found->base;
}

namespace platform {

bool ModuleFilePath(HMODULE module, std::string& path) {
  if (IsDataFile(module)) {
    ModuleTable& table = Table();
    const std::lock_guard<std::mutex> lock(table.mutex);
    const auto found = table.data_files.find(module);
    if (found == table.data_files.end()) return false;
    path = found->second->path;
    return true;
  }
  const std::vector<LoadedModule> modules = ListModules();
  const LoadedModule* found = FindByBase(modules, module);
  if (found == nullptr) return false;
  path = found->path;
  return true;
}

}  // namespace platform
