// The block kernel and the team kernel as tests and benchmarks see them (not installed).
//
// mmsubmatriz and mmsubmatrizOMP pick the fastest path on their own; these
// declarations let a test force each path on either entry point, ask which
// paths run here and what they are called, and check the team kernel's pure
// split of the result without starting a thread. The paths, the CPU features
// and the pure selection rules come with dispatch.hpp.
#pragma once

#include <cstdint>
#include <dense/dense_arith.hpp>

#include "kernel/dispatch.hpp"

namespace block_kernel {

// True when `p` can run here (compiled in and supported by the CPU).
bool path_available(path p);

// The enumerator's name ("scalar_i32", "avx2_i16", ...); "?" for any other value.
const char* path_name(path p);

// mmsubmatriz forced onto path `p`. Same checks, messages and results; a path
// that cannot run here returns -1 silently and writes nothing. A 16-bit-range
// path runs only when the block's values all fit in 16 bits, and the call
// takes this machine's int32 path otherwise, as mmsubmatriz does.
int mmsubmatriz_on(path p, const dense_arith::submatriz* a, const dense_arith::submatriz* b,
                   const dense_arith::submatriz* c);

}  // namespace block_kernel

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
// among splits within 5% of it. Thread t takes row part t / col_parts and column part
// t % col_parts, each dealt out in whole tiles by dense_detail::even_part. Pure.
result_split split_result(int32_t m, int32_t n, int32_t mr, int32_t nr, int32_t threads);

// team_kernel::mmsubmatrizOMP forced onto path `p`; a path that cannot run
// here returns -1 silently and writes nothing.
int mmsubmatrizOMP_on(block_kernel::path p, const dense_arith::submatriz* a,
                      const dense_arith::submatriz* b, const dense_arith::submatriz* c, int32_t n);

}  // namespace team_kernel::detail
