// Message libraries and FormatMessageA.  A message library is a module file
// whose ELF section ".lorveth_messages" holds a message table as text, one
// message per line (lorveth_message_module() builds one; see
// docs/message-library.md):
//
//   # comment
//   0x80002FAA|Threshold warning on %1: rule %3 measured %4
//
//   HMODULE library = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
//   const char* args[] = {"srv1", "12:00", "cpu", "97"};
//   char text[1000];
//   FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, library,
//                  0x80002FAA, 0, text, sizeof text, platform::ArgumentArray(args));
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/WinTypes.h"

constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x00000400;
constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x00000800;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;
constexpr DWORD FORMAT_MESSAGE_ARGUMENT_ARRAY = 0x00002000;
constexpr DWORD FORMAT_MESSAGE_MAX_WIDTH_MASK = 0x000000FF;

// Formats message `message_id` of the module `source` (FORMAT_MESSAGE_FROM_HMODULE;
// nullptr: the executable) or the text `source` (FORMAT_MESSAGE_FROM_STRING)
// into buffer.  Inserts %1..%99 take their argument from the array `arguments`
// (FORMAT_MESSAGE_ARGUMENT_ARRAY: one pointer-sized entry per insert, a text
// pointer unless the insert says otherwise, as in %2!u!; a null text inserts
// nothing).  Escapes: %% % , %n new line ("\n"), %r, %t, "% ", %., %!, and %0
// ends the text.  The language is ignored: a library holds one language; the
// line-width bits (FORMAT_MESSAGE_MAX_WIDTH_MASK) are accepted and ignored.
// Returns the characters written without the terminator; 0 on failure with
// ERROR_MR_MID_NOT_FOUND (no module, no table, no such message),
// ERROR_INSUFFICIENT_BUFFER (nothing written) or ERROR_INVALID_PARAMETER
// (unsupported flags, inserts without an argument array, a bad insert format).
DWORD FormatMessageA(DWORD flags, const void* source, DWORD message_id, DWORD language_id,
                     LPSTR buffer, DWORD size, va_list* arguments);

namespace platform {

// An argument array in the type that FormatMessageA takes it, as Windows code
// casts it; the array is only read.
inline va_list* ArgumentArray(const char* const* texts) {
  return reinterpret_cast<va_list*>(const_cast<char**>(texts));
}
inline va_list* ArgumentArray(const uintptr_t* values) {
  return reinterpret_cast<va_list*>(const_cast<uintptr_t*>(values));
}

// The text of message `id` in a message table text, or none.  Lines that are not
// "id|text" (id decimal or 0x-hexadecimal, 32-bit) are skipped; the first line
// with the id counts.
std::optional<std::string_view> FindMessage(std::string_view table, DWORD id);

// Expands inserts and escapes of a message text; arguments[0] is %1.  An insert
// beyond `argument_count` is an error.  Returns 0 or the error code.
DWORD ExpandMessage(std::string_view text, const uintptr_t* arguments, size_t argument_count,
                    bool ignore_inserts, std::string& out);

}  // namespace platform
