// Process names from the module list of the own process and from /proc for
// other processes.
#include "host/ProcessModules.h"

#include <limits.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/system/Threads.h"

namespace {

// Copies text whole, or not at all.
bool CopyWhole(const std::string& text, LPSTR buffer, DWORD size) {
  if (buffer == nullptr || text.size() + 1 > size) return false;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

// The executable of another process: /proc/<pid>/exe, or only the name from
// /proc/<pid>/comm when the link may not be read.
bool ReadProcess(DWORD pid, std::string& name, std::string& path, DWORD& error) {
  const std::string directory = "/proc/" + std::to_string(pid);
  char target[PATH_MAX];
  const ssize_t length = readlink((directory + "/exe").c_str(), target, sizeof target - 1);
  if (length > 0) {
    path.assign(target, static_cast<size_t>(length));
    // The kernel marks an executable that was replaced since it started.
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.size() > kDeleted.size() && path.ends_with(kDeleted)) {
      path.resize(path.size() - kDeleted.size());
    }
    name = path.substr(path.rfind('/') + 1);
    return true;
  }
  error = errno == ENOENT ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED;
  std::ifstream comm(directory + "/comm");
  if (!std::getline(comm, name) || name.empty()) return false;
  return true;
}

}  // namespace

ProcessModuleReader::ProcessModuleReader() {
  utsname system{};
  if (uname(&system) == 0) {
    unsigned major = 0;
    unsigned minor = 0;
    if (std::sscanf(system.release, "%u.%u", &major, &minor) >= 1) {
      major_version_ = major;
      minor_version_ = minor;
    }
  }
}

ProcessModuleReader::~ProcessModuleReader() { Unload(); }

bool ProcessModuleReader::Load(LPCSTR /*directory*/) {
  enum_process_modules_ = &EnumProcessModules;
  get_module_base_name_ = &GetModuleBaseNameA;
  get_module_file_name_ex_ = &GetModuleFileNameExA;
  return true;
}

void ProcessModuleReader::Unload() {
  enum_process_modules_ = nullptr;
  get_module_base_name_ = nullptr;
  get_module_file_name_ex_ = nullptr;
}

bool ProcessModuleReader::GetProcessName(DWORD pid, LPSTR name, DWORD name_size, LPSTR path,
                                         DWORD path_size) {
  std::string found_name;
  std::string found_path;
  last_error_ = 0;
  if (pid == GetCurrentProcessId() && IsLoaded()) {
    // The first module of the process is its executable.
    HMODULE modules[1024 / sizeof(HMODULE)] = {};
    DWORD needed = 0;
    char text[PATH_MAX];
    if (enum_process_modules_(GetCurrentProcess(), modules, sizeof modules, &needed) &&
        needed != 0) {
      if (get_module_base_name_(GetCurrentProcess(), modules[0], text, sizeof text) != 0) {
        found_name = text;
      }
      if (get_module_file_name_ex_(GetCurrentProcess(), modules[0], text, sizeof text) != 0) {
        found_path = text;
      }
    } else {
      last_error_ = GetLastError();
    }
  } else if (!ReadProcess(pid, found_name, found_path, last_error_)) {
    found_name.clear();
  }
  // Windows falls back to fixed names for its idle and system processes, which
  // have no executable; Linux has no such processes, so no name means failure.
  if (found_name.empty() || !CopyWhole(found_name, name, name_size)) return false;
  if (path == nullptr) return true;
  return !found_path.empty() && CopyWhole(found_path, path, path_size);
}
