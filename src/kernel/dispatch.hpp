// Private to the block kernel: which path a call runs. The paths themselves (their names,
// CPU features, blocks and tiles) are the rows of registry.hpp; this header names a path,
// holds the pure selection rules over those rows, and this process's choice.
//
// Shared state: host() is the one piece of state the kernel keeps, shared by every call
// on every thread. It is a function-local static: the C++ runtime initialises it once,
// on first use, with its thread-safe initialisation of statics (no other thread sees it
// before it is complete), and nothing writes it afterwards, so calls read it without a
// lock and without a race. What it holds never changes while the process runs (what the
// CPU supports and which tiles were built), so a per-call CPU query would only cost time.
#pragma once

#include <cstdint>

#include "kernel/operands.hpp"
#include "kernel/registry.hpp"
#include "kernel/tiles/tile.hpp"

namespace block_kernel {

// A path: its row's place in the registry, [0, path_count()). Any other value
// names no path (path_named's answer for an unknown name).
enum class path : int32_t {};

// How many paths the registry holds.
int32_t path_count();

// The path of that name ("scalar_i32", "avx2_i16", ...); path{-1} for none.
path path_named(const char* name);

// The path's name; "?" for a value that names no path.
const char* path_name(path p);

// The int32 path for a machine with `features`: the first picked int32 row
// whose features it has (AVX-512, else AVX2, else scalar). Pure: no CPU query,
// so it can be called with any combination.
path select_path(cpu_features features);

// The path for blocks whose values all fit in 16 bits on a machine with
// `features`: the first picked pair row whose features it has (AVX-512 VNNI,
// else AVX-512BW, else AVX-VNNI, else AVX2); without one, select_path's (the
// values are then not even scanned). Pure, like select_path.
path select_narrow_path(cpu_features features);

// True for the paths that need every value in 16 bits (they pack pairs).
bool is_narrow(path p);

// What this CPU supports of the features the registry's rows need (read from host()).
cpu_features host_features();

// True when `p` can run here: its tile is in this build and the CPU has its features.
bool path_available(path p);

// True when the kernel may pick `p` on its own (false for a test's truth, and
// for a value that names no path).
bool path_picked(path p);

namespace detail {

// The tiles one call may run: `wide` on any values; `narrow` (null for none)
// instead when the block's values all fit in 16 bits.
struct kernel_choice {
  const tile_kernel* wide;
  const tile_kernel* narrow;
};

// This process's choice: the CPU's features and the fastest tiles it runs.
struct host_choice {
  cpu_features features;
  kernel_choice kernels;
};

// The choice, made on the first call from any thread and never again (see the
// note on shared state at the top).
const host_choice& host();

// The tiles of path `p` (a 16-bit-range path falls back on this machine's
// int32 path); false when `p` cannot run here.
bool kernels_on(path p, kernel_choice* out);

// The tile for `op`: narrow when there is one and fits_int16(op).
const tile_kernel& pick_kernel(const kernel_choice& choice, const operands& op);

// mmsubmatriz on a given choice of tiles (block_kernel.cpp): the public entry
// point calls it with host().kernels, the tests' forced one (testing.cpp) with
// a path's.
int run_block(const kernel_choice& choice, const dense_arith::submatriz* a,
              const dense_arith::submatriz* b, const dense_arith::submatriz* c);

}  // namespace detail
}  // namespace block_kernel

namespace team_kernel::detail {

// mmsubmatrizOMP on a given choice of tiles (team_kernel.cpp), as run_block;
// `by_load`: a small product's team is cut down to the CPUs that other
// programs leave free (team_load.hpp), as the public entry point does.
int run_team(const block_kernel::detail::kernel_choice& choice, const dense_arith::submatriz* a,
             const dense_arith::submatriz* b, const dense_arith::submatriz* c, int32_t n,
             bool by_load);

}  // namespace team_kernel::detail
