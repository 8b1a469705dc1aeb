// Which instances of a resource a rule or report watches: Instances/Indexes
// lists instance numbers, Instances/Names glob patterns of instance names.
//
//   // instances 1 (cpu0), 2 (cpu1), 3 (total)
//   SelectInstances(values, "1,3", "");      // cpu0, total
//   SelectInstances(values, "", "cpu*");     // cpu0, cpu1
//   SelectInstances(values, "", "");         // all three
//
// Indexes: numbers and inclusive ranges ("2-4"), separated by commas or
// blanks; a word that is neither is ignored.  Names: fnmatch patterns
// separated by commas or blanks ("*" matches "/" too).  An instance is kept
// when its number is listed or its name matches a pattern; with neither text
// given (empty or blank) every instance is kept.
#pragma once

#include <string_view>
#include <vector>

#include "services/switchd/Monitoring.h"

namespace switchd {

// The selected instances, in their order in `instances`.
std::vector<InstanceValue> SelectInstances(const std::vector<InstanceValue>& instances,
                                           std::string_view indexes,
                                           std::string_view name_patterns);

}  // namespace switchd
