// The AVX-512BW 16-bit-range tile kernel: 12 rows x 32 columns held in twenty-four zmm
// accumulators, fed with packed pairs of k. The only file built with -mavx512bw.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "tile.hpp"

namespace block_kernel::detail {
namespace {

constexpr int32_t kMr = 12;
constexpr int32_t kNr = 32;  // two zmm registers per tile row

__mmask16 column_mask(int32_t valid) {
  if (valid >= 16) {
    return static_cast<__mmask16>(0xFFFF);
  }
  if (valid <= 0) {
    return static_cast<__mmask16>(0);
  }
  return static_cast<__mmask16>((1U << valid) - 1U);
}

// One step (a pair of k) for one tile row: a's pair for row r broadcast into
// zmm26 (vpmaddwd has no embedded broadcast), multiplied with b's two vectors
// of column pairs (zmm30/zmm31) by vpmaddwd, which adds the two products of
// each column into one 32-bit sum; vpaddd adds it into the row's accumulators.
// clang-format off
#define DENSE_TILE_ROW(offset, lo, hi)                        \
  "vpbroadcastd " #offset "(%[a]), %%zmm26\n\t"             \
  "vpmaddwd %%zmm26, %%zmm30, %%zmm28\n\t"                  \
  "vpmaddwd %%zmm26, %%zmm31, %%zmm29\n\t"                  \
  "vpaddd %%zmm28, %%zmm" #lo ", %%zmm" #lo "\n\t"          \
  "vpaddd %%zmm29, %%zmm" #hi ", %%zmm" #hi "\n\t"
#define DENSE_TILE_ZERO(lo, hi)                            \
  "vpxord %%zmm" #lo ", %%zmm" #lo ", %%zmm" #lo "\n\t"   \
  "vpxord %%zmm" #hi ", %%zmm" #hi ", %%zmm" #hi "\n\t"
#define DENSE_TILE_SAVE(offset, lo, hi)                    \
  "vmovdqa32 %%zmm" #lo ", " #offset "(%[out])\n\t"       \
  "vmovdqa32 %%zmm" #hi ", 64+" #offset "(%[out])\n\t"
// clang-format on

// The loop is assembly for the reason given in tile_avx512.cpp. Per pair of
// k: two loads of b, twelve broadcasts of a, twenty-four vpmaddwd and
// twenty-four vpaddd. Every int16 product is exact in 32 bits; the pair sum
// wraps only for (-32768)^2 + (-32768)^2 = 2^31, to the same bits as the
// int32 path, and vpaddd wraps: exact modulo 2^32 in any order.
void avx512bw_16_tile(int32_t steps_count, const int32_t* a_panel, const int32_t* b_panel,
                      int32_t* const* c_rows, int32_t c_col, int32_t m, int32_t n) {
  // c is read only after the whole loop over k: ask for its lines now, so the
  // write-back finds them in cache instead of waiting on memory.
  for (int32_t r = 0; r < m; ++r) {
    const int32_t* c = c_rows[r] + c_col;
    _mm_prefetch(reinterpret_cast<const char*>(c), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(c + n - 1), _MM_HINT_T0);  // last valid column
  }
  alignas(64) int32_t sums[kMr * kNr];
  const int32_t* a = a_panel;
  const int32_t* b = b_panel;
  int64_t steps = steps_count;
  // clang-format off
  __asm__ volatile(
      DENSE_TILE_ZERO(0, 1) DENSE_TILE_ZERO(2, 3) DENSE_TILE_ZERO(4, 5) DENSE_TILE_ZERO(6, 7)
      DENSE_TILE_ZERO(8, 9) DENSE_TILE_ZERO(10, 11) DENSE_TILE_ZERO(12, 13)
      DENSE_TILE_ZERO(14, 15) DENSE_TILE_ZERO(16, 17) DENSE_TILE_ZERO(18, 19)
      DENSE_TILE_ZERO(20, 21) DENSE_TILE_ZERO(22, 23)
      "test %[steps], %[steps]\n\t"
      "jle 2f\n\t"
      ".p2align 5\n"
      "1:\n\t"
      "vmovdqu32 (%[b]), %%zmm30\n\t"
      "vmovdqu32 64(%[b]), %%zmm31\n\t"
      DENSE_TILE_ROW(0, 0, 1) DENSE_TILE_ROW(4, 2, 3) DENSE_TILE_ROW(8, 4, 5)
      DENSE_TILE_ROW(12, 6, 7) DENSE_TILE_ROW(16, 8, 9) DENSE_TILE_ROW(20, 10, 11)
      DENSE_TILE_ROW(24, 12, 13) DENSE_TILE_ROW(28, 14, 15) DENSE_TILE_ROW(32, 16, 17)
      DENSE_TILE_ROW(36, 18, 19) DENSE_TILE_ROW(40, 20, 21) DENSE_TILE_ROW(44, 22, 23)
      "add $48, %[a]\n\t"    // kMr pairs of a
      "sub $-128, %[b]\n\t"  // kNr pairs of b
      "dec %[steps]\n\t"
      "jnz 1b\n"
      "2:\n\t"
      DENSE_TILE_SAVE(0, 0, 1) DENSE_TILE_SAVE(128, 2, 3) DENSE_TILE_SAVE(256, 4, 5)
      DENSE_TILE_SAVE(384, 6, 7) DENSE_TILE_SAVE(512, 8, 9) DENSE_TILE_SAVE(640, 10, 11)
      DENSE_TILE_SAVE(768, 12, 13) DENSE_TILE_SAVE(896, 14, 15) DENSE_TILE_SAVE(1024, 16, 17)
      DENSE_TILE_SAVE(1152, 18, 19) DENSE_TILE_SAVE(1280, 20, 21) DENSE_TILE_SAVE(1408, 22, 23)
      : [a] "+r"(a), [b] "+r"(b), [steps] "+r"(steps)
      : [out] "r"(sums)
      : "cc", "memory", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8",
        "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15", "xmm16", "xmm17", "xmm18",
        "xmm19", "xmm20", "xmm21", "xmm22", "xmm23", "xmm26", "xmm28", "xmm29", "xmm30", "xmm31");
  // clang-format on

  // Masks keep an edge tile inside its valid columns.
  const __mmask16 mask_lo = column_mask(n);
  const __mmask16 mask_hi = column_mask(n - 16);
  for (int32_t r = 0; r < m; ++r) {
    int32_t* c = c_rows[r] + c_col;
    const int32_t* s = sums + ptrdiff_t{r} * kNr;
    _mm512_mask_storeu_epi32(
        c, mask_lo, _mm512_add_epi32(_mm512_maskz_loadu_epi32(mask_lo, c), _mm512_load_si512(s)));
    _mm512_mask_storeu_epi32(
        c + 16, mask_hi,
        _mm512_add_epi32(_mm512_maskz_loadu_epi32(mask_hi, c + 16), _mm512_load_si512(s + 16)));
  }
}

#undef DENSE_TILE_SAVE
#undef DENSE_TILE_ZERO
#undef DENSE_TILE_ROW

}  // namespace

extern const tile_kernel kAvx512Bw16Kernel = {
    kMr, kNr, 96, 2048, 2048, packing::int16_pairs, avx512bw_16_tile};

}  // namespace block_kernel::detail
