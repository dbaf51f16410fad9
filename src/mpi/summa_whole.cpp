// multiplicarSUMMA: rank 0 deals every rank its blocks, the grid runs SUMMA, rank 0 collects c.
//
// The blocks are those of bloco_do_rank on the grid of criar_grade, so the
// middle step is the panel loop of multiplicarSUMMAblocos. Nothing waits that
// need not: rank 0 posts every rank's block of a, starts the loop on its own
// blocks where they are (its blocks start at element (0, 0) of the caller's
// matrices and of the result), and deals b once the first panels are on
// their way; every other rank starts the loop as soon as the block the first
// panel needs has arrived. Blocks travel as messages of whole rows (one row
// datatype), cut into pieces of about 1 MiB. With the overlap off
// (overlap.hpp), rank 0 deals a and b and waits until they are received, and
// the others wait for both, before the loop starts.
#include <dense/mpi_products.hpp>
#include <memory>
#include <vector>

#include "mpi/mpi_detail.hpp"
#include "mpi/overlap.hpp"
#include "mpi/phases.hpp"
#include "mpi/summa_loop.hpp"

namespace mpi_products {

using dense_core::matriz;
using mpi_detail::check;
using mpi_detail::in_flight;
using mpi_detail::packed;
using mpi_detail::phases::kCaller;
using mpi_detail::phases::span;
namespace phases = mpi_detail::phases;

namespace {

constexpr int kTagA = 1;
constexpr int kTagB = 2;
constexpr int kTagC = 3;

int32_t rows_of(const dense_arith::bloco& blk) { return blk.lin_fim - blk.lin_inicio; }
int32_t cols_of(const dense_arith::bloco& blk) { return blk.col_fim - blk.col_inicio; }

// The grid's shape, as every part of the product sees it.
struct grid_shape {
  int dims[2] = {1, 1};
  MPI_Comm comm = MPI_COMM_NULL;
  int ranks = 1;
};

// Rank 0: packs every other rank's block of `whole` (lin x col) and posts it.
// The packed copies live in `keep` until the messages are done.
void deal(const matriz* whole, int32_t lin, int32_t col, const grid_shape& g, int tag,
          in_flight& out, std::vector<std::unique_ptr<packed>>& keep) {
  const span dealing(tag == kTagA ? phases::kDealA : phases::kDealB, kCaller);
  for (int r = 1; r < g.ranks; ++r) {
    const dense_arith::bloco blk = bloco_do_rank(lin, col, g.dims[0], g.dims[1], r);
    keep.push_back(std::make_unique<packed>(rows_of(blk), cols_of(blk), g.comm,
                                            mpi_detail::start_as::unwritten));
    packed& theirs = *keep.back();
    mpi_detail::copy_block(whole, blk.lin_inicio, blk.col_inicio, theirs);
    out.send(theirs, 0, theirs.rows(), r, tag);
  }
}

// Rank 0: receives every other rank's block of c straight into `whole`.
void collect(const matriz* whole, int32_t lin, int32_t col, const grid_shape& g) {
  const span collecting(phases::kCollectC, kCaller);  // ends after `in` has waited
  in_flight in(g.comm);
  for (int r = 1; r < g.ranks; ++r) {
    const dense_arith::bloco blk = bloco_do_rank(lin, col, g.dims[0], g.dims[1], r);
    in.receive_into(whole, blk.lin_inicio, blk.col_inicio, rows_of(blk), cols_of(blk), r, kTagC);
  }
  in.wait_all();
}

// Rank 0 without overlap: every block dealt so far has been received.
void wait_for_sends(in_flight& out) {
  if (!mpi_detail::overlap()) {
    const span sends(phases::kWaitSends, kCaller);
    out.wait_all();
  }
}

matriz* on_rank_zero(const matriz* a, const matriz* b, const mpi_detail::product_shape& s,
                     int32_t threads, const grid_shape& g) {
  in_flight out(g.comm);
  std::vector<std::unique_ptr<packed>> keep;
  deal(a, s.m, s.k, g, kTagA, out, keep);
  wait_for_sends(out);

  // Rank 0's blocks are the top-left corners of the caller's matrices and of the result.
  const dense_arith::bloco a_blk = bloco_do_rank(s.m, s.k, g.dims[0], g.dims[1], 0);
  const dense_arith::bloco b_blk = bloco_do_rank(s.k, s.n, g.dims[0], g.dims[1], 0);
  const matriz my_a = mpi_detail::window(a, rows_of(a_blk), cols_of(a_blk));
  const matriz my_b = mpi_detail::window(b, rows_of(b_blk), cols_of(b_blk));
  matriz* c = nullptr;
  matriz my_c{};
  mpi_detail::summa_blocks blocks;
  blocks.a = {&my_a, 0, 0};
  blocks.b = {&my_b, 0, 0};
  blocks.c = {&my_c, 0, 0};
  // b's blocks are needed only once a rank sends or multiplies its own panel
  // of b, later than the first panel: they go once that panel is on its way.
  // The result is first written after that, and making it (zeroed, a page
  // fault per page) takes a few milliseconds at n = 2048 that the first
  // panel should not wait for.
  // Without overlap, b is dealt before the loop, as the others wait for it there.
  auto deal_b_make_c = [&] {
    deal(b, s.k, s.n, g, kTagB, out, keep);
    wait_for_sends(out);
    const span making(phases::kMakeResult, kCaller);
    c = mpi_detail::new_result(s.m, s.n, g.comm);
    my_c = mpi_detail::window(c, rows_of(a_blk), cols_of(b_blk));
  };
  if (mpi_detail::overlap()) {
    blocks.once_posted = deal_b_make_c;
  } else {
    deal_b_make_c();
  }
  mpi_detail::summa_loop(g.comm, g.dims, 0, s.m, s.k, s.n, threads, blocks);
  collect(c, s.m, s.n, g);
  const span sends(phases::kWaitSends, kCaller);
  out.wait_all();
  return c;
}

void on_other_rank(const mpi_detail::product_shape& s, int32_t threads, const grid_shape& g,
                   int rank) {
  const dense_arith::bloco a_blk = bloco_do_rank(s.m, s.k, g.dims[0], g.dims[1], rank);
  const dense_arith::bloco b_blk = bloco_do_rank(s.k, s.n, g.dims[0], g.dims[1], rank);
  span making_buffers(phases::kMakeBuffers, kCaller);
  // a and b are filled by rank 0's messages; c is added into.
  packed my_a(rows_of(a_blk), cols_of(a_blk), g.comm, mpi_detail::start_as::unwritten);
  packed my_b(rows_of(b_blk), cols_of(b_blk), g.comm, mpi_detail::start_as::unwritten);
  packed my_c(rows_of(a_blk), cols_of(b_blk), g.comm);
  making_buffers.end();
  in_flight a_in(g.comm);
  in_flight b_in(g.comm);
  a_in.receive(my_a, 0, my_a.rows(), 0, kTagA);
  b_in.receive(my_b, 0, my_b.rows(), 0, kTagB);
  mpi_detail::summa_blocks blocks;
  blocks.a = {my_a.matrix(), 0, 0};
  blocks.b = {my_b.matrix(), 0, 0};
  blocks.c = {my_c.matrix(), 0, 0};
  if (mpi_detail::overlap()) {
    blocks.a_arriving = &a_in;
    blocks.b_arriving = &b_in;
  } else {
    span receiving(phases::kReceiveA, kCaller);
    a_in.wait_all();
    receiving.end();
    const span receiving_b(phases::kReceiveB, kCaller);
    b_in.wait_all();
  }
  mpi_detail::summa_loop(g.comm, g.dims, rank, s.m, s.k, s.n, threads, blocks);
  const span send(phases::kSendC, kCaller);  // ends after `out` has waited
  in_flight out(g.comm);
  out.send(my_c, 0, my_c.rows(), 0, kTagC);
}

}  // namespace

matriz* multiplicarSUMMA(const matriz* a, const matriz* b, int32_t n, MPI_Comm comm) {
  const mpi_detail::private_comm pc(comm);
  if (pc.get() == MPI_COMM_NULL) {
    return nullptr;
  }
  mpi_detail::product_shape shape{};
  if (!mpi_detail::agree_on_factors(a, b, pc, &shape)) {
    return nullptr;
  }
  grid_shape g;
  span making_grid(phases::kMakeGrid, kCaller);
  criar_grade(pc.get(), &g.comm);
  making_grid.end();
  int periods[2] = {0, 0};
  int coords[2] = {0, 0};
  check(MPI_Cart_get(g.comm, 2, g.dims, periods, coords), g.comm);
  g.ranks = pc.size();
  matriz* c = nullptr;
  if (pc.rank() == 0) {
    c = on_rank_zero(a, b, shape, n, g);
  } else {
    on_other_rank(shape, n, g, pc.rank());
  }
  MPI_Comm_free(&g.comm);
  return c;
}

}  // namespace mpi_products
