// Medians of repeated measurements.
#include "tools/common/statistics.hpp"

#include <algorithm>

namespace tool_common {

double median(std::vector<double> values) {
  if (values.empty()) {
    return 0.0;
  }
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  if (values.size() % 2 == 1) {
    return values[mid];
  }
  return (values[mid - 1] + values[mid]) / 2.0;
}

}  // namespace tool_common
