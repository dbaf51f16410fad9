// The AVX-512 VNNI 16-bit-range tile: 12 rows x 32 columns of c in twenty-four zmm
// accumulators, fed with packed pairs of k. The only file built with -mavx512vnni.
#include <cstdint>

#include "tile.hpp"
#include "tile_parts.hpp"

namespace block_kernel::detail {

// One step (a pair of k) for one tile row: a's pair for row r broadcast
// straight from the packed panel into two vpdpwssd with b's two vectors of
// column pairs, each adding both products of every column into the row's
// accumulators: multiply, pair sum and add in one instruction. Per step: two
// loads of b and twenty-four vpdpwssd. vpdpwssd (not the saturating
// vpdpwssds) wraps like vpmaddwd + vpaddd: exact modulo 2^32 in any order.
// clang-format off
#define DENSE_ROW(offset, lo, hi)                                       \
  "vpdpwssd " #offset "(%[a])%{1to16%}, %%zmm30, %%zmm" #lo "\n\t"    \
  "vpdpwssd " #offset "(%[a])%{1to16%}, %%zmm31, %%zmm" #hi "\n\t"
// clang-format on

DENSE_DEFINE_TILE(tile_avx512vnni_i16_12x32, kZmmShape, DENSE_ZMM_LOOP(DENSE_ROW), zmm)

#undef DENSE_ROW

}  // namespace block_kernel::detail
