// The AVX2 16-bit-range tile: 6 rows x 16 columns of c in twelve ymm accumulators, fed
// with packed pairs of k. The only 16-bit-range file built with -mavx2 alone.
#include <cstdint>

#include "tile.hpp"
#include "tile_parts.hpp"

namespace block_kernel::detail {

// One step (a pair of k) for one tile row: a's pair for row r broadcast into
// ymm14; vpmaddwd multiplies it with each of b's two vectors of column pairs
// and adds the two products of each column into one 32-bit sum, which vpaddd
// adds into the row's accumulators. Twice the multiply-adds of the int32 tile
// per instruction, and vpmaddwd issues more often than vpmulld. Every int16
// product is exact in 32 bits; the pair sum wraps only for (-32768)^2 +
// (-32768)^2 = 2^31, to the same bits as the int32 path, and vpaddd wraps:
// exact modulo 2^32 in any order.
// clang-format off
#define DENSE_ROW(offset, lo, hi)                          \
  "vpbroadcastd " #offset "(%[a]), %%ymm14\n\t"            \
  "vpmaddwd %%ymm12, %%ymm14, %%ymm15\n\t"                 \
  "vpaddd %%ymm15, %%ymm" #lo ", %%ymm" #lo "\n\t"         \
  "vpmaddwd %%ymm13, %%ymm14, %%ymm15\n\t"                 \
  "vpaddd %%ymm15, %%ymm" #hi ", %%ymm" #hi "\n\t"
// clang-format on

DENSE_DEFINE_TILE(tile_avx2_i16_6x16, kYmmShape, DENSE_YMM_LOOP(DENSE_ROW), ymm)

#undef DENSE_ROW

}  // namespace block_kernel::detail
