// Placeholder implementation of the trace facility: formats lines and hands them
// to a capture sink.  The registry-driven targets replace it.
#include "trace/FileDebug.h"

#include <cstdio>

#include "platform/Threads.h"

CFileDebug::CFileDebug() = default;

CFileDebug::CFileDebug(const char* application_name, bool announce) {
  Configure(application_name, announce);
}

CFileDebug::~CFileDebug() = default;

void CFileDebug::Configure(const char* application_name, bool /*announce*/) {
  application_name_ = application_name != nullptr ? application_name : "";
}

void CFileDebug::Print(DWORD level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintV(level, format, args);
  va_end(args);
}

void CFileDebug::PrintV(DWORD level, const char* format, va_list args) {
  const DWORD saved_error = GetLastError();
  if (capture_) {
    char line[1200];
    std::vsnprintf(line, sizeof line, format, args);
    capture_(level, line);
  }
  SetLastError(saved_error);
}

void CFileDebug::SetCapture(CaptureSink sink) {
  capture_ = std::move(sink);
  active_.store(capture_ ? 1 : 0, std::memory_order_relaxed);
}

CFileDebug& GetTrace() {
  static CFileDebug instance;
  return instance;
}
