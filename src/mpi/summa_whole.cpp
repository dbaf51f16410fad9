// multiplicarSUMMA: rank 0 deals every rank its blocks, the grid runs SUMMA, rank 0 collects c.
//
// The blocks are those of bloco_do_rank on the grid of criar_grade, so the
// middle step is exactly multiplicarSUMMAblocos. Dealing and collecting are
// point-to-point messages from and to rank 0, one rank after another, each a
// count of rows of one row datatype.
#include <dense/mpi_products.hpp>

#include "mpi/mpi_detail.hpp"

namespace mpi_products {

using dense_core::matriz;
using mpi_detail::check;
using mpi_detail::packed;
using mpi_detail::row_type;

namespace {

constexpr int kTagA = 1;
constexpr int kTagB = 2;
constexpr int kTagC = 3;

int32_t rows_of(const dense_arith::bloco& blk) { return blk.lin_fim - blk.lin_inicio; }
int32_t cols_of(const dense_arith::bloco& blk) { return blk.col_fim - blk.col_inicio; }

// Rank 0 sends every other rank its block of `whole`; each other rank receives
// its own into `mine`. Rank 0 copies its own block directly.
void deal(const matriz* whole, packed& mine, int32_t lin, int32_t col, const int dims[2], int tag,
          MPI_Comm grid, int rank, int ranks) {
  if (rank != 0) {
    if (!mine.empty()) {
      const row_type row(mine.cols(), grid);
      check(MPI_Recv(mine.data(), mine.rows(), row.get(), 0, tag, grid, MPI_STATUS_IGNORE), grid);
    }
    return;
  }
  for (int r = 0; r < ranks; ++r) {
    const dense_arith::bloco blk = bloco_do_rank(lin, col, dims[0], dims[1], r);
    if (r == 0) {
      mpi_detail::copy_block(whole, blk.lin_inicio, blk.col_inicio, mine);
      continue;
    }
    packed theirs(rows_of(blk), cols_of(blk), grid);
    if (theirs.empty()) {
      continue;
    }
    mpi_detail::copy_block(whole, blk.lin_inicio, blk.col_inicio, theirs);
    const row_type row(theirs.cols(), grid);
    check(MPI_Send(theirs.data(), theirs.rows(), row.get(), r, tag, grid), grid);
  }
}

// The reverse of deal for c: every rank sends its block to rank 0, which
// places each into `whole`.
void collect(matriz* whole, packed& mine, int32_t lin, int32_t col, const int dims[2], int tag,
             MPI_Comm grid, int rank, int ranks) {
  if (rank != 0) {
    if (!mine.empty()) {
      const row_type row(mine.cols(), grid);
      check(MPI_Send(mine.data(), mine.rows(), row.get(), 0, tag, grid), grid);
    }
    return;
  }
  for (int r = 0; r < ranks; ++r) {
    const dense_arith::bloco blk = bloco_do_rank(lin, col, dims[0], dims[1], r);
    if (r == 0) {
      mpi_detail::place_block(mine, whole, blk.lin_inicio, blk.col_inicio);
      continue;
    }
    packed theirs(rows_of(blk), cols_of(blk), grid);
    if (theirs.empty()) {
      continue;
    }
    const row_type row(theirs.cols(), grid);
    check(MPI_Recv(theirs.data(), theirs.rows(), row.get(), r, tag, grid, MPI_STATUS_IGNORE), grid);
    mpi_detail::place_block(theirs, whole, blk.lin_inicio, blk.col_inicio);
  }
}

}  // namespace

matriz* multiplicarSUMMA(const matriz* a, const matriz* b, int32_t n, MPI_Comm comm) {
  const mpi_detail::private_comm pc(comm);
  if (pc.get() == MPI_COMM_NULL) {
    return nullptr;
  }
  const bool root = pc.rank() == 0;

  mpi_detail::product_shape shape{};
  if (!mpi_detail::agree_on_factors(a, b, pc, &shape)) {
    return nullptr;
  }
  const int32_t m = shape.m;
  const int32_t k = shape.k;
  const int32_t cols = shape.n;

  MPI_Comm grid = MPI_COMM_NULL;
  criar_grade(pc.get(), &grid);
  int dims[2] = {1, 1};
  int periods[2] = {0, 0};
  int coords[2] = {0, 0};
  check(MPI_Cart_get(grid, 2, dims, periods, coords), grid);
  const int rank = pc.rank();
  const int ranks = pc.size();

  const dense_arith::bloco a_blk = bloco_do_rank(m, k, dims[0], dims[1], rank);
  const dense_arith::bloco b_blk = bloco_do_rank(k, cols, dims[0], dims[1], rank);
  const dense_arith::bloco c_blk = bloco_do_rank(m, cols, dims[0], dims[1], rank);
  matriz* c = nullptr;
  {
    packed my_a(rows_of(a_blk), cols_of(a_blk), grid);
    packed my_b(rows_of(b_blk), cols_of(b_blk), grid);
    packed my_c(rows_of(c_blk), cols_of(c_blk), grid);
    deal(a, my_a, m, k, dims, kTagA, grid, rank, ranks);
    deal(b, my_b, k, cols, dims, kTagB, grid, rank, ranks);
    // Every block was cut by the same rule the blocked product checks against.
    multiplicarSUMMAblocos(my_a.matrix(), my_b.matrix(), my_c.matrix(), m, k, cols, n, grid);
    if (root) {
      c = mpi_detail::new_result(m, cols, grid);
    }
    collect(c, my_c, m, cols, dims, kTagC, grid, rank, ranks);
  }
  MPI_Comm_free(&grid);
  return c;
}

}  // namespace mpi_products
