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

// The tile kernel of path `p`, or null when `p` cannot run here.
const tile_kernel* kernel_on(path p);

// The tile kernel of the fastest path this machine runs.
const tile_kernel& host_kernel();

}  // namespace block_kernel::detail
