// What every tile file shares: the frame of a tile around its arithmetic. The write-back
// of a tile's sums into c, the prefetch of c, and for the vector tiles the loop over k in
// assembly, around the one or two instructions per tile row that make each tile what it
// is.
//
// Everything here has internal linkage (templates and inline functions in an anonymous
// namespace, and macros), so each tile file compiles its own copy under its own
// instruction-set flags and nothing built for one instruction set is linked into another
// one's file. Each part is defined only where the including file's flags allow it: the
// plain C++ frame always, the ymm frame with AVX2, the zmm frame with AVX-512F. This
// header includes nothing but <cstdint> and <immintrin.h>.
#pragma once

#include <cstdint>
#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace block_kernel::detail {
namespace {

// The edge write-back: adds rows [0, m) and columns [0, n) of a tile's sums
// (Nr a row) into c at c_rows[r][c_col + j], wrapping at 32 bits. Only the
// valid corner of c is read and written.
template <int32_t Nr, typename Sum>
void add_corner(const Sum* sums, int32_t* const* c_rows, int32_t c_col, int32_t m, int32_t n) {
  for (int32_t r = 0; r < m; ++r) {
    int32_t* c = c_rows[r] + c_col;
    for (int32_t j = 0; j < n; ++j) {
      c[j] = static_cast<int32_t>(static_cast<uint32_t>(c[j]) +
                                  static_cast<uint32_t>(sums[r * Nr + j]));
    }
  }
}

// A plain C++ tile of Mr x Nr sums: step s adds product(a word, b word) of
// a_panel[s * Mr + r] and b_panel[s * Nr + j] into sum (r, j). The sums are
// unsigned, so they wrap at 32 bits exactly like the vector paths.
template <int32_t Mr, int32_t Nr, typename Product>
void scalar_tile(Product product, int32_t steps, const int32_t* a_panel, const int32_t* b_panel,
                 int32_t* const* c_rows, int32_t c_col, int32_t m, int32_t n) {
  uint32_t sums[Mr * Nr] = {};
  for (int32_t s = 0; s < steps; ++s) {
    const int32_t* a_s = a_panel + static_cast<int64_t>(s) * Mr;
    const int32_t* b_s = b_panel + static_cast<int64_t>(s) * Nr;
    for (int32_t r = 0; r < Mr; ++r) {
      for (int32_t j = 0; j < Nr; ++j) {
        sums[r * Nr + j] += product(a_s[r], b_s[j]);
      }
    }
  }
  add_corner<Nr>(sums, c_rows, c_col, m, n);
}

// Defines the vector tile function `name` (a tile_signature) of `shape`: it
// prefetches c, runs `loop` (a DENSE_YMM_LOOP or DENSE_ZMM_LOOP) over the
// panels into the tile's sums and adds them into c with the write-back of
// `frame` (ymm: ymm_write_back, zmm: zmm_write_back). The one line a vector
// tile file adds to its arithmetic.
#define DENSE_DEFINE_TILE(name, shape, loop, frame)                                                \
  void name(int32_t steps, const int32_t* a_panel, const int32_t* b_panel, int32_t* const* c_rows, \
            int32_t c_col, int32_t m, int32_t n) {                                                 \
    prefetch_c(c_rows, c_col, m, n);                                                               \
    alignas(64) int32_t sums[(shape).mr * (shape).nr];                                             \
    (loop)(a_panel, b_panel, int64_t{steps}, sums);                                                \
    frame##_write_back<(shape).mr, (shape).nr>(sums, c_rows, c_col, m, n);                         \
  }

#if defined(__AVX2__)

// c is read only after the whole loop over k: ask for its lines now (the
// first and the last valid column of each row), so the write-back finds them
// in cache instead of waiting on memory.
inline void prefetch_c(int32_t* const* c_rows, int32_t c_col, int32_t m, int32_t n) {
  for (int32_t r = 0; r < m; ++r) {
    const int32_t* c = c_rows[r] + c_col;
    _mm_prefetch(reinterpret_cast<const char*>(c), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(c + n - 1), _MM_HINT_T0);
  }
}

// ---- the loop over k in assembly, for the ymm and zmm frames ----
//
// The loops over k are assembly: with intrinsics GCC 12 spills part of an
// array of accumulators to the stack and copies the rest between registers
// every step, which costs about half the speed.
//
// DENSE_ASM_LOOP(ZERO, STEP, SAVE, clobbers...) is a lambda (a, b, count, out)
// of one asm statement: ZERO clears the accumulators, STEP runs `count` times
// (it reads a step of a and b through %[a] and %[b] and advances them), and
// SAVE stores the accumulators to `out` row by row.
// clang-format off
#define DENSE_ASM_LOOP(ZERO, STEP, SAVE, ...)                                  \
  [](const int32_t* a, const int32_t* b, int64_t count, int32_t* out) {        \
    __asm__ volatile(                                                          \
        ZERO                                                                   \
        "test %[steps], %[steps]\n\t"                                          \
        "jle 2f\n\t"                                                           \
        ".p2align 5\n"                                                         \
        "1:\n\t"                                                               \
        STEP                                                                   \
        "dec %[steps]\n\t"                                                     \
        "jnz 1b\n"                                                             \
        "2:\n\t"                                                               \
        SAVE                                                                   \
        : [a] "+r"(a), [b] "+r"(b), [steps] "+r"(count)                        \
        : [out] "r"(out)                                                       \
        : "cc", "memory", __VA_ARGS__);                                        \
  }
// The two accumulators lo and hi of a tile row, set to zero with `xor_` on
// registers named `reg` (DENSE_ZERO), or stored with `move` to the row's
// place at `offset` bytes of %[out], hi `bytes` after lo (DENSE_SAVE).
#define DENSE_ZERO(xor_, reg, lo, hi)                                  \
  xor_ " %%" reg #lo ", %%" reg #lo ", %%" reg #lo "\n\t"               \
  xor_ " %%" reg #hi ", %%" reg #hi ", %%" reg #hi "\n\t"
#define DENSE_SAVE(move, reg, bytes, offset, lo, hi)                   \
  move " %%" reg #lo ", " #offset "(%[out])\n\t"                        \
  move " %%" reg #hi ", " #bytes "+" #offset "(%[out])\n\t"
// clang-format on

// ---- the ymm frame: 6 x 16 tiles, AVX2 and AVX-VNNI ----
//
// Registers: the accumulators of tile row r are ymm(2r) and ymm(2r + 1)
// (ymm0-ymm11), b's two vectors of the step are in ymm12 and ymm13, and ymm14
// and ymm15 are free for the row's arithmetic. Per step a advances by 6 words
// and b by 16.
// clang-format off
#define DENSE_YMM_ZERO(lo, hi) DENSE_ZERO("vpxor", "ymm", lo, hi)
#define DENSE_YMM_SAVE(offset, lo, hi) DENSE_SAVE("vmovdqa", "ymm", 32, offset, lo, hi)
// The loop of the 6 x 16 tile (a DENSE_ASM_LOOP), ROW(offset of the row's
// word in a's step, lo, hi) being one tile row's arithmetic in one step.
#define DENSE_YMM_LOOP(ROW)                                                          \
  DENSE_ASM_LOOP(                                                                    \
      DENSE_YMM_ZERO(0, 1) DENSE_YMM_ZERO(2, 3) DENSE_YMM_ZERO(4, 5)                 \
      DENSE_YMM_ZERO(6, 7) DENSE_YMM_ZERO(8, 9) DENSE_YMM_ZERO(10, 11),              \
      "vmovdqu (%[b]), %%ymm12\n\t"                                                  \
      "vmovdqu 32(%[b]), %%ymm13\n\t"                                                \
      ROW(0, 0, 1) ROW(4, 2, 3) ROW(8, 4, 5) ROW(12, 6, 7) ROW(16, 8, 9)             \
      ROW(20, 10, 11)                                                                \
      "add $24, %[a]\n\t"                                                            \
      "add $64, %[b]\n\t",                                                           \
      DENSE_YMM_SAVE(0, 0, 1) DENSE_YMM_SAVE(64, 2, 3) DENSE_YMM_SAVE(128, 4, 5)     \
      DENSE_YMM_SAVE(192, 6, 7) DENSE_YMM_SAVE(256, 8, 9) DENSE_YMM_SAVE(320, 10, 11), \
      "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9",  \
      "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15")
// clang-format on

// Adds the sums of a ymm tile into c: two vector adds a row for a whole
// tile, the edge write-back for the valid corner of an edge tile.
template <int32_t Mr, int32_t Nr>
void ymm_write_back(const int32_t* sums, int32_t* const* c_rows, int32_t c_col, int32_t m,
                    int32_t n) {
  static_assert(Mr == 6 && Nr == 16, "the ymm frame (DENSE_YMM_LOOP) is written for 6 x 16 tiles");
  if (m < Mr || n < Nr) {
    add_corner<Nr>(sums, c_rows, c_col, m, n);
    return;
  }
  for (int32_t r = 0; r < Mr; ++r) {
    for (int32_t v = 0; v < Nr; v += 8) {
      auto* c = reinterpret_cast<__m256i*>(c_rows[r] + c_col + v);
      const int32_t* s = sums + static_cast<int64_t>(r) * Nr + v;
      const __m256i sum = _mm256_load_si256(reinterpret_cast<const __m256i*>(s));
      _mm256_storeu_si256(c, _mm256_add_epi32(_mm256_loadu_si256(c), sum));
    }
  }
}

#endif  // __AVX2__

#if defined(__AVX512F__)

// ---- the zmm frame: 12 x 32 tiles, AVX-512 ----
//
// Registers: the accumulators of tile row r are zmm(2r) and zmm(2r + 1)
// (zmm0-zmm23), b's two vectors of the step are in zmm30 and zmm31, and
// zmm24-zmm29 are free for the row's arithmetic. Per step a advances by 12
// words and b by 32.
// clang-format off
#define DENSE_ZMM_ZERO(lo, hi) DENSE_ZERO("vpxord", "zmm", lo, hi)
#define DENSE_ZMM_SAVE(offset, lo, hi) DENSE_SAVE("vmovdqa32", "zmm", 64, offset, lo, hi)
// As DENSE_YMM_LOOP, for the 12 x 32 tile.
#define DENSE_ZMM_LOOP(ROW)                                                             \
  DENSE_ASM_LOOP(                                                                       \
      DENSE_ZMM_ZERO(0, 1) DENSE_ZMM_ZERO(2, 3) DENSE_ZMM_ZERO(4, 5) DENSE_ZMM_ZERO(6, 7) \
      DENSE_ZMM_ZERO(8, 9) DENSE_ZMM_ZERO(10, 11) DENSE_ZMM_ZERO(12, 13)                \
      DENSE_ZMM_ZERO(14, 15) DENSE_ZMM_ZERO(16, 17) DENSE_ZMM_ZERO(18, 19)              \
      DENSE_ZMM_ZERO(20, 21) DENSE_ZMM_ZERO(22, 23),                                    \
      "vmovdqu32 (%[b]), %%zmm30\n\t"                                                   \
      "vmovdqu32 64(%[b]), %%zmm31\n\t"                                                 \
      ROW(0, 0, 1) ROW(4, 2, 3) ROW(8, 4, 5) ROW(12, 6, 7) ROW(16, 8, 9)                \
      ROW(20, 10, 11) ROW(24, 12, 13) ROW(28, 14, 15) ROW(32, 16, 17)                   \
      ROW(36, 18, 19) ROW(40, 20, 21) ROW(44, 22, 23)                                   \
      "add $48, %[a]\n\t"                                                               \
      "sub $-128, %[b]\n\t",                                                            \
      DENSE_ZMM_SAVE(0, 0, 1) DENSE_ZMM_SAVE(128, 2, 3) DENSE_ZMM_SAVE(256, 4, 5)       \
      DENSE_ZMM_SAVE(384, 6, 7) DENSE_ZMM_SAVE(512, 8, 9) DENSE_ZMM_SAVE(640, 10, 11)   \
      DENSE_ZMM_SAVE(768, 12, 13) DENSE_ZMM_SAVE(896, 14, 15)                           \
      DENSE_ZMM_SAVE(1024, 16, 17) DENSE_ZMM_SAVE(1152, 18, 19)                         \
      DENSE_ZMM_SAVE(1280, 20, 21) DENSE_ZMM_SAVE(1408, 22, 23),                        \
      "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9",     \
      "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15", "xmm16", "xmm17", "xmm18",  \
      "xmm19", "xmm20", "xmm21", "xmm22", "xmm23", "xmm24", "xmm25", "xmm26", "xmm27",  \
      "xmm28", "xmm29", "xmm30", "xmm31")
// clang-format on

// The columns of a 16-lane half whose first `valid` lanes are inside the tile.
inline __mmask16 column_mask(int32_t valid) {
  if (valid >= 16) {
    return static_cast<__mmask16>(0xFFFF);
  }
  if (valid <= 0) {
    return static_cast<__mmask16>(0);
  }
  return static_cast<__mmask16>((1U << valid) - 1U);
}

// Adds the sums of a zmm tile into c: two masked vector adds a row, so an
// edge tile touches only its valid columns and rows.
template <int32_t Mr, int32_t Nr>
void zmm_write_back(const int32_t* sums, int32_t* const* c_rows, int32_t c_col, int32_t m,
                    int32_t n) {
  static_assert(Mr == 12 && Nr == 32,
                "the zmm frame (DENSE_ZMM_LOOP) is written for 12 x 32 tiles");
  const __mmask16 mask_lo = column_mask(n);
  const __mmask16 mask_hi = column_mask(n - 16);
  for (int32_t r = 0; r < m; ++r) {
    int32_t* c = c_rows[r] + c_col;
    const int32_t* s = sums + static_cast<int64_t>(r) * Nr;
    _mm512_mask_storeu_epi32(
        c, mask_lo, _mm512_add_epi32(_mm512_maskz_loadu_epi32(mask_lo, c), _mm512_load_si512(s)));
    _mm512_mask_storeu_epi32(
        c + 16, mask_hi,
        _mm512_add_epi32(_mm512_maskz_loadu_epi32(mask_hi, c + 16), _mm512_load_si512(s + 16)));
  }
}

#endif  // __AVX512F__

}  // namespace
}  // namespace block_kernel::detail
