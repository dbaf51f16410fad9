// The registry of the block kernel's paths: one row per instruction set and value type.
#include "kernel/registry.hpp"

namespace block_kernel::detail {

// The tiles, each defined in tiles/<its name without tile_>.cpp. The SIMD ones
// exist only in builds for x86-64.
tile_signature tile_scalar_i32_4x8;
tile_signature tile_scalar_i16_4x8;
tile_signature tile_avx2_i32_6x16;
tile_signature tile_avx2_i16_6x16;
tile_signature tile_avxvnni_i16_6x16;
tile_signature tile_avx512_i32_12x32;
tile_signature tile_avx512bw_i16_12x32;
tile_signature tile_avx512vnni_i16_12x32;

namespace {

#if DENSE_KERNEL_X86
#define DENSE_X86_TILE(tile) tile
#else
#define DENSE_X86_TILE(tile) nullptr  // not built for this processor
#endif

using enum packing;
constexpr cpu_features kNone = 0;
using namespace feature;

// The blocks are sized so that a's packed mc x kc block stays in L2, one
// kc-deep panel of b in L1 while the tile rows of a pass it, and b's packed
// kc x nc block in L2/L3. The pair tiles take twice the depth in elements for
// the same bytes, since one word holds two steps of k. Within each packing the
// fastest first: the zmm tiles do twice the work of the ymm ones per
// instruction, and the fused vpdpwssd saves the separate add (and a register
// per row). The scalar pair path is slower than the scalar int32 one: it is
// there to check the pair packing, never picked.
// clang-format off
constexpr path_row kRows[] = {
    // name            needs                             picked  mr               nr               mc  kc    nc    packing      tile
    {"avx512_i32",     avx512f,                          true,  {kZmmShape.mr,    kZmmShape.nr,    96, 1024, 2048, int32_words, DENSE_X86_TILE(tile_avx512_i32_12x32)}},
    {"avx2_i32",       avx2,                             true,  {kYmmShape.mr,    kYmmShape.nr,    96, 512,  2048, int32_words, DENSE_X86_TILE(tile_avx2_i32_6x16)}},
    {"scalar_i32",     kNone,                            true,  {kScalarShape.mr, kScalarShape.nr, 64, 256,  1024, int32_words, tile_scalar_i32_4x8}},
    {"avx512vnni_i16", avx512f | avx512bw | avx512vnni,  true,  {kZmmShape.mr,    kZmmShape.nr,    96, 2048, 2048, int16_pairs, DENSE_X86_TILE(tile_avx512vnni_i16_12x32)}},
    {"avx512bw_i16",   avx512f | avx512bw,               true,  {kZmmShape.mr,    kZmmShape.nr,    96, 2048, 2048, int16_pairs, DENSE_X86_TILE(tile_avx512bw_i16_12x32)}},
    {"avxvnni_i16",    avx2 | avxvnni,                   true,  {kYmmShape.mr,    kYmmShape.nr,    96, 1024, 2048, int16_pairs, DENSE_X86_TILE(tile_avxvnni_i16_6x16)}},
    {"avx2_i16",       avx2,                             true,  {kYmmShape.mr,    kYmmShape.nr,    96, 1024, 2048, int16_pairs, DENSE_X86_TILE(tile_avx2_i16_6x16)}},
    {"scalar_i16",     kNone,                            false, {kScalarShape.mr, kScalarShape.nr, 64, 512,  1024, int16_pairs, tile_scalar_i16_4x8}},
};
// clang-format on

#undef DENSE_X86_TILE

constexpr bool same_text(const char* x, const char* y) {
  for (; *x != '\0' && *x == *y; ++x, ++y) {
  }
  return *x == *y;
}

// What the driver and the selection rely on of every row: whole tiles in mc
// and nc, an even kc for pairs, a unique name, and an int32 path that every
// CPU runs (the fallback the selection ends on).
constexpr bool rows_are_sound() {
  bool fallback = false;
  for (const path_row& row : kRows) {
    const tile_kernel& k = row.kernel;
    if (k.mc % k.mr != 0 || k.nc % k.nr != 0 || (k.pack == int16_pairs && k.kc % 2 != 0)) {
      return false;
    }
    for (const path_row& other : kRows) {
      if (&other != &row && same_text(other.name, row.name)) {
        return false;
      }
    }
    fallback = fallback || (row.picked && row.needs == kNone && k.pack == int32_words);
  }
  return fallback;
}
static_assert(rows_are_sound(),
              "kRows: mc and nc whole tiles, kc even for pairs, unique names, a scalar int32 row");

}  // namespace

std::span<const path_row> path_rows() { return kRows; }

}  // namespace block_kernel::detail
