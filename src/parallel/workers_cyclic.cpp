// Products on POSIX threads: rows dealt out in turn (multiplicarTh), or one
// band of the inner dimension per thread (multiplicarThblocos).
//
// multiplicarTh splits the row loop: thread t owns rows t, t+n, t+2n, ... of
// the one shared result, so no two threads ever write the same row and no lock
// is needed. multiplicarThblocos splits the inner loop instead: every thread
// would add into every result element, so each gets a result part of its own,
// and the calling thread adds part t only after joining thread t.
#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <dense/block_kernel.hpp>
#include <dense/workers_cyclic.hpp>

#include "common/matrix_records.hpp"
#include "common/messages.hpp"
#include "common/trace.hpp"
#include "thread_jobs.hpp"

namespace workers_cyclic {
namespace {

using dense_arith::submatriz;
using dense_core::matriz;

// One worker: its record, its handle, and whether a thread really runs it.
template <typename Arg>
struct worker {
  Arg arg;
  pthread_t handle;
  bool started;
};

// Checks that both factors exist and fit together; prints why not.
bool factors_ok(const matriz* a, const matriz* b) {
  if (!thread_jobs::factors_exist(a, b)) {
    return false;
  }
  if (a->col != b->lin) {
    std::puts(dense_msg::kInvalidForProduct);
    return false;
  }
  return true;
}

// A zeroed lin x col matrix on the heap, or null. malocar explains bad counts
// itself; an exhausted heap is reported here.
matriz* zeroed(int32_t lin, int32_t col) {
  matriz* m = dense_detail::new_zeroed_matrix(lin, col);
  if (m == nullptr && lin > 0 && col > 0) {
    std::puts(dense_msg::kOutOfMemory);
  }
  return m;
}

using dense_detail::release_matrix;

// Starts one thread per worker. A thread that cannot be created leaves its
// worker marked as not started; finish() then runs its job on this thread.
template <typename Arg>
void start(worker<Arg>* w, int32_t n, void* (*body)(void*)) {
  const dense_detail::trace::span traced(dense_detail::trace::kStartThreads, -1);
  for (int32_t i = 0; i < n; ++i) {
    w[i].started = thread_jobs::start(&w[i].handle, body, &w[i].arg);
  }
}

template <typename Arg>
void finish(worker<Arg>& w, void* (*body)(void*)) {
  const dense_detail::trace::span traced(dense_detail::trace::kWaitForThread, -1);
  thread_jobs::finish(w.started, w.handle, body, &w.arg);
}

}  // namespace

void* mult_normal_job(void* arg) {
  const auto* job = static_cast<const normal_job_arg*>(arg);
  if (job == nullptr || job->id < 0 || job->nthreads < 1) {
    return nullptr;
  }
  const dense_detail::trace::span traced(dense_detail::trace::kRows, job->id);
  int32_t** a = job->a_mat;
  int32_t** b = job->b_mat;
  int32_t** c = job->c_mat;
  // 64-bit row counter: id + nthreads may pass the 32-bit range.
  for (int64_t i = job->id; i < job->a_lin; i += job->nthreads) {
    const int32_t* ai = a[i];
    int32_t* ci = c[i];
    for (int32_t j = 0; j < job->b_col; ++j) {
      // One dot product per entry, added onto what the entry holds.
      uint32_t sum = static_cast<uint32_t>(ci[j]);
      for (int32_t k = 0; k < job->a_col; ++k) {
        sum += static_cast<uint32_t>(ai[k]) * static_cast<uint32_t>(b[k][j]);
      }
      ci[j] = static_cast<int32_t>(sum);
    }
  }
  return nullptr;
}

void* mult_block_thread_job(void* arg) {
  const auto* job = static_cast<const block_job_arg*>(arg);
  if (job != nullptr) {
    // The record carries no thread number: the lane is told apart by its thread.
    const dense_detail::trace::span traced(dense_detail::trace::kBandProduct, -1);
    block_kernel::mmsubmatriz(job->a_part, job->b_part, job->c_part);
  }
  return nullptr;
}

matriz* multiplicarTh(const matriz* a, const matriz* b, int32_t n) {
  if (!factors_ok(a, b)) {
    return nullptr;
  }
  matriz* c = zeroed(a->lin, b->col);
  if (c == nullptr) {
    return nullptr;
  }
  if (n <= 0) {
    return c;
  }

  auto* w = static_cast<worker<normal_job_arg>*>(
      std::calloc(static_cast<size_t>(n), sizeof(worker<normal_job_arg>)));
  if (w == nullptr) {
    // No room even for the bookkeeping: one job with step 1 covers every
    // thread's rows, done here.
    normal_job_arg job{a->mat, b->mat, c->mat, 0, a->lin, 1, b->col, a->col};
    mult_normal_job(&job);
    return c;
  }
  for (int32_t i = 0; i < n; ++i) {
    w[i].arg = normal_job_arg{a->mat, b->mat, c->mat, i, a->lin, n, b->col, a->col};
  }
  start(w, n, mult_normal_job);
  for (int32_t i = 0; i < n; ++i) {
    finish(w[i], mult_normal_job);
  }
  std::free(w);
  return c;
}

matriz* multiplicarThblocos(const matriz* a, const matriz* b, int32_t n) {
  if (!factors_ok(a, b)) {
    return nullptr;
  }
  dense_detail::trace::span partition(dense_detail::trace::kPartition, -1);
  // A bad n is refused by the first partition with its own message.
  submatriz** a_parts = dense_arith::particionar_matriz(a->mat, a->lin, a->col, 1, n);
  if (a_parts == nullptr) {
    return nullptr;
  }
  submatriz** b_parts = dense_arith::particionar_matriz(b->mat, b->lin, b->col, 0, n);
  matriz* sum = b_parts != nullptr ? zeroed(a->lin, b->col) : nullptr;
  submatriz** c_parts = nullptr;
  auto* w = static_cast<worker<block_job_arg>*>(
      sum != nullptr ? std::calloc(static_cast<size_t>(n), sizeof(worker<block_job_arg>))
                     : nullptr);
  bool ok = w != nullptr;
  if (sum != nullptr && w == nullptr) {
    std::puts(dense_msg::kOutOfMemory);
  }
  if (ok) {
    c_parts = dense_arith::csubmatrizv2(a->lin, b->col, n);
    for (int32_t i = 0; i < n; ++i) {
      ok = ok && c_parts[i]->matriz->mat != nullptr;
    }
  }

  partition.end();
  if (ok) {
    for (int32_t i = 0; i < n; ++i) {
      w[i].arg = block_job_arg{a_parts[i], b_parts[i], c_parts[i]};
    }
    start(w, n, mult_block_thread_job);
    // Part i is added as soon as thread i is done; later threads may still run.
    for (int32_t i = 0; i < n; ++i) {
      finish(w[i], mult_block_thread_job);
      if (sum == nullptr) {
        continue;
      }
      const dense_detail::trace::span adding(dense_detail::trace::kAddPart, -1);
      matriz* next = dense_arith::msomar(sum, c_parts[i]->matriz, 0);
      release_matrix(sum);
      sum = next;
    }
  } else {
    release_matrix(sum);
    sum = nullptr;
  }

  std::free(w);
  dense_arith::detail::release_parts(c_parts, n);
  dense_arith::detail::release_partition(b_parts, n);
  dense_arith::detail::release_partition(a_parts, n);
  return sum;
}

}  // namespace workers_cyclic
