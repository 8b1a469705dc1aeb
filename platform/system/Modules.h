// Modules of the current process by their Windows names: listing them, their
// names, loading and unloading libraries and looking up their functions.
//
// An HMODULE is the module's base address, as GetModuleHandleFromAddress gives
// it; the first module listed is the executable.  Libraries are loaded with
// dlopen.  Naming a module that is already loaded, by its base name or path,
// takes a reference that keeps it loaded for the rest of the process
// (RTLD_NODELETE): the one caller that does so never gives that reference back.
//
//   HMODULE modules[256];
//   DWORD needed = 0;
//   EnumProcessModules(GetCurrentProcess(), modules, sizeof modules, &needed);
//   char name[MAX_PATH];
//   GetModuleBaseNameA(GetCurrentProcess(), modules[0], name, sizeof name);
#pragma once

#include <string>

#include "platform/WinTypes.h"

// Loads a file as data only: nothing of it runs and nothing it needs is loaded.
// Such a handle serves FormatMessageA and FreeLibrary, not GetProcAddress.
constexpr DWORD LOAD_LIBRARY_AS_DATAFILE = 0x00000002;

constexpr DWORD PROCESS_QUERY_INFORMATION = 0x0400;
constexpr DWORD PROCESS_VM_READ = 0x0010;

using FARPROC = void (*)();

// The pseudo handle of the current process; the module functions accept only it.
HANDLE GetCurrentProcess();

// Fills modules with up to size / sizeof(HMODULE) handles; *needed receives the
// bytes that all of them take.  Other processes: ERROR_INVALID_HANDLE.
BOOL EnumProcessModules(HANDLE process, HMODULE* modules, DWORD size, DWORD* needed);
// File name without directory / full path of a loaded module.  Return the
// length copied (without terminator), 0 on failure; a name that does not fit is
// cut and terminated.
DWORD GetModuleBaseNameA(HANDLE process, HMODULE module, LPSTR name, DWORD size);
DWORD GetModuleFileNameExA(HANDLE process, HMODULE module, LPSTR name, DWORD size);

// Loads a library by path or by name (searched as dlopen searches).  A module
// that is already loaded is found by its base name or path and locked loaded.
// Failure: nullptr with ERROR_MOD_NOT_FOUND (no such file) or ERROR_BAD_FORMAT.
HMODULE LoadLibraryA(LPCSTR file);
// flags 0 or LOAD_LIBRARY_AS_DATAFILE; reserved must be nullptr.
HMODULE LoadLibraryExA(LPCSTR file, HANDLE reserved, DWORD flags);
// Gives back one reference that LoadLibraryA or LoadLibraryExA took.
BOOL FreeLibrary(HMODULE module);
// The address of an exported function, nullptr with ERROR_PROC_NOT_FOUND.
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
// A loaded module by base name or path, without taking a reference; nullptr
// names the executable.
HMODULE GetModuleHandleA(LPCSTR name);

namespace platform {

// The file behind a module handle: the path of a loaded module or of a file
// loaded as data.  False for an unknown handle.
bool ModuleFilePath(HMODULE module, std::string& path);

}  // namespace platform
