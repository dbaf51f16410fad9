// Private to the block kernel: the tile-kernel interface that each instruction-set path
// implements.
//
// Three layers, kept apart so that only the innermost one is CPU-specific:
//   block_kernel.cpp    checks the descriptors and picks a path;
//   driver.cpp          cuts the product into cache blocks and packs panels of a and b
//                       into contiguous, aligned buffers (driver.hpp);
//   tile_<path>.cpp     the register-tiled tile kernels, each file the only one built
//                       with its instruction-set flags.
// This header includes nothing but <cstdint> so that it is safe in every one of them.
#pragma once

#include <cstdint>

namespace block_kernel::detail {

// Adds the product of one packed panel of a and one packed panel of b into an
// m x n corner of c:
//   c_rows[r][c_col + j] += sum over kk < kc of a_panel[kk * mr + r] * b_panel[kk * nr + j]
// for r < m, j < n, wrapping at 32 bits. The panels always hold a full mr x kc
// and kc x nr (zero-padded past m and n; the packing buffer is 64-byte
// aligned, so b_panel is whenever nr is a multiple of 16); only rows r < m of
// c_rows are touched, and only columns c_col .. c_col + n - 1.
using tile_fn = void (*)(int32_t kc, const int32_t* a_panel, const int32_t* b_panel,
                         int32_t* const* c_rows, int32_t c_col, int32_t m, int32_t n);

// One path: its register tile and the cache blocks chosen for it.
struct tile_kernel {
  int32_t mr;  // rows of the register tile
  int32_t nr;  // columns of the register tile
  int32_t mc;  // rows of a packed per block (a multiple of mr)
  int32_t kc;  // depth of one packed block
  int32_t nc;  // columns of b packed per block (a multiple of nr)
  tile_fn tile;
};

// Defined each in its own file; the SIMD ones only exist in builds for x86-64.
extern const tile_kernel kScalarKernel;
extern const tile_kernel kAvx2Kernel;
extern const tile_kernel kAvx512Kernel;

}  // namespace block_kernel::detail
