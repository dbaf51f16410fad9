// The portable int32 tile: 4 rows x 8 columns in plain C++ on 32-bit unsigned integers,
// built without any instruction-set flag. It is the fallback on every CPU and the path
// the others are checked against.
#include <cstdint>

#include "tile.hpp"
#include "tile_parts.hpp"

namespace block_kernel::detail {

void tile_scalar_i32_4x8(int32_t steps, const int32_t* a_panel, const int32_t* b_panel,
                         int32_t* const* c_rows, int32_t c_col, int32_t m, int32_t n) {
  // One step is one k: the product of the two elements, wrapping at 32 bits.
  const auto product = [](int32_t a_word, int32_t b_word) {
    return static_cast<uint32_t>(a_word) * static_cast<uint32_t>(b_word);
  };
  scalar_tile<kScalarShape.mr, kScalarShape.nr>(product, steps, a_panel, b_panel, c_rows, c_col, m,
                                                n);
}

}  // namespace block_kernel::detail
