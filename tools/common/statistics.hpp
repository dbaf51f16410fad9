// Summaries of repeated measurements.
#pragma once

#include <vector>

namespace tool_common {

// The median of `values` (the mean of the middle two for an even count); 0 for none.
double median(std::vector<double> values);

}  // namespace tool_common
