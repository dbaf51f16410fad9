// The block kernel's entry point: checks the descriptors, picks the path (dispatch.cpp) and
// hands the product to the blocked driver (driver.cpp).
#include <dense/block_kernel.hpp>

#include "kernel/dispatch.hpp"
#include "kernel/driver.hpp"
#include "kernel/operands.hpp"

namespace block_kernel {
namespace detail {

int run_block(const kernel_choice& choice, const dense_arith::submatriz* a,
              const dense_arith::submatriz* b, const dense_arith::submatriz* c) {
  operands op{};
  const checked verdict = check_operands(a, b, c, &op);
  if (verdict != checked::run) {
    return verdict == checked::refused ? -1 : 0;
  }
  if (!blocked_product(pick_kernel(choice, op), op)) {
    direct_product(op, 0, op.i1 - op.i0);
  }
  return 0;
}

}  // namespace detail

int mmsubmatriz(const dense_arith::submatriz* a, const dense_arith::submatriz* b,
                const dense_arith::submatriz* c) {
  return detail::run_block(detail::host().kernels, a, b, c);
}

}  // namespace block_kernel
