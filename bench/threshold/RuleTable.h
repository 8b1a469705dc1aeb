// A rule table of any size as the threshold module sends it, shared by the
// threshold benchmarks.
#pragma once

#include <cstdint>
#include <string>

namespace threshold_bench {

inline std::string RuleTable(int64_t rules) {
  std::string text = "<Rules Modified=\"10/20/2006 8:56:53\">\r\n";
  for (int64_t i = 0; i < rules; ++i) {
    const std::string n = std::to_string(i);
    text +=
        "<Rule Name=\"rule-" + n + "\">\r\n<Description>Watch resource " + n +
        "</Description>\r\n<Comment>c</Comment>\r\n<Interval>60</Interval>\r\n"
        "<WatchPeriod>300</WatchPeriod>\r\n<OccurenceCount>3</OccurenceCount>\r\n"
        "<Resource Name=\"cpu\"/>\r\n<Target Name=\"_Total\"/>\r\n"
        "<Instances Monitor=\"any\">\r\n<Indexes>0</Indexes>\r\n<Names>*</Names>\r\n"
        "</Instances>\r\n<Threshold Type=\"absolute\" Valuation=\"single-value\" "
        "Operator=\"greater\" Value=\"90\" RangeMin=\"0\" RangeMax=\"100\"/>\r\n"
        "<Event Name=\"cpu-high\" Control=\"continuous\" Delay=\"0\" Alternating=\"false\"/>\r\n"
        "<Performance>\r\n<Status>warning</Status>\r\n</Performance>\r\n</Rule>\r\n";
  }
  return text + "</Rules>\r\n";
}

}  // namespace threshold_bench
