// Reading and writing .reg text.
#include "tools/reg/RegFile.h"

#include <cstdio>

#include "platform/system/Unicode.h"

namespace regtool {

namespace {

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHive = "HKEY_LOCAL_MACHINE";
constexpr std::string_view kHiveShort = "HKLM";
// Names are limited as in the registry itself.
constexpr size_t kMaxKeyName = 255;
constexpr size_t kMaxValueName = 16383;
// Continuation lines of hex data follow regedit's 80-column layout.
constexpr size_t kHexLineWidth = 80;

constexpr DWORD kRegSz = 1;
constexpr DWORD kRegExpandSz = 2;
constexpr DWORD kRegBinary = 3;
constexpr DWORD kRegDword = 4;
constexpr DWORD kRegMultiSz = 7;

bool IsStringType(DWORD type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (Lower(text[i]) != Lower(prefix[i])) return false;
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Text from a UTF-16LE file with its mark, or UTF-8 with or without one.
std::string DecodeFile(std::string_view bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::u16string wide;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      wide += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                    (static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return platform::Utf16ToUtf8(wide);
  }
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  return std::string(bytes);
}

// Reads a quoted string with \\ and \" escapes starting at text[0] == '"';
// returns the rest after the closing quote.
bool ReadQuoted(std::string_view text, std::string* out, std::string_view* rest) {
  out->clear();
  for (size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      *rest = text.substr(i + 1);
      return true;
    }
    if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
      *out += text[++i];
    } else {
      *out += c;
    }
  }
  return false;
}

bool ReadHexList(std::string_view text, std::vector<BYTE>* bytes, std::string* message) {
  bytes->clear();
  text = Trim(text);
  if (text.empty()) return true;
  while (true) {
    const size_t comma = text.find(',');
    const std::string_view item = Trim(text.substr(0, comma));
    if (item.empty() || item.size() > 2 || HexDigit(item[0]) < 0 ||
        (item.size() == 2 && HexDigit(item[1]) < 0)) {
      *message = "bad byte \"" + std::string(item.substr(0, 8)) + "\" in hex data";
      return false;
    }
    bytes->push_back(static_cast<BYTE>(item.size() == 2 ? HexDigit(item[0]) * 16 + HexDigit(item[1])
                                                        : HexDigit(item[0])));
    if (comma == std::string_view::npos) return true;
    text.remove_prefix(comma + 1);
  }
}

bool ParseData(std::string_view data, bool version5, RegValue* value, std::string* message) {
  data = Trim(data);
  if (data == "-") {
    value->remove = true;
    return true;
  }
  if (!data.empty() && data.front() == '"') {
    std::string text;
    std::string_view rest;
    if (!ReadQuoted(data, &text, &rest)) {
      *message = "string without its closing quote";
      return false;
    }
    if (!Trim(rest).empty()) {
      *message = "unexpected text after the string";
      return false;
    }
    value->type = kRegSz;
    value->data.assign(text.begin(), text.end());
    value->data.push_back(0);
    return true;
  }
  if (StartsWithNoCase(data, "dword:")) {
    const std::string_view digits = data.substr(6);
    if (digits.empty() || digits.size() > 8) {
      *message = "dword needs 1 to 8 hex digits";
      return false;
    }
    DWORD number = 0;
    for (char c : digits) {
      if (HexDigit(c) < 0) {
        *message = "bad hex digit in dword";
        return false;
      }
      number = number * 16 + static_cast<DWORD>(HexDigit(c));
    }
    value->type = kRegDword;
    value->data = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
                   static_cast<BYTE>(number >> 16), static_cast<BYTE>(number >> 24)};
    return true;
  }
  if (StartsWithNoCase(data, "hex")) {
    std::string_view rest = data.substr(3);
    DWORD type = kRegBinary;
    if (!rest.empty() && rest.front() == '(') {
      const size_t close = rest.find(')');
      if (close == std::string_view::npos || close == 1 || close > 9) {
        *message = "bad type in hex(...)";
        return false;
      }
      type = 0;
      for (char c : rest.substr(1, close - 1)) {
        if (HexDigit(c) < 0) {
          *message = "bad type in hex(...)";
          return false;
        }
        type = type * 16 + static_cast<DWORD>(HexDigit(c));
      }
      rest.remove_prefix(close + 1);
    }
    if (rest.empty() || rest.front() != ':') {
      *message = "hex data needs a \":\"";
      return false;
    }
    std::vector<BYTE> bytes;
    if (!ReadHexList(rest.substr(1), &bytes, message)) return false;
    if (version5 && IsStringType(type)) {
      if (bytes.size() % 2 != 0) {
        *message = "string data in UTF-16 needs an even number of bytes";
        return false;
      }
      bytes = Utf16LeToUtf8(bytes);
    }
    value->type = type;
    value->data = std::move(bytes);
    return true;
  }
  *message = "unknown value data \"" + std::string(data.substr(0, 16)) + "\"";
  return false;
}

std::string Escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

// A REG_SZ that can be written as quoted text: one terminator at the end, no
// other zero, no line break and valid UTF-8 (so that it reads back the same).
bool QuotableString(const std::vector<BYTE>& data) {
  if (data.empty() || data.back() != 0) return false;
  const std::string text(data.begin(), data.end() - 1);
  if (text.find_first_of(std::string("\0\r\n", 3)) != std::string::npos) return false;
  return platform::Utf16ToUtf8(platform::Utf8ToUtf16(text)) == text;
}

void AppendHex(std::string& line, std::string& out, const std::vector<BYTE>& bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02x", bytes[i]);
    line += hex;
    if (i + 1 < bytes.size()) {
      line += ',';
      if (line.size() >= kHexLineWidth - 4) {
        out += line + "\\\n";
        line = "  ";
      }
    }
  }
}

}  // namespace

std::vector<BYTE> Utf8ToUtf16Le(const std::vector<BYTE>& utf8) {
  const std::u16string wide = platform::Utf8ToUtf16(
      std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
  std::vector<BYTE> bytes;
  bytes.reserve(wide.size() * 2);
  for (char16_t unit : wide) {
    bytes.push_back(static_cast<BYTE>(unit & 0xFF));
    bytes.push_back(static_cast<BYTE>(unit >> 8));
  }
  return bytes;
}

std::vector<BYTE> Utf16LeToUtf8(const std::vector<BYTE>& utf16) {
  std::u16string wide;
  for (size_t i = 0; i + 1 < utf16.size(); i += 2) {
    wide += static_cast<char16_t>(utf16[i] | (utf16[i + 1] << 8));
  }
  const std::string text = platform::Utf16ToUtf8(wide);
  return std::vector<BYTE>(text.begin(), text.end());
}

std::optional<std::string> KeyBelowHive(std::string_view key, std::string* reason) {
  std::string ignored;
  std::string& why = reason != nullptr ? *reason : ignored;
  for (std::string_view hive : {kHive, kHiveShort}) {
    if (StartsWithNoCase(key, hive) && (key.size() == hive.size() || key[hive.size()] == '\\')) {
      key.remove_prefix(std::min(key.size(), hive.size() + 1));
      break;
    }
  }
  if (StartsWithNoCase(key, "HKEY_") || StartsWithNoCase(key, "HKCU") ||
      StartsWithNoCase(key, "HKCR") || StartsWithNoCase(key, "HKU\\") || key == "HKU" ||
      StartsWithNoCase(key, "HKCC")) {
    why = "only HKEY_LOCAL_MACHINE is available";
    return std::nullopt;
  }
  if (!key.empty() && key.back() == '\\') key.remove_suffix(1);
  std::string_view rest = key;
  while (!rest.empty()) {
    const size_t slash = rest.find('\\');
    const std::string_view part = rest.substr(0, slash);
    if (part.empty()) {
      why = "empty key name in the path";
      return std::nullopt;
    }
    if (part.size() > kMaxKeyName) {
      why = "key name longer than 255 characters";
      return std::nullopt;
    }
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
    if (rest.empty()) {
      why = "empty key name in the path";
      return std::nullopt;
    }
  }
  return std::string(key);
}

ParseResult ParseRegText(std::string_view bytes, RegDocument* document) {
  document->sections.clear();
  const std::string text = DecodeFile(bytes);
  std::vector<std::string_view> lines;
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(std::string_view(text).substr(start, end - start));
    if (end == text.size()) break;
    start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
  }
  const auto error = [](size_t line, std::string message) {
    return ParseResult{false, line, std::move(message)};
  };

  size_t index = 0;
  while (index < lines.size() && Trim(lines[index]).empty()) ++index;
  if (index == lines.size()) return error(1, "empty file");
  const std::string_view header = Trim(lines[index]);
  const bool version5 = header == kHeader5;
  if (!version5 && header != kHeader4) {
    return error(index + 1,
                 "not a registry file: the first line must be \"" + std::string(kHeader5) + "\"");
  }
  RegSection* section = nullptr;
  for (++index; index < lines.size(); ++index) {
    const size_t line_number = index + 1;
    std::string_view line = Trim(lines[index]);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line.back() != ']') return error(line_number, "section without its closing \"]\"");
      std::string_view name = line.substr(1, line.size() - 2);
      RegSection next;
      if (!name.empty() && name.front() == '-') {
        next.remove = true;
        name.remove_prefix(1);
      }
      if (!StartsWithNoCase(name, kHive) && !StartsWithNoCase(name, kHiveShort)) {
        return error(line_number, "only HKEY_LOCAL_MACHINE keys can be imported");
      }
      std::string reason;
      const std::optional<std::string> key = KeyBelowHive(name, &reason);
      if (!key) return error(line_number, reason);
      if (key->empty() && next.remove) {
        return error(line_number, "HKEY_LOCAL_MACHINE itself cannot be deleted");
      }
      next.key = *key;
      document->sections.push_back(std::move(next));
      section = &document->sections.back();
      continue;
    }
    if (line.front() != '"' && line.front() != '@') {
      return error(line_number, "expected a [key] or a \"name\"=value line");
    }
    if (section == nullptr) return error(line_number, "value before the first [key]");
    if (section->remove) return error(line_number, "value under a deleted key");
    if (section->key.empty())
      return error(line_number, "HKEY_LOCAL_MACHINE itself holds no values");

    RegValue value;
    std::string_view rest;
    if (line.front() == '@') {
      rest = line.substr(1);
    } else if (!ReadQuoted(line, &value.name, &rest)) {
      return error(line_number, "value name without its closing quote");
    }
    if (value.name.size() > kMaxValueName) return error(line_number, "value name too long");
    rest = Trim(rest);
    if (rest.empty() || rest.front() != '=')
      return error(line_number, "expected \"=\" after the name");
    rest.remove_prefix(1);
    // Hex lists continue over lines that end in a backslash.
    std::string data(Trim(rest));
    while (StartsWithNoCase(data, "hex") && !data.empty() && data.back() == '\\') {
      data.pop_back();
      if (++index == lines.size())
        return error(index, "hex data continues past the end of the file");
      data += Trim(lines[index]);
    }
    std::string message;
    if (!ParseData(data, version5, &value, &message)) return error(line_number, message);
    section->values.push_back(std::move(value));
  }
  return ParseResult{};
}

std::string WriteRegText(const RegDocument& document) {
  std::string out = std::string(kHeader5) + "\n";
  for (const RegSection& section : document.sections) {
    out += "\n[";
    if (section.remove) out += '-';
    out += std::string(kHive);
    if (!section.key.empty()) out += "\\" + section.key;
    out += "]\n";
    for (const RegValue& value : section.values) {
      std::string line = value.name.empty() ? "@=" : "\"" + Escape(value.name) + "\"=";
      if (value.remove) {
        out += line + "-\n";
        continue;
      }
      if (value.type == kRegSz && QuotableString(value.data)) {
        out += line + "\"" +
               Escape(std::string_view(reinterpret_cast<const char*>(value.data.data()),
                                       value.data.size() - 1)) +
               "\"\n";
        continue;
      }
      if (value.type == kRegDword && value.data.size() == 4) {
        char number[16];
        std::snprintf(
            number, sizeof number, "dword:%08x",
            static_cast<unsigned>(value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                                  (static_cast<DWORD>(value.data[3]) << 24)));
        out += line + number + "\n";
        continue;
      }
      if (value.type == kRegBinary) {
        line += "hex:";
      } else {
        char type[24];
        std::snprintf(type, sizeof type, "hex(%x):", static_cast<unsigned>(value.type));
        line += type;
      }
      AppendHex(line, out, IsStringType(value.type) ? Utf8ToUtf16Le(value.data) : value.data);
      out += line + "\n";
    }
  }
  out += "\n";
  return out;
}

}  // namespace regtool
