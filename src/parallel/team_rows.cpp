// The product on an OpenMP team: one parallel region per call, the row loop
// shared out with the static schedule.
//
// Each thread of the team gets one contiguous range of rows of c (the first
// rows % T threads one row more) and writes nothing else, so the team needs no
// lock and no barrier inside the region; its end is the only synchronisation.
// The ranges are fixed by the documented schedule, so this team cannot balance
// itself on a busy machine: its header says what that costs, measured.
#include <omp.h>

#include <cstdio>
#include <dense/block_kernel.hpp>
#include <dense/team_rows.hpp>

#include "common/messages.hpp"
#include "common/omp_team_end.hpp"
#include "common/team_size.hpp"
#include "common/trace.hpp"
#include "common/wrapping.hpp"

namespace team_rows {

int32_t multiplicarOMP(const dense_core::matriz* a, const dense_core::matriz* b,
                       dense_core::matriz* c, int32_t n) {
  if (a == nullptr || b == nullptr || c == nullptr || a->mat == nullptr || b->mat == nullptr ||
      c->mat == nullptr) {
    std::puts(dense_msg::kMissingMatrix);
    return -1;
  }
  // c must hold the whole product and must not be one of the factors: the
  // team would read rows that other threads are rewriting.
  if (a->col != b->lin || c->lin < a->lin || c->col < b->col || c->mat == a->mat ||
      c->mat == b->mat) {
    std::puts(dense_msg::kInvalidForProduct);
    return -1;
  }
  // The counts are read once; every bound inside the region comes from them.
  const int32_t a_col = a->col;
  const int32_t b_col = b->col;
  const int32_t a_lin = a->lin;
  int32_t** am = a->mat;
  int32_t** bm = b->mat;
  int32_t** cm = c->mat;

  // n below 1 asks for the runtime's default team. A team larger than the
  // row count would leave threads without a row, and one larger than the
  // machine and the process can hold would make the runtime end the process:
  // the result is the same for any team size, so the request is bounded.
  const int32_t team = dense_detail::team_size(n, a_lin);

  const char* rows_phase = dense_detail::trace::kRows;
#pragma omp parallel num_threads(team) default(none) shared(am, bm, cm, a_col, b_col, a_lin) \
    firstprivate(rows_phase)
  {
    // nowait: the end of the region is the team's one meeting point, and a
    // thread's rows end on its timeline when its rows are done.
    const dense_detail::trace::span traced(rows_phase, omp_get_thread_num());
#pragma omp for schedule(static) nowait
    for (int32_t i = 0; i < a_lin; ++i) {
      const int32_t* ai = am[i];
      int32_t* ci = cm[i];
      for (int32_t k = 0; k < a_col; ++k) {
        // a[i][k] stays fixed while the inner loop walks row k of b and row i of c.
        dense_detail::add_scaled_row(ci, bm[k], static_cast<uint32_t>(ai[k]), b_col);
      }
    }
  }
  // Its members spin on for a while, waiting for another region: a small
  // team-kernel call right after must not take them for other programs.
  dense_detail::omp_team_left(team);
  return 0;
}

int32_t multiplicarOMPblocos(const dense_arith::submatriz* a, const dense_arith::submatriz* b,
                             const dense_arith::submatriz* c) {
  // The kernel's -1 says it refused the descriptors (and printed why): a
  // caller that gets 0 would take a part it never computed for a result.
  return block_kernel::mmsubmatriz(a, b, c);
}

}  // namespace team_rows
