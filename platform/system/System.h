// Process and host queries by their Windows names: module file names, the
// computer name and the local time.
#pragma once

#include "platform/WinTypes.h"

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

constexpr DWORD MAX_COMPUTERNAME_LENGTH = 15;

// The module (executable or shared library) that contains the address, or
// nullptr.  The handle stays valid while the module is loaded.
HMODULE GetModuleHandleFromAddress(const void* address);
// Full path of a module; nullptr names the executable.  Returns the length
// copied (without the terminator), 0 on failure; a path that does not fit is
// cut, terminated, and the call sets ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
// The host name up to its first dot, at most MAX_COMPUTERNAME_LENGTH characters.
// On entry *size is the buffer size; on success it holds the length.
BOOL GetComputerNameA(LPSTR buffer, DWORD* size);
void GetLocalTime(SYSTEMTIME* time);
