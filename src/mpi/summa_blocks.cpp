// multiplicarSUMMAblocos: SUMMA on blocks that stay where they are; only panels travel.
//
// The grid is linhas x colunas. a's columns (the inner index) are cut over the
// grid's columns, b's rows (the same inner index) over the grid's rows, and
// the two cuts need not agree. So the inner index is walked in steps between
// consecutive cut points of either: inside one step a single grid column owns
// the step's columns of a and a single grid row owns the step's rows of b.
// That owner broadcasts its panel along its grid row (a) or grid column (b);
// every rank then adds panel x panel into its own block of c. Each rank writes
// only its own block, so ranks never wait on each other except inside the
// broadcasts, which every rank of a row or column enters in the same order.
#include <algorithm>
#include <dense/mpi_products.hpp>
#include <vector>

#include "common/even_split.hpp"
#include "mpi/mpi_detail.hpp"

namespace mpi_products {

using dense_core::matriz;
using mpi_detail::check;
using mpi_detail::packed;
using mpi_detail::row_type;

namespace {

// The rank's verdict on its own block: it must have exactly the block's size.
int32_t judge_block(const matriz* m, const dense_arith::bloco& want) {
  const int32_t rows = want.lin_fim - want.lin_inicio;
  const int32_t cols = want.col_fim - want.col_inicio;
  if (rows == 0 || cols == 0) {
    return mpi_detail::kAccepted;  // an empty block is not looked at
  }
  if (m == nullptr || m->mat == nullptr) {
    return mpi_detail::kMissing;
  }
  if (m->lin != rows || m->col != cols) {
    return mpi_detail::kMismatch;
  }
  return mpi_detail::kAccepted;
}

// The grid's shape and this rank's verdict on everything it was handed.
struct grid_view {
  int dims[2] = {1, 1};
  int32_t verdict = mpi_detail::kAccepted;
};

grid_view look_at(MPI_Comm grid, int rank, const matriz* a, const matriz* b, const matriz* c,
                  int32_t m, int32_t k, int32_t n) {
  grid_view g;
  int topology = MPI_UNDEFINED;
  check(MPI_Topo_test(grid, &topology), grid);
  int ndims = 0;
  if (topology == MPI_CART) {
    check(MPI_Cartdim_get(grid, &ndims), grid);
  }
  if (ndims != 2) {
    g.verdict = mpi_detail::kNotAGrid;
    return g;
  }
  int periods[2] = {0, 0};
  int coords[2] = {0, 0};
  check(MPI_Cart_get(grid, 2, g.dims, periods, coords), grid);
  if (m <= 0 || k <= 0 || n <= 0) {
    g.verdict = mpi_detail::kMismatch;
    return g;
  }
  g.verdict = std::max({judge_block(a, bloco_do_rank(m, k, g.dims[0], g.dims[1], rank)),
                        judge_block(b, bloco_do_rank(k, n, g.dims[0], g.dims[1], rank)),
                        judge_block(c, bloco_do_rank(m, n, g.dims[0], g.dims[1], rank))});
  return g;
}

// One of the grid's row or column communicators, with errors returned.
class sub_grid {
 public:
  sub_grid(MPI_Comm grid, int keep_rows, int keep_cols) {
    const int remain[2] = {keep_rows, keep_cols};
    check(MPI_Cart_sub(grid, remain, &comm_), grid);
    check(MPI_Comm_set_errhandler(comm_, MPI_ERRORS_RETURN), comm_);
  }
  sub_grid(const sub_grid&) = delete;
  sub_grid& operator=(const sub_grid&) = delete;
  ~sub_grid() { MPI_Comm_free(&comm_); }
  MPI_Comm get() const { return comm_; }

 private:
  MPI_Comm comm_ = MPI_COMM_NULL;
};

}  // namespace

int multiplicarSUMMAblocos(const matriz* a, const matriz* b, matriz* c, int32_t m, int32_t k,
                           int32_t n, int32_t threads, MPI_Comm grade) {
  const mpi_detail::private_comm pc(grade);
  if (pc.get() == MPI_COMM_NULL) {
    return -1;
  }
  const MPI_Comm grid = pc.get();
  const grid_view g = look_at(grid, pc.rank(), a, b, c, m, k, n);

  // Agreement: the worst verdict of any rank, and every rank's m, k and n
  // equal (their maxima and minima, through one MPI_MAX on negated copies).
  int32_t mine[7] = {g.verdict, m, -m, k, -k, n, -n};
  int32_t all[7] = {};
  check(MPI_Allreduce(mine, all, 7, MPI_INT32_T, MPI_MAX, grid), grid);
  int32_t verdict = all[0];
  if (verdict == mpi_detail::kAccepted &&
      (all[1] != -all[2] || all[3] != -all[4] || all[5] != -all[6])) {
    verdict = mpi_detail::kMismatch;
  }
  if (verdict != mpi_detail::kAccepted) {
    if (pc.rank() == 0) {
      mpi_detail::print_refusal(verdict);
    }
    return -1;
  }

  const int rows_of_grid = g.dims[0];
  const int cols_of_grid = g.dims[1];
  const int my_row = pc.rank() / cols_of_grid;
  const int my_col = pc.rank() % cols_of_grid;
  const dense_arith::bloco a_blk = bloco_do_rank(m, k, rows_of_grid, cols_of_grid, pc.rank());
  const dense_arith::bloco b_blk = bloco_do_rank(k, n, rows_of_grid, cols_of_grid, pc.rank());
  const int32_t my_rows = a_blk.lin_fim - a_blk.lin_inicio;  // also c's rows
  const int32_t my_cols = b_blk.col_fim - b_blk.col_inicio;  // also c's columns

  // Along a grid row (the column index varies): a's panels. Along a grid column: b's.
  const sub_grid along_row(grid, 0, 1);
  const sub_grid along_col(grid, 1, 0);

  // The steps: every cut point of the inner index, from either cut.
  std::vector<int32_t> cuts{k};
  for (int j = 0; j < cols_of_grid; ++j) {
    cuts.push_back(faixa_de(k, cols_of_grid, j).inicio);
  }
  for (int i = 0; i < rows_of_grid; ++i) {
    cuts.push_back(faixa_de(k, rows_of_grid, i).inicio);
  }
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());

  // One buffer for each kind of panel, as wide as the widest step, reused by every step.
  int32_t widest = 0;
  for (size_t s = 0; s + 1 < cuts.size(); ++s) {
    widest = std::max(widest, cuts[s + 1] - cuts[s]);
  }
  packed a_panel(my_rows, widest, grid);
  packed b_panel(widest, my_cols, grid);
  const row_type row_c(my_cols, grid);

  for (size_t s = 0; s + 1 < cuts.size(); ++s) {
    const int32_t from = cuts[s];
    const int32_t width = cuts[s + 1] - from;
    // The owners by the inverse of the rule that cut a's columns and b's rows (faixa_de).
    const int a_owner = dense_detail::part_holding(k, cols_of_grid, from);  // a grid column
    const int b_owner = dense_detail::part_holding(k, rows_of_grid, from);  // a grid row

    // Every rank of a grid row has the same my_rows, and of a grid column the
    // same my_cols, so a whole row or column skips a broadcast together.
    a_panel.reshape(my_rows, width);
    if (!a_panel.empty()) {
      if (my_col == a_owner) {
        mpi_detail::copy_block(a, 0, from - a_blk.col_inicio, a_panel);
      }
      const row_type row_w(width, grid);
      check(MPI_Bcast(a_panel.data(), my_rows, row_w.get(), a_owner, along_row.get()), grid);
    }
    b_panel.reshape(width, my_cols);
    if (!b_panel.empty()) {
      if (my_row == b_owner) {
        mpi_detail::copy_block(b, from - b_blk.lin_inicio, 0, b_panel);
      }
      check(MPI_Bcast(b_panel.data(), width, row_c.get(), b_owner, along_col.get()), grid);
    }
    mpi_detail::add_product(a_panel.matrix(), b_panel.matrix(), c, my_rows, width, my_cols,
                            threads);
  }
  return 0;
}

}  // namespace mpi_products
