// The portable 16-bit-range tile kernel: plain C++ on packed pairs of k, built without
// any instruction-set flag. It is the truth the vector 16-bit-range tiles are checked
// against, and it checks the pair packing itself against the int32 paths.
#include <cstddef>
#include <cstdint>

#include "tile.hpp"

namespace block_kernel::detail {
namespace {

constexpr int32_t kMr = 4;
constexpr int32_t kNr = 8;

// The two int16 halves of a packed word: the even k in the low half.
int32_t low_half(int32_t word) {
  return static_cast<int16_t>(static_cast<uint32_t>(word) & 0xFFFFU);
}
int32_t high_half(int32_t word) { return static_cast<int16_t>(static_cast<uint32_t>(word) >> 16); }

void scalar16_tile(int32_t steps, const int32_t* a_panel, const int32_t* b_panel,
                   int32_t* const* c_rows, int32_t c_col, int32_t m, int32_t n) {
  // Each product of two int16 fits in int32; their pair sum and the running
  // sums wrap at 32 bits, computed unsigned as the vector paths do.
  uint32_t acc[kMr][kNr] = {};
  for (int32_t p = 0; p < steps; ++p) {
    const int32_t* a_p = a_panel + ptrdiff_t{p} * kMr;
    const int32_t* b_p = b_panel + ptrdiff_t{p} * kNr;
    for (int32_t r = 0; r < kMr; ++r) {
      for (int32_t j = 0; j < kNr; ++j) {
        const auto even = static_cast<uint32_t>(low_half(a_p[r]) * low_half(b_p[j]));
        const auto odd = static_cast<uint32_t>(high_half(a_p[r]) * high_half(b_p[j]));
        acc[r][j] += even + odd;
      }
    }
  }
  for (int32_t r = 0; r < m; ++r) {
    int32_t* c = c_rows[r] + c_col;
    for (int32_t j = 0; j < n; ++j) {
      c[j] = static_cast<int32_t>(static_cast<uint32_t>(c[j]) + acc[r][j]);
    }
  }
}

}  // namespace

extern const tile_kernel kScalar16Kernel = {kMr,          kNr, 64, 512, 1024, packing::int16_pairs,
                                            scalar16_tile};

}  // namespace block_kernel::detail
