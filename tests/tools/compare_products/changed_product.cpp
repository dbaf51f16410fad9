// Linked into a copy of compare_products with -Wl,--wrap=CHANGED_SYMBOL (a thread-module
// product that every version of the tool calls): the product comes back with two elements
// changed, so the tool meets a wrong result the way it would meet a faulty library.
#include <cstdint>
#include <dense/dense_core.hpp>

using dense_core::matriz;

// The real product and its stand-in, named by the linker's --wrap convention.
extern "C" matriz* real_product(const matriz* a, const matriz* b,
                                int32_t threads) __asm__("__real_" CHANGED_SYMBOL);
extern "C" matriz* changed_product(const matriz* a, const matriz* b,
                                   int32_t threads) __asm__("__wrap_" CHANGED_SYMBOL);

namespace {

void add(matriz* c, int32_t i, int32_t j, uint32_t delta) {
  c->mat[i][j] = static_cast<int32_t>(static_cast<uint32_t>(c->mat[i][j]) + delta);
}

}  // namespace

// Row 3, column 1 and row 2, column 3 (counted from 1) change; the second
// comes first in row-major order, so it is the one the tool must name.
extern "C" matriz* changed_product(const matriz* a, const matriz* b, int32_t threads) {
  matriz* c = real_product(a, b, threads);
  if (c != nullptr && c->mat != nullptr && c->lin >= 3 && c->col >= 3) {
    add(c, 2, 0, 5);
    add(c, 1, 2, 1);
  }
  return c;
}
