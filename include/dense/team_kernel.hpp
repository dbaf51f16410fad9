// team_kernel: the block kernel on one OpenMP team, the result split among the threads.
//
// The band products (workers_cyclic, workers_ranges) split the inner dimension:
// each thread makes a private full-size part and the parts are summed on the
// calling thread. This module splits the *result* instead: every thread owns
// whole blocks of c, the team shares one packed panel of b, and nothing is
// summed afterwards, so no private part and no lock are needed.
#pragma once

#include <cstdint>
#include <dense/dense_arith.hpp>
#include <dense/dense_core.hpp>

namespace team_kernel {

// block_kernel::mmsubmatriz with the work shared by one OpenMP team of up to
// n threads (n below 1: the runtime's default team). Same contract, same
// refusals with the same messages, same result bit for bit, whatever the team
// size. The team is never larger than the process can create, nor than the
// result has register tiles; a team of one runs mmsubmatriz itself. Buffers
// come from the heap per call and are freed before it returns; if the heap
// refuses them the team computes the same sums without buffers. No lock and
// no atomic: two barriers per packed block of b order the team. Returns 0, or
// -1 for whatever mmsubmatriz refuses.
int mmsubmatrizOMP(const dense_arith::submatriz* a, const dense_arith::submatriz* b,
                   const dense_arith::submatriz* c, int32_t n);

// A new zeroed a->lin x b->col matrix filled with a x b by mmsubmatrizOMP on
// n threads. A missing factor gives "ERRO: Matriz inexistente." and null; a
// shape mismatch gives "ERRO: Matrizes inválidas para multiplicação." and
// null. The caller owns the result (mliberar, then free the record).
dense_core::matriz* multiplicarKernelOMP(const dense_core::matriz* a, const dense_core::matriz* b,
                                         int32_t n);

}  // namespace team_kernel
