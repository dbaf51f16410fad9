// team_rows: the product on an OpenMP team that shares out the rows.
//
// One parallel region per call; the row loop has the static schedule, so every
// thread owns one contiguous range of rows of c and no lock is needed.
//
// On a busy machine: the rows are dealt out in advance (that is the documented
// schedule, and tests pin it), so a call takes as long as its slowest thread,
// and a thread that finishes first waits at the region's end by the OpenMP
// runtime's policy (GNU's default: spinning, up to 300,000 times). On 2 cores
// beside one spinning program, one of two threads shares its core and the
// second thread gains nothing: 0.94-1.01x of one thread at n = 1024; beside
// two, every thread shares a core and two threads give 1.29-1.47x
// (team_kernel_under_load, docs/team-kernel.md). The team kernel, which
// balances itself, is the product to use there.
#pragma once

#include <cstdint>
#include <dense/dense_arith.hpp>
#include <dense/dense_core.hpp>

namespace team_rows {

// Adds a x b into c (c is not cleared: pass zeros for the plain product) on a
// team of n threads (n below 1: the runtime's default team size). Returns 0.
// When a's columns differ from b's rows, c is smaller than a's rows by b's
// columns, or c is one of the factors, it prints "ERRO: Matrizes inválidas
// para multiplicação." and returns -1 without touching c; a matrix that does
// not exist gets "ERRO: Matriz inexistente." and -1. The team never has more
// threads than a has rows (extra threads would get no row), nor more than the
// machine and the process's limits leave room for: any n gives the product.
int32_t multiplicarOMP(const dense_core::matriz* a, const dense_core::matriz* b,
                       dense_core::matriz* c, int32_t n);

// Runs the block kernel once on the calling thread with the same three
// descriptors; opens no parallel region. Returns 0, or the kernel's -1 when
// it refused the descriptors (and printed why).
int32_t multiplicarOMPblocos(const dense_arith::submatriz* a, const dense_arith::submatriz* b,
                             const dense_arith::submatriz* c);

}  // namespace team_rows
