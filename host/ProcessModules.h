// Process module queries of the host: the name and path of a process by its
// identifier, through the platform's process-status functions.
//
//   ProcessModuleReader reader;
//   char name[MAX_PATH];
//   if (reader.Load(nullptr) &&
//       reader.GetProcessName(GetCurrentProcessId(), name, sizeof name, nullptr, 0)) { ... }
#pragma once

#include "platform/system/Modules.h"
#include "platform/WinTypes.h"

class ProcessModuleReader {
 public:
  using EnumProcessModulesFn = BOOL (*)(HANDLE, HMODULE*, DWORD, DWORD*);
  using GetModuleNameFn = DWORD (*)(HANDLE, HMODULE, LPSTR, DWORD);

  // Reads the operating system's version (kernel release, major.minor).
  ProcessModuleReader();
  ~ProcessModuleReader();
  ProcessModuleReader(const ProcessModuleReader&) = delete;
  ProcessModuleReader& operator=(const ProcessModuleReader&) = delete;

  // Makes the process-status functions available.  They are part of the
  // platform library here, so there is no file to load and `directory` is
  // not used; true once the functions are bound.
  bool Load(LPCSTR directory);
  void Unload();
  bool IsLoaded() const { return enum_process_modules_ != nullptr; }

  // Name (file name of the executable) and, when `path` is given, full path of
  // the executable of process `pid`.  True if the name, and a requested path,
  // were produced; a name or path that does not fit its buffer is not copied.
  bool GetProcessName(DWORD pid, LPSTR name, DWORD name_size, LPSTR path, DWORD path_size);

  DWORD LastError() const { return last_error_; }
  DWORD MajorVersion() const { return major_version_; }
  DWORD MinorVersion() const { return minor_version_; }

  // The bound functions; empty before Load.
  EnumProcessModulesFn enum_process_modules() const { return enum_process_modules_; }
  GetModuleNameFn get_module_base_name() const { return get_module_base_name_; }
  GetModuleNameFn get_module_file_name_ex() const { return get_module_file_name_ex_; }

 private:
  EnumProcessModulesFn enum_process_modules_ = nullptr;
  GetModuleNameFn get_module_base_name_ = nullptr;
  GetModuleNameFn get_module_file_name_ex_ = nullptr;
  DWORD last_error_ = 0;
  DWORD major_version_ = 0;
  DWORD minor_version_ = 0;
};
