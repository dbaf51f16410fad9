// Shapes and thread counts that every threaded product is checked on.
#pragma once

#include <cstdint>
#include <dense/dense_core.hpp>
#include <functional>
#include <string>
#include <vector>

#include "support/capture.hpp"
#include "support/matrices.hpp"

namespace parallel_cases {

// The line every product prints when the factors do not fit together.
inline constexpr const char* kMismatch =
    "ERRO: Matrizes inv\xc3\xa1lidas para multiplica\xc3\xa7\xc3\xa3o.\n";

struct shape {
  int32_t rows, inner, cols;
};

// Square, rectangular, thin and awkward sizes around powers of two.
inline const std::vector<shape>& shapes() {
  static const std::vector<shape> all = {{1, 1, 1},    {3, 4, 2},    {4, 6, 5},   {7, 5, 9},
                                         {10, 10, 10}, {17, 33, 16}, {33, 1, 17}, {1, 32, 1},
                                         {2, 7, 31},   {64, 65, 63}};
  return all;
}

// 1, 2, 3, 4 and 8 threads, and more threads than rows.
inline std::vector<int32_t> thread_counts(const shape& s) { return {1, 2, 3, 4, 8, s.rows + 3}; }

using product_fn = std::function<dense_core::matriz*(const dense_core::matriz*,
                                                     const dense_core::matriz*, int32_t)>;

// Runs `product` on random factors of shape `s` with `n` threads and checks
// the result against the reference product, and that it printed nothing.
inline void expect_right_product(const product_fn& product, const shape& s, int32_t n,
                                 uint32_t seed, int32_t lo = -1000, int32_t hi = 1000) {
  SCOPED_TRACE(testing::Message() << s.rows << "x" << s.inner << " by " << s.inner << "x" << s.cols
                                  << " on " << n << " threads");
  test_support::owned_matrix a(s.rows, s.inner), b(s.inner, s.cols);
  test_support::fill_random(a, seed, lo, hi);
  test_support::fill_random(b, seed + 1, lo, hi);
  test_support::result_ptr c;
  const std::string out =
      test_support::capture_stdout([&] { c.reset(product(a.get(), b.get(), n)); });
  EXPECT_EQ(out, "");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->lin, s.rows);
  EXPECT_EQ(c->col, s.cols);
  EXPECT_EQ(test_support::values_of(c.get()), test_support::reference_product(a.get(), b.get()));
}

}  // namespace parallel_cases
