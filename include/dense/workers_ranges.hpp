// workers_ranges: products on POSIX threads, one contiguous range of rows per
// thread, or the inner dimension cut in two bands for two threads.
//
// multiplicarTh: thread t computes rows [t*q, (t+1)*q) of the shared result,
// the last thread also the remainder; ranges are disjoint, so no lock.
// multiplicarThblocos: two threads, each multiplying one column band of a by
// the matching row band of b into a result part of its own; the two parts are
// added on the calling thread after both joins.
#pragma once

#include <cstdint>
#include <dense/dense_arith.hpp>
#include <dense/dense_core.hpp>

namespace workers_ranges {

// Work of one thread of multiplicarTh.
struct thread_arg {
  int32_t id;
  int32_t nthreads;
  int32_t lin_inicio;  // first row of the thread's range
  int32_t lin_fim;     // row bound of the range (exclusive)
  dense_core::matriz* c;
  const dense_core::matriz* a;
  const dense_core::matriz* b;
};

// Work of one thread of multiplicarThblocos: thread `id` multiplies band `id`.
struct thread_arg_blocos {
  int32_t id;
  int32_t nthreads;
  dense_arith::submatriz** a_parts;
  dense_arith::submatriz** b_parts;
  dense_arith::submatriz** c_parts;
};

// a x b on n threads by row ranges (n below 1 runs one thread). When a's
// columns differ from b's rows it prints "ERRO: Matrizes inválidas para
// multiplicação." and ends the process with status 1; a result that cannot
// be allocated prints "ERROR: Out of memory" and ends it likewise. A null
// factor, or one without storage, gets "ERRO: Matriz inexistente." and null.
// A thread that cannot be created has its range computed on the calling
// thread when its turn to be joined comes. The result belongs to the caller.
dense_core::matriz* multiplicarTh(const dense_core::matriz* a, const dense_core::matriz* b,
                                  int32_t n);

// a x b as two band products on two threads, whatever n is (n only sizes the
// records and handles, never below two; only the two result parts that are
// used are made). A dimension mismatch ends the process and missing factors
// are refused as in multiplicarTh; a with fewer than two columns gets the
// partition's column message and null, and so does a result part that cannot
// be allocated (after its message). Everything but the returned matrix is
// released before return.
dense_core::matriz* multiplicarThblocos(const dense_core::matriz* a, const dense_core::matriz* b,
                                        int32_t n);

// Thread body of multiplicarTh (arg: thread_arg*); loop order i, k, j.
void* exec_thread(void* arg);

// Thread body of multiplicarThblocos (arg: thread_arg_blocos*): one kernel call.
void* exec_thread_blocos(void* arg);

}  // namespace workers_ranges
