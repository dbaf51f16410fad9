// The AVX-512 int32 tile: 12 rows x 32 columns of c in twenty-four zmm accumulators.
// The only file built with -mavx512f alone.
#include <cstdint>

#include "tile.hpp"
#include "tile_parts.hpp"

namespace block_kernel::detail {

// One step of k for one tile row: a[k][r] broadcast straight from the packed
// panel into two multiplies with b's two vectors (a folded broadcast), each
// product added into the row's pair of accumulators. Per step: two loads of
// b, twenty-four vpmulld and twenty-four vpaddd into independent
// accumulators, so the multiply pipes never wait on a result. vpmulld keeps
// the low 32 bits and vpaddd wraps: exact modulo 2^32 in any order.
// clang-format off
#define DENSE_ROW(offset, lo, hi)                             \
  "vpmulld " #offset "(%[a])%{1to16%}, %%zmm30, %%zmm28\n\t" \
  "vpmulld " #offset "(%[a])%{1to16%}, %%zmm31, %%zmm29\n\t" \
  "vpaddd %%zmm28, %%zmm" #lo ", %%zmm" #lo "\n\t"          \
  "vpaddd %%zmm29, %%zmm" #hi ", %%zmm" #hi "\n\t"
// clang-format on

DENSE_DEFINE_TILE(tile_avx512_i32_12x32, kZmmShape, DENSE_ZMM_LOOP(DENSE_ROW), zmm)

#undef DENSE_ROW

}  // namespace block_kernel::detail
