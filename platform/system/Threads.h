// Threads, events, mutexes, critical sections, waits, the tick count and the
// thread's last error, by their Windows names.
//
// A HANDLE names an event, a thread or a mutex; WaitForSingleObject waits on any
// of them and CloseHandle releases it (the object lives on while a thread runs).
// Events are backed by an eventfd that is readable exactly while the event is
// set, so that a host can poll it in its own main loop:
//
//   HANDLE trap = CreateEventA(nullptr, FALSE, FALSE, nullptr);
//   pollfd p{GetEventDescriptor(trap), POLLIN, 0};
//   ... poll(&p, 1, -1); WaitForSingleObject(trap, 0);  // consumes the signal
#pragma once

#include <cstddef>
#include <mutex>

#include "platform/WinTypes.h"

using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID);

constexpr DWORD CREATE_SUSPENDED = 0x00000004;

// The calling thread's last error; every platform call that fails sets it.
DWORD GetLastError();
void SetLastError(DWORD error);

// Milliseconds of a monotonic clock, in 32 bits (wraps after about 49.7 days).
DWORD GetTickCount();
void Sleep(DWORD milliseconds);

DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();

// Events.  Names are not supported (a name gives ERROR_INVALID_PARAMETER).
HANDLE CreateEventA(LPVOID attributes, BOOL manual_reset, BOOL initial_state, LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
// The descriptor that is readable while the event is set; -1 for other handles.
int GetEventDescriptor(HANDLE event);

// Threads.  stack_size 0 takes the default.  With CREATE_SUSPENDED the thread
// runs only after ResumeThread.  *thread_id (optional) receives the kernel id.
HANDLE CreateThread(LPVOID attributes, size_t stack_size, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD flags, DWORD* thread_id);
DWORD ResumeThread(HANDLE thread);
BOOL GetExitCodeThread(HANDLE thread, DWORD* exit_code);
DWORD GetThreadId(HANDLE thread);
// Names the thread for debuggers and ps (the kernel keeps the first 15 bytes).
BOOL SetThreadName(HANDLE thread, LPCSTR name);
// Linux cannot stop a thread safely from outside: the thread is abandoned
// instead.  Its handle becomes signalled with the given exit code at once, and
// the thread itself runs on, detached, until it returns.
BOOL TerminateThread(HANDLE thread, DWORD exit_code);

// Mutexes.  A named mutex is shared with other processes through a lock file
// under the runtime directory (flock: the kernel releases it when its holder
// dies); inside a process it is also a recursive timed mutex, so threads that
// share one handle exclude each other too.  WaitForSingleObject acquires it.
HANDLE CreateMutexA(LPVOID attributes, BOOL initial_owner, LPCSTR name);
BOOL ReleaseMutex(HANDLE mutex);

// WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.  INFINITE waits without limit.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL CloseHandle(HANDLE handle);

// Critical sections are recursive, as on Windows.
struct CRITICAL_SECTION {
  std::recursive_mutex mutex;
};
void InitializeCriticalSection(CRITICAL_SECTION* section);
void DeleteCriticalSection(CRITICAL_SECTION* section);
void EnterCriticalSection(CRITICAL_SECTION* section);
BOOL TryEnterCriticalSection(CRITICAL_SECTION* section);
void LeaveCriticalSection(CRITICAL_SECTION* section);

// Holds a critical section for the lifetime of the object.
class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CRITICAL_SECTION& section) : section_(section) {
    EnterCriticalSection(&section_);
  }
  ~CriticalSectionLock() { LeaveCriticalSection(&section_); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CRITICAL_SECTION& section_;
};

// Owns a HANDLE and closes it.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  HANDLE Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  HANDLE Release() {
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }
  void Reset(HANDLE handle = nullptr) {
    if (handle_ != nullptr) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};
