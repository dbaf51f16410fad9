// Step 1, solution: the loops in the order i-k-j, so the innermost loop walks along rows
// (docs/exercises.md, Step 1).
//
// Why: every row of a matriz is a heap block of its own. In the order i-j-k the innermost loop
// reads b[p][j] for p = 0, 1, 2, ...: one element in every row of b, a new cache line (and soon
// a new page) at every step, and each line brings 15 neighbours that are thrown away before they
// are used. In the order i-k-j the innermost loop runs along row p of b and row i of c: every
// line loaded is used whole, the loads are neighbours the prefetcher sees coming, and the loop
// is one the compiler turns into vector instructions (eight sums per instruction with AVX2).
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
  // Sums are added into c a term at a time, so c starts at zero.
  dense_core::mzerar(c);
  for (int32_t i = 0; i < m; ++i) {
    auto* ci = reinterpret_cast<uint32_t*>(c->mat[i]);
    for (int32_t p = 0; p < k; ++p) {
      // The kit's arithmetic wraps at 32 bits: the sums are taken in uint32_t.
      const auto aip = static_cast<uint32_t>(a->mat[i][p]);
      const auto* bp = reinterpret_cast<const uint32_t*>(b->mat[p]);
      for (int32_t j = 0; j < n; ++j) {
        ci[j] += aip * bp[j];
      }
    }
  }
  return c;
}
