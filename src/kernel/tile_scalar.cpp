// The portable tile kernel: plain C++ on 32-bit unsigned integers, built without any
// instruction-set flag. It is the fallback on every CPU and the path the others are
// checked against.
#include <cstddef>
#include <cstdint>

#include "tile.hpp"

namespace block_kernel::detail {
namespace {

constexpr int32_t kMr = 4;
constexpr int32_t kNr = 8;

void scalar_tile(int32_t kc, const int32_t* a_panel, const int32_t* b_panel, int32_t* const* c_rows,
                 int32_t c_col, int32_t m, int32_t n) {
  // Unsigned arithmetic wraps at 32 bits exactly like the vector paths.
  uint32_t acc[kMr][kNr] = {};
  for (int32_t kk = 0; kk < kc; ++kk) {
    const int32_t* a_k = a_panel + ptrdiff_t{kk} * kMr;
    const int32_t* b_k = b_panel + ptrdiff_t{kk} * kNr;
    for (int32_t r = 0; r < kMr; ++r) {
      const auto a_rk = static_cast<uint32_t>(a_k[r]);
      for (int32_t j = 0; j < kNr; ++j) {
        acc[r][j] += a_rk * static_cast<uint32_t>(b_k[j]);
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

extern const tile_kernel kScalarKernel = {kMr,        kNr, 64, 256, 1024, packing::int32_words,
                                          scalar_tile};

}  // namespace block_kernel::detail
