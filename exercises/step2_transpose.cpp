// Step 2 starter: a cache-friendly layout, b transposed (docs/exercises.md, Step 2).
//
// What it does now: the i-j-k loops of step 1's starter, as tipo0 runs them: right, and slow,
// because the innermost loop walks down a column of b, a new heap block (a new cache line) at
// every step.
//
// Your part (marked TODO below): keep this order and change the layout instead. Copy b once,
// transposed, into one block, so that column j of b becomes a contiguous row of bt, and compute
// each c[i][j] as a dot product of row i of a and row j of bt. Run `make try` with the line below
// and read the `vs tipo0` column.
//
// goal: speedup_vs_tipo0[1] >= 5
// try: ARGS='--size 512 --threads 1 --methods tipo0,tipo1'
#include <cstdint>
#include <cstdlib>
#include <dense/dense_core.hpp>

using dense_core::matriz;

extern "C" matriz* step2_transpose(const matriz* a, const matriz* b, int32_t /*threads*/) {
  const int32_t m = a->lin;
  const int32_t k = a->col;
  const int32_t n = b->col;
  auto* c = static_cast<matriz*>(std::malloc(sizeof(matriz)));
  if (c == nullptr) {
    return nullptr;
  }
  *c = {nullptr, m, n};
  if (dense_core::malocar(c) == 0) {
    std::free(c);
    return nullptr;
  }
  // TODO(step 2): before these loops, malloc one block of k * n uint32_t values (sizes in size_t)
  // and copy b into it transposed: bt[j * k + p] = b->mat[p][j]. Then read the inner loop's
  // operand from bt + j * k instead of down the column of b, and free bt before returning (and
  // on every early return).
  for (int32_t i = 0; i < m; ++i) {
    for (int32_t j = 0; j < n; ++j) {
      // The kit's arithmetic wraps at 32 bits: the sums are taken in uint32_t.
      uint32_t sum = 0;
      for (int32_t p = 0; p < k; ++p) {
        sum += static_cast<uint32_t>(a->mat[i][p]) * static_cast<uint32_t>(b->mat[p][j]);
      }
      c->mat[i][j] = static_cast<int32_t>(sum);
    }
  }
  return c;
}
