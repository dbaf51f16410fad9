// Products for compare_products --add, built as a student builds one (a shared object against the
// kit's headers, no library on its link line): each symbol behaves in one way the tool must
// report, right or wrong.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <dense/dense_core.hpp>
#include <dense/team_kernel.hpp>

using dense_core::matriz;

namespace {

// a x b by the i-k-j loops into a new matrix, wrapping at 32 bits.
matriz* plain_product(const matriz* a, const matriz* b, int32_t extra_rows) {
  auto* c = static_cast<matriz*>(std::malloc(sizeof(matriz)));
  *c = {nullptr, a->lin + extra_rows, b->col};
  dense_core::malocar(c);
  dense_core::mzerar(c);
  for (int32_t i = 0; i < a->lin; ++i) {
    for (int32_t k = 0; k < a->col; ++k) {
      for (int32_t j = 0; j < b->col; ++j) {
        c->mat[i][j] = static_cast<int32_t>(static_cast<uint32_t>(c->mat[i][j]) +
                                            static_cast<uint32_t>(a->mat[i][k]) *
                                                static_cast<uint32_t>(b->mat[k][j]));
      }
    }
  }
  return c;
}

}  // namespace

// Right: the team kernel, a library function the worker itself never calls,
// so it is found only when the worker exports the whole library.
extern "C" matriz* team_kernel_product(const matriz* a, const matriz* b, int32_t threads) {
  return team_kernel::multiplicarKernelOMP(a, b, threads);
}

// Right but for one element: row 3, column 2 (counted from 1) is one more.
extern "C" matriz* one_wrong(const matriz* a, const matriz* b, int32_t) {
  matriz* c = plain_product(a, b, 0);
  c->mat[2][1] = static_cast<int32_t>(static_cast<uint32_t>(c->mat[2][1]) + 1u);
  return c;
}

// Writes through a null pointer.
extern "C" matriz* null_write(const matriz*, const matriz*, int32_t) {
  volatile int32_t* nowhere = nullptr;
  *nowhere = 1;
  return nullptr;
}

// Never returns.
extern "C" matriz* never_returns(const matriz*, const matriz*, int32_t) {
  for (;;) {
    pause();
  }
}

// Returns null after the library said why (a missing factor).
extern "C" matriz* no_result(const matriz*, const matriz* b, int32_t threads) {
  return team_kernel::multiplicarKernelOMP(nullptr, b, threads);
}

// Returns a result with one row too many.
extern "C" matriz* wrong_shape(const matriz* a, const matriz* b, int32_t) {
  return plain_product(a, b, 1);
}

// Ends its process.
extern "C" matriz* calls_exit(const matriz*, const matriz*, int32_t) { std::exit(3); }
