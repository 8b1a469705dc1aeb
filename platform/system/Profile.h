// Initialization files by their Windows names: "[section]" headers, "key=value"
// lines and ";" comment lines.  Sections and keys match without regard to case;
// names and values lose their leading and trailing blanks; the first matching
// section, and in it the first matching key, counts.
//
//   const UINT value = GetPrivateProfileIntA("TrapTable", "2201", 1, "/etc/traps.ini");
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/WinTypes.h"

// The value as an integer: leading blanks, an optional sign and the decimal
// digits that follow ("12abc" is 12, "abc" is 0, "-3" is (UINT)-3).  The default
// when the file, the section or the key is missing or the value is empty.
UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT default_value, LPCSTR file);

// Copies the value (one pair of enclosing quotes removed) or the default (its
// trailing blanks removed; nullptr counts as "") into buffer.  Returns the
// characters copied without the terminator; a value that does not fit is cut
// to size - 1.  With key nullptr the buffer receives the section's key names,
// with section nullptr the section names, each terminated, plus a final
// terminator; when they do not fit the result is size - 2.  A "\" in the file
// path is taken as "/"; a missing file reads as empty.
DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR default_value, LPSTR buffer,
                               DWORD size, LPCSTR file);

namespace platform {

// The value of `key` in `section` of the initialization text `text`, or none.
std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key);

}  // namespace platform
