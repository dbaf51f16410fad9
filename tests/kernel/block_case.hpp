// A block product set up for the kernel: three matrices, their descriptors, and the
// expected result computed independently, element by element.
#pragma once

#include <cstdint>
#include <dense/dense_arith.hpp>
#include <vector>

#include "support/matrices.hpp"

namespace kernel_test {

using test_support::owned_matrix;

// c += a x b over rows [i0, i1), inner range [k0, k1), columns [j0, j1).
struct block_case {
  owned_matrix a;
  owned_matrix b;
  owned_matrix c;
  dense_arith::bloco a_block;
  dense_arith::bloco b_block;
  dense_arith::bloco c_block;
  dense_arith::submatriz a_desc;
  dense_arith::submatriz b_desc;
  dense_arith::submatriz c_desc;

  // Matrices of the given sizes filled from `seed`; descriptors over all of a
  // (rows and columns) and all of b's columns; c's bloco covers c.
  block_case(int32_t a_rows, int32_t a_cols, int32_t b_rows, int32_t b_cols, int32_t c_rows,
             int32_t c_cols, uint32_t seed, int32_t lo = -1000, int32_t hi = 1000);
  block_case(const block_case&) = delete;
  block_case& operator=(const block_case&) = delete;

  // Narrows the block: a's rows [i0, i1) and columns [k0, k1), b's columns [j0, j1).
  void set_block(int32_t i0, int32_t i1, int32_t k0, int32_t k1, int32_t j0, int32_t j1);

  // What c must hold after one kernel call on the current descriptors.
  std::vector<int32_t> expected_c() const;
};

// Values drawn from the extremes of int32 (INT32_MIN, INT32_MAX, +-1, 0, large
// powers of two) so that every product and every sum overflows.
void fill_extremes(owned_matrix& m, uint32_t seed);

}  // namespace kernel_test
