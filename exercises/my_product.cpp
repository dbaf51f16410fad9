// Your own product, measured beside the kit's: `make try` builds this file as a shared object and
// runs compare_products with it (docs/exercises.md).
//
// The contract: a function with C linkage and the signature of the kit's
// threaded products. It returns a new matrix that the caller releases with
// mliberar and free, or null for "no result"; it may call anything in
// libdense. Its name is the file's name (my_product here), which is the
// label `make try` gives its rows.
//
// What it does now: the i-k-j loop nest (tipo1's) with the rows of the
// result shared out on an OpenMP team. Each thread writes only its own rows
// of c, so no lock is needed. Things to try next, one at a time, each
// measured with `make try`:
//   - schedule(dynamic, 8) instead of static: does a busy core still hold
//     the others back?
//   - zero c inside the parallel loop, row by row, instead of with mzerar
//     before it: a thread then first touches the rows it will write.
//   - transpose b first and compute each c[i][j] as one dot product
//     (exercises/examples/transposed_rows.cpp).
//   - cut c into tiles and hand them out from an atomic counter on POSIX
//     threads (exercises/examples/tiles_atomic.cpp).
#include <cstdint>
#include <cstdlib>
#include <dense/dense_core.hpp>

using dense_core::matriz;

extern "C" matriz* my_product(const matriz* a, const matriz* b, int32_t threads) {
  // The sizes in locals: c's elements are int32_t like a->col and b->col, so
  // after a store into c the compiler would have to read those again, and it
  // would not vectorise the inner loop.
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
  // The kit's element arithmetic wraps at 32 bits: sums are taken in uint32_t.
#pragma omp parallel for num_threads(threads) schedule(static)
  for (int32_t i = 0; i < m; ++i) {
    auto* ci = reinterpret_cast<uint32_t*>(c->mat[i]);
    const int32_t* ai = a->mat[i];
    for (int32_t p = 0; p < k; ++p) {
      const auto aip = static_cast<uint32_t>(ai[p]);
      const int32_t* bp = b->mat[p];
      for (int32_t j = 0; j < n; ++j) {
        ci[j] += aip * static_cast<uint32_t>(bp[j]);
      }
    }
  }
  return c;
}
