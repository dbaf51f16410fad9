// The block kernel on one OpenMP team: the result is split among the threads, the packed
// blocks of b are shared.
//
// When the machine has a 16-bit-range path, the team first scans the block's values
// together (each thread its share of the rows, one word of its own for the answer, a
// barrier, then every thread reads every answer and so picks the same kernel).
// Then every thread runs the same loops over blocks of columns (jc) and of the inner
// range (pc), so every thread meets the same barriers:
//   barrier          nobody still reads the previous packed block of b;
//   pack_b_panels    each thread packs its share of the block's panels into the one
//                    buffer of the team;
//   barrier          the whole block of b is packed;
//   multiply_block   each thread packs its own rows of a and adds into its own
//                    rectangle of c.
// The barriers are the only synchronisation: no thread writes what another reads
// between two of them, and no two threads write the same element of c.
#include <omp.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dense/team_kernel.hpp>

#include "common/even_split.hpp"
#include "common/matrix_records.hpp"
#include "common/messages.hpp"
#include "common/team_size.hpp"
#include "kernel/dispatch.hpp"
#include "kernel/driver.hpp"
#include "kernel/operands.hpp"
#include "kernel/testing.hpp"

namespace team_kernel {
namespace detail {

using block_kernel::detail::checked;
using block_kernel::detail::operands;
using block_kernel::detail::tile_kernel;
using dense_detail::even_part;
using dense_detail::item_range;
namespace kd = block_kernel::detail;

namespace {

int32_t units_of(int32_t total, int32_t unit) {
  return static_cast<int32_t>((int64_t{total} + unit - 1) / unit);
}

// Thread `t` of a team of `threads`: its share of every packed block of b and
// its rectangle of the result.
void share_of_product(const tile_kernel& kernel, const operands& op, int32_t* b_pack,
                      int32_t* a_pack, int32_t t, int32_t threads) {
  const int32_t m = op.i1 - op.i0;
  const int32_t k = op.k1 - op.k0;
  const int32_t n = op.j1 - op.j0;
  // The team works on one packed block of columns at a time, so columns are
  // dealt out inside each block: a split of all n columns would leave the
  // threads whose columns lie in other blocks waiting at the barriers.
  const result_split split =
      split_result(m, kd::min32(n, kernel.nc), kernel.mr, kernel.nr, threads);
  const bool works = t < split.row_parts * split.col_parts;
  const item_range rows =
      works ? even_part(m, split.row_parts, t / split.col_parts, kernel.mr) : item_range{0, 0};
  int32_t nc = 0;
  for (int32_t jc = 0; jc < n; jc += nc) {
    nc = kd::min32(kernel.nc, n - jc);
    const item_range panels = even_part(units_of(nc, kernel.nr), threads, t);
    const item_range cols =
        works ? even_part(nc, split.col_parts, t % split.col_parts, kernel.nr) : item_range{0, 0};
    int32_t kc = 0;
    for (int32_t pc = 0; pc < k; pc += kc) {
      kc = kd::min32(kernel.kc, k - pc);
#pragma omp barrier
      kd::pack_b_panels(kernel, op, pc, kc, jc, nc, panels.begin, panels.end, b_pack);
#pragma omp barrier
      kd::multiply_block(kernel, op, pc, kc, jc, nc, rows.begin, rows.end, jc + cols.begin,
                         jc + cols.end, a_pack, b_pack);
    }
  }
}

int run_team(const kd::kernel_choice& choice, const dense_arith::submatriz* a,
             const dense_arith::submatriz* b, const dense_arith::submatriz* c, int32_t n) {
  operands op{};
  const checked verdict = kd::check_operands(a, b, c, &op);
  if (verdict != checked::run) {
    return verdict == checked::refused ? -1 : 0;
  }
  const int32_t m = op.i1 - op.i0;
  const tile_kernel& wide = *choice.wide;
  const int64_t tiles = int64_t{units_of(m, wide.mr)} * units_of(op.j1 - op.j0, wide.nr);
  const int32_t team = dense_detail::team_size(n, tiles);
  if (team == 1) {  // the sequential kernel itself: no region, no barrier
    if (!kd::blocked_product(kd::pick_kernel(choice, op), op)) {
      kd::direct_product(op, 0, m);
    }
    return 0;
  }
  // The team scans the values together, so the buffers are sized before the
  // kernel is known: for whichever of the two kernels needs more.
  kd::pack_sizes sizes = kd::pack_sizes_for(wide, op);
  if (choice.narrow) {
    const kd::pack_sizes narrow = kd::pack_sizes_for(*choice.narrow, op);
    sizes = {std::max(sizes.a_words, narrow.a_words), std::max(sizes.b_words, narrow.b_words)};
  }
  const auto members = static_cast<size_t>(team);
  const kd::pack_block block = kd::alloc_pack(sizes.b_words + members * sizes.a_words + members);
  if (block.start == nullptr) {  // the same sums without buffers, rows dealt out to the team
#pragma omp parallel num_threads(team)
    {
      const item_range rows = even_part(m, omp_get_num_threads(), omp_get_thread_num());
      kd::direct_product(op, rows.begin, rows.end);
    }
    return 0;
  }
  int32_t* b_pack = block.start;
  int32_t* a_packs = b_pack + sizes.b_words;
  int32_t* fits = a_packs + members * sizes.a_words;  // one word per thread: its part of the scan
#pragma omp parallel num_threads(team)
  {
    // The runtime may give fewer threads than asked; the split follows the
    // team it gave, which is never larger than the buffers were sized for.
    const int32_t t = omp_get_thread_num();
    const int32_t threads = omp_get_num_threads();
    const tile_kernel* kernel = &wide;
    if (choice.narrow) {
      // Each thread checks its share of the rows the block reads and writes
      // its own word; after the barrier every thread reads all the words and
      // so reaches the same choice. Nothing writes them again.
      const item_range rows = even_part(kd::scan_rows(op), threads, t);
      fits[t] = kd::rows_fit_int16(op, rows.begin, rows.end) ? 1 : 0;
#pragma omp barrier
      bool all = true;
      for (int32_t u = 0; u < threads; ++u) {
        all = all && fits[u] != 0;
      }
      if (all) {
        kernel = choice.narrow;
      }
    }
    share_of_product(*kernel, op, b_pack, a_packs + static_cast<size_t>(t) * sizes.a_words, t,
                     threads);
  }
  std::free(block.base);
  return 0;
}

}  // namespace

result_split split_result(int32_t m, int32_t n, int32_t mr, int32_t nr, int32_t threads) {
  const int32_t row_units = units_of(m, mr);
  const int32_t col_units = units_of(n, nr);
  // The largest rectangle of the split with `rows` row parts: what the
  // slowest thread computes.
  const auto largest = [&](int32_t rows) {
    const int32_t cols = kd::max32(1, kd::min32(threads / rows, col_units));
    const int64_t height = kd::min32(m, units_of(row_units, rows) * mr);
    const int64_t width = kd::min32(n, units_of(col_units, cols) * nr);
    return height * width;
  };
  const int32_t most_rows = kd::max32(1, kd::min32(threads, row_units));
  int64_t best = largest(most_rows);
  for (int32_t rows = most_rows - 1; rows >= 1; --rows) {
    best = std::min(best, largest(rows));
  }
  int32_t rows = most_rows;
  while (largest(rows) * 100 > best * 105) {
    --rows;
  }
  return {rows, kd::max32(1, kd::min32(threads / rows, col_units))};
}

int mmsubmatrizOMP_on(block_kernel::path p, const dense_arith::submatriz* a,
                      const dense_arith::submatriz* b, const dense_arith::submatriz* c, int32_t n) {
  kd::kernel_choice choice{};
  if (!kd::kernels_on(p, &choice)) {
    return -1;
  }
  return run_team(choice, a, b, c, n);
}

}  // namespace detail

int mmsubmatrizOMP(const dense_arith::submatriz* a, const dense_arith::submatriz* b,
                   const dense_arith::submatriz* c, int32_t n) {
  return detail::run_team(block_kernel::detail::host().kernels, a, b, c, n);
}

dense_core::matriz* multiplicarKernelOMP(const dense_core::matriz* a, const dense_core::matriz* b,
                                         int32_t n) {
  if (!a || !b || !a->mat || !b->mat) {
    std::puts(dense_msg::kMissingMatrix);
    return nullptr;
  }
  if (a->col != b->lin) {
    std::puts(dense_msg::kInvalidForProduct);
    return nullptr;
  }
  // Like the library's other products that return a matrix, but a result the
  // heap cannot hold is reported and refused instead of ending the process:
  // this function already tells its caller "no result" with null.
  dense_core::matriz* r = dense_detail::new_zeroed_matrix(a->lin, b->col);
  if (!r) {
    std::puts(dense_msg::kOutOfMemory);
    return nullptr;
  }
  dense_arith::bloco a_block{0, a->lin, 0, a->col};
  dense_arith::bloco b_block{0, b->lin, 0, b->col};
  dense_arith::bloco c_block{0, r->lin, 0, r->col};
  // The descriptors' matrix pointers are non-const only by the record's
  // type; the factors are read, never written.
  const dense_arith::submatriz da{const_cast<dense_core::matriz*>(a), &a_block};
  const dense_arith::submatriz db{const_cast<dense_core::matriz*>(b), &b_block};
  const dense_arith::submatriz dc{r, &c_block};
  mmsubmatrizOMP(&da, &db, &dc, n);
  return r;
}

}  // namespace team_kernel
