// The process-wide trace facility.  Every subsystem writes its trace lines here;
// the settings (levels of the file, console and debugger targets, prefixes)
// come from the registry (SOFTWARE\Debug and SOFTWARE\Debug\<application>)
// and may be re-read while the process runs.
//
//   TRACE(3, "\n%-20s: Starting MIB initialization thread...", module_name);
//
// Callers test the active flag before formatting anything (the TRACE macro does
// so), so a quiet process pays one load and one branch per call site.
#pragma once

#include <atomic>
#include <cstdarg>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/WinTypes.h"

class CFileDebug {
 public:
  // Receives every line that passes the level filter of at least one target,
  // or every line at all while capturing (see SetCapture): level and the text
  // with its prefixes, exactly as a target would get it.
  using CaptureSink = std::function<void(DWORD level, const std::string& text)>;
  // Milliseconds, wrapping at 32 bits like GetTickCount.
  using TickSource = std::function<DWORD()>;

  CFileDebug();
  CFileDebug(const char* application_name, bool announce);
  ~CFileDebug();
  CFileDebug(const CFileDebug&) = delete;
  CFileDebug& operator=(const CFileDebug&) = delete;

  // Configures the instance under an application name, as constructing it with
  // that name would: stores the name, reads the settings and, when announce is
  // true and the facility is active, writes the "started at" banner.
  void Configure(const char* application_name, bool announce);

  // Writes one trace text.  Conversions: %s %d %i %u %x %X %c %p %ls %ws with
  // flags, width and precision (%04X, %-20s, ...); wide text is 16-bit.  The
  // formatted part is cut at 1,024 characters.  The caller's last-error value
  // is preserved.  Any thread may call it.
  void Print(DWORD level, const char* format, ...);
  void PrintV(DWORD level, const char* format, va_list args);

  bool IsActive() const { return active_.load(std::memory_order_relaxed) != 0; }

  // Lets go of the trace file's lock and falls quiet until configured again.
  // The library's unload calls it after its last line, so that the lock file
  // does not stay open in the process.
  void Close();

  // Test seam: while a sink is set, every line (all levels) also goes to it and
  // the facility counts as active.  Pass nullptr to stop capturing.
  void SetCapture(CaptureSink sink);

  // Test seam: the clock that paces the DynamicUpdate re-reading; nullptr
  // restores GetTickCount.
  void SetTickSource(TickSource tick_count);

 private:
  friend class FileDebugTestAccess;
  struct Settings;

  DWORD Now() const;
  // Reads the registry into a new settings generation; mutex_ held.
  void ReadSettingsLocked(DWORD now);
  void UpdateActiveLocked();
  void WriteFile(const Settings& settings, const std::string& text) const;

  std::atomic<DWORD> active_{0};
  mutable std::mutex mutex_;  // guards everything below
  CaptureSink capture_;
  TickSource tick_source_;
  std::string application_name_;
  // Replaced as a whole on every reading, so that a line being written keeps
  // the file name and mutex it started with.
  std::shared_ptr<const Settings> settings_;
  DWORD last_read_ = 0;  // tick count / 1,024 at the last reading
};

// The one process-wide instance, created on first use and never destroyed (so
// that the destructors of other objects may still trace).
inline CFileDebug& GetTrace() {
  static CFileDebug* instance = new CFileDebug;
  return *instance;
}

#define TRACE(level, ...)                                                      \
  do {                                                                         \
    CFileDebug& lorveth_trace_ = GetTrace();                                   \
    if (lorveth_trace_.IsActive()) lorveth_trace_.Print((level), __VA_ARGS__); \
  } while (0)
