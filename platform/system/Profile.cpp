// Initialization file reading.  The file is read whole on every call, as the
// callers ask rarely and may change the file between calls.
#include "platform/system/Profile.h"

#include <cctype>
#include <fstream>
#include <iterator>

#include "platform/system/Paths.h"
#include "platform/system/Threads.h"
#include "platform/system/detail/Text.h"

namespace {

using platform::detail::EqualsNoCase;

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

struct Line {
  enum class Kind { kOther, kSection, kEntry } kind = Kind::kOther;
  std::string_view name;   // section name or key
  std::string_view value;  // entries only
};

Line ParseLine(std::string_view raw) {
  const std::string_view text = Trim(raw);
  Line line;
  if (text.empty() || text.front() == ';') return line;
  if (text.front() == '[') {
    const size_t close = text.find(']');
    // "[name" without a bracket still opens a section, as Windows reads it.
    line.kind = Line::Kind::kSection;
    line.name = Trim(text.substr(1, close == std::string_view::npos ? text.npos : close - 1));
    return line;
  }
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos) return line;
  line.kind = Line::Kind::kEntry;
  line.name = Trim(text.substr(0, equals));
  line.value = Trim(text.substr(equals + 1));
  return line;
}

// Calls visit(line) for every line of the text, without the line ending.
template <typename Visit>
void ForEachLine(std::string_view text, Visit visit) {
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  while (!text.empty()) {
    const size_t end = text.find('\n');
    if (!visit(ParseLine(text.substr(0, end)))) return;
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

// Calls visit(line) for the entries of the first section named `section`, until
// visit returns false; later sections of the same name are not searched.
template <typename Visit>
void ForEachEntry(std::string_view text, std::string_view section, Visit visit) {
  bool in_section = false;
  bool section_seen = false;
  ForEachLine(text, [&](const Line& line) {
    if (line.kind == Line::Kind::kSection) {
      if (in_section) return false;
      in_section = !section_seen && EqualsNoCase(line.name, section);
      section_seen = section_seen || in_section;
      return true;
    }
    return line.kind != Line::Kind::kEntry || !in_section || visit(line);
  });
}

std::string ReadFile(LPCSTR file) {
  if (file == nullptr) return {};
  std::ifstream stream(platform::ToNativePath(file), std::ios::binary);
  if (!stream) return {};
  return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

namespace platform {

std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key) {
  std::optional<std::string> result;
  ForEachEntry(text, section, [&](const Line& line) {
    if (!EqualsNoCase(line.name, key)) return true;
    result = std::string(line.value);
    return false;
  });
  return result;
}

}  // namespace platform

UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT default_value, LPCSTR file) {
  if (section == nullptr || key == nullptr) return static_cast<UINT>(default_value);
  const std::optional<std::string> value =
      platform::FindProfileValue(ReadFile(file), section, key);
  if (!value || value->empty()) return static_cast<UINT>(default_value);
  std::string_view text = Trim(Unquote(*value));
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // Unsigned arithmetic wraps on overflow, as the 32-bit result does.
  UINT number = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') break;
    number = number * 10u + static_cast<UINT>(c - '0');
  }
  return negative ? 0u - number : number;
}
