// The portable 16-bit-range tile: 4 rows x 8 columns in plain C++ on packed pairs of k,
// built without any instruction-set flag. It is the truth the vector 16-bit-range tiles
// are checked against, and it checks the pair packing itself against the int32 paths.
#include <cstdint>

#include "tile.hpp"
#include "tile_parts.hpp"

namespace block_kernel::detail {
namespace {

// The two int16 halves of a packed word: the even k in the low half.
int32_t low_half(int32_t word) {
  return static_cast<int16_t>(static_cast<uint32_t>(word) & 0xFFFFU);
}
int32_t high_half(int32_t word) { return static_cast<int16_t>(static_cast<uint32_t>(word) >> 16); }

}  // namespace

void tile_scalar_i16_4x8(int32_t steps, const int32_t* a_panel, const int32_t* b_panel,
                         int32_t* const* c_rows, int32_t c_col, int32_t m, int32_t n) {
  // One step is a pair of k. Each product of two int16 fits in int32; their
  // pair sum wraps at 32 bits, computed unsigned as the vector paths do.
  const auto product = [](int32_t a_word, int32_t b_word) {
    const auto even = static_cast<uint32_t>(low_half(a_word) * low_half(b_word));
    const auto odd = static_cast<uint32_t>(high_half(a_word) * high_half(b_word));
    return even + odd;
  };
  scalar_tile<kScalarShape.mr, kScalarShape.nr>(product, steps, a_panel, b_panel, c_rows, c_col, m,
                                                n);
}

}  // namespace block_kernel::detail
