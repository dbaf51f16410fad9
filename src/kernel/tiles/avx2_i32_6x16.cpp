// The AVX2 int32 tile: 6 rows x 16 columns of c in twelve ymm accumulators.
// The only int32 file built with -mavx2.
#include <cstdint>

#include "tile.hpp"
#include "tile_parts.hpp"

namespace block_kernel::detail {

// One step of k for one tile row: a[k][r] broadcast into ymm14, multiplied by
// b's two vectors, each product added into the row's pair of accumulators.
// vpmulld keeps the low 32 bits and vpaddd wraps: the sums are exact modulo
// 2^32 in any order. Per step: two loads of b, six broadcasts of a, twelve
// vpmulld + vpaddd into independent accumulators.
// clang-format off
#define DENSE_ROW(offset, lo, hi)                          \
  "vpbroadcastd " #offset "(%[a]), %%ymm14\n\t"            \
  "vpmulld %%ymm12, %%ymm14, %%ymm15\n\t"                  \
  "vpaddd %%ymm15, %%ymm" #lo ", %%ymm" #lo "\n\t"         \
  "vpmulld %%ymm13, %%ymm14, %%ymm15\n\t"                  \
  "vpaddd %%ymm15, %%ymm" #hi ", %%ymm" #hi "\n\t"
// clang-format on

DENSE_DEFINE_TILE(tile_avx2_i32_6x16, kYmmShape, DENSE_YMM_LOOP(DENSE_ROW), ymm)

#undef DENSE_ROW

}  // namespace block_kernel::detail
