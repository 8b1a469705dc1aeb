// Which instances of a reading a rule or a report watches: its
// Instances/Indexes text picks instance numbers, its Instances/Names text
// picks instance names by glob pattern, and with neither it watches all.
//
//   std::vector<InstanceValue> watched =
//       SelectInstances(reading.instances, "1,3-4", "");     // numbers 1, 3 and 4
//   watched = SelectInstances(reading.instances, "", "eth* lo");
#pragma once

#include <string_view>
#include <vector>

#include "services/switchd/Monitoring.h"

namespace switchd {

// The instances of `all` that `indexes` or `name_patterns` select, in the
// order of `all`.  `indexes` lists instance numbers and ranges ("2-5")
// separated by commas or blanks; `name_patterns` lists fnmatch patterns
// separated the same way.  An instance is selected when either list names
// it; with both texts blank every instance is.  Words of `indexes` that are
// not a number or a range select nothing.
std::vector<InstanceValue> SelectInstances(const std::vector<InstanceValue>& all,
                                           std::string_view indexes,
                                           std::string_view name_patterns);

}  // namespace switchd
