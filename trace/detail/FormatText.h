// The trace facility's format engine, with the conversions of the Windows
// wsprintf family: %s %S %c %C %d %i %u %x %X %p %%, flags "-+ 0#", width and
// precision (digits or "*"), and length modifiers h (narrow), l and w (wide
// text; 32-bit numbers, as LONG is), ll and I64 (64-bit), z (size_t).
// Wide text is 16-bit (char16_t) and comes out as UTF-8.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

namespace trace::detail {

// Formats into buffer (size bytes, terminator included), cutting what does not
// fit.  Returns the length written.  An unknown conversion is copied as text.
size_t FormatText(char* buffer, size_t size, const char* format, va_list args);

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.  At most max_units code
// units are read, fewer if a zero comes first.
std::string Utf16ToUtf8(const char16_t* text, size_t max_units);

}  // namespace trace::detail
