// Private to the block kernel: the portable driver that cuts a checked block product into
// cache blocks, packs panels of a and b and calls a path's tile kernel on them.
#pragma once

#include <cstdint>

#include "tile.hpp"

namespace block_kernel::detail {

// One checked, non-empty block product: rows [i0, i1), inner range [k0, k1),
// columns [j0, j1), all whole-matrix indices into the three row tables.
struct operands {
  const int32_t* const* a;
  const int32_t* const* b;
  int32_t* const* c;
  int32_t i0, i1;
  int32_t k0, k1;
  int32_t j0, j1;
};

// The cache-blocked, packed product on `kernel`. Returns false, having
// written nothing, when the packing buffers cannot be allocated.
bool blocked_product(const tile_kernel& kernel, const operands& op);

// The same sums without any buffer (plain i-k-j loop): the fallback when the
// heap is exhausted.
void direct_product(const operands& op);

}  // namespace block_kernel::detail
