// A small printf engine with wsprintf's conversions.
#include "trace/detail/FormatText.h"

#include <cstdint>
#include <string_view>

#include "platform/system/Unicode.h"

namespace trace::detail {

namespace {

class Output {
 public:
  Output(char* buffer, size_t size) : buffer_(buffer), capacity_(size > 0 ? size - 1 : 0) {}
  void Put(char c) {
    if (length_ < capacity_) buffer_[length_++] = c;
  }
  void Put(std::string_view text) {
    for (char c : text) Put(c);
  }
  void Repeat(char c, size_t count) {
    for (size_t i = 0; i < count; ++i) Put(c);
  }
  size_t Finish(size_t size) {
    if (size > 0) buffer_[length_] = '\0';
    return length_;
  }

 private:
  char* buffer_;
  size_t capacity_;
  size_t length_ = 0;
};

struct Directive {
  bool left = false;
  bool plus = false;
  bool space = false;
  bool zero = false;
  bool alternate = false;
  int width = 0;
  int precision = -1;
  enum class Length { kDefault, kShort, kLong, kLongLong, kSize } length = Length::kDefault;
  bool wide = false;    // l or w on s/c
  bool narrow = false;  // h on s/c
};

void PutPadded(Output& out, const Directive& directive, std::string_view text, size_t visible) {
  const size_t width = directive.width > 0 ? static_cast<size_t>(directive.width) : 0;
  const size_t pad = width > visible ? width - visible : 0;
  if (!directive.left) out.Repeat(' ', pad);
  out.Put(text);
  if (directive.left) out.Repeat(' ', pad);
}

void PutNumber(Output& out, const Directive& directive, uint64_t magnitude, bool negative,
               unsigned base, bool upper) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char reversed[32];
  size_t count = 0;
  while (magnitude != 0) {
    reversed[count++] = digits[magnitude % base];
    magnitude /= base;
  }
  std::string body;
  const size_t min_digits = directive.precision >= 0 ? static_cast<size_t>(directive.precision) : 1;
  if (count < min_digits) body.append(min_digits - count, '0');
  while (count > 0) body += reversed[--count];

  std::string prefix;
  if (negative) {
    prefix = "-";
  } else if (base == 10 && directive.plus) {
    prefix = "+";
  } else if (base == 10 && directive.space) {
    prefix = " ";
  } else if (base == 16 && directive.alternate && !body.empty() &&
             body != std::string(body.size(), '0')) {
    prefix = upper ? "0X" : "0x";
  }
  const size_t width = directive.width > 0 ? static_cast<size_t>(directive.width) : 0;
  const size_t length = prefix.size() + body.size();
  if (directive.zero && !directive.left && directive.precision < 0 && width > length) {
    body.insert(0, width - length, '0');
  }
  const std::string text = prefix + body;
  PutPadded(out, directive, text, text.size());
}

}  // namespace

std::string Utf16ToUtf8(const char16_t* text, size_t max_units) {
  size_t units = 0;
  while (units < max_units && text[units] != 0) ++units;
  return platform::Utf16ToUtf8(std::u16string_view(text, units));
}

size_t FormatText(char* buffer, size_t size, const char* format, va_list args) {
  Output out(buffer, size);
  if (format == nullptr) return out.Finish(size);
  const char* p = format;
  while (*p != '\0') {
    if (*p != '%') {
      out.Put(*p++);
      continue;
    }
    const char* start = p++;
    Directive directive;
    for (;; ++p) {
      if (*p == '-') {
        directive.left = true;
      } else if (*p == '+') {
        directive.plus = true;
      } else if (*p == ' ') {
        directive.space = true;
      } else if (*p == '0') {
        directive.zero = true;
      } else if (*p == '#') {
        directive.alternate = true;
      } else {
        break;
      }
    }
    // Widths are bounded so that a hostile format cannot overflow an int.
    constexpr int kMaxWidth = 4096;
    if (*p == '*') {
      directive.width = va_arg(args, int);
      if (directive.width < 0) {
        directive.left = true;
        directive.width = directive.width == INT32_MIN ? kMaxWidth : -directive.width;
      }
      ++p;
    } else {
      while (*p >= '0' && *p <= '9') {
        if (directive.width < kMaxWidth) directive.width = directive.width * 10 + (*p - '0');
        ++p;
      }
    }
    if (directive.width > kMaxWidth) directive.width = kMaxWidth;
    if (*p == '.') {
      ++p;
      directive.precision = 0;
      if (*p == '*') {
        directive.precision = va_arg(args, int);
        if (directive.precision < 0) directive.precision = -1;
        ++p;
      } else {
        while (*p >= '0' && *p <= '9') {
          if (directive.precision < kMaxWidth)
            directive.precision = directive.precision * 10 + (*p - '0');
          ++p;
        }
      }
      if (directive.precision > kMaxWidth) directive.precision = kMaxWidth;
    }
    if (*p == 'h') {
      directive.length = Directive::Length::kShort;
      directive.narrow = true;
      ++p;
      if (*p == 'h') ++p;
    } else if (*p == 'l' && p[1] == 'l') {
      directive.length = Directive::Length::kLongLong;
      p += 2;
    } else if (*p == 'l' || *p == 'w') {
      directive.length = Directive::Length::kLong;
      directive.wide = true;
      ++p;
    } else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
      directive.length = Directive::Length::kLongLong;
      p += 3;
    } else if (*p == 'z') {
      directive.length = Directive::Length::kSize;
      ++p;
    }
    const char conversion = *p;
    if (conversion == '\0') {
      out.Put(std::string_view(start, static_cast<size_t>(p - start)));
      break;
    }
    ++p;
    switch (conversion) {
      case 'd':
      case 'i': {
        int64_t value = 0;
        switch (directive.length) {
          case Directive::Length::kLongLong:
            value = va_arg(args, long long);
            break;
          case Directive::Length::kSize:
            value = static_cast<int64_t>(va_arg(args, size_t));
            break;
          case Directive::Length::kShort:
            value = static_cast<int16_t>(va_arg(args, int));
            break;
          default:
            value = va_arg(args, int);
        }
        const uint64_t magnitude =
            value < 0 ? static_cast<uint64_t>(-(value + 1)) + 1 : static_cast<uint64_t>(value);
        PutNumber(out, directive, magnitude, value < 0, 10, false);
        break;
      }
      case 'u':
      case 'x':
      case 'X': {
        uint64_t value = 0;
        switch (directive.length) {
          case Directive::Length::kLongLong:
            value = va_arg(args, unsigned long long);
            break;
          case Directive::Length::kSize:
            value = va_arg(args, size_t);
            break;
          case Directive::Length::kShort:
            value = static_cast<uint16_t>(va_arg(args, unsigned));
            break;
          default:
            value = va_arg(args, unsigned);
        }
        PutNumber(out, directive, value, false, conversion == 'u' ? 10 : 16, conversion == 'X');
        break;
      }
      case 'p': {
        Directive pointer = directive;
        pointer.precision = static_cast<int>(sizeof(void*) * 2);
        PutNumber(out, pointer, reinterpret_cast<uintptr_t>(va_arg(args, void*)), false, 16, true);
        break;
      }
      case 'c':
      case 'C': {
        const int value = va_arg(args, int);
        const bool wide = conversion == 'C' ? !directive.narrow : directive.wide;
        std::string text;
        // A zero character would end the line early: it prints as nothing.
        if (wide) {
          const char16_t unit = static_cast<char16_t>(value);
          text = Utf16ToUtf8(&unit, 1);
        } else if (value != 0) {
          text.assign(1, static_cast<char>(value));
        }
        PutPadded(out, directive, text, 1);
        break;
      }
      case 's':
      case 'S': {
        const bool wide = conversion == 'S' ? !directive.narrow : directive.wide;
        const size_t limit = directive.precision >= 0 ? static_cast<size_t>(directive.precision)
                                                      : static_cast<size_t>(-1);
        if (wide) {
          const char16_t* text = va_arg(args, const char16_t*);
          if (text == nullptr) {
            PutPadded(out, directive, "(null)", 6);
            break;
          }
          size_t units = 0;
          while (units < limit && text[units] != 0) ++units;
          PutPadded(out, directive, Utf16ToUtf8(text, units), units);
        } else {
          const char* text = va_arg(args, const char*);
          if (text == nullptr) text = "(null)";
          size_t length = 0;
          while (length < limit && text[length] != '\0') ++length;
          PutPadded(out, directive, std::string_view(text, length), length);
        }
        break;
      }
      case '%':
        out.Put('%');
        break;
      default:
        out.Put(std::string_view(start, static_cast<size_t>(p - start)));
    }
  }
  return out.Finish(size);
}

}  // namespace trace::detail
