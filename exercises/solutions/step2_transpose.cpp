// Step 2, solution: b transposed into one block first, then each element of c one dot product of
// two rows read neighbour after neighbour (docs/exercises.md, Step 2).
//
// Why: step 1 changed the order of the work; this step changes the layout of the data and keeps
// the i-j-k order. In that order the innermost loop walks down a column of b, one element in
// every row, and every row of a matriz is a heap block of its own. Transposed, that column is one
// contiguous row of bt: both operands of the dot product are read neighbour after neighbour, the
// sum stays in a register (the compiler keeps eight partial sums in one vector register and adds
// them up at the end, which is exact here: uint32_t sums wrap the same in any order), and c is
// written once per element. The transpose costs one pass over b (K x N reads and writes) against
// the product's M x K x N multiply-adds.
//
// goal: speedup_vs_tipo0[1] >= 5
// try: ARGS='--size 512 --threads 1 --methods tipo0,tipo1'
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <dense/dense_core.hpp>

using dense_core::matriz;

extern "C" matriz* step2_transpose(const matriz* a, const matriz* b, int32_t /*threads*/) {
  const int32_t m = a->lin;
  const int32_t k = a->col;
  const int32_t n = b->col;
  auto* c = static_cast<matriz*>(std::malloc(sizeof(matriz)));
  // bt holds b transposed in one block: row j of bt (k values from bt + j * k) is column j of b.
  auto* bt = static_cast<uint32_t*>(
      std::malloc(sizeof(uint32_t) * static_cast<size_t>(k) * static_cast<size_t>(n)));
  if (c == nullptr || bt == nullptr) {
    std::free(c);
    std::free(bt);
    return nullptr;
  }
  *c = {nullptr, m, n};
  if (dense_core::malocar(c) == 0) {
    std::free(c);
    std::free(bt);
    return nullptr;
  }
  for (int32_t p = 0; p < k; ++p) {
    const auto* bp = reinterpret_cast<const uint32_t*>(b->mat[p]);
    for (int32_t j = 0; j < n; ++j) {
      bt[static_cast<size_t>(j) * static_cast<size_t>(k) + static_cast<size_t>(p)] = bp[j];
    }
  }
  for (int32_t i = 0; i < m; ++i) {
    const auto* ai = reinterpret_cast<const uint32_t*>(a->mat[i]);
    for (int32_t j = 0; j < n; ++j) {
      const uint32_t* btj = bt + static_cast<size_t>(j) * static_cast<size_t>(k);
      // The kit's arithmetic wraps at 32 bits: the sums are taken in uint32_t.
      uint32_t sum = 0;
      for (int32_t p = 0; p < k; ++p) {
        sum += ai[p] * btj[p];
      }
      c->mat[i][j] = static_cast<int32_t>(sum);
    }
  }
  std::free(bt);
  return c;
}
