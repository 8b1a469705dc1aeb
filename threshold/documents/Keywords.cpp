// The keyword lists of every enumeration, with their read fallbacks and what
// their setters do with an invalid code.
#include "threshold/documents/Keywords.h"

#include <array>

namespace records {
namespace {

using namespace std::string_view_literals;

constexpr std::array kRequestTypes = {"builtin"sv, "snmp"sv, "registry"sv};
constexpr std::array kInstanceMonitors = {"any"sv, "average"sv};
constexpr std::array kValueTypes = {"absolute"sv, "delta-any"sv, "delta-inc"sv, "delta-dec"sv};
constexpr std::array kOperators = {"equal"sv,
                                   "not-equal"sv,
                                   "less"sv,
                                   "less-equal"sv,
                                   "greater"sv,
                                   "greater-equal"sv,
                                   "within-range"sv,
                                   "out-of-range"sv,
                                   "exist-to-none-exist"sv,
                                   "none-exist-to-exist"sv,
                                   "exist-change"sv};
constexpr std::array kValuations = {"single-value"sv, "average-linear"sv, "average-muted"sv};
constexpr std::array kEventControls = {"single-shot"sv, "continuous"sv, "continuous-with-delay"sv};
constexpr std::array kAlternatings = {"false"sv, "true"sv};
constexpr std::array kPerformanceSeverities = {"unknown"sv, "normal"sv, "information"sv,
                                               "warning"sv, "critical"sv};
constexpr std::array kEventTypes = {"snmp-trap"sv};
constexpr std::array kEventSeverities = {"critical"sv, "major"sv, "minor"sv, "informational"sv};

// Indexed by Enumeration.
const EnumerationInfo kInfos[] = {
    {kRequestTypes, 0, std::nullopt},
    {kInstanceMonitors, 0, std::nullopt},
    {kValueTypes, 0, std::nullopt},
    {kOperators, 0, std::nullopt},
    {kValuations, 0, std::nullopt},
    // A rule without an event control fires continuously.
    {kEventControls, 1, std::nullopt},
    {kAlternatings, 0, std::nullopt},
    {kPerformanceSeverities, 0, std::nullopt},
    // An event of unknown type or severity has no code at all: the trap path
    // drops it rather than guess.  Their setters still leave a text behind.
    {kEventTypes, kNoCode, ""sv},
    {kEventSeverities, kNoCode, "informational"sv},
};
static_assert(std::size(kInfos) == static_cast<size_t>(Enumeration::kEventSeverity) + 1);

}  // namespace

const EnumerationInfo& Info(Enumeration enumeration) {
  return kInfos[static_cast<size_t>(enumeration)];
}

int KeywordCode(Enumeration enumeration, std::string_view text) {
  const EnumerationInfo& info = Info(enumeration);
  for (size_t code = 0; code < info.keywords.size(); ++code) {
    if (info.keywords[code] == text) return static_cast<int>(code);
  }
  return info.read_fallback;
}

std::optional<std::string_view> CodeKeyword(Enumeration enumeration, int code) {
  const EnumerationInfo& info = Info(enumeration);
  if (code < 0 || static_cast<size_t>(code) >= info.keywords.size()) return std::nullopt;
  return info.keywords[static_cast<size_t>(code)];
}

}  // namespace records
