// Step 2, solution: the i-k-j loops of step 1 cut into blocks, so the piece of b they read again
// and again stays in the cache (docs/exercises.md, Step 2).
//
// Why: for every row i of c, step 1 reads the whole of b (K x N elements). Once b no longer fits
// in the core's own caches (L2 holds 1 MiB or less: 512 x 512 int32 values), every row of c
// streams b again from the shared L3 or from memory, and the loop waits for it. Here the inner
// index and the columns are cut into pieces of kInner x kCols (256 x 256 values, 256 KiB): the
// rows of c run over one piece of b before the next one is touched, so that piece comes from L2
// every time after the first, and the kCols-wide piece of c's row (1 KiB) from L1.
//
// goal: gops[1] >= 1.3 * tipo1.gops[1]
// try: ARGS='--size 2048 --threads 1 --methods tipo1'
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <dense/dense_core.hpp>

using dense_core::matriz;

namespace {

constexpr int32_t kInner = 256;  // rows of b in one piece
constexpr int32_t kCols = 256;   // columns of b (and c) in one piece

}  // namespace

extern "C" matriz* step2_blocks(const matriz* a, const matriz* b, int32_t /*threads*/) {
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
  dense_core::mzerar(c);
  for (int32_t j0 = 0; j0 < n; j0 += kCols) {
    const int32_t j1 = std::min(j0 + kCols, n);
    for (int32_t p0 = 0; p0 < k; p0 += kInner) {
      const int32_t p1 = std::min(p0 + kInner, k);
      // One piece of b, b[p0 .. p1)[j0 .. j1), serves every row of c.
      for (int32_t i = 0; i < m; ++i) {
        auto* ci = reinterpret_cast<uint32_t*>(c->mat[i]);
        for (int32_t p = p0; p < p1; ++p) {
          const auto aip = static_cast<uint32_t>(a->mat[i][p]);
          const auto* bp = reinterpret_cast<const uint32_t*>(b->mat[p]);
          for (int32_t j = j0; j < j1; ++j) {
            ci[j] += aip * bp[j];
          }
        }
      }
    }
  }
  return c;
}
