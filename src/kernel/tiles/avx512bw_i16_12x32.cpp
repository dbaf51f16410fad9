// The AVX-512BW 16-bit-range tile: 12 rows x 32 columns of c in twenty-four zmm
// accumulators, fed with packed pairs of k. The only file built with -mavx512bw and
// without VNNI.
#include <cstdint>

#include "tile.hpp"
#include "tile_parts.hpp"

namespace block_kernel::detail {

// One step (a pair of k) for one tile row: a's pair for row r broadcast into
// zmm26 (vpmaddwd has no embedded broadcast), multiplied with b's two vectors
// of column pairs by vpmaddwd, which adds the two products of each column
// into one 32-bit sum; vpaddd adds it into the row's accumulators. Per step:
// two loads of b, twelve broadcasts of a, twenty-four vpmaddwd and
// twenty-four vpaddd. Every int16 product is exact in 32 bits; the pair sum
// wraps only for (-32768)^2 + (-32768)^2 = 2^31, to the same bits as the
// int32 path, and vpaddd wraps: exact modulo 2^32 in any order.
// clang-format off
#define DENSE_ROW(offset, lo, hi)                          \
  "vpbroadcastd " #offset "(%[a]), %%zmm26\n\t"           \
  "vpmaddwd %%zmm26, %%zmm30, %%zmm28\n\t"                \
  "vpmaddwd %%zmm26, %%zmm31, %%zmm29\n\t"                \
  "vpaddd %%zmm28, %%zmm" #lo ", %%zmm" #lo "\n\t"        \
  "vpaddd %%zmm29, %%zmm" #hi ", %%zmm" #hi "\n\t"
// clang-format on

DENSE_DEFINE_TILE(tile_avx512bw_i16_12x32, kZmmShape, DENSE_ZMM_LOOP(DENSE_ROW), zmm)

#undef DENSE_ROW

}  // namespace block_kernel::detail
