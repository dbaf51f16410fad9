// The AVX2 tile kernel: 6 rows x 16 columns held in twelve ymm accumulators.
// The only file built with -mavx2.
#include <immintrin.h>

#include <cstdint>

#include "kernel.hpp"

namespace block_kernel::detail {
namespace {

constexpr int32_t kMr = 6;
constexpr int32_t kVectors = 2;  // ymm registers across one tile row
constexpr int32_t kNr = 8 * kVectors;

// Per step of k: two loads of b, six broadcasts of a, twelve vpmulld + vpaddd.
// vpmulld keeps the low 32 bits and vpaddd wraps, so the sums are exact
// modulo 2^32 in any order.
void avx2_tile(int32_t kc, const int32_t* a_panel, const int32_t* b_panel, int32_t* const* c_rows,
               int32_t c_col, int32_t m, int32_t n) {
  __m256i acc[kMr][kVectors];
  for (auto& row : acc)
    for (auto& v : row) v = _mm256_setzero_si256();

  for (int32_t kk = 0; kk < kc; ++kk) {
    const int32_t* b_k = b_panel + kk * kNr;
    const int32_t* a_k = a_panel + kk * kMr;
    __m256i b_v[kVectors];
    for (int32_t v = 0; v < kVectors; ++v)
      b_v[v] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b_k + 8 * v));
    for (int32_t r = 0; r < kMr; ++r) {
      const __m256i a_r = _mm256_set1_epi32(a_k[r]);
      for (int32_t v = 0; v < kVectors; ++v)
        acc[r][v] = _mm256_add_epi32(acc[r][v], _mm256_mullo_epi32(a_r, b_v[v]));
    }
  }

  if (m == kMr && n == kNr) {
    for (int32_t r = 0; r < kMr; ++r) {
      int32_t* c = c_rows[r] + c_col;
      for (int32_t v = 0; v < kVectors; ++v) {
        auto* p = reinterpret_cast<__m256i*>(c + 8 * v);
        _mm256_storeu_si256(p, _mm256_add_epi32(_mm256_loadu_si256(p), acc[r][v]));
      }
    }
    return;
  }
  // Edge tile: spill the accumulators and add only the valid corner.
  alignas(32) int32_t spill[kMr][kNr];
  for (int32_t r = 0; r < kMr; ++r)
    for (int32_t v = 0; v < kVectors; ++v)
      _mm256_store_si256(reinterpret_cast<__m256i*>(&spill[r][8 * v]), acc[r][v]);
  for (int32_t r = 0; r < m; ++r) {
    int32_t* c = c_rows[r] + c_col;
    for (int32_t j = 0; j < n; ++j)
      c[j] = static_cast<int32_t>(static_cast<uint32_t>(c[j]) + static_cast<uint32_t>(spill[r][j]));
  }
}

}  // namespace

extern const tile_kernel kAvx2Kernel = {kMr, kNr, 96, 256, 2048, avx2_tile};

}  // namespace block_kernel::detail
