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
// rectangle's previous block). A piece that a thread has taken but not begun
// (it lost its core first) is done by whichever thread needs it, or has nothing
// left; only a piece already begun is waited for, spinning for at most 3
// microseconds and then sleeping until some piece is finished, so a waiter
// never burns a core that a partner needs.
//
// A small product (up to 2^28 multiply-adds) does not open an OpenMP region:
// its team is the calling thread and whichever of the library's own helper
// threads (at most one per other CPU, started on first use, asleep between
// calls) arrive while the caller works. The caller publishes the call, does
// its share, which becomes everything when no helper comes, then closes it:
// a helper that wakes later joins nothing, and the call waits only for the
// helpers that joined. A sleeping thread woken by a busy caller may be placed
// on the caller's own CPU and run only when the caller stops, longer than a
// whole product at n = 256; a region's closing barrier waited for it. The
// helpers are kept off the caller's CPU (within their own CPU set) so that
// they wake beside it: 0.09 ms into the call, measured on the kit's machine.
//
// Shared mutable state, all atomic, clean under ThreadSanitizer. Inside one
// call: the counter (relaxed fetch_add), the futex word that waiting threads
// sleep on, and one mark per pack piece and per item (free, claimed, begun,
// done), through which packed panels and rectangles of c pass between threads.
// Between calls: the time and size of the last team, which the load rule of a
// small product reads (below), the helpers' job slot (its state word: open or
// closed, and how many helpers joined), and test-only hooks, null outside
// tests.
//
// What the waiting costs on an idle machine (the kit's 2-core AMD EPYC virtual
// machine, a team of 2, 200 calls at each size, load average 1.2 from other
// work): waits are rare and short, 1 microsecond per call or less on average
// at n = 256, 512 and 1024, whose calls take 0.1, 0.7 and 5.6 ms; a wait that
// outlasts the spin costs one futex wake-up. A thread with nothing left leaves
// at once, so the team meets only at the call's end: in the runtime's barrier,
// or for a small product in the caller's wait for the helpers that joined
// (they sleep at once after each call). That barrier, and the pool of threads
// the runtime keeps
// between calls, wait by the runtime's own policy, which a program sets only
// in its environment (OMP_WAIT_POLICY=passive, or GOMP_SPINCOUNT for GNU's
// runtime): the runtime reads it once as the program starts, before any code
// of this library can run, and has no call to change it. By default GNU's
// runtime spins up to 300,000 times before it sleeps: 7 to 11 ms of one
// core after each call, measured, when the program then does something else
// (nothing when calls follow one another: that spin hands the next call to
// the team at once). docs/team-kernel.md measures both.
#pragma once

#include <cstdint>
#include <dense/dense_arith.hpp>
#include <dense/dense_core.hpp>

namespace team_kernel {

// block_kernel::mmsubmatriz with the work shared by one team of up to n
// threads (n below 1: the runtime's default team): an OpenMP team, or for a
// small product the caller and the helpers that arrive in time (above). Same contract, same
// refusals with the same messages, same result bit for bit, whatever the team
// size. The team is never larger than the process can create, nor than the
// result has register tiles, nor, for a small product (up to 2^28
// multiply-adds, n = 645 for a square one), than the CPUs that other programs
// leave free at the moment of the call: a member that must wait for a core
// costs such a product more than it brings. A team of one runs mmsubmatriz
// itself. Buffers
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
