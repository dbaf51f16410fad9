// Medians and their intervals from order statistics.
#include "tools/common/statistics.hpp"

#include <algorithm>
#include <cmath>

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

size_t median_rank(size_t n) {
  if (n == 0) {
    return 0;
  }
  // [x(k), x(n+1-k)] misses the median with probability 2 * P(B <= k - 1),
  // B ~ Binomial(n, 1/2). The terms are summed in logs so that a large n
  // neither overflows nor underflows.
  const double log_half_n = static_cast<double>(n) * std::log(0.5);
  const double log_n_factorial = std::lgamma(static_cast<double>(n) + 1);
  size_t best = 1;
  double below = 0.0;  // P(B <= k - 1)
  for (size_t k = 1; 2 * k <= n + 1; ++k) {
    const auto j = static_cast<double>(k - 1);
    below += std::exp(log_n_factorial - std::lgamma(j + 1) -
                      std::lgamma(static_cast<double>(n) - j + 1) + log_half_n);
    if (2.0 * below > 0.05) {
      break;
    }
    best = k;
  }
  return best;
}

interval median_interval(std::vector<double> values) {
  if (values.empty()) {
    return {};
  }
  std::sort(values.begin(), values.end());
  const size_t k = median_rank(values.size());
  return {values[k - 1], values[values.size() - k]};
}

summary summarise(const std::vector<double>& values) {
  return {median(values), median_interval(values), values.size()};
}

}  // namespace tool_common
