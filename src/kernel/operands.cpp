// The check of three block descriptors that both entry points run before any work.
#include "kernel/operands.hpp"

#include <cstdio>

#include "common/messages.hpp"

namespace block_kernel::detail {
namespace {

bool has_storage(const dense_arith::submatriz* d) { return d && d->matriz && d->matriz->mat; }

// The block must lie inside the matrices it reads and writes; the row and
// column counts of the records are the only bounds the kernel can trust.
bool fits(const operands& op, const dense_core::matriz& a, const dense_core::matriz& b,
          const dense_core::matriz& c) {
  return op.i0 >= 0 && op.i1 <= a.lin && op.i1 <= c.lin &&  // rows
         op.k0 >= 0 && op.k1 <= a.col && op.k1 <= b.lin &&  // inner range
         op.j0 >= 0 && op.j1 <= b.col && op.j1 <= c.col;    // columns
}

bool overlap(int32_t lo1, int32_t hi1, int32_t lo2, int32_t hi2) { return lo1 < hi2 && lo2 < hi1; }

// Whether the block of c that is written is also read from a or b through the
// same row table: the packed product reads its factors block by block, so the
// result would depend on the blocking instead of being a x b.
bool writes_what_it_reads(const operands& op) {
  const bool into_a = op.c == op.a && overlap(op.j0, op.j1, op.k0, op.k1);
  const bool into_b = op.c == op.b && overlap(op.i0, op.i1, op.k0, op.k1);
  return into_a || into_b;
}

}  // namespace

checked check_operands(const dense_arith::submatriz* a, const dense_arith::submatriz* b,
                       const dense_arith::submatriz* c, operands* out) {
  if (!has_storage(a) || !has_storage(b) || !has_storage(c) || !a->bloco || !b->bloco) {
    std::puts(dense_msg::kMissingMatrix);
    return checked::refused;
  }
  // B's row bounds and c's bloco are deliberately not read: a's column range
  // is the inner range, and c is addressed at the product's own (i, j).
  const operands op = {a->matriz->mat,       b->matriz->mat,       c->matriz->mat,
                       a->bloco->lin_inicio, a->bloco->lin_fim,    a->bloco->col_inicio,
                       a->bloco->col_fim,    b->bloco->col_inicio, b->bloco->col_fim};
  if (op.i0 >= op.i1 || op.k0 >= op.k1 || op.j0 >= op.j1) {
    return checked::empty;
  }
  if (!fits(op, *a->matriz, *b->matriz, *c->matriz) || writes_what_it_reads(op)) {
    std::puts(dense_msg::kInvalidForProduct);
    return checked::refused;
  }
  *out = op;
  return checked::run;
}

}  // namespace block_kernel::detail
