// Rules as a table file or a SET may give them: the instance selection texts,
// a Rules document read into the engine's configuration, and polls of every
// rule read.  Never crashes, and the judgement keeps its promises: selection
// keeps order and only instances of the reading, a rule is never holding more
// polls than it needs, and a poll that failed leaves no current value.
//
// Input: a line of Indexes, a line of Names, then a Rules document.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "services/switchd/Instances.h"
#include "services/switchd/RuleConfig.h"
#include "services/switchd/RuleEvaluator.h"
#include "switch/SwitchProtocol.h"

namespace {

namespace sp = switch_protocol;

void Check(bool condition) {
  if (!condition) abort();
}

class AnySource final : public switchd::ResourceSource {
 public:
  bool Validate(const switchd::ResourceQuery&, std::string*) const override { return true; }
  void Read(const switchd::ResourceQuery&, std::function<void(switchd::Reading)>) override {}
};

std::string_view NextLine(std::string_view* text) {
  const size_t end = text->find('\n');
  const std::string_view line = text->substr(0, end);
  text->remove_prefix(end == std::string_view::npos ? text->size() : end + 1);
  return line;
}

const std::vector<switchd::InstanceValue> kInstances = {
    {1, "eth0", 5}, {2, "lo", 0}, {3, "/var/log", -7}, {7, "cpu*", 93}, {4, "", 2147483648}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string_view indexes = NextLine(&text);
  const std::string_view patterns = NextLine(&text);

  const std::vector<switchd::InstanceValue> selected =
      switchd::SelectInstances(kInstances, indexes, patterns);
  size_t next = 0;
  for (const switchd::InstanceValue& instance : selected) {
    while (next < kInstances.size() && kInstances[next].number != instance.number) ++next;
    Check(next < kInstances.size());
    ++next;
  }

  const std::string rules(text);
  const AnySource source;
  const switchd::EngineConfig config = switchd::ReadEngineConfig(
      [&](DWORD code) -> std::string {
        if (code == sp::kTableRules) return rules;
        if (code == sp::kTableResources) {
          return "<Resources><Resource Name=\"r\"><Request>x</Request></Resource></Resources>";
        }
        return {};
      },
      source);

  int rules_polled = 0;
  for (const switchd::RuleConfig& rule : config.rules) {
    if (++rules_polled > 4) break;
    switchd::RuleSpec spec = rule.spec;
    spec.indexes = std::string(indexes);
    spec.patterns = std::string(patterns);
    switchd::RuleEvaluator evaluator(spec);
    int64_t due = 0;
    for (int poll = 0; poll < 6; ++poll) {
      switchd::Reading reading;
      reading.ok = poll != 3;
      reading.counter = poll % 2 == 1;
      reading.counter_modulus = poll == 5 ? 0 : uint64_t{1} << 32;
      for (switchd::InstanceValue instance : kInstances) {
        instance.value = instance.value * (poll + 1) - poll * 1000000007LL;
        if (instance.number <= static_cast<DWORD>(poll + 2)) reading.instances.push_back(instance);
      }
      evaluator.Poll(due, reading);
      Check(evaluator.Holding() <= evaluator.Needed());
      Check(evaluator.LastError().empty() || !evaluator.CurrentValue("u").has_value());
      due += static_cast<int64_t>(spec.interval_s) * 1000;
    }
  }
  return 0;
}
