// block_kernel: the block product that the band products run on their threads.
#pragma once

#include <cstdint>

#include "dense_arith.hpp"

namespace block_kernel {

// c->matriz(i, j) += sum over k in [a.col_inicio, a.col_fim) of
//   a->matriz(i, k) * b->matriz(k, j)
// for every i in a's row range and every j in b's column range, all in
// whole-matrix indices and wrapping at 32 bits. B's row bounds and c's bloco
// are not consulted. Only c's matrix is written, and only inside that block;
// the factors are only read.
//
// Keeps no state and takes no lock: calls on different threads that write
// different result matrices may run at once over shared factors.
//
// Returns 0. A null descriptor, or one whose matrix has no storage, is refused with
// "ERRO: Matriz inexistente." and -1, and nothing is written. Empty ranges
// leave c unchanged.
int mmsubmatriz(const dense_arith::submatriz* a, const dense_arith::submatriz* b,
                const dense_arith::submatriz* c);

}  // namespace block_kernel
