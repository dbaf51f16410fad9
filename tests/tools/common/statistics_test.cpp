// The interval of a median from order statistics, on samples whose answer is known.
#include "tools/common/statistics.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(Statistics, TheMedianIntervalComesFromTheBinomialOrderStatistics) {
  // n -> k, the sorted samples k and n + 1 - k bound the median with 95%
  // confidence: tabulated in any statistics text (with 5 to 8 samples no
  // pair does, and the widest, the smallest to the largest, is used).
  const struct {
    size_t n;
    size_t k;
  } ranks[] = {{0, 0},  {1, 1},  {5, 1},  {6, 1},   {8, 1},   {9, 2},
               {10, 2}, {12, 3}, {20, 6}, {40, 14}, {100, 40}};
  for (const auto& r : ranks) {
    EXPECT_EQ(tool_common::median_rank(r.n), r.k) << r.n;
  }

  const std::vector<double> nine = {9, 1, 8, 2, 7, 3, 6, 4, 5};
  const auto in = tool_common::median_interval(nine);
  EXPECT_EQ(in.low, 2);
  EXPECT_EQ(in.high, 8);
  const auto five = tool_common::summarise({1.9, 2.1, 2.0, 5.0, 2.05});
  EXPECT_EQ(five.median, 2.05);
  EXPECT_EQ(five.range.low, 1.9);  // 5 samples: the smallest to the largest
  EXPECT_EQ(five.range.high, 5.0);
  EXPECT_EQ(five.count, 5u);
  EXPECT_TRUE(five.range.contains(2.0));
  EXPECT_FALSE(five.range.contains(1.0));
  EXPECT_EQ(tool_common::median({4.0, 1.0, 3.0, 2.0}), 2.5);
}

}  // namespace
