// The block kernel: a plain, correct block product (placeholder until the
// tuned kernel lands).
#include <cstdio>

#include "block_kernel.hpp"

namespace block_kernel {

int mmsubmatriz(const dense_arith::submatriz* a, const dense_arith::submatriz* b,
                const dense_arith::submatriz* c) {
  if (!a || !b || !c || !a->matriz || !b->matriz || !c->matriz || !a->bloco || !b->bloco ||
      !a->matriz->mat || !b->matriz->mat || !c->matriz->mat) {
    std::puts("ERRO: Matriz inexistente.");
    return -1;
  }
  int32_t** am = a->matriz->mat;
  int32_t** bm = b->matriz->mat;
  int32_t** cm = c->matriz->mat;
  for (int32_t i = a->bloco->lin_inicio; i < a->bloco->lin_fim; ++i) {
    for (int32_t k = a->bloco->col_inicio; k < a->bloco->col_fim; ++k) {
      const uint32_t aik = static_cast<uint32_t>(am[i][k]);
      for (int32_t j = b->bloco->col_inicio; j < b->bloco->col_fim; ++j) {
        cm[i][j] = static_cast<int32_t>(static_cast<uint32_t>(cm[i][j]) +
                                        aik * static_cast<uint32_t>(bm[k][j]));
      }
    }
  }
  return 0;
}

}  // namespace block_kernel
