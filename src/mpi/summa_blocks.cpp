// multiplicarSUMMAblocos: SUMMA on blocks that stay where they are; only panels travel.
//
// The grid is linhas x colunas. a's columns (the inner index) are cut over the
// grid's columns, b's rows (the same inner index) over the grid's rows, and
// the two cuts need not agree. So the inner index is walked in steps between
// consecutive cut points of either: inside one step a single grid column owns
// the step's columns of a and a single grid row owns the step's rows of b.
// That owner broadcasts its panel along its grid row (a) or grid column (b);
// every rank then adds panel x panel into its own block of c. Each rank writes
// only its own block, so ranks never wait on each other except for the
// broadcasts, which every rank of a row or column posts in the same order.
// Steps are cut again into panels no wider than the kernel needs to run at
// its own speed, and the next panel's broadcasts travel while the current
// panel is multiplied (look-ahead), in the loop that multiplicarSUMMA shares.
#include <algorithm>
#include <dense/mpi_products.hpp>
#include <memory>
#include <vector>

#include "common/even_split.hpp"
#include "mpi/mpi_detail.hpp"
#include "mpi/overlap.hpp"
#include "mpi/panel_order.hpp"
#include "mpi/phases.hpp"
#include "mpi/summa_loop.hpp"

namespace mpi_products {

using dense_core::matriz;
using mpi_detail::check;
using mpi_detail::in_flight;
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

// One panel of the inner index: [from, from + width), inside the columns of a
// that grid column a_owner holds and the rows of b that grid row b_owner holds.
struct panel {
  int32_t from;
  int32_t width;
  int a_owner;
  int b_owner;
};

// The steps run between consecutive cut points of either cut of the inner
// index (a's columns over the grid's columns, b's rows over its rows); each
// step is cut again into even panels no wider than `widest`.
std::vector<panel> panels_of(int32_t k, int rows_of_grid, int cols_of_grid, int32_t widest) {
  std::vector<int32_t> cuts{k};
  for (int j = 0; j < cols_of_grid; ++j) {
    cuts.push_back(faixa_de(k, cols_of_grid, j).inicio);
  }
  for (int i = 0; i < rows_of_grid; ++i) {
    cuts.push_back(faixa_de(k, rows_of_grid, i).inicio);
  }
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  std::vector<panel> out;
  for (size_t s = 0; s + 1 < cuts.size(); ++s) {
    const int32_t step = cuts[s + 1] - cuts[s];
    const int32_t parts = (step + widest - 1) / widest;
    for (int32_t p = 0; p < parts; ++p) {
      const faixa f = faixa_de(step, parts, p);
      const int32_t from = cuts[s] + f.inicio;
      // The owners by the inverse of the rule that cut a's columns and b's rows (faixa_de).
      out.push_back(panel{from, f.fim - f.inicio, dense_detail::part_holding(k, cols_of_grid, from),
                          dense_detail::part_holding(k, rows_of_grid, from)});
    }
  }
  return out;
}

// The buffers of one panel in flight and its two broadcasts. Two of them
// alternate: one is multiplied while the next one travels.
struct slot {
  std::unique_ptr<packed> a;
  std::unique_ptr<packed> b;
  MPI_Request done[2] = {MPI_REQUEST_NULL, MPI_REQUEST_NULL};
};

// Waits for a dealt block still arriving; `phase` names the wait.
void wait_for(in_flight*& arriving, const char* phase) {
  if (arriving != nullptr) {
    const mpi_detail::phases::span waiting(phase, mpi_detail::phases::kCaller);
    arriving->wait_all();
    arriving = nullptr;
  }
}

}  // namespace

}  // namespace mpi_products

namespace mpi_detail {

void summa_loop(MPI_Comm grid, const int dims[2], int rank, int32_t m, int32_t k, int32_t n,
                int32_t threads, summa_blocks& blocks) {
  using mpi_products::bloco_do_rank;
  const int rows_of_grid = dims[0];
  const int cols_of_grid = dims[1];
  const int my_row = rank / cols_of_grid;
  const int my_col = rank % cols_of_grid;
  const dense_arith::bloco a_blk = bloco_do_rank(m, k, rows_of_grid, cols_of_grid, rank);
  const dense_arith::bloco b_blk = bloco_do_rank(k, n, rows_of_grid, cols_of_grid, rank);
  const int32_t my_rows = a_blk.lin_fim - a_blk.lin_inicio;  // also c's rows
  const int32_t my_cols = b_blk.col_fim - b_blk.col_inicio;  // also c's columns

  // Along a grid row (the column index varies): a's panels. Along a grid
  // column: b's. Every rank of a grid row has the same my_rows, and of a grid
  // column the same my_cols, so a whole row or column skips a broadcast
  // together; a grid of one column (or row) has nobody to send a's (b's) to.
  mpi_detail::phases::span making_grid(mpi_detail::phases::kMakeGrid, mpi_detail::phases::kCaller);
  const mpi_products::sub_grid along_row(grid, 0, 1);
  const mpi_products::sub_grid along_col(grid, 1, 0);
  making_grid.end();
  const bool send_a = cols_of_grid > 1 && my_rows > 0;
  const bool send_b = rows_of_grid > 1 && my_cols > 0;

  // On a grid of one rank nothing travels, so nothing can travel ahead, and
  // each step is one call of the kernel. Every rank cuts the same panels.
  const bool alone = rows_of_grid * cols_of_grid == 1;
  const std::vector<mpi_products::panel> panels =
      mpi_products::panels_of(k, rows_of_grid, cols_of_grid, alone ? k : kPanelWidth);
  int32_t widest = 0;
  for (const auto& p : panels) {
    widest = std::max(widest, p.width);
  }
  mpi_detail::phases::span making_buffers(mpi_detail::phases::kMakeBuffers,
                                          mpi_detail::phases::kCaller);
  mpi_products::slot slots[2];
  for (auto& s : slots) {
    // Each panel is copied or received whole into its slot before it is read.
    s.a = std::make_unique<packed>(send_a ? my_rows : 0, widest, grid, start_as::unwritten);
    s.b = std::make_unique<packed>(send_b ? widest : 0, my_cols, grid, start_as::unwritten);
  }
  making_buffers.end();
  const row_type row_c(std::max(my_cols, 1), grid);
  // One row type per panel width, freed when all is done.
  std::vector<std::unique_ptr<row_type>> a_rows;

  auto post = [&](size_t i) {
    const mpi_products::panel& p = panels[i];
    mpi_products::slot& s = slots[i % 2];
    const mpi_detail::phases::span posting(mpi_detail::phases::kBroadcastPanel,
                                           mpi_detail::phases::kCaller);
    check(MPI_Waitall(2, s.done, MPI_STATUSES_IGNORE), grid);  // its last panel is done with
    if (send_a) {
      s.a->reshape(my_rows, p.width);
      if (my_col == p.a_owner) {
        mpi_products::wait_for(blocks.a_arriving, mpi_detail::phases::kReceiveA);
        copy_block(blocks.a.m, blocks.a.r0, blocks.a.c0 + p.from - a_blk.col_inicio, *s.a);
      }
      a_rows.push_back(std::make_unique<row_type>(p.width, grid));
      check(MPI_Ibcast(s.a->data(), my_rows, a_rows.back()->get(), p.a_owner, along_row.get(),
                       &s.done[0]),
            grid);
    }
    if (send_b) {
      s.b->reshape(p.width, my_cols);
      if (my_row == p.b_owner) {
        mpi_products::wait_for(blocks.b_arriving, mpi_detail::phases::kReceiveB);
        copy_block(blocks.b.m, blocks.b.r0 + p.from - b_blk.lin_inicio, blocks.b.c0, *s.b);
      }
      check(MPI_Ibcast(s.b->data(), p.width, row_c.get(), p.b_owner, along_col.get(), &s.done[1]),
            grid);
    }
  };

  auto multiply = [&](size_t i) {
    const mpi_products::panel& p = panels[i];
    mpi_products::slot& s = slots[i % 2];
    view a = {s.a->matrix(), 0, 0};
    if (my_col == p.a_owner) {
      mpi_products::wait_for(blocks.a_arriving, mpi_detail::phases::kReceiveA);
      a = {blocks.a.m, blocks.a.r0, blocks.a.c0 + p.from - a_blk.col_inicio};
    } else {
      const mpi_detail::phases::span waiting(mpi_detail::phases::kWaitPanel,
                                             mpi_detail::phases::kCaller);
      check(MPI_Wait(&s.done[0], MPI_STATUS_IGNORE), grid);
    }
    view b = {s.b->matrix(), 0, 0};
    if (my_row == p.b_owner) {
      mpi_products::wait_for(blocks.b_arriving, mpi_detail::phases::kReceiveB);
      b = {blocks.b.m, blocks.b.r0 + p.from - b_blk.lin_inicio, blocks.b.c0};
    } else {
      const mpi_detail::phases::span waiting(mpi_detail::phases::kWaitPanel,
                                             mpi_detail::phases::kCaller);
      check(MPI_Wait(&s.done[1], MPI_STATUS_IGNORE), grid);
    }
    add_product(a, b, blocks.c, my_rows, p.width, my_cols, threads);
  };

  // Without overlap, a panel's broadcasts end on every rank, its owner's
  // included, before anyone multiplies it: as blocking broadcasts would.
  auto wait_for_panel = [&](size_t i) {
    const mpi_detail::phases::span waiting(mpi_detail::phases::kWaitPanel,
                                           mpi_detail::phases::kCaller);
    check(MPI_Waitall(2, slots[i % 2].done, MPI_STATUSES_IGNORE), grid);
  };

  const bool look_ahead = overlap();
  panel_order order(panels.size());
  post(order.post());
  if (blocks.once_posted) {
    blocks.once_posted();
  }
  // A panel this rank holds wholly (its a part and its b part, or a part
  // that travels nowhere): multiplied where it lies, waiting for nobody.
  auto own = [&](size_t j) {
    return (!send_a || my_col == panels[j].a_owner) && (!send_b || my_row == panels[j].b_owner);
  };
  // Whether the parts of panel j that others send have come. Asking lets
  // Open MPI copy them now (the receiver copies, and only inside MPI), so the
  // question is marked as the wait for the panel: that copy is what such a
  // wait holds.
  auto arrived = [&](size_t j) {
    const mpi_detail::phases::span asking(mpi_detail::phases::kWaitPanel,
                                          mpi_detail::phases::kCaller);
    mpi_products::slot& s = slots[j % 2];
    int got_a = 1;
    int got_b = 1;
    if (send_a && my_col != panels[j].a_owner) {
      check(MPI_Test(&s.done[0], &got_a, MPI_STATUS_IGNORE), grid);
    }
    if (send_b && my_row != panels[j].b_owner) {
      check(MPI_Test(&s.done[1], &got_b, MPI_STATUS_IGNORE), grid);
    }
    return got_a != 0 && got_b != 0;
  };
  // With look-ahead the next panel travels while one is multiplied; without
  // it, each panel is posted once the one before is multiplied, and waited
  // for in full.
  while (!order.finished()) {
    while (look_ahead && order.may_post()) {
      post(order.post());
    }
    // The order of panel_order.hpp, while no dealt block is still arriving.
    const bool prefer_own =
        look_ahead && blocks.a_arriving == nullptr && blocks.b_arriving == nullptr;
    const size_t i = order.pick(prefer_own, own, arrived);
    if (!look_ahead) {
      wait_for_panel(i);
    }
    multiply(i);
    order.multiplied(i);
    if (!look_ahead && order.may_post()) {
      post(order.post());
    }
  }
  {
    const mpi_detail::phases::span waiting(mpi_detail::phases::kWaitPanel,
                                           mpi_detail::phases::kCaller);
    for (auto& s : slots) {
      check(MPI_Waitall(2, s.done, MPI_STATUSES_IGNORE), grid);
    }
  }
  mpi_products::wait_for(blocks.a_arriving, mpi_detail::phases::kReceiveA);
  mpi_products::wait_for(blocks.b_arriving, mpi_detail::phases::kReceiveB);
}

}  // namespace mpi_detail

namespace mpi_products {

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
  mpi_detail::phases::span agreeing(mpi_detail::phases::kAgree, mpi_detail::phases::kCaller);
  check(MPI_Allreduce(mine, all, 7, MPI_INT32_T, MPI_MAX, grid), grid);
  agreeing.end();
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

  mpi_detail::summa_blocks blocks;
  blocks.a = {a, 0, 0};
  blocks.b = {b, 0, 0};
  blocks.c = {c, 0, 0};
  mpi_detail::summa_loop(grid, g.dims, pc.rank(), m, k, n, threads, blocks);
  return 0;
}

}  // namespace mpi_products
