// Agent status codes and their texts, written to the registry at every change of
// the agent's lifecycle.
#pragma once

#include "platform/WinTypes.h"

enum class AgentStatus : DWORD {
  kLoaded = 1,
  kInitializing = 2,
  kStarting = 3,
  kStarted = 4,
  kStopping = 5,
  kShutdown = 6,
  kStopped = 7,
  kUnloading = 8,
  kUnloaded = 9,
  kExceptionInitializeMib = 11,
  kExceptionInit = 12,
  kExceptionClose = 13,
  kExceptionQuery = 14,
  kExceptionTrap = 15,
  kException = 16,
};

// The text stored for a status code; "unknown" for codes outside the table.
const char* AgentStatusText(DWORD code);
