// The battery: small products a new product is tried on before it is timed, shaped where the
// classic faults show, and the words that name the first element two results disagree on.
//
// A product checked only at the run's own shape (say 200 x 200 x 200 on 1
// and 2 threads) can pass with an unrolled loop that forgets the columns past
// the last multiple of four, or with rows / threads rows per thread and the
// remainder forgotten. The battery's shapes are the ones those faults cannot
// hide from: one element, one row or column, sides that are primes no vector
// width divides, a tall and a wide shape, more threads than rows, and factors
// holding the int32 extremes, where a product that does not wrap at 32 bits
// differs.
#pragma once

#include <cstdint>
#include <dense/dense_core.hpp>
#include <functional>
#include <string>
#include <vector>

#include "tools/common/measurement.hpp"
#include "tools/common/seeded.hpp"

namespace tool_common {

// One product of the battery: the shape, the threads it is called with, and
// whether its factors hold the int32 extremes instead of values from the run's range.
struct battery_case {
  shape size;
  int32_t threads = 1;
  bool extremes = false;
};

// The battery for a run whose largest thread count is `largest_threads`, in
// the order it is tried (the smallest cases first, so the first failure is
// the plainest one). Thread counts 1, 2, 3 and `largest_threads` all occur.
std::vector<battery_case> battery_cases(int32_t largest_threads);

// The first case a product failed, and how.
struct battery_verdict {
  battery_case at;
  // Empty when every case was right; else the call's failure, or "differs
  // from the sequential product: " and difference_text().
  std::string how;
};

// Calls `product` on each case in turn, on new factors filled by
// fill_case_factor from `seed` (values up to `limit`), and compares each
// result with `reference`'s on the same factors; stops at the first failure.
// `before` is told each case before its call.
battery_verdict run_battery(
    const timed_call& product,
    const std::function<dense_core::matriz*(const dense_core::matriz*, const dense_core::matriz*)>&
        reference,
    int32_t largest_threads, int32_t limit, uint64_t seed,
    const std::function<void(const battery_case&)>& before);

// "7x13x5 on 3 threads", "7x13x5 on 1 thread with int32 extremes".
std::string case_text(const battery_case& c);

// Fills `m` for a case: values from 1 to `limit`, or, with `extremes`, values
// drawn from INT32_MIN, INT32_MIN + 1, -1, 0, 1, INT32_MAX - 1 and INT32_MAX.
void fill_case_factor(dense_core::matriz* m, int32_t limit, bool extremes, splitmix64& gen);

// The first element, in row-major order, where two matrices of one shape differ.
struct element_difference {
  bool found = false;
  int32_t row = 0;  // from 0
  int32_t col = 0;
  int32_t expected = 0;
  int32_t got = 0;
};
element_difference first_difference(const dense_core::matriz* expected,
                                    const dense_core::matriz* got);

// "first differing element row 2, column 1 (0-based): expected 7, got 8", for
// indexes counted from 0.
std::string difference_text(int32_t row, int32_t col, int32_t expected, int32_t got);

}  // namespace tool_common
