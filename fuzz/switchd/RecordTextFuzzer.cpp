// Texts the recorder reads back or is given: a record text (from the
// database, for listings and charts), a --since argument and the instance
// selection lists of a Report record.  The input is split at its first NUL
// bytes into those parts.  None may crash; a record text that parses must
// keep its time, and formatting its values must parse again.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "services/switchd/Instances.h"
#include "services/switchd/Plot.h"
#include "services/switchd/RecordText.h"

namespace {

class FixedClock final : public switchd::Clock {
 public:
  int64_t NowMs() const override { return 0; }
  int64_t WallSeconds() const override { return 1772352000; }
  std::tm Local(int64_t wall) const override {
    const time_t t = static_cast<time_t>(wall);
    std::tm local{};
    gmtime_r(&t, &local);
    return local;
  }
};

std::string_view Part(std::string_view* rest) {
  const size_t end = rest->find('\0');
  const std::string_view part = rest->substr(0, end);
  *rest = end == std::string_view::npos ? std::string_view() : rest->substr(end + 1);
  return part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::string_view record = Part(&rest);
  const std::string_view since = Part(&rest);
  const std::string_view indexes = Part(&rest);
  const std::string_view patterns = Part(&rest);

  if (const auto parsed = switchd::ParseRecord(record)) {
    if (record.substr(0, switchd::kRecordTimeLength) != parsed->time) abort();
    const std::string again =
        parsed->time + " " + switchd::FormatValues(parsed->values, parsed->unit);
    if (!switchd::ParseRecord(again)) abort();
  }
  switchd::SeriesFromListing({"1 " + std::string(record)}, "r");

  const FixedClock clock;
  if (const auto text = switchd::SinceText(since, clock)) {
    if (text->size() != switchd::kRecordTimeLength) abort();
  }

  const std::vector<switchd::InstanceValue> all = {
      {1, "eth0", 1}, {2, "lo", 2}, {3, "my disk", 3}, {4294967295u, "[x]", 4}};
  if (switchd::SelectInstances(all, indexes, patterns).size() > all.size()) abort();
  return 0;
}
