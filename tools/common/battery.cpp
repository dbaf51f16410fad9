// The battery's cases, their factors, and the first differing element of two results.
#include "tools/common/battery.hpp"

#include <algorithm>
#include <climits>
#include <iterator>

#include "common/matrix_records.hpp"
#include "tools/common/text.hpp"

namespace tool_common {

std::vector<battery_case> battery_cases(int32_t largest_threads) {
  const int32_t most = std::max(largest_threads, 1);
  return {
      {{1, 1, 1}, 1},
      {{1, 1, 1}, std::max(most, 2)},  // more threads than rows
      {{1, 37, 1}, 1},                 // one row, one column, a long inner side
      {{11, 1, 13}, 2},                // an inner side of one
      // Primes: no vector width, block or unrolling factor divides a side.
      {{7, 13, 5}, 1},
      {{7, 13, 5}, 2},
      {{7, 13, 5}, 3},
      {{2, 29, 31}, std::max(most, 3)},  // more threads than rows again, on a real inner loop
      {{61, 67, 71}, 1},
      {{61, 67, 71}, 3},
      {{61, 67, 71}, most},
      {{251, 7, 3}, 3},  // tall
      {{3, 7, 251}, 2},  // wide
      {{7, 13, 5}, 1, true},
      {{61, 67, 71}, most, true},
  };
}

battery_verdict run_battery(
    const timed_call& product,
    const std::function<dense_core::matriz*(const dense_core::matriz*, const dense_core::matriz*)>&
        reference,
    int32_t largest_threads, int32_t limit, uint64_t seed,
    const std::function<void(const battery_case&)>& before) {
  splitmix64 gen{seed};
  for (const battery_case& c : battery_cases(largest_threads)) {
    dense_core::matriz* a = dense_detail::new_zeroed_matrix(c.size.rows, c.size.inner);
    dense_core::matriz* b = dense_detail::new_zeroed_matrix(c.size.inner, c.size.cols);
    dense_core::matriz* expected = nullptr;
    std::string how = "could not be tried: no memory for its factors";
    if (a != nullptr && b != nullptr) {
      fill_case_factor(a, limit, c.extremes, gen);
      fill_case_factor(b, limit, c.extremes, gen);
      expected = reference(a, b);
      before(c);
      const call_result got = product(a, b, c.threads);
      how = got.failure;
      const element_difference d = got.product != nullptr && expected != nullptr
                                       ? first_difference(expected, got.product)
                                       : element_difference{};
      if (d.found) {
        how = "differs from the sequential product: " +
              difference_text(d.row, d.col, d.expected, d.got);
      }
      dense_detail::release_matrix(got.product);
    }
    dense_detail::release_matrix(expected);
    dense_detail::release_matrix(a);
    dense_detail::release_matrix(b);
    if (!how.empty()) {
      return {c, how};
    }
  }
  return {};
}

std::string case_text(const battery_case& c) {
  return std::to_string(c.size.rows) + "x" + std::to_string(c.size.inner) + "x" +
         std::to_string(c.size.cols) + " on " + threads_text(c.threads) +
         (c.extremes ? " with int32 extremes" : "");
}

void fill_case_factor(dense_core::matriz* m, int32_t limit, bool extremes, splitmix64& gen) {
  static constexpr int32_t kExtremes[] = {INT32_MIN, INT32_MIN + 1, -1,       0,
                                          1,         INT32_MAX - 1, INT32_MAX};
  const auto range = static_cast<uint64_t>(std::max(limit, 1));
  for (int32_t i = 0; i < m->lin; ++i) {
    for (int32_t j = 0; j < m->col; ++j) {
      const uint64_t r = gen.next();
      m->mat[i][j] =
          extremes ? kExtremes[r % std::size(kExtremes)] : static_cast<int32_t>(1 + r % range);
    }
  }
}

element_difference first_difference(const dense_core::matriz* expected,
                                    const dense_core::matriz* got) {
  element_difference d;
  for (int32_t i = 0; i < expected->lin; ++i) {
    for (int32_t j = 0; j < expected->col; ++j) {
      if (expected->mat[i][j] != got->mat[i][j]) {
        return {true, i, j, expected->mat[i][j], got->mat[i][j]};
      }
    }
  }
  return d;
}

std::string difference_text(int32_t row, int32_t col, int32_t expected, int32_t got) {
  return "first differing element row " + std::to_string(row) + ", column " + std::to_string(col) +
         " (0-based): expected " + std::to_string(expected) + ", got " + std::to_string(got);
}

}  // namespace tool_common
