// The block kernel's instruction-set paths, for tests and benchmarks (not installed).
//
// mmsubmatriz and mmsubmatrizOMP pick the fastest path on their own; these
// declarations let a test force each path, check the pure selection rule with
// any combination of CPU features, and name the path a benchmark ran.
#pragma once

#include <cstdint>
#include <dense/dense_arith.hpp>

namespace block_kernel {

// The instruction-set paths of the kernel. The scalar ones are always built.
// The first three work on any int32 values; the *16 paths only on blocks
// whose values all fit in 16 bits (packed as pairs of k, see tile.hpp).
enum class path : int32_t {
  scalar = 0,
  avx2 = 1,
  avx512 = 2,
  scalar16 = 3,       // plain C++ on pairs: the truth of the pair packing
  avx2_16 = 4,        // vpmaddwd + vpaddd on ymm
  avx512bw_16 = 5,    // vpmaddwd + vpaddd on zmm
  avx512vnni_16 = 6,  // vpdpwssd on zmm (AVX-512 VNNI)
  avxvnni_16 = 7,     // vpdpwssd on ymm (AVX-VNNI)
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
// AVX-512BW, else AVX-VNNI, else AVX2; path::scalar (no 16-bit-range path:
// the values are not even scanned) without AVX2. Pure, like select_path.
path select_narrow_path(cpu_features features);

// True for the paths that need every value in 16 bits.
bool is_narrow(path p);

// What this CPU supports, restricted to the paths compiled into this build.
cpu_features host_features();

// True when `p` can run here (compiled in and supported by the CPU).
bool path_available(path p);

// The enumerator's name ("scalar", "avx2_16", ...); "?" for any other value.
const char* path_name(path p);

// mmsubmatriz forced onto path `p`. Same checks, messages and results; a path
// that cannot run here returns -1 silently and writes nothing. A 16-bit-range
// path runs only when the block's values all fit in 16 bits, and the call
// takes this machine's int32 path otherwise, as mmsubmatriz does.
int mmsubmatriz_on(path p, const dense_arith::submatriz* a, const dense_arith::submatriz* b,
                   const dense_arith::submatriz* c);

}  // namespace block_kernel
