// block_kernel: the block product that the band products run on their threads.
#pragma once

#include <cstdint>
#include <dense/dense_arith.hpp>

namespace block_kernel {

// c->matriz(i, j) += sum over k in [a.col_inicio, a.col_fim) of
//   a->matriz(i, k) * b->matriz(k, j)
// for every i in a's row range and every j in b's column range, all in
// whole-matrix indices and wrapping at 32 bits. B's row bounds and c's bloco
// are not consulted. Only c's matrix is written, and only inside that block;
// the factors are only read.
//
// Keeps no state from call to call (only which instruction set this CPU has,
// read once per process) and takes no lock: calls on different threads that
// write different result matrices may run at once over shared factors. Working
// buffers are taken from the heap in each call and freed before it returns;
// if the heap refuses them the same sums are computed without buffers.
//
// Returns 0. A null descriptor (or bloco of a or b), or one whose matrix has
// no storage, is refused with "ERRO: Matriz inexistente." and -1, and nothing
// is written. Empty ranges leave c unchanged and read nothing. A non-empty
// block that does not fit its matrices (a's rows and columns inside a's
// matrix, a's column range inside b's rows, b's columns inside b's matrix,
// rows and columns of the block inside c's matrix), or whose part of c is
// also part of what it reads from a or b through the same row table, is
// refused with "ERRO: Matrizes inválidas para multiplicação." and -1, nothing
// written, instead of reading or writing outside the rows or reading its own
// half-written result.
//
// The work runs on the fastest instruction-set path (scalar, AVX2, AVX-512)
// that this machine and build offer. Each call also reads its two blocks once
// (a's rows over its column range, b's rows of that range over its columns):
// when every value there fits in 16 bits (-32768 ... 32767) it multiplies
// pairs of int16 (vpmaddwd, vpdpwssd), about twice as fast; otherwise 32-bit
// multiplies. The choice is per call. The result does not depend on which
// path ran: every path gives exactly the same bits.
int mmsubmatriz(const dense_arith::submatriz* a, const dense_arith::submatriz* b,
                const dense_arith::submatriz* c);

}  // namespace block_kernel
