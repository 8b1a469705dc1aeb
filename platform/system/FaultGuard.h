// Turns a processor fault on a thread into an ordinary failure of the guarded
// call, so that one faulty request or callback fails alone instead of taking
// the SNMP service down with it.
//
//   if (!platform::RunGuarded([&] { result = DoWork(); })) { ... record the failure ... }
//
// Inside RunGuarded a C++ exception and a SIGSEGV, SIGBUS, SIGFPE or SIGILL raised
// on the calling thread both end the body and make RunGuarded return false.  A
// fault leaves the body by a non-local jump: destructors of the body's locals do
// not run, so callers release what the body may still hold.  Outside a guard a
// fault keeps its default behaviour (the handlers pass it on).
#pragma once

#include <functional>

namespace platform {

// Installs the fault handlers once per process (counted); each Install needs a
// matching Remove, the last of which restores the previous handlers.
void InstallFaultHandlers();
void RemoveFaultHandlers();

// Returns true when body returned normally.  Guards nest.
bool RunGuarded(const std::function<void()>& body) noexcept;

// The signal number of the last fault that ended a guard on this thread, 0 if
// the last failure was an exception.
int LastGuardedFault();

}  // namespace platform
