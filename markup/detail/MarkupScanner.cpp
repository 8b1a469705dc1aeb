// The markup scanner: one token per call, straight from the text.
#include "markup/detail/MarkupScanner.h"

#include <cstdio>
#include <cstring>

namespace markup::detail {
namespace {

bool EndsName(char c) { return IsMarkupWhitespace(c) || c == '/' || c == '>'; }

// The offset of the first `needle` at or after `from`, or npos.
size_t Find(std::string_view text, char needle, size_t from) {
  if (from >= text.size()) return std::string_view::npos;
  const void* hit = std::memchr(text.data() + from, needle, text.size() - from);
  return hit ? static_cast<const char*>(hit) - text.data() : std::string_view::npos;
}

// The end of the first `tail` (a '>'-terminated string) that starts at or
// after `from`, or npos.
size_t FindTerminator(std::string_view text, size_t from, std::string_view tail) {
  size_t gt = from + tail.size() - 1;
  while ((gt = Find(text, '>', gt)) != std::string_view::npos) {
    if (text.compare(gt + 1 - tail.size(), tail.size(), tail) == 0) return gt + 1;
    ++gt;
  }
  return std::string_view::npos;
}

}  // namespace

MarkupToken MarkupScanner::ScanCharacterData() {
  MarkupToken token;
  const size_t start = offset_;
  if (start >= text_.size()) {
    token.kind = TokenKind::kEndOfText;
    return token;
  }
  size_t end = Find(text_, '<', start);
  if (end == std::string_view::npos) end = text_.size();
  token.kind = TokenKind::kWhitespace;
  for (size_t i = start; i < end; ++i) {
    if (!IsMarkupWhitespace(text_[i])) {
      token.kind = TokenKind::kText;
      break;
    }
  }
  token.start = static_cast<uint32_t>(start);
  token.length = static_cast<uint32_t>(end - start);
  offset_ = end;
  return token;
}

// Skips from `from` to the first '>' that is not inside a quoted stretch.
size_t MarkupScanner::FindQuotedAware(size_t from) const {
  const size_t n = text_.size();
  size_t p = from;
  while (p < n) {
    const char c = text_[p];
    if (c == '>') return p;
    if (c == '"' || c == '\'') {
      const size_t close = Find(text_, c, p + 1);
      if (close == std::string_view::npos) return std::string_view::npos;
      p = close + 1;
      continue;
    }
    ++p;
  }
  return std::string_view::npos;
}

MarkupToken MarkupScanner::Error(size_t start, size_t resume, const char* what) {
  // An error token runs on to the next '>' (inclusive) or stops before the next '<'.
  const size_t n = text_.size();
  size_t p = resume;
  while (p < n && text_[p] != '>' && text_[p] != '<') ++p;
  if (p >= n) return Unterminated(start, "tag");
  if (text_[p] == '>') ++p;
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "Incorrect %s at offset %u", what,
                static_cast<unsigned>(start));
  message_ = buffer;
  MarkupToken token;
  token.kind = TokenKind::kError;
  token.start = static_cast<uint32_t>(start);
  token.length = static_cast<uint32_t>(p - start);
  token.text = message_;
  offset_ = p;
  return token;
}

MarkupToken MarkupScanner::Unterminated(size_t start, const char* what) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%s at offset %u unterminated", what,
                static_cast<unsigned>(start));
  message_ = buffer;
  MarkupToken token;
  token.kind = TokenKind::kError;
  token.start = static_cast<uint32_t>(start);
  token.length = static_cast<uint32_t>(text_.size() - start);
  token.text = message_;
  offset_ = text_.size();
  return token;
}

MarkupToken MarkupScanner::ScanTag() {
  const size_t start = offset_;
  const size_t n = text_.size();
  const char* s = text_.data();
  MarkupToken token;
  token.start = static_cast<uint32_t>(start);
  if (start + 1 >= n) return Unterminated(start, "tag");
  const char c = s[start + 1];
  size_t end = std::string_view::npos;  // one past the token's last character

  if (IsNameStart(c)) {
    size_t p = start + 1;
    while (p < n && !EndsName(s[p])) ++p;
    const size_t name_end = p;
    const size_t gt = p < n && s[p] == '>' ? p : FindQuotedAware(p);
    if (gt == std::string_view::npos) return Unterminated(start, "Element tag");
    // "<a b=1/>": the '/' belongs to the unquoted value, so the element stays open.
    if (s[gt - 1] == '/' && gt - 1 > start + 1) {
      const size_t slash = gt - 1;
      const char before = s[slash - 1];
      token.empty_element = slash == name_end || IsMarkupWhitespace(before) || before == '"' ||
                            before == '\'';
    }
    token.kind = TokenKind::kStartTag;
    token.text = text_.substr(start + 1, name_end - start - 1);
    end = gt + 1;
  } else if (c == '/') {
    size_t p = start + 2;
    while (p < n && !EndsName(s[p])) ++p;
    const size_t gt = p < n && s[p] == '>' ? p : Find(text_, '>', p);
    if (gt == std::string_view::npos) return Unterminated(start, "Element end tag");
    token.kind = TokenKind::kEndTag;
    token.text = text_.substr(start + 2, p - start - 2);
    end = gt + 1;
  } else if (c == '?') {
    size_t p = start + 2;
    while (p < n && !EndsName(s[p]) && s[p] != '?') ++p;
    end = FindTerminator(text_, start + 1, "?>");
    if (end == std::string_view::npos) {
      return Unterminated(start, "Processing instruction");
    }
    token.kind = TokenKind::kProcessingInstruction;
    token.text = text_.substr(start + 2, p - start - 2);
  } else if (c == '!') {
    if (start + 2 >= n) return Unterminated(start, "tag");
    const char d = s[start + 2];
    if (d == '-') {
      if (start + 3 >= n) return Unterminated(start, "tag");
      if (s[start + 3] != '-') return Error(start, start + 3, "comment tag");
      // The closing "-->" may share the opening dashes: "<!-->" is a comment.
      end = FindTerminator(text_, start + 2, "-->");
      if (end == std::string_view::npos) return Unterminated(start, "Comment");
      token.kind = TokenKind::kComment;
    } else if (d == '[') {
      if (start + 3 >= n) return Unterminated(start, "tag");
      if (s[start + 3] != 'C') return Error(start, start + 3, "tag");
      end = FindTerminator(text_, start + 4, "]]>");
      if (end == std::string_view::npos) return Unterminated(start, "CDATA Section");
      token.kind = TokenKind::kCData;
    } else if (d == 'D') {
      // A document type declaration may hold nested declarations whose own '>'
      // does not end it.
      size_t depth = 0;
      size_t p = start + 3;
      for (; p < n; ++p) {
        const char e = s[p];
        if (e == '"' || e == '\'') {
          const size_t close = Find(text_, e, p + 1);
          if (close == std::string_view::npos) {
            p = n;
            break;
          }
          p = close;
        } else if (e == '<') {
          ++depth;
        } else if (e == '>') {
          if (depth == 0) break;
          --depth;
        }
      }
      if (p >= n) return Unterminated(start, "Doctype");
      token.kind = TokenKind::kDeclaration;
      end = p + 1;
    } else if (d == 'E' || d == 'A' || d == 'N') {
      const size_t gt = FindQuotedAware(start + 2);
      if (gt == std::string_view::npos) return Unterminated(start, "Doctype");
      token.kind = TokenKind::kDeclaration;
      end = gt + 1;
    } else {
      return Error(start, start + 2, "! tag");
    }
  } else {
    return Error(start, start + 1, "tag name character");
  }

  token.length = static_cast<uint32_t>(end - start);
  offset_ = end;
  return token;
}

}  // namespace markup::detail
