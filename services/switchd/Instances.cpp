// Instance selection by number list and name pattern.
#include "services/switchd/Instances.h"

#include <fnmatch.h>

#include <charconv>
#include <string>

namespace switchd {

namespace {

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t start = text.find_first_not_of(", \t\r\n", pos);
    if (start == std::string_view::npos) break;
    size_t end = text.find_first_of(", \t\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    words.push_back(text.substr(start, end - start));
    pos = end;
  }
  return words;
}

bool Number(std::string_view text, DWORD* value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

struct Range {
  DWORD low;
  DWORD high;
};

std::vector<Range> Ranges(std::string_view indexes) {
  std::vector<Range> ranges;
  for (const std::string_view word : Words(indexes)) {
    const size_t dash = word.find('-');
    Range range{};
    if (dash == std::string_view::npos) {
      if (!Number(word, &range.low)) continue;
      range.high = range.low;
    } else if (!Number(word.substr(0, dash), &range.low) ||
               !Number(word.substr(dash + 1), &range.high)) {
      continue;
    }
    ranges.push_back(range);
  }
  return ranges;
}

}  // namespace

std::vector<InstanceValue> SelectInstances(const std::vector<InstanceValue>& all,
                                           std::string_view indexes,
                                           std::string_view name_patterns) {
  const std::vector<std::string_view> index_words = Words(indexes);
  const std::vector<std::string_view> pattern_words = Words(name_patterns);
  if (index_words.empty() && pattern_words.empty()) return all;
  const std::vector<Range> ranges = Ranges(indexes);
  std::vector<std::string> patterns(pattern_words.begin(), pattern_words.end());
  std::vector<InstanceValue> selected;
  for (const InstanceValue& instance : all) {
    bool chosen = false;
    for (const Range& range : ranges) {
      chosen = chosen || (instance.number >= range.low && instance.number <= range.high);
    }
    for (const std::string& pattern : patterns) {
      chosen = chosen || fnmatch(pattern.c_str(), instance.name.c_str(), 0) == 0;
    }
    if (chosen) selected.push_back(instance);
  }
  return selected;
}

}  // namespace switchd
