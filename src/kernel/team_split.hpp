// Private to the team kernel: how the result is cut among a team, and the team kernel
// forced onto one path, for tests and benchmarks (not installed).
#pragma once

#include <cstdint>
#include <dense/dense_arith.hpp>

#include "kernel/paths.hpp"

namespace team_kernel::detail {

// The result cut into row_parts x col_parts rectangles, one per thread; the
// threads past row_parts * col_parts (if any) compute nothing.
struct result_split {
  int32_t row_parts;
  int32_t col_parts;
};

// How a team of `threads` shares an m x n result whose register tiles are
// mr x nr (n: the columns of one packed block of b, which the team works on
// together; each block's columns are dealt out the same way). Rows are cut first: each thread then
// packs only its own rows of a and every thread reads the same packed panels of b. Columns are cut
// too only when the rows alone cannot keep the team evenly busy (a result of few rows, or more
// threads than row tiles): the split whose largest rectangle is smallest, preferring more row parts
// among splits within 5% of it. Pure.
result_split split_result(int32_t m, int32_t n, int32_t mr, int32_t nr, int32_t threads);

// team_kernel::mmsubmatrizOMP forced onto path `p`; a path that cannot run
// here returns -1 silently and writes nothing.
int mmsubmatrizOMP_on(block_kernel::path p, const dense_arith::submatriz* a,
                      const dense_arith::submatriz* b, const dense_arith::submatriz* c, int32_t n);

}  // namespace team_kernel::detail
