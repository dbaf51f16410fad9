// Private to the block kernel: the interface every tile implements, its register shapes,
// and the record the driver runs one path from (the registry, registry.cpp, declares the
// tiles there are and gives each path its record).
//
// Three layers, kept apart so that only the innermost one depends on the CPU:
//   block_kernel.cpp,   check the descriptors (operands.hpp) and pick a path
//   team_kernel.cpp     (dispatch.hpp, over the registry's rows: registry.hpp);
//   driver.cpp          cuts the product into cache blocks and packs panels of a and b
//                       into contiguous, aligned buffers (driver.hpp);
//   tiles/*.cpp         the register-tiled tiles, each file the only one built with its
//                       instruction-set flags and named for what it is:
//                       <instruction set>_<value type>_<rows>x<columns>.cpp.
// This header includes nothing but <cstdint> so that it is safe in every one of them.
#pragma once

#include <cstdint>

namespace block_kernel::detail {

// How a path's panels hold the factors.
//   int32_words: one element per 32-bit word; a step is one k.
//   int16_pairs: for values that fit in 16 bits (-32768 ... 32767): one step
//     is a pair of k, a word holds element k in its low half and element k + 1
//     in its high half (two's complement int16 each; an odd depth ends with a
//     zero partner). a's panel holds the pairs of one row, b's the pairs of
//     one column, so one multiply-and-add-pairs instruction (vpmaddwd,
//     vpdpwssd) does two steps of k.
enum class packing : int32_t { int32_words, int16_pairs };

// Adds the product of one packed panel of a and one packed panel of b into an
// m x n corner of c:
//   c_rows[r][c_col + j] += sum over s < steps of a_panel[s * mr + r] . b_panel[s * nr + j]
// for r < m, j < n, wrapping at 32 bits, where . is the product of the two
// words (int32_words) or the sum of the products of their halves (int16_pairs).
// The panels always hold a full mr x steps and steps x nr (zero-padded past m
// and n; the packing buffer is 64-byte aligned, so b_panel is whenever nr is a
// multiple of 16); only rows r < m of c_rows are touched, and only columns
// c_col .. c_col + n - 1.
using tile_signature = void(int32_t steps, const int32_t* a_panel, const int32_t* b_panel,
                            int32_t* const* c_rows, int32_t c_col, int32_t m, int32_t n);
using tile_fn = tile_signature*;

// A register tile: the rows (mr) and columns (nr) of c it holds in registers.
struct tile_shape {
  int32_t mr;
  int32_t nr;
};
inline constexpr tile_shape kScalarShape{4, 8};  // plain C++: 32 sums the compiler places
inline constexpr tile_shape kYmmShape{6, 16};    // twelve ymm accumulators, two a row
inline constexpr tile_shape kZmmShape{12, 32};   // twenty-four zmm accumulators, two a row

// One path as the driver runs it: its tile and the cache blocks chosen for it
// (the row of every path is in registry.cpp).
struct tile_kernel {
  int32_t mr;  // rows of the register tile
  int32_t nr;  // columns of the register tile
  int32_t mc;  // rows of a packed per block (a multiple of mr)
  int32_t kc;  // depth of one packed block, in elements of k (even for int16_pairs)
  int32_t nc;  // columns of b packed per block (a multiple of nr)
  packing pack;
  tile_fn tile;
};

}  // namespace block_kernel::detail
