// Sub-matrix operations of dense_core that were never written: each says so and ends the process.
#include <cstdio>
#include <cstdlib>

#include <dense/dense_core.hpp>

#include "common/messages.hpp"

namespace dense_core {
namespace {

[[noreturn]] void refuse() {
  std::puts(dense_msg::kNotImplemented);
  std::exit(1);
}

}  // namespace

void gerar_submatriz(matriz* /*m*/) { refuse(); }
void imprimir_submatriz(matriz* /*m*/) { refuse(); }
void liberar_submatriz(matriz* /*m*/) { refuse(); }
void constroi_submatriz(matriz* /*m*/) { refuse(); }
void constroi_submatrizv2(matriz* /*m*/) { refuse(); }

// Printing a block is printing a sub-matrix, so it ends the same way.
void imprimir_bloco(matriz* m) { imprimir_submatriz(m); }

}  // namespace dense_core
