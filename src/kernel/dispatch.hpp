// Private to the block kernel: which path a call runs. The instruction-set paths, the CPU
// features the choice depends on, the pure selection rules, and this process's choice.
// The register tile and cache blocks of every path stand in one table in dispatch.cpp.
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
#include "kernel/tiles/tile.hpp"

namespace block_kernel {

// The instruction-set paths of the kernel, each named for its instruction set
// and the value type it multiplies. The scalar ones are always built. The
// *_i32 paths work on any int32 values; the *_i16 paths only on blocks whose
// values all fit in 16 bits (packed as pairs of k, see tiles/tile.hpp).
enum class path : int32_t {
  scalar_i32 = 0,
  avx2_i32 = 1,
  avx512_i32 = 2,
  scalar_i16 = 3,      // plain C++ on pairs: the truth of the pair packing
  avx2_i16 = 4,        // vpmaddwd + vpaddd on ymm
  avx512bw_i16 = 5,    // vpmaddwd + vpaddd on zmm
  avx512vnni_i16 = 6,  // vpdpwssd on zmm (AVX-512 VNNI)
  avxvnni_i16 = 7,     // vpdpwssd on ymm (AVX-VNNI)
};

// The CPU capabilities the choice depends on.
struct cpu_features {
  bool avx2;
  bool avx512f;
  bool avx512bw;
  bool avx512vnni;
  bool avxvnni;
};

// The int32 path for a machine with `features`: AVX-512 when present, else
// AVX2, else scalar. Pure: no CPU query, so it can be called with any combination.
path select_path(cpu_features features);

// The 16-bit-range path for a machine with `features`: AVX-512 VNNI, else
// AVX-512BW, else AVX-VNNI, else AVX2; path::scalar_i32 (no 16-bit-range path:
// the values are not even scanned) without AVX2. Pure, like select_path.
path select_narrow_path(cpu_features features);

// True for the paths that need every value in 16 bits.
bool is_narrow(path p);

// What this CPU supports, restricted to the paths compiled into this build
// (read from host()).
cpu_features host_features();

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

}  // namespace detail
}  // namespace block_kernel
