// Instance selection by number lists and name patterns.
#include "services/switchd/Instances.h"

#include <fnmatch.h>

#include <charconv>
#include <string>
#include <utility>

namespace switchd {

namespace {

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  size_t start = 0;
  while (start < text.size()) {
    const size_t begin = text.find_first_not_of(", \t\r\n", start);
    if (begin == std::string_view::npos) break;
    size_t end = text.find_first_of(", \t\r\n", begin);
    if (end == std::string_view::npos) end = text.size();
    words.push_back(text.substr(begin, end - begin));
    start = end;
  }
  return words;
}

bool Number(std::string_view text, DWORD* value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// Inclusive ranges of instance numbers; a single number is a range of one.
std::vector<std::pair<DWORD, DWORD>> Ranges(std::string_view indexes) {
  std::vector<std::pair<DWORD, DWORD>> ranges;
  for (const std::string_view word : Words(indexes)) {
    const size_t dash = word.find('-');
    DWORD first = 0;
    DWORD last = 0;
    if (dash == std::string_view::npos) {
      if (Number(word, &first)) ranges.emplace_back(first, first);
    } else if (Number(word.substr(0, dash), &first) && Number(word.substr(dash + 1), &last)) {
      ranges.emplace_back(first, last);
    }
  }
  return ranges;
}

}  // namespace

std::vector<InstanceValue> SelectInstances(const std::vector<InstanceValue>& instances,
                                           std::string_view indexes,
                                           std::string_view name_patterns) {
  const std::vector<std::string_view> index_words = Words(indexes);
  const std::vector<std::string_view> pattern_words = Words(name_patterns);
  if (index_words.empty() && pattern_words.empty()) return instances;

  const std::vector<std::pair<DWORD, DWORD>> ranges = Ranges(indexes);
  // fnmatch needs terminated strings.
  std::vector<std::string> patterns(pattern_words.begin(), pattern_words.end());
  std::vector<InstanceValue> selected;
  for (const InstanceValue& instance : instances) {
    bool keep = false;
    for (const auto& [first, last] : ranges) {
      keep = keep || (instance.number >= first && instance.number <= last);
    }
    for (const std::string& pattern : patterns) {
      keep = keep || fnmatch(pattern.c_str(), instance.name.c_str(), 0) == 0;
    }
    if (keep) selected.push_back(instance);
  }
  return selected;
}

}  // namespace switchd
