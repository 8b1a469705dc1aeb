// Cuts a markup text into tokens: tags, character data, comments, CDATA
// sections, processing instructions and declarations.  The scanner never
// reads outside the text it was given and never fails as a call: a malformed
// or unterminated construct comes back as an error token carrying its message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace markup::detail {

enum class TokenKind : int {
  kEndTag = 0,
  kStartTag = 1,
  kText = 2,
  kWhitespace = 4,
  kCData = 8,
  kProcessingInstruction = 16,
  kComment = 32,
  kDeclaration = 64,
  kError = -1,
  kEndOfText = -2,
};

struct MarkupToken {
  TokenKind kind = TokenKind::kEndOfText;
  uint32_t start = 0;
  uint32_t length = 0;
  bool empty_element = false;  // start tag written as <name .../>
  // Tag name of a start or end tag or processing instruction (a view into the
  // scanned text), or the message of an error token (a view into the scanner,
  // valid until its next call).
  std::string_view text;
};

inline bool IsMarkupWhitespace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// A character that may follow '<' to open a start tag.
inline bool IsNameStart(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') || u == '_' || u == ':' || u > 0x60;
}

class MarkupScanner {
 public:
  explicit MarkupScanner(std::string_view text, size_t offset = 0) : text_(text), offset_(offset) {}

  // Reads the token at the current offset and moves past it.
  MarkupToken Next() {
    if (offset_ < text_.size() && text_[offset_] == '<') return ScanTag();
    return ScanCharacterData();
  }
  // Moves the offset to the next '<' (or the end) without classifying the
  // character data in between; for callers that ignore it.
  void SkipCharacterData() {
    if (offset_ >= text_.size() || text_[offset_] == '<') return;
    const void* hit = std::memchr(text_.data() + offset_, '<', text_.size() - offset_);
    offset_ = hit ? static_cast<const char*>(hit) - text_.data() : text_.size();
  }

  size_t Offset() const { return offset_; }

 private:
  MarkupToken ScanTag();
  MarkupToken ScanCharacterData();
  MarkupToken Error(size_t start, size_t resume, const char* what);
  MarkupToken Unterminated(size_t start, const char* what);
  size_t FindQuotedAware(size_t from) const;

  std::string_view text_;
  size_t offset_;
  std::string message_;
};

}  // namespace markup::detail
