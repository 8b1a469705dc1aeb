// The process-wide trace facility.  Every subsystem writes its trace lines here;
// the settings (levels of the file, console and debugger targets, prefixes)
// come from the registry and may be re-read while the process runs.
//
//   TRACE(3, "\n%-20s: Starting MIB initialization thread...", module_name);
//
// Callers test the active flag before formatting anything (the TRACE macro does
// so), so a quiet process pays one load and one branch per call site.
#pragma once

#include <atomic>
#include <cstdarg>
#include <functional>
#include <string>

#include "platform/WinTypes.h"

class CFileDebug {
 public:
  // Receives every line that passes the level filter of at least one target,
  // or every line at all while capturing (see SetCapture): level and the text
  // with its prefixes, exactly as a target would get it.
  using CaptureSink = std::function<void(DWORD level, const std::string& text)>;

  CFileDebug();
  CFileDebug(const char* application_name, bool announce);
  ~CFileDebug();
  CFileDebug(const CFileDebug&) = delete;
  CFileDebug& operator=(const CFileDebug&) = delete;

  // Configures the instance under an application name, as constructing it with
  // that name would: stores the name, reads the settings and, when announce is
  // true and the facility is active, writes the "started at" banner.
  void Configure(const char* application_name, bool announce);

  // Writes one trace text.  Conversions: %s %d %u %X %x %c %ls %ws with flags,
  // width and precision (%04X, %-20s, ...); wide text is 16-bit.  The caller's
  // last-error value is preserved.
  void Print(DWORD level, const char* format, ...);
  void PrintV(DWORD level, const char* format, va_list args);

  bool IsActive() const { return active_.load(std::memory_order_relaxed) != 0; }

  // Test seam: while a sink is set, every line (all levels) also goes to it and
  // the facility counts as active.  Pass nullptr to stop capturing.
  void SetCapture(CaptureSink sink);

 private:
  friend class FileDebugTestAccess;
  struct Settings;

  std::atomic<DWORD> active_{0};
  CaptureSink capture_;
  std::string application_name_;
};

// The one process-wide instance, created on first use.
CFileDebug& GetTrace();

#define TRACE(level, ...)                                          \
  do {                                                             \
    CFileDebug& lorveth_trace_ = GetTrace();                       \
    if (lorveth_trace_.IsActive()) lorveth_trace_.Print((level), __VA_ARGS__); \
  } while (0)
