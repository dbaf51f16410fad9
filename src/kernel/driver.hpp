// Private to the block kernel: the portable driver that cuts a checked block product into
// cache blocks, packs panels of a and b and calls a path's tile kernel on them.
//
// The sequential kernel (blocked_product) and the team kernel (team_kernel.cpp) run the
// same steps; the team kernel only decides which thread does which of them, and when:
//   for each block of columns jc (nc wide) and each block of the inner range pc (kc deep):
//     pack_b_panels    b's kc x nc block into nr-wide panels (any subset of the panels);
//     for rows of the result, at most mc at a time:
//       pack_a_block     a's rows for the block's inner range into panels of mr rows;
//       multiply_packed  the tile kernel on every tile of those rows, for any run of
//                        the packed panels of b.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernel/operands.hpp"
#include "kernel/tiles/tile.hpp"

namespace block_kernel::detail {

// The alignment of every packing buffer (one cache line, one zmm register).
inline constexpr size_t kPackAlign = 64;

// How many 32-bit words the packing buffers of `kernel` hold at most for `op`,
// each rounded up to whole kPackAlign lines: a_words for one mc x kc block of
// a, b_words for one kc x nc block of b. Small products get small buffers.
struct pack_sizes {
  size_t a_words;
  size_t b_words;
};
pack_sizes pack_sizes_for(const tile_kernel& kernel, const operands& op);

// The packing buffers of one call: `words` 32-bit words from one malloc block
// (freed with free(base)), starting on a kPackAlign line. A buffer of 256 KiB
// or more is rounded up to whole huge pages (2 MiB), starts on one and is
// advised to use them:
// the heap hands large freed blocks back to the system, so every call touches
// fresh memory, and one fault per 2 MiB costs far less than one per 4 KiB
// (about half the product's time at n = 1024 when the heap had been churned).
// start is null, and nothing is allocated, when the heap refuses.
struct pack_block {
  void* base;
  int32_t* start;
};
pack_block alloc_pack(size_t words);

// Packs panels [p0, p1) of b's block: inner range [pc, pc + kc) and columns
// [jc, jc + nc), relative to op's block; panel p covers columns
// [jc + p * nr, jc + (p + 1) * nr) and lands at b_pack + p * steps * nr (steps_of kc), so
// disjoint panel ranges can be packed by different threads into one buffer.
void pack_b_panels(const tile_kernel& kernel, const operands& op, int32_t pc, int32_t kc,
                   int32_t jc, int32_t nc, int32_t p0, int32_t p1, int32_t* b_pack);

// Packs rows [r0, r1) of the result's block (relative to op's block; at most
// kernel.mc of them, at least one) of a for the inner range [pc, pc + kc) into
// a_pack (a_words of pack_sizes_for), in panels of mr rows.
void pack_a_block(const tile_kernel& kernel, const operands& op, int32_t pc, int32_t kc, int32_t r0,
                  int32_t r1, int32_t* a_pack);

// Adds the part of a x b for the inner range of depth kc that a_pack (rows
// [r0, r1), from pack_a_block) and b_pack (the packed block of columns
// starting at jc) hold into rows [r0, r1) and columns [jc + first, jc + last)
// of the result (relative to op's block; first a multiple of nr, last at
// most the packed block's width). Only those rows and columns of c are written.
void multiply_packed(const tile_kernel& kernel, const operands& op, int32_t kc, int32_t jc,
                     int32_t r0, int32_t r1, int32_t first, int32_t last, const int32_t* a_pack,
                     const int32_t* b_pack);

// Steps of the tile kernel for a depth of kc elements of k: kc, or the
// number of pairs of k for the int16_pairs packing.
int32_t steps_of(const tile_kernel& kernel, int32_t kc);

// True when every value that op's block reads, a's rows [i0, i1) x [k0, k1)
// and b's rows [k0, k1) x [j0, j1), fits in 16 bits (-32768 ... 32767): the
// int16_pairs tiles then give exactly the int32 paths' result. One read of
// each value, stopping at the first row that does not fit.
bool fits_int16(const operands& op);

// The same check cut into rows, so a team can share it: the block reads
// scan_rows(op) rows, a's m rows first, then b's k rows; rows_fit_int16 checks
// rows [first, last) of them.
int32_t scan_rows(const operands& op);
bool rows_fit_int16(const operands& op, int32_t first, int32_t last);

// The cache-blocked, packed product on `kernel`. Returns false, having
// written nothing, when the packing buffers cannot be allocated.
bool blocked_product(const tile_kernel& kernel, const operands& op);

// The same sums without any buffer (plain i-k-j loop) over rows [r0, r1) of
// the block (relative): the fallback when the heap is exhausted.
void direct_product(const operands& op, int32_t r0, int32_t r1);

inline int32_t min32(int32_t x, int32_t y) { return x < y ? x : y; }
inline int32_t max32(int32_t x, int32_t y) { return x > y ? x : y; }

}  // namespace block_kernel::detail
