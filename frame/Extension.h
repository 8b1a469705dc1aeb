// Process-wide state of the loaded extension library: the module name, the
// shutdown and close-done flags, the switch permission flags and the one agent.
#pragma once

#include <atomic>

#include "platform/WinTypes.h"
#include "switch/VarnClient.h"

class CSnmpAgent;

struct ExtensionState {
  char module_name[MAX_PATH] = {};
  // Written by one thread and polled by others without a lock.
  std::atomic<DWORD> shutdown{0};
  std::atomic<DWORD> close_done{0};
  SwitchPermissionFlags switch_flags{};
  CSnmpAgent* agent = nullptr;
};

ExtensionState& Extension();

// The base name of a library path without directory and extension
// ("/usr/lib/lorveth/Lorveth_Agent.so" -> "Lorveth_Agent").
void SplitModuleName(const char* path, char* name, size_t size);

// Writes the three-line banner of a caught exception; `middle` is the line
// between the two rules of 78 "#".
void TraceExceptionBanner(const char* middle);

// Process attach and detach, run by the library's constructor and destructor
// (and callable from tests with an explicit module handle).
bool ProcessAttach(HMODULE module);
void ProcessDetach();

// Keeps an already loaded library mapped until the process ends.
void PinLibraryInMemory(const char* path);
