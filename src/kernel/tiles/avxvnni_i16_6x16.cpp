// The AVX-VNNI 16-bit-range tile: 6 rows x 16 columns of c in twelve ymm accumulators,
// fed with packed pairs of k. The only file built with -mavxvnni.
#include <cstdint>

#include "tile.hpp"
#include "tile_parts.hpp"

namespace block_kernel::detail {

// One step (a pair of k) for one tile row: a's pair for row r broadcast into
// ymm14; vpdpwssd multiplies it with each of b's two vectors of column pairs
// and adds both products of each column straight into the row's accumulators:
// the multiply and the add of the AVX2 tile in one instruction. vpdpwssd (not
// the saturating vpdpwssds) wraps like vpmaddwd + vpaddd: exact modulo 2^32.
// {vex} asks for the AVX-VNNI encoding (the EVEX form needs AVX-512 VNNI).
// clang-format off
#define DENSE_ROW(offset, lo, hi)                          \
  "vpbroadcastd " #offset "(%[a]), %%ymm14\n\t"            \
  "%{vex%} vpdpwssd %%ymm12, %%ymm14, %%ymm" #lo "\n\t"    \
  "%{vex%} vpdpwssd %%ymm13, %%ymm14, %%ymm" #hi "\n\t"
// clang-format on

DENSE_DEFINE_TILE(tile_avxvnni_i16_6x16, kYmmShape, DENSE_YMM_LOOP(DENSE_ROW), ymm)

#undef DENSE_ROW

}  // namespace block_kernel::detail
