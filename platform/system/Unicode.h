// Conversions between UTF-8 (the system's narrow text) and UTF-16 (WCHAR text).
// Malformed input never fails: unpaired surrogates and invalid UTF-8 bytes
// become U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace platform
