// Worker thread object of the agent.
#include "frame/Thread.h"

#include <cstdio>

CThread::~CThread() {
  if (handle_ == nullptr) return;
  if (Wait(10) == WAIT_TIMEOUT && terminate_on_destroy_) {
    if (Wait(5000) == WAIT_TIMEOUT) TerminateThread(handle_, 0);
  }
  Close();
}

void CThread::SetName(const char* name) {
  std::snprintf(name_, sizeof name_, "%s", name != nullptr ? name : "");
}

bool CThread::Create(LPTHREAD_START_ROUTINE procedure, LPVOID argument, size_t stack_size) {
  Close();
  handle_ = CreateThread(nullptr, stack_size, procedure, argument, CREATE_SUSPENDED, &id_);
  if (handle_ == nullptr) {
    last_error_ = GetLastError();
    return false;
  }
  if (name_[0] != '\0') SetThreadName(handle_, name_);
  return true;
}

bool CThread::Resume() {
  if (handle_ == nullptr) return false;
  return ResumeThread(handle_) != static_cast<DWORD>(-1);
}

bool CThread::IsRunning() const {
  return handle_ != nullptr && WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT;
}

DWORD CThread::Wait(DWORD milliseconds) const {
  if (handle_ == nullptr) return WAIT_OBJECT_0;
  return WaitForSingleObject(handle_, milliseconds);
}

void CThread::Terminate(DWORD exit_code) {
  if (handle_ == nullptr) return;
  TerminateThread(handle_, exit_code);
  Close();
}

void CThread::Close() {
  if (handle_ != nullptr) CloseHandle(handle_);
  handle_ = nullptr;
}
