// The AVX-VNNI 16-bit-range tile kernel: 6 rows x 16 columns held in twelve ymm
// accumulators, fed with packed pairs of k. The only file built with -mavxvnni.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "tile.hpp"

namespace block_kernel::detail {
namespace {

constexpr int32_t kMr = 6;
constexpr int32_t kNr = 16;  // two ymm registers per tile row

// One step (a pair of k) for one tile row: a's pair for row r broadcast into
// ymm14; vpdpwssd multiplies it with each of b's two vectors of column pairs
// (ymm12/ymm13) and adds both products of each column straight into the row's
// accumulators: the multiply and the add of the AVX2 tile in one instruction.
// {vex} asks for the AVX-VNNI encoding (the EVEX form needs AVX-512 VNNI).
// clang-format off
#define DENSE_TILE_ROW(offset, lo, hi)                     \
  "vpbroadcastd " #offset "(%[a]), %%ymm14\n\t"            \
  "%{vex%} vpdpwssd %%ymm12, %%ymm14, %%ymm" #lo "\n\t"       \
  "%{vex%} vpdpwssd %%ymm13, %%ymm14, %%ymm" #hi "\n\t"
#define DENSE_TILE_ZERO(lo, hi)                            \
  "vpxor %%ymm" #lo ", %%ymm" #lo ", %%ymm" #lo "\n\t"     \
  "vpxor %%ymm" #hi ", %%ymm" #hi ", %%ymm" #hi "\n\t"
#define DENSE_TILE_SAVE(offset, lo, hi)                    \
  "vmovdqa %%ymm" #lo ", " #offset "(%[out])\n\t"          \
  "vmovdqa %%ymm" #hi ", 32+" #offset "(%[out])\n\t"
// clang-format on

// The loop is assembly for the reason given in tile_avx2.cpp. Per pair of k:
// two loads of b, six broadcasts of a, twelve vpdpwssd. vpdpwssd (not
// vpdpwssds) wraps like vpmaddwd + vpaddd: exact modulo 2^32.
void avxvnni_16_tile(int32_t steps_count, const int32_t* a_panel, const int32_t* b_panel,
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

extern const tile_kernel kAvxVnni16Kernel = {
    kMr, kNr, 96, 1024, 2048, packing::int16_pairs, avxvnni_16_tile};

}  // namespace block_kernel::detail
