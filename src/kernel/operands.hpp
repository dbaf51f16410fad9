// Private to the block kernel: the checked block product both entry points (block_kernel.cpp
// and team_kernel.cpp) run, and the one check of three descriptors that makes it, so both
// accept and refuse the same descriptors with the same messages.
#pragma once

#include <cstdint>
#include <dense/dense_arith.hpp>

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

// The outcome of checking three block descriptors.
enum class checked { run, empty, refused };

// Checks a, b and c as mmsubmatriz documents it. `run`: *op holds the
// non-empty block product. `empty`: nothing to add (nothing printed).
// `refused`: the message has been printed and nothing may be written.
checked check_operands(const dense_arith::submatriz* a, const dense_arith::submatriz* b,
                       const dense_arith::submatriz* c, operands* op);

}  // namespace block_kernel::detail
