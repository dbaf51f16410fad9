// The battery an added product is tried on: it holds every shape and thread count where a
// classic fault shows, whatever the run's thread counts, and its extreme factors reach the
// int32 extremes.
#include "tools/common/battery.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "support/matrices.hpp"

namespace {

using tool_common::battery_case;

bool prime(int32_t n) {
  if (n < 2) {
    return false;
  }
  for (int32_t d = 2; d * d <= n; ++d) {
    if (n % d == 0) {
      return false;
    }
  }
  return true;
}

// An odd prime: no vector width, block or unrolling factor (all powers of two) divides it.
bool odd_prime(int32_t n) { return n > 2 && prime(n); }

TEST(Battery, HoldsEveryCaseWhereAClassicFaultShows) {
  struct wanted {
    std::string what;
    std::function<bool(const battery_case&, int32_t largest)> found;
  };
  const std::vector<wanted> cases = {
      {"1x1x1",
       [](const battery_case& c, int32_t) {
         return c.size == tool_common::shape{1, 1, 1};
       }},
      {"1xkx1, k > 1",
       [](const battery_case& c, int32_t) {
         return c.size.rows == 1 && c.size.cols == 1 && c.size.inner > 1;
       }},
      {"mx1xn, m and n > 1",
       [](const battery_case& c, int32_t) {
         return c.size.inner == 1 && c.size.rows > 1 && c.size.cols > 1;
       }},
      {"odd primes under 16 on every side",
       [](const battery_case& c, int32_t) {
         const auto& s = c.size;
         return odd_prime(s.rows) && odd_prime(s.inner) && odd_prime(s.cols) &&
                std::max({s.rows, s.inner, s.cols}) < 16;
       }},
      {"odd primes past 32 on every side, on several threads",
       [](const battery_case& c, int32_t) {
         const auto& s = c.size;
         return odd_prime(s.rows) && odd_prime(s.inner) && odd_prime(s.cols) &&
                std::min({s.rows, s.inner, s.cols}) > 32 && c.threads > 1;
       }},
      {"tall", [](const battery_case& c, int32_t) { return c.size.rows >= 16 * c.size.cols; }},
      {"wide", [](const battery_case& c, int32_t) { return c.size.cols >= 16 * c.size.rows; }},
      {"more threads than rows, over an inner side > 1",
       [](const battery_case& c, int32_t) { return c.threads > c.size.rows && c.size.inner > 1; }},
      {"1 thread", [](const battery_case& c, int32_t) { return c.threads == 1; }},
      {"2 threads", [](const battery_case& c, int32_t) { return c.threads == 2; }},
      {"3 threads", [](const battery_case& c, int32_t) { return c.threads == 3; }},
      {"the run's largest thread count",
       [](const battery_case& c, int32_t largest) { return c.threads == largest; }},
      {"int32 extremes, on a side no vector width divides",
       [](const battery_case& c, int32_t) { return c.extremes && odd_prime(c.size.cols); }},
  };
  for (const int32_t largest : {1, 2, 3, 8, 64}) {
    const std::vector<battery_case> battery = tool_common::battery_cases(largest);
    for (const auto& w : cases) {
      SCOPED_TRACE(w.what + ", largest thread count " + std::to_string(largest));
      EXPECT_TRUE(std::any_of(battery.begin(), battery.end(),
                              [&](const battery_case& c) { return w.found(c, largest); }));
    }
    // Small enough to cost nothing beside the timed rounds.
    for (const auto& c : battery) {
      EXPECT_LE(c.size.operations(), 2.0 * 61 * 67 * 71) << tool_common::case_text(c);
    }
  }
}

TEST(Battery, FactorsHoldTheRunsRangeOrTheInt32Extremes) {
  tool_common::splitmix64 gen{7};
  test_support::owned_matrix m(61, 67);
  tool_common::fill_case_factor(m.get(), 5, false, gen);
  const auto in_range = m.values();
  EXPECT_EQ(*std::min_element(in_range.begin(), in_range.end()), 1);
  EXPECT_EQ(*std::max_element(in_range.begin(), in_range.end()), 5);
  tool_common::fill_case_factor(m.get(), 5, true, gen);
  const auto extremes = m.values();
  for (const int32_t v : {INT32_MIN, -1, 0, 1, INT32_MAX}) {
    EXPECT_NE(std::find(extremes.begin(), extremes.end(), v), extremes.end()) << v;
  }
}

}  // namespace
