// Placeholder implementation of the trace facility: formats lines and hands them
// to a capture sink.  The registry-driven targets replace it.
#include "trace/FileDebug.h"

#include <cstdio>
#include <cstring>

#include "platform/Threads.h"

CFileDebug::CFileDebug() = default;

CFileDebug::CFileDebug(const char* application_name, bool announce) {
  Configure(application_name, announce);
}

CFileDebug::~CFileDebug() = default;

void CFileDebug::Configure(const char* application_name, bool /*announce*/) {
  application_name_ = application_name != nullptr ? application_name : "";
}

void CFileDebug::Print(DWORD level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintV(level, format, args);
  va_end(args);
}

namespace {

// Formats one conversion at a time so that %ls and %ws take 16-bit text, which
// the C library's printf would read as 32-bit wchar_t.
std::string FormatLine(const char* format, va_list args) {
  std::string out;
  char piece[512];
  for (const char* p = format; *p != 0;) {
    if (*p != '%') {
      out.push_back(*p++);
      continue;
    }
    const char* start = p++;
    while (*p != 0 && std::strchr("-+ #0", *p) != nullptr) ++p;
    while (*p >= '0' && *p <= '9') ++p;
    if (*p == '.') {
      ++p;
      while (*p >= '0' && *p <= '9') ++p;
    }
    std::string spec(start, p);  // flags, width and precision
    int longs = 0;
    bool wide = false;
    while (*p == 'l' || *p == 'h' || *p == 'w') {
      if (*p == 'l') ++longs;
      if (*p == 'w') wide = true;
      ++p;
    }
    const char conversion = *p;
    if (conversion == 0) break;
    ++p;
    switch (conversion) {
      case '%':
        out.push_back('%');
        continue;
      case 's':
        if (wide || longs > 0) {
          const auto* text = va_arg(args, const char16_t*);
          std::string narrow;
          for (; text != nullptr && *text != 0; ++text) {
            narrow.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
          }
          std::snprintf(piece, sizeof piece, (spec + "s").c_str(), narrow.c_str());
        } else {
          const char* text = va_arg(args, const char*);
          std::snprintf(piece, sizeof piece, (spec + "s").c_str(), text ? text : "(null)");
        }
        break;
      case 'd':
      case 'i':
      case 'c':
        if (longs >= 2) {
          std::snprintf(piece, sizeof piece, (spec + "ll" + conversion).c_str(),
                        va_arg(args, long long));
        } else if (longs == 1) {
          std::snprintf(piece, sizeof piece, (spec + "l" + conversion).c_str(),
                        va_arg(args, long));
        } else {
          std::snprintf(piece, sizeof piece, (spec + conversion).c_str(), va_arg(args, int));
        }
        break;
      case 'u':
      case 'x':
      case 'X':
      case 'o':
        if (longs >= 2) {
          std::snprintf(piece, sizeof piece, (spec + "ll" + conversion).c_str(),
                        va_arg(args, unsigned long long));
        } else if (longs == 1) {
          std::snprintf(piece, sizeof piece, (spec + "l" + conversion).c_str(),
                        va_arg(args, unsigned long));
        } else {
          std::snprintf(piece, sizeof piece, (spec + conversion).c_str(),
                        va_arg(args, unsigned));
        }
        break;
      case 'p':
        std::snprintf(piece, sizeof piece, "%p", va_arg(args, void*));
        break;
      default:
        out.append(start, p);
        continue;
    }
    out += piece;
  }
  return out;
}

}  // namespace

void CFileDebug::PrintV(DWORD level, const char* format, va_list args) {
  const DWORD saved_error = GetLastError();
  if (capture_) {
    va_list copy;
    va_copy(copy, args);
    const std::string line = FormatLine(format, copy);
    va_end(copy);
    capture_(level, line);
  }
  SetLastError(saved_error);
}

void CFileDebug::SetCapture(CaptureSink sink) {
  capture_ = std::move(sink);
  active_.store(capture_ ? 1 : 0, std::memory_order_relaxed);
}

CFileDebug& GetTrace() {
  static CFileDebug instance;
  return instance;
}
