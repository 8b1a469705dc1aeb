// The .reg text format: a header line ("Windows Registry Editor Version 5.00"
// or "REGEDIT4"), then [HKEY_LOCAL_MACHINE\...] sections ([-...] deletes the
// key) with one value per line: "name" or @ (the default value), "=", and
// "text" (\\ and \" escaped), dword:0000000a, hex:.. (binary), hex(N):.. (type
// N; strings as UTF-16LE in version 5 files) or - (deletes the value).  Hex
// lists may continue on the next line after a trailing backslash.
//
//   regtool::RegDocument document;
//   const regtool::ParseResult result = regtool::ParseRegText(text, &document);
//   if (!result.ok) std::cerr << "line " << result.line << ": " << result.message;
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/WinTypes.h"

namespace regtool {

// A value as the registry stores it: strings in UTF-8 with their terminator.
struct RegValue {
  std::string name;
  DWORD type = 0;
  std::vector<BYTE> data;
  bool remove = false;
};

struct RegSection {
  std::string key;  // below HKEY_LOCAL_MACHINE, without the hive
  bool remove = false;
  std::vector<RegValue> values;
};

struct RegDocument {
  std::vector<RegSection> sections;
};

struct ParseResult {
  bool ok = true;
  size_t line = 0;  // 1-based line of the error
  std::string message;
};

// Accepts UTF-8 (with or without a byte-order mark) and UTF-16LE with its mark.
ParseResult ParseRegText(std::string_view bytes, RegDocument* document);
// Version 5 text in UTF-8 with LF line ends.
std::string WriteRegText(const RegDocument& document);

// "HKLM\X", "HKEY_LOCAL_MACHINE\X" or plain "X" -> "X"; "HKLM" alone -> "".
// Other hives, empty components and over-long names: none, with a reason.
std::optional<std::string> KeyBelowHive(std::string_view key, std::string* reason = nullptr);

// String value bytes (UTF-8) <-> the UTF-16LE form of version 5 files.
std::vector<BYTE> Utf8ToUtf16Le(const std::vector<BYTE>& utf8);
std::vector<BYTE> Utf16LeToUtf8(const std::vector<BYTE>& utf16);

}  // namespace regtool
