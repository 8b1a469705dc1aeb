// CThread: the handle, id, name and last error of one worker thread, created
// suspended with a chosen stack size and waited for with a bound.
#pragma once

#include <string>

#include "platform/system/Threads.h"

class CThread {
 public:
  CThread() = default;
  ~CThread();
  CThread(const CThread&) = delete;
  CThread& operator=(const CThread&) = delete;

  // Names the thread; names longer than 31 characters are cut.
  void SetName(const char* name);
  const char* Name() const { return name_; }

  // Creates the thread suspended; false (with LastError) on failure.
  bool Create(LPTHREAD_START_ROUTINE procedure, LPVOID argument, size_t stack_size);
  bool Resume();
  // True while the thread has been created and has not ended.
  bool IsRunning() const;
  // WAIT_OBJECT_0 when the thread ended within the time, WAIT_TIMEOUT otherwise.
  DWORD Wait(DWORD milliseconds) const;
  // Abandons the thread (it cannot be stopped safely on Linux): its handle is
  // signalled with the exit code and closed.
  void Terminate(DWORD exit_code);
  void Close();

  HANDLE Handle() const { return handle_; }
  DWORD Id() const { return id_; }
  DWORD LastError() const { return last_error_; }
  void SetTerminateOnDestroy(bool terminate) { terminate_on_destroy_ = terminate; }

 private:
  HANDLE handle_ = nullptr;
  DWORD id_ = 0;
  DWORD last_error_ = 0;
  bool terminate_on_destroy_ = false;
  char name_[32] = {};
};
