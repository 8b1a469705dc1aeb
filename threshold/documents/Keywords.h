// The enumerations of the configuration vocabulary: each keyword's code is its
// 0-based place in the list; the MIB shows code + 1.  Keywords are compared
// exactly, case included.  This is the one place the keyword lists live.
//
//   int code = records::KeywordCode(records::Enumeration::kOperator, "greater");  // 4
//   auto word = records::CodeKeyword(records::Enumeration::kOperator, 4);         // "greater"
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace records {

enum class Enumeration {
  kRequestType,          // Resource/Request[Type]
  kInstanceMonitor,      // Instances[Monitor]
  kValueType,            // Threshold[Type]
  kOperator,             // Threshold[Operator]
  kValuation,            // Threshold[Valuation]
  kEventControl,         // Rule/Event[Control]
  kAlternating,          // Rule/Event[Alternating]
  kPerformanceSeverity,  // Rule/Performance/Status
  kEventType,            // Event/Type
  kEventSeverity,        // Event/Severity
};

// What a reader gives for a keyword that has no code (event type and severity).
inline constexpr int kNoCode = -1;

struct EnumerationInfo {
  std::span<const std::string_view> keywords;  // in code order
  int read_fallback;                           // code for a missing or unknown text, or kNoCode
  // What a setter writes for an invalid code before it reports failure;
  // empty optional: it writes nothing.
  std::optional<std::string_view> written_when_invalid;
};

const EnumerationInfo& Info(Enumeration enumeration);

// The code of `text`, or the enumeration's read fallback.
int KeywordCode(Enumeration enumeration, std::string_view text);

// The keyword of `code`; empty optional for a code outside the list.
std::optional<std::string_view> CodeKeyword(Enumeration enumeration, int code);

// The MIB value of a code: code + 1, and 0 for kNoCode (a value outside every list).
inline int MibEnumValue(int code) { return code < 0 ? 0 : code + 1; }

}  // namespace records
