// The AVX2 16-bit-range tile kernel: 6 rows x 16 columns held in twelve ymm accumulators,
// fed with packed pairs of k. The only file built with -mavx2 besides tile_avx2.cpp.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "tile.hpp"

namespace block_kernel::detail {
namespace {

constexpr int32_t kMr = 6;
constexpr int32_t kNr = 16;  // two ymm registers per tile row

// One step (a pair of k) for one tile row: a's pair for row r broadcast into
// ymm14; vpmaddwd multiplies it with each of b's two vectors of column pairs
// (ymm12/ymm13) and adds the two products of each column into one 32-bit sum,
// which vpaddd adds into the row's accumulator pair.
// clang-format off
#define DENSE_TILE_ROW(offset, lo, hi)                     \
  "vpbroadcastd " #offset "(%[a]), %%ymm14\n\t"            \
  "vpmaddwd %%ymm12, %%ymm14, %%ymm15\n\t"                  \
  "vpaddd %%ymm15, %%ymm" #lo ", %%ymm" #lo "\n\t"         \
  "vpmaddwd %%ymm13, %%ymm14, %%ymm15\n\t"                  \
  "vpaddd %%ymm15, %%ymm" #hi ", %%ymm" #hi "\n\t"
#define DENSE_TILE_ZERO(lo, hi)                            \
  "vpxor %%ymm" #lo ", %%ymm" #lo ", %%ymm" #lo "\n\t"     \
  "vpxor %%ymm" #hi ", %%ymm" #hi ", %%ymm" #hi "\n\t"
#define DENSE_TILE_SAVE(offset, lo, hi)                    \
  "vmovdqa %%ymm" #lo ", " #offset "(%[out])\n\t"          \
  "vmovdqa %%ymm" #hi ", 32+" #offset "(%[out])\n\t"
// clang-format on

// The loop is assembly for the reason given in tile_avx2.cpp. Per pair of k:
// two loads of b, six broadcasts of a, twelve vpmaddwd + vpaddd: twice the
// multiply-adds of the int32 tile per instruction, and vpmaddwd issues more
// often than vpmulld. Every int16 product is exact in 32 bits; the pair sum
// wraps only for (-32768)^2 + (-32768)^2 = 2^31, to the same bits as the
// int32 path, and vpaddd wraps: exact modulo 2^32 in any order.
void avx2_16_tile(int32_t steps_count, const int32_t* a_panel, const int32_t* b_panel,
                  int32_t* const* c_rows, int32_t c_col, int32_t m, int32_t n) {
  for (int32_t r = 0; r < m; ++r) {
    _mm_prefetch(reinterpret_cast<const char*>(c_rows[r] + c_col), _MM_HINT_T0);
  }
  alignas(32) int32_t sums[kMr * kNr];
  const int32_t* a = a_panel;
  const int32_t* b = b_panel;
  int64_t steps = steps_count;
  // clang-format off
  __asm__ volatile(
      DENSE_TILE_ZERO(0, 1) DENSE_TILE_ZERO(2, 3) DENSE_TILE_ZERO(4, 5)
      DENSE_TILE_ZERO(6, 7) DENSE_TILE_ZERO(8, 9) DENSE_TILE_ZERO(10, 11)
      "test %[steps], %[steps]\n\t"
      "jle 2f\n\t"
      ".p2align 5\n"
      "1:\n\t"
      "vmovdqu (%[b]), %%ymm12\n\t"
      "vmovdqu 32(%[b]), %%ymm13\n\t"
      DENSE_TILE_ROW(0, 0, 1) DENSE_TILE_ROW(4, 2, 3) DENSE_TILE_ROW(8, 4, 5)
      DENSE_TILE_ROW(12, 6, 7) DENSE_TILE_ROW(16, 8, 9) DENSE_TILE_ROW(20, 10, 11)
      "add $24, %[a]\n\t"  // kMr pairs of a
      "add $64, %[b]\n\t"  // kNr pairs of b
      "dec %[steps]\n\t"
      "jnz 1b\n"
      "2:\n\t"
      DENSE_TILE_SAVE(0, 0, 1) DENSE_TILE_SAVE(64, 2, 3) DENSE_TILE_SAVE(128, 4, 5)
      DENSE_TILE_SAVE(192, 6, 7) DENSE_TILE_SAVE(256, 8, 9) DENSE_TILE_SAVE(320, 10, 11)
      : [a] "+r"(a), [b] "+r"(b), [steps] "+r"(steps)
      : [out] "r"(sums)
      : "cc", "memory", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8",
        "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15");
  // clang-format on

  if (m == kMr && n == kNr) {
    for (int32_t r = 0; r < kMr; ++r) {
      int32_t* c = c_rows[r] + c_col;
      for (int32_t v = 0; v < 2; ++v) {
        auto* p = reinterpret_cast<__m256i*>(c + ptrdiff_t{8} * v);
        const __m256i s = _mm256_load_si256(
            reinterpret_cast<const __m256i*>(sums + ptrdiff_t{r} * kNr + ptrdiff_t{8} * v));
        _mm256_storeu_si256(p, _mm256_add_epi32(_mm256_loadu_si256(p), s));
      }
    }
    return;
  }
  // Edge tile: add only the valid corner.
  for (int32_t r = 0; r < m; ++r) {
    int32_t* c = c_rows[r] + c_col;
    for (int32_t j = 0; j < n; ++j) {
      c[j] = static_cast<int32_t>(static_cast<uint32_t>(c[j]) +
                                  static_cast<uint32_t>(sums[r * kNr + j]));
    }
  }
}

#undef DENSE_TILE_SAVE
#undef DENSE_TILE_ZERO
#undef DENSE_TILE_ROW

}  // namespace

extern const tile_kernel kAvx2_16Kernel = {kMr,         kNr, 96, 1024, 2048, packing::int16_pairs,
                                           avx2_16_tile};

}  // namespace block_kernel::detail
