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

#include <type_traits>
#include <utility>

namespace platform {

// Installs the fault handlers once per process (counted); each Install needs a
// matching Remove, the last of which restores the previous handlers.
void InstallFaultHandlers();
void RemoveFaultHandlers();

// Calls run(context) under a guard; true when it returned normally.  Guards
// nest.  Entering and leaving a guard makes no system call: the signal mask is
// put back only when a fault ends the guard.
bool RunGuardedCall(void (*run)(void*), void* context) noexcept;

// Runs body() under a guard (see RunGuardedCall); the body is called in place,
// without being copied or allocated.
template <class Body>
bool RunGuarded(Body&& body) noexcept {
  using Callable = std::remove_reference_t<Body>;
  return RunGuardedCall([](void* context) { (*static_cast<Callable*>(context))(); },
                        const_cast<void*>(static_cast<const void*>(&body)));
}

// The signal number of the last fault that ended a guard on this thread, 0 if
// the last failure was an exception.
int LastGuardedFault();

}  // namespace platform
