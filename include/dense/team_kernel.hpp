// team_kernel: the block kernel on one OpenMP team, the result split among the threads.
//
// The band products (workers_cyclic, workers_ranges) split the inner dimension:
// each thread makes a private full-size part and the parts are summed on the
// calling thread. This module splits the *result* instead: every thread adds
// into whole rectangles of c that no other thread touches at the same time,
// the team shares the packed blocks of b, and nothing is summed afterwards, so
// no private part and no lock are needed.
//
// The team balances itself. The product is cut into pieces of work (runs of
// b's panels to pack; items, each a rectangle of c for one packed block of b)
// and a thread takes the next piece from one shared counter whenever it has
// finished the last, instead of a share fixed in advance: a thread that loses
// its core on a busy machine leaves its pieces to the others. No barrier: a
// piece waits only for the pieces it reads (its block's packed panels, the same
// rectangle's previous block), and a thread that must wait, or has nothing
// left, spins for at most 3 microseconds and then sleeps until some piece is
// finished, so it never burns a core that a partner needs.
//
// Shared mutable state, all inside one call (none between calls), all atomic,
// clean under ThreadSanitizer: the counter (relaxed fetch_add), the count of
// finished pieces with its futex word, and one mark per packed block and per
// item, through which packed panels and rectangles of c pass between threads.
//
// What the waiting costs on an idle machine (2-core AMD EPYC virtual machine,
// team of 2): a thread that sleeps costs its wake-up when the piece it waits
// for is finished, WAKE_COST per call, which shows only on small products:
// SMALL_COST. The threads the OpenMP runtime keeps between calls wait by the
// runtime's own policy, which a program sets only in its environment before it
// starts (OMP_WAIT_POLICY=passive, or GOMP_SPINCOUNT for GNU's runtime): the
// runtime reads it once, before any code of this library can run, and has no
// call to change it. By default GNU's runtime spins up to 300,000 times (POOL_COST
// of one core here) after every region before it sleeps; when calls follow one
// another, that spin is what hands the next call to the team at once, and when
// the program does something else, it is that much CPU taken from it or from
// other programs. docs/team-kernel.md measures both policies.
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
// refuses them the team computes the same sums without buffers. The pieces go
// to whichever threads come for them; a rectangle of c still receives its
// blocks of the inner range one after another, never two at once. Returns 0,
// or -1 for whatever mmsubmatriz refuses.
int mmsubmatrizOMP(const dense_arith::submatriz* a, const dense_arith::submatriz* b,
                   const dense_arith::submatriz* c, int32_t n);

// A new zeroed a->lin x b->col matrix filled with a x b by mmsubmatrizOMP on
// n threads. A missing factor gives "ERRO: Matriz inexistente." and null; a
// shape mismatch gives "ERRO: Matrizes inválidas para multiplicação." and
// null. The caller owns the result (mliberar, then free the record).
dense_core::matriz* multiplicarKernelOMP(const dense_core::matriz* a, const dense_core::matriz* b,
                                         int32_t n);

}  // namespace team_kernel
