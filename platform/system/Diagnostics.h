// Process figures and the debugger output channel that the trace facility
// prints: on Linux the processor comes from the scheduler, memory and handle
// counts from /proc, and debugger strings go to the system log.
#pragma once

#include <optional>
#include <string_view>

#include "platform/WinTypes.h"

namespace platform {

struct MemoryUsage {
  DWORD private_kb = 0;      // anonymous resident memory (RssAnon)
  DWORD working_set_kb = 0;  // resident set (VmRSS)
};

// The processor the calling thread runs on (0 if unknown).
DWORD CurrentProcessorNumber();
std::optional<MemoryUsage> ProcessMemoryUsage();
// Open file descriptors of the process, the nearest thing to a handle count.
std::optional<DWORD> ProcessHandleCount();

// Sends one debugger string as a syslog entry at debug priority, tagged with
// ident.  The socket is $LORVETH_SYSLOG_SOCKET, default /dev/log; without a
// listening log daemon the string is lost, as debugger output is without a
// debugger.
void WriteDebugString(std::string_view ident, std::string_view text);

}  // namespace platform
