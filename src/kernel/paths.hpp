// The block kernel's instruction-set paths, for tests and benchmarks (not installed).
//
// mmsubmatriz and mmsubmatrizOMP pick the fastest path on their own; these
// declarations let a test force each path, check the pure selection rule with
// any combination of CPU features, and name the path a benchmark ran.
#pragma once

#include <cstdint>
#include <dense/dense_arith.hpp>

namespace block_kernel {

// The instruction-set paths of the kernel. The scalar path is always built.
enum class path : int32_t { scalar = 0, avx2 = 1, avx512 = 2 };

// The CPU capabilities the choice depends on.
struct cpu_features {
  bool avx2;
  bool avx512f;
};

// The path for a machine with `features`: AVX-512 when present, else AVX2,
// else scalar. Pure: no CPU query, so it can be called with any combination.
path select_path(cpu_features features);

// What this CPU supports, restricted to the paths compiled into this build.
cpu_features host_features();

// True when `p` can run here (compiled in and supported by the CPU).
bool path_available(path p);

// "scalar", "avx2" or "avx512"; "?" for any other value.
const char* path_name(path p);

// mmsubmatriz forced onto path `p`. Same checks, messages and results; a path
// that cannot run here returns -1 silently and writes nothing.
int mmsubmatriz_on(path p, const dense_arith::submatriz* a, const dense_arith::submatriz* b,
                   const dense_arith::submatriz* c);

}  // namespace block_kernel
