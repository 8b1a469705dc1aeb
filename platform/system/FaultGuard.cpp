// Processor faults inside guarded calls become failures of those calls.
#include "platform/system/FaultGuard.h"

#include <setjmp.h>
#include <signal.h>
#include <ucontext.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace platform {

namespace {

struct Guard {
  sigjmp_buf env;
  Guard* outer;
};

// A thread's slots are allocated when it first enters a guard, so the handler
// finds them in place on every thread that can be inside one.  (The
// initial-exec model would avoid even that, but a library loaded with dlopen
// cannot count on static TLS space.)
thread_local Guard* t_guard = nullptr;
thread_local int t_last_fault = 0;

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
struct sigaction g_previous[sizeof kSignals / sizeof kSignals[0]];
std::mutex g_install_mutex;
int g_install_count = 0;

int IndexOf(int signal_number) {
  for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
    if (kSignals[i] == signal_number) return static_cast<int>(i);
  }
  return -1;
}

void OnFault(int signal_number, siginfo_t* info, void* context) {
  Guard* guard = t_guard;
  if (guard != nullptr) {
    t_guard = guard->outer;
    t_last_fault = signal_number;
    // The guard saved no signal mask on entry (that would be a system call on
    // every guarded call); the interrupted code's mask is restored here, on
    // the way out, in case the handler ran with more signals blocked.
    if (context != nullptr) {
      pthread_sigmask(SIG_SETMASK, &static_cast<ucontext_t*>(context)->uc_sigmask, nullptr);
    }
    siglongjmp(guard->env, signal_number);
  }
  // Not inside a guard: hand the fault to whoever handled it before us, or
  // let the default action happen when the faulting instruction runs again.
  const int index = IndexOf(signal_number);
  const struct sigaction& previous = g_previous[index];
  if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
    previous.sa_sigaction(signal_number, info, context);
    return;
  }
  if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN &&
      previous.sa_handler != nullptr) {
    previous.sa_handler(signal_number);
    return;
  }
  signal(signal_number, SIG_DFL);
}

}  // namespace

void InstallFaultHandlers() {
  std::lock_guard lock(g_install_mutex);
  if (g_install_count++ > 0) return;
  struct sigaction action {};
  action.sa_sigaction = &OnFault;
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
    sigaction(kSignals[i], &action, &g_previous[i]);
  }
}

void RemoveFaultHandlers() {
  std::lock_guard lock(g_install_mutex);
  if (g_install_count == 0 || --g_install_count > 0) return;
  for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
    sigaction(kSignals[i], &g_previous[i], nullptr);
  }
}

bool RunGuardedCall(void (*run)(void*), void* context) noexcept {
  Guard guard;
  guard.outer = t_guard;
  if (sigsetjmp(guard.env, 0) != 0) {
    // Reached through the fault handler, which already unlinked this guard.
    return false;
  }
  t_guard = &guard;
  bool completed = false;
  try {
    run(context);
    completed = true;
  } catch (...) {
    t_last_fault = 0;
  }
  t_guard = guard.outer;
  return completed;
}

int LastGuardedFault() { return t_last_fault; }

}  // namespace platform
