// The entry points that tests and benchmarks force a path with (testing.hpp): the library's
// own entry points with the tiles of one path instead of this machine's choice.
#include "kernel/testing.hpp"

namespace block_kernel {

int mmsubmatriz_on(path p, const dense_arith::submatriz* a, const dense_arith::submatriz* b,
                   const dense_arith::submatriz* c) {
  detail::kernel_choice choice{};
  if (!detail::kernels_on(p, &choice)) {
    return -1;
  }
  return detail::run_block(choice, a, b, c);
}

}  // namespace block_kernel

namespace team_kernel::detail {

int mmsubmatrizOMP_on(block_kernel::path p, const dense_arith::submatriz* a,
                      const dense_arith::submatriz* b, const dense_arith::submatriz* c, int32_t n) {
  block_kernel::detail::kernel_choice choice{};
  if (!block_kernel::detail::kernels_on(p, &choice)) {
    return -1;
  }
  return run_team(choice, a, b, c, n, false);
}

}  // namespace team_kernel::detail
