// multiplicarMPI: rank 0 deals out a's rows and all of b, computes its own rows while the others'
// are in flight, and collects c's rows.
//
// Rank r owns rows faixa_de(m, P, r) of a and of c. Nothing is shared: each
// rank multiplies its own copy of its rows by its own copy of b. Rank 0 posts
// every message before it computes, and computes its rows where they are (the
// caller's a and b, straight into the result), so the others copy their rows
// out of its memory while it works (with the overlap off, overlap.hpp, it
// waits until they have). Counts are counts of rows (a row is one
// MPI datatype), so they stay far below INT_MAX whatever the size of the
// matrices.
#include <algorithm>
#include <cstring>
#include <dense/mpi_products.hpp>
#include <memory>
#include <vector>

#include "mpi/mpi_detail.hpp"
#include "mpi/overlap.hpp"
#include "mpi/phases.hpp"

namespace mpi_products {

using dense_core::matriz;
using mpi_detail::in_flight;
using mpi_detail::packed;
using mpi_detail::phases::kCaller;
using mpi_detail::phases::span;
namespace phases = mpi_detail::phases;

namespace {

constexpr int kTagA = 1;
constexpr int kTagB = 2;
constexpr int kTagC = 3;

// Rank 0: posts every other rank's rows of a and all of b, multiplies its own
// rows, then receives the others' rows of c straight into the result.
matriz* deal_compute_collect(const matriz* a, const matriz* b, int32_t m, int32_t k, int32_t cols,
                             int32_t threads, MPI_Comm comm, int ranks) {
  in_flight out(comm);
  span deal_a(phases::kDealA, kCaller);
  std::vector<std::unique_ptr<packed>> their_a(static_cast<size_t>(ranks));
  for (int r = 1; r < ranks; ++r) {
    const faixa f = faixa_de(m, ranks, r);
    auto& blk = their_a[static_cast<size_t>(r)];
    blk = std::make_unique<packed>(f.fim - f.inicio, k, comm, mpi_detail::start_as::unwritten);
    mpi_detail::copy_block(a, f.inicio, 0, *blk);
    out.send(*blk, 0, blk->rows(), r, kTagA);
  }
  deal_a.end();
  span deal_b(phases::kDealB, kCaller);
  // b is packed once, piece by piece, each piece sent to every rank that has
  // rows as soon as it is packed. A rank without rows needs no b.
  packed all_b(ranks > 1 ? k : 0, cols, comm, mpi_detail::start_as::unwritten);
  const int32_t step = mpi_detail::piece_rows(cols);
  for (int32_t from = 0; ranks > 1 && from < k; from += step) {
    const int32_t to = from + std::min(step, k - from);
    for (int32_t i = from; i < to; ++i) {
      std::memcpy(all_b.row(i), b->mat[i], static_cast<size_t>(cols) * sizeof(int32_t));
    }
    for (int r = 1; r < ranks; ++r) {
      if (faixa_de(m, ranks, r).fim > faixa_de(m, ranks, r).inicio) {
        out.send(all_b, from, to, r, kTagB);
      }
    }
  }

  deal_b.end();
  if (!mpi_detail::overlap()) {
    const span sends(phases::kWaitSends, kCaller);
    out.wait_all();
  }
  span make_result(phases::kMakeResult, kCaller);
  matriz* c = mpi_detail::new_result(m, cols, comm);
  make_result.end();
  const faixa mine = faixa_de(m, ranks, 0);
  matriz my_a = mpi_detail::window(a, mine.fim, k);
  matriz my_b = mpi_detail::window(b, k, cols);
  matriz my_c = mpi_detail::window(c, mine.fim, cols);
  mpi_detail::add_product({&my_a, 0, 0}, {&my_b, 0, 0}, {&my_c, 0, 0}, mine.fim, k, cols, threads);

  // The others' rows of c land straight in the result's rows.
  in_flight back(comm);
  span collect(phases::kCollectC, kCaller);
  for (int r = 1; r < ranks; ++r) {
    const faixa f = faixa_de(m, ranks, r);
    back.receive_into(c, f.inicio, 0, f.fim - f.inicio, cols, r, kTagC);
  }
  back.wait_all();
  collect.end();
  const span sends(phases::kWaitSends, kCaller);
  out.wait_all();
  return c;
}

// Any other rank: its rows of a and all of b in, its rows of c out.
void receive_compute_send(int32_t m, int32_t k, int32_t cols, int32_t threads, MPI_Comm comm,
                          int rank, int ranks) {
  const faixa f = faixa_de(m, ranks, rank);
  const int32_t mine = f.fim - f.inicio;
  if (mine == 0) {
    return;
  }
  span making_buffers(phases::kMakeBuffers, kCaller);
  packed my_a(mine, k, comm, mpi_detail::start_as::unwritten);  // the messages fill them
  packed my_b(k, cols, comm, mpi_detail::start_as::unwritten);
  making_buffers.end();
  {
    const span receive(phases::kReceiveAB, kCaller);  // ends after `in` has waited
    in_flight in(comm);
    in.receive(my_a, 0, mine, 0, kTagA);
    in.receive(my_b, 0, k, 0, kTagB);
  }
  span making_c(phases::kMakeBuffers, kCaller);
  packed my_c(mine, cols, comm);
  making_c.end();
  mpi_detail::add_product({my_a.matrix(), 0, 0}, {my_b.matrix(), 0, 0}, {my_c.matrix(), 0, 0}, mine,
                          k, cols, threads);
  const span send(phases::kSendC, kCaller);  // ends after `out` has waited
  in_flight out(comm);
  out.send(my_c, 0, mine, 0, kTagC);
}

}  // namespace

matriz* multiplicarMPI(const matriz* a, const matriz* b, int32_t n, MPI_Comm comm) {
  const mpi_detail::private_comm pc(comm);
  if (pc.get() == MPI_COMM_NULL) {
    return nullptr;
  }
  mpi_detail::product_shape shape{};
  if (!mpi_detail::agree_on_factors(a, b, pc, &shape)) {
    return nullptr;
  }
  if (pc.rank() == 0) {
    return deal_compute_collect(a, b, shape.m, shape.k, shape.n, n, pc.get(), pc.size());
  }
  receive_compute_send(shape.m, shape.k, shape.n, n, pc.get(), pc.rank(), pc.size());
  return nullptr;
}

}  // namespace mpi_products
