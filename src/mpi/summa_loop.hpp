// The SUMMA panel loop that multiplicarSUMMAblocos and multiplicarSUMMA share.
#pragma once

#include <mpi.h>

#include <cstdint>
#include <functional>

#include "mpi/mpi_detail.hpp"

namespace mpi_detail {

// A rank's own blocks, cut by bloco_do_rank, where they are.
struct summa_blocks {
  view a;  // its block of a (m x k)
  view b;  // its block of b (k x n)
  view c;  // its block of c (m x n), added into
  // Messages still bringing the rank its own a (or b), waited for just before
  // the rank first reads that block; null when the block is already there.
  in_flight* a_arriving = nullptr;
  in_flight* b_arriving = nullptr;
  // Run once, after the first panel's broadcasts are posted and before the
  // first computation (rank 0 of multiplicarSUMMA deals b and makes the
  // result there).
  std::function<void()> once_posted;
};

// Collective over `grid`, a 2-D Cartesian communicator dims[0] x dims[1] with
// errors returned, whose ranks hold blocks of agreed shapes: c += a x b. The
// inner index is walked in panels no wider than kPanelWidth, each inside one
// owner's columns of a and one owner's rows of b. The next panel's broadcasts
// are posted (MPI_Ibcast) before the current panel is multiplied, so they
// travel while the kernel works; an owner multiplies its own panels where
// they are and copies them only to send them, and multiplies them first
// when the others' have not come yet (additions of int32 wrap, so their
// order does not change a bit of c). With overlap() off (overlap.hpp), each
// panel is posted and waited for just before it is multiplied, in order.
void summa_loop(MPI_Comm grid, const int dims[2], int rank, int32_t m, int32_t k, int32_t n,
                int32_t threads, summa_blocks& blocks);

// The widest panel. The AVX2 kernel walks the inner index in blocks of 512
// (32-bit path) or 1024 (16-bit path); panels narrower than its block make
// each call pack and walk b more often for the same work. Measured on an
// AVX2 Zen 3 (rows 1024, columns 2048, inner 2048, one thread, medians of
// 15): on values 1..100 panels of 1024 ran as fast as one call of full width
// and panels of 512 2% slower (64.4 against 63.2 ms); on the full range 512,
// 1024 and 2048 ran alike. Earlier runs put 256 about 5% and 64 about 25%
// slower. Wider panels mean fewer of them, and a longer wait for the first
// one on a rank that owns none of it; the order of the loop above spares
// most ranks that wait.
constexpr int32_t kPanelWidth = 1024;

}  // namespace mpi_detail
