// Summaries of repeated measurements: medians, the interval a median lies in, ratios taken in
// pairs.
//
// A run of a few rounds says little about the mean of a time (one late
// round drags it anywhere) but a fair amount about its median: the median
// lies between two order statistics of the sample with a known probability,
// whatever the times' distribution. That interval is what the tools print
// beside every median.
#pragma once

#include <cstddef>
#include <vector>

namespace tool_common {

// The median of `values` (the mean of the middle two for an even count); 0 for none.
double median(std::vector<double> values);

// A closed range [low, high].
struct interval {
  double low = 0.0;
  double high = 0.0;
  bool contains(double x) const { return low <= x && x <= high; }
};

// The order statistics that bound the median of n samples with 95%
// confidence: the sorted samples k and n + 1 - k (counted from 1), for the
// largest k whose interval still covers the median with probability 0.95
// or more (from the binomial distribution with p = 1/2). With fewer than 6
// samples no interval reaches 95% and k is 1, the smallest to the largest
// (5 samples: 93.75%); up to 8 samples k stays 1. Returns k; 0 for n = 0.
size_t median_rank(size_t n);

// The fewest samples whose smallest and largest bound the median with 95%
// confidence (1 - 2 * 0.5^n >= 0.95 from n = 6 on). Fewer samples give no
// 95% interval, and the tools say so instead of printing one.
inline constexpr size_t kFewestForInterval = 6;

// The 95% interval of the median of `values` (see median_rank); {0, 0} for none.
interval median_interval(std::vector<double> values);

// The median of `ratios` and its interval: used for ratios taken within one
// round (two calls close in time), which vary far less than a ratio of two
// medians measured at different moments.
struct summary {
  double median = 0.0;
  interval range;
  size_t count = 0;
  // Whether `range` is a 95% interval (enough values for one).
  bool has_interval() const { return count >= kFewestForInterval; }
};
summary summarise(const std::vector<double>& values);

}  // namespace tool_common
