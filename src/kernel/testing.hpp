// The block kernel and the team kernel as tests and benchmarks see them (not installed).
//
// mmsubmatriz and mmsubmatrizOMP pick the fastest path on their own; these
// declarations let a test force each path on either entry point (defined in
// testing.cpp, which nothing in the library calls). Which paths run here, their
// names and the pure selection rules come with dispatch.hpp; the team kernel's
// pure cut of a product into pieces of work with team_plan.hpp.
#pragma once

#include <cstdint>
#include <dense/dense_arith.hpp>

#include "kernel/dispatch.hpp"
#include "kernel/piece_hook.hpp"
#include "kernel/team_pool.hpp"

namespace block_kernel {

// mmsubmatriz forced onto path `p`. Same checks, messages and results; a path
// that cannot run here returns -1 silently and writes nothing. A 16-bit-range
// path runs only when the block's values all fit in 16 bits, and the call
// takes this machine's int32 path otherwise, as mmsubmatriz does.
int mmsubmatriz_on(path p, const dense_arith::submatriz* a, const dense_arith::submatriz* b,
                   const dense_arith::submatriz* c);

}  // namespace block_kernel

namespace team_kernel::detail {

// team_kernel::mmsubmatrizOMP forced onto path `p`, on a team of n threads
// whatever the machine's load (a small product is not cut down to the CPUs
// other programs leave free, so that a test's team is the one it asked for);
// a path that cannot run here returns -1 silently and writes nothing.
int mmsubmatrizOMP_on(block_kernel::path p, const dense_arith::submatriz* a,
                      const dense_arith::submatriz* b, const dense_arith::submatriz* c, int32_t n);

// Sets the test-only piece hook (piece_hook.hpp); null removes it. Only
// while no product runs.
inline void set_piece_hook(piece_hook hook) { g_piece_hook.store(hook, std::memory_order_relaxed); }

// Sets the test-only arrival hook of the small products' helpers
// (team_pool.hpp); null removes it.
inline void set_arrival_hook(arrival_hook hook) {
  g_arrival_hook.store(hook, std::memory_order_relaxed);
}

}  // namespace team_kernel::detail
