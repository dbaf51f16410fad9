// Worked example: transpose b first, then give each thread of an OpenMP team whole rows of c, each
// element one dot product of a row of a and a row of the transposed b (docs/exercises.md).
//
// Why it helps: in the i-j-k order (tipo0) the inner loop walks down a
// column of b, one element in every row, and every row of a matriz is a heap
// block of its own, so each step is a new cache line. Transposed, that
// column is one contiguous row: both operands of the dot product are read
// neighbour after neighbour, the sum stays in a register and c is written
// once per element. The transpose costs one pass over b (K x N reads and
// writes), shared by the team, against 2 M K N operations of the product.
// Rows of c are disjoint, and bt is only read once it is complete (the
// barrier at the end of the first loop), so no lock is needed.
#include <cstdint>
#include <cstdlib>
#include <dense/dense_core.hpp>

using dense_core::matriz;

extern "C" matriz* transposed_rows(const matriz* a, const matriz* b, int32_t threads) {
  const int32_t m = a->lin;
  const int32_t k = a->col;
  const int32_t n = b->col;
  auto* c = static_cast<matriz*>(std::malloc(sizeof(matriz)));
  // bt holds b transposed in one block: row j of bt is column j of b.
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
#pragma omp parallel num_threads(threads)
  {
    // Each thread transposes a share of b's rows...
#pragma omp for schedule(static)
    for (int32_t p = 0; p < k; ++p) {
      for (int32_t j = 0; j < n; ++j) {
        bt[static_cast<size_t>(j) * static_cast<size_t>(k) + static_cast<size_t>(p)] =
            static_cast<uint32_t>(b->mat[p][j]);
      }
    }
    // ... and, after the loop's barrier, computes its rows of c. The kit's
    // arithmetic wraps at 32 bits, so the sums are taken in uint32_t.
#pragma omp for schedule(static)
    for (int32_t i = 0; i < m; ++i) {
      const auto* ai = reinterpret_cast<const uint32_t*>(a->mat[i]);
      for (int32_t j = 0; j < n; ++j) {
        const uint32_t* btj = bt + static_cast<size_t>(j) * static_cast<size_t>(k);
        uint32_t sum = 0;
        for (int32_t p = 0; p < k; ++p) {
          sum += ai[p] * btj[p];
        }
        c->mat[i][j] = static_cast<int32_t>(sum);
      }
    }
  }
  std::free(bt);
  return c;
}
