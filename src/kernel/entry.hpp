// Private to the block kernel: what its two entry points (block_kernel.cpp and
// team_kernel.cpp) share, so both check their descriptors and choose their
// tile kernel the same way and refuse with the same messages.
#pragma once

#include <dense/dense_arith.hpp>

#include "driver.hpp"
#include "kernel/paths.hpp"

namespace block_kernel::detail {

// The outcome of checking three block descriptors.
enum class checked { run, empty, refused };

// Checks a, b and c as mmsubmatriz documents it. `run`: *op holds the
// non-empty block product. `empty`: nothing to add (nothing printed).
// `refused`: the message has been printed and nothing may be written.
checked check_operands(const dense_arith::submatriz* a, const dense_arith::submatriz* b,
                       const dense_arith::submatriz* c, operands* op);

// The tile kernels one call may run: `wide` on any values; `narrow` (null
// for none) instead when the block's values all fit in 16 bits.
struct kernel_choice {
  const tile_kernel* wide;
  const tile_kernel* narrow;
};

// The kernels of path `p` (a 16-bit-range path falls back on this machine's
// int32 path); false when `p` cannot run here.
bool kernels_on(path p, kernel_choice* out);

// The fastest kernels this machine runs.
kernel_choice host_kernels();

// The kernel for `op`: narrow when there is one and fits_int16(op).
const tile_kernel& pick_kernel(const kernel_choice& choice, const operands& op);

}  // namespace block_kernel::detail
