// A submission for the grader's test: right at every shape and thread count.
#include <cstdint>
#include <cstdlib>
#include <dense/dense_core.hpp>

using dense_core::matriz;

namespace {

matriz* zero_result(const matriz* a, const matriz* b) {
  auto* c = static_cast<matriz*>(std::malloc(sizeof(matriz)));
  if (c == nullptr) {
    return nullptr;
  }
  *c = {nullptr, a->lin, b->col};
  if (dense_core::malocar(c) == 0) {
    std::free(c);
    return nullptr;
  }
  dense_core::mzerar(c);
  return c;
}

// c[i0 .. i1) = a[i0 .. i1) * b, in the i-k-j order, sums wrapping at 32 bits.
void rows(const matriz* a, const matriz* b, matriz* c, int32_t i0, int32_t i1) {
  for (int32_t i = i0; i < i1; ++i) {
    for (int32_t p = 0; p < a->col; ++p) {
      for (int32_t j = 0; j < b->col; ++j) {
        c->mat[i][j] = static_cast<int32_t>(static_cast<uint32_t>(c->mat[i][j]) +
                                            static_cast<uint32_t>(a->mat[i][p]) *
                                                static_cast<uint32_t>(b->mat[p][j]));
      }
    }
  }
}

}  // namespace

extern "C" matriz* my_product(const matriz* a, const matriz* b, int32_t threads) {
  matriz* c = zero_result(a, b);
#pragma omp parallel for num_threads(threads)
  for (int32_t i = 0; i < a->lin; ++i) {
    rows(a, b, c, i, i + 1);
  }
  return c;
}
