// Message tables and message formatting.
#include "platform/eventlog/Messages.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/system/ElfSections.h"
#include "platform/system/Modules.h"
#include "platform/system/Threads.h"

namespace {

constexpr const char* kMessageSection = ".lorveth_messages";
constexpr size_t kMaxInsert = 99;
// Windows caps a formatted message at 64 KB; a width or precision beyond this
// one can only be a mistake, and would make one insert huge.
constexpr unsigned kMaxWidth = 4096;

bool ParseId(std::string_view text, DWORD& id) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  uint64_t value = 0;
  for (const char c : text) {
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return false;
    }
    value = value * base + digit;
    if (value > 0xFFFFFFFFu) return false;
  }
  id = static_cast<DWORD>(value);
  return true;
}

// Formats one argument by a printf conversion such as "u", "08X", "-10s".
bool FormatArgument(std::string_view spec, uintptr_t argument, std::string& out) {
  if (spec.empty() || spec.size() > 16) return false;
  const char conversion = spec.back();
  std::string_view body = spec.substr(0, spec.size() - 1);
  for (const std::string_view length : {"ll", "I64", "l", "h", "I"}) {
    if (body.size() >= length.size() && body.substr(body.size() - length.size()) == length) {
      body.remove_suffix(length.size());
      break;
    }
  }
  // flags, width, precision: "[-+ #0]*[0-9]*(.[0-9]*)?"; anything else is
  // refused before it reaches snprintf.
  size_t at = 0;
  while (at < body.size() && std::string_view("-+ #0").find(body[at]) != std::string_view::npos) {
    ++at;
  }
  for (int part = 0; part < 2; ++part) {
    if (part == 1) {
      if (at == body.size()) break;
      if (body[at] != '.') return false;
      ++at;
    }
    unsigned number = 0;
    while (at < body.size() && body[at] >= '0' && body[at] <= '9') {
      number = number * 10 + static_cast<unsigned>(body[at++] - '0');
      if (number > kMaxWidth) return false;
    }
  }
  if (at != body.size()) return false;
  const std::string format = "%" + std::string(body) + conversion;
  char text[2 * kMaxWidth + 64];
  int written = 0;
  switch (conversion) {
    case 's': {
      const char* value = reinterpret_cast<const char*>(argument);
      written = std::snprintf(text, sizeof text, format.c_str(), value != nullptr ? value : "");
      // A long text may exceed the scratch buffer: then it goes in whole.
      if (written >= static_cast<int>(sizeof text)) {
        std::vector<char> large(static_cast<size_t>(written) + 1);
        std::snprintf(large.data(), large.size(), format.c_str(), value != nullptr ? value : "");
        out.append(large.data(), static_cast<size_t>(written));
        return true;
      }
      break;
    }
    case 'd':
    case 'i':
    case 'c':
      written = std::snprintf(text, sizeof text, format.c_str(), static_cast<int>(argument));
      break;
    case 'u':
    case 'x':
    case 'X':
    case 'o':
      written = std::snprintf(text, sizeof text, format.c_str(), static_cast<unsigned>(argument));
      break;
    default:
      return false;
  }
  if (written < 0) return false;
  out.append(text, static_cast<size_t>(written) < sizeof text ? static_cast<size_t>(written)
                                                               : sizeof text - 1);
  return true;
}

}  // namespace

namespace platform {

std::optional<std::string_view> FindMessage(std::string_view table, DWORD id) {
  while (!table.empty()) {
    const size_t end = table.find('\n');
    std::string_view line = table.substr(0, end);
    table.remove_prefix(end == std::string_view::npos ? table.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const size_t bar = line.find('|');
    DWORD line_id = 0;
    if (bar == std::string_view::npos || !ParseId(line.substr(0, bar), line_id)) continue;
    if (line_id == id) return line.substr(bar + 1);
  }
  return std::nullopt;
}

DWORD ExpandMessage(std::string_view text, const uintptr_t* arguments, size_t argument_count,
                    bool ignore_inserts, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '%' || i + 1 == text.size()) {
      out.push_back(c);
      continue;
    }
    const char next = text[++i];
    if (next >= '1' && next <= '9') {
      const size_t start = i - 1;
      size_t number = static_cast<size_t>(next - '0');
      if (i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '9') {
        number = number * 10 + static_cast<size_t>(text[++i] - '0');
      }
      std::string_view spec = "s";
      if (i + 1 < text.size() && text[i + 1] == '!') {
        const size_t close = text.find('!', i + 2);
        if (close == std::string_view::npos) return ERROR_INVALID_PARAMETER;
        spec = text.substr(i + 2, close - i - 2);
        i = close;
      }
      if (ignore_inserts) {
        out.append(text.substr(start, i + 1 - start));
        continue;
      }
      if (arguments == nullptr || number > argument_count || number > kMaxInsert) {
        return ERROR_INVALID_PARAMETER;
      }
      if (!FormatArgument(spec, arguments[number - 1], out)) return ERROR_INVALID_PARAMETER;
      continue;
    }
    switch (next) {
      case '0':
        return ERROR_SUCCESS;
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case 't':
        out.push_back('\t');
        break;
      default:  // %% % . ! and space stand for themselves, as does any other
        out.push_back(next);
        break;
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace platform

DWORD FormatMessageA(DWORD flags, const void* source, DWORD message_id, DWORD /*language_id*/,
                     LPSTR buffer, DWORD size, va_list* arguments) {
  const DWORD known = FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_STRING |
                      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM |
                      FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_MAX_WIDTH_MASK;
  if ((flags & ~known) != 0 || buffer == nullptr ||
      ((flags & FORMAT_MESSAGE_FROM_STRING) != 0 && source == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string text;
  if ((flags & FORMAT_MESSAGE_FROM_STRING) != 0) {
    text = static_cast<const char*>(source);
  } else {
    std::string path;
    std::vector<unsigned char> table;
    auto* module = static_cast<HMODULE>(const_cast<void*>(source));
    if (module == nullptr) module = GetModuleHandleA(nullptr);
    const bool found_table =
        (flags & FORMAT_MESSAGE_FROM_HMODULE) != 0 && platform::ModuleFilePath(module, path) &&
        platform::ReadElfSection(path, kMessageSection, table) == platform::ElfResult::kOk;
    const std::optional<std::string_view> message =
        found_table ? platform::FindMessage(
                          std::string_view(reinterpret_cast<const char*>(table.data()), table.size()),
                          message_id)
                    : std::nullopt;
    // The system's own message texts are not available here.
    if (!message) {
      SetLastError(ERROR_MR_MID_NOT_FOUND);
      return 0;
    }
    text = *message;
  }
  const bool ignore_inserts = (flags & FORMAT_MESSAGE_IGNORE_INSERTS) != 0;
  // Only the array form of arguments is supported; a va_list cannot be walked
  // without knowing the types in advance.
  const uintptr_t* array = (flags & FORMAT_MESSAGE_ARGUMENT_ARRAY) != 0
                               ? reinterpret_cast<const uintptr_t*>(arguments)
                               : nullptr;
  std::string out;
  if (const DWORD error = platform::ExpandMessage(text, array, kMaxInsert, ignore_inserts, out);
      error != ERROR_SUCCESS) {
    SetLastError(error);
    return 0;
  }
  if (out.size() + 1 > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(buffer, out.c_str(), out.size() + 1);
  return static_cast<DWORD>(out.size());
}
