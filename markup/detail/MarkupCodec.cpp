// The two text codecs: references out (EscapeText) and in (UnescapeText,
// AppendUnescaped).
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "markup/MarkupDocument.h"

namespace {

struct NamedReference {
  std::string_view name;  // after '&', including ';'
  char value;
};
constexpr NamedReference kNamedReferences[] = {
    {"lt;", '<'}, {"amp;", '&'}, {"gt;", '>'}, {"apos;", '\''}, {"quot;", '"'}};

// Longest digit run between "&#" (or "&#x") and ';'.  The bound keeps the scan
// for ';' constant-time, so a long run of '&' characters stays linear.
constexpr size_t kMaxReferenceDigits = 7;

void AppendUtf8(std::string& out, uint32_t value) {
  if (value < 0x80) {
    out += static_cast<char>(value);
  } else if (value < 0x800) {
    out += static_cast<char>(0xC0 | (value >> 6));
    out += static_cast<char>(0x80 | (value & 0x3F));
  } else if (value < 0x10000) {
    out += static_cast<char>(0xE0 | (value >> 12));
    out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (value & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (value >> 18));
    out += static_cast<char>(0x80 | ((value >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (value & 0x3F));
  }
}

int DigitValue(char c, bool hex) {
  if (c >= '0' && c <= '9') return c - '0';
  if (!hex) return -1;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string MarkupDocument::EscapeText(std::string_view text, bool attribute) {
  std::string out;
  out.reserve(text.size() + text.size() / 10 + 7);
  for (const char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '&': out += "&amp;"; break;
      case '>': out += "&gt;"; break;
      case '\'':
        if (attribute) out += "&apos;"; else out += c;
        break;
      case '"':
        if (attribute) out += "&quot;"; else out += c;
        break;
      default: out += c; break;
    }
  }
  return out;
}

// Numeric references decode to UTF-8: one byte below 0x80, two below 0x800,
// three below 0x10000 and four up to 0x10FFFF.  A value of 0 or above 0x10FFFF
// (the largest code point) is not decoded: its '&' is copied as a character.
std::string MarkupDocument::UnescapeText(std::string_view text, int64_t length) {
  std::string out;
  AppendUnescaped(length < 0 ? text : text.substr(0, static_cast<uint64_t>(length)), &out);
  return out;
}

void MarkupDocument::AppendUnescaped(std::string_view text, std::string* target) {
  if (text.find('&') == std::string_view::npos) {
    target->append(text);
    return;
  }
  const size_t n = text.size();
  const char* s = text.data();
  std::string& out = *target;
  out.reserve(out.size() + n);
  size_t i = 0;
  while (i < n) {
    const void* hit = std::memchr(s + i, '&', n - i);
    if (hit == nullptr) {
      out.append(s + i, n - i);
      break;
    }
    const size_t amp = static_cast<const char*>(hit) - s;
    out.append(s + i, amp - i);
    i = amp;
    const std::string_view rest(s + amp + 1, n - amp - 1);

    bool decoded = false;
    for (const NamedReference& ref : kNamedReferences) {
      if (rest.size() >= ref.name.size() && rest.compare(0, ref.name.size(), ref.name) == 0) {
        out += ref.value;
        i = amp + 1 + ref.name.size();
        decoded = true;
        break;
      }
    }
    if (decoded) continue;

    if (!rest.empty() && rest[0] == '#') {
      size_t p = 1;
      const bool hex = p < rest.size() && rest[p] == 'x';
      if (hex) ++p;
      const size_t limit = std::min(rest.size(), p + kMaxReferenceDigits + 1);
      size_t semi = p;
      while (semi < limit && rest[semi] != ';') ++semi;
      if (semi < limit) {
        uint32_t value = 0;
        for (size_t d = p; d < semi; ++d) {
          const int digit = DigitValue(rest[d], hex);
          if (digit < 0) break;
          value = value * (hex ? 16 : 10) + static_cast<uint32_t>(digit);
        }
        if (value != 0 && value <= 0x10FFFF) {
          AppendUtf8(out, value);
          i = amp + 1 + semi + 1;
          continue;
        }
      }
    }
    out += '&';
    ++i;
  }
}
