// workers_cyclic: products on POSIX threads, rows dealt out in turn, or one
// band of the inner dimension per thread.
//
// multiplicarTh: thread t computes rows t, t+n, t+2n, ... of the shared result.
// The rows are disjoint, so the threads write the one result without a lock.
// multiplicarThblocos: thread t multiplies column band t of a by row band t of
// b into a result part of its own; the calling thread adds part t into the
// running sum right after joining thread t. Parts are private to their
// thread until the join, so again no lock is needed.
#pragma once

#include <cstdint>
#include <dense/dense_arith.hpp>
#include <dense/dense_core.hpp>

namespace workers_cyclic {

// Work of one thread of multiplicarTh: the three row tables and copies of the counts.
struct normal_job_arg {
  int32_t** a_mat;
  int32_t** b_mat;
  int32_t** c_mat;
  int32_t id;        // thread index, also the thread's first row
  int32_t a_lin;     // rows of a and of the result
  int32_t nthreads;  // step from one of the thread's rows to its next
  int32_t b_col;     // columns of b and of the result
  int32_t a_col;     // inner dimension
};

// Work of one thread of multiplicarThblocos: its band of a, of b, and its result part.
struct block_job_arg {
  dense_arith::submatriz* a_part;
  dense_arith::submatriz* b_part;
  dense_arith::submatriz* c_part;
};

// a x b on n threads, rows dealt out cyclically. n of 0 or below starts no
// thread and returns the zeroed result. Returns null after "ERRO: Matrizes
// inválidas para multiplicação." when a's columns differ from b's rows, after
// "ERRO: Matriz inexistente." when a factor is null or has no storage, and
// when the result cannot be allocated (malocar's message, or "ERROR: Out of
// memory"). A thread that cannot be created has its rows computed on the
// calling thread when its turn to be joined comes.
// The result belongs to the caller (mliberar, then free the record).
dense_core::matriz* multiplicarTh(const dense_core::matriz* a, const dense_core::matriz* b,
                                  int32_t n);

// a x b as n band products on n threads, added on the calling thread.
// n must lie in 1 .. min(a's columns, b's rows): otherwise the partition's
// message is printed and null returned ("** Erro: Memoria Insuficiente **"
// for n below 1). Mismatched or missing factors, a result that cannot be
// allocated and threads that cannot be created as for multiplicarTh.
// Everything but the returned matrix is released before return.
dense_core::matriz* multiplicarThblocos(const dense_core::matriz* a, const dense_core::matriz* b,
                                        int32_t n);

// Thread body of multiplicarTh (arg: normal_job_arg*); loop order i, j, k.
void* mult_normal_job(void* arg);

// Thread body of multiplicarThblocos (arg: block_job_arg*): one kernel call.
void* mult_block_thread_job(void* arg);

}  // namespace workers_cyclic
