// Step 1 starter: loop order and the cache (docs/exercises.md, Step 1).
//
// What it does now: the three loops in the order i-j-k, as tipo0 runs them: right, and slow. The
// innermost loop walks down a column of b, and every row of a matriz is a heap block of its own,
// so every step of that loop lands on another cache line.
//
// Your part (marked TODO below): put the loops in an order whose innermost loop walks along rows,
// of b and of c, then run `make try` with the line below and read the `vs tipo0` column.
//
// goal: speedup_vs_tipo0[1] >= 5
// try: ARGS='--size 512 --threads 1 --methods tipo0,tipo1'
#include <cstdint>
#include <cstdlib>
#include <dense/dense_core.hpp>

using dense_core::matriz;

extern "C" matriz* step1_loop_order(const matriz* a, const matriz* b, int32_t /*threads*/) {
  // The sizes in locals: the stores into c (int32_t, as a->col is) could otherwise change them as
  // far as the compiler knows, and it would not vectorise the inner loop.
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
  // TODO(step 1): reorder these loops so that the innermost one runs over j. Then each c[i][j]
  // is no longer one finished sum: zero c first (dense_core::mzerar) and add one term at a time.
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
