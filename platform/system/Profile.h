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

namespace platform {

// The value of `key` in `section` of the initialization text `text`, or none.
std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key);

}  // namespace platform
