// Products on POSIX threads: one contiguous range of rows per thread
// (multiplicarTh), or the inner dimension cut in two bands for two threads
// (multiplicarThblocos).
//
// multiplicarTh splits the row loop into n ranges, the last one taking the
// remainder; the ranges are disjoint, so the threads share the result without
// a lock. multiplicarThblocos splits the inner loop: both threads would add
// into every element, so each writes a result part of its own and the calling
// thread adds the two parts after both joins.
#include <pthread.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dense/block_kernel.hpp>
#include <dense/workers_ranges.hpp>

#include "common/matrix_records.hpp"
#include "common/messages.hpp"
#include "common/trace.hpp"
#include "common/wrapping.hpp"
#include "thread_jobs.hpp"

namespace workers_ranges {
namespace {

using dense_arith::submatriz;
using dense_core::matriz;

// Both factors must exist; a dimension mismatch ends the process, as this
// module has always done.
bool factors_ok(const matriz* a, const matriz* b) {
  if (!thread_jobs::factors_exist(a, b)) {
    return false;
  }
  if (a->col != b->lin) {
    std::puts(dense_msg::kInvalidForProduct);
    std::exit(1);
  }
  return true;
}

namespace trace = dense_detail::trace;

// The shared start and join, each marked on the calling thread's timeline.
bool start(pthread_t* handle, void* (*body)(void*), void* arg) {
  const trace::span traced(trace::kStartThreads, -1);
  return thread_jobs::start(handle, body, arg);
}

void finish(bool started, pthread_t handle, void* (*body)(void*), void* arg) {
  const trace::span traced(trace::kWaitForThread, -1);
  thread_jobs::finish(started, handle, body, arg);
}

}  // namespace

void* exec_thread(void* arg) {
  const auto* job = static_cast<const thread_arg*>(arg);
  if (job == nullptr || job->a == nullptr || job->b == nullptr || job->c == nullptr) {
    return nullptr;
  }
  int32_t** a = job->a->mat;
  int32_t** b = job->b->mat;
  int32_t** c = job->c->mat;
  const int32_t inner = job->a->col;
  const int32_t cols = job->b->col;
  // A range outside the result is cut to the rows that exist.
  const int32_t first = std::max(job->lin_inicio, 0);
  const int32_t last = std::min({job->lin_fim, job->a->lin, job->c->lin});
  const trace::span traced(trace::kRows, job->id);
  for (int32_t i = first; i < last; ++i) {
    const int32_t* ai = a[i];
    int32_t* ci = c[i];
    for (int32_t k = 0; k < inner; ++k) {
      // a[i][k] stays fixed while the inner loop walks row k of b and row i of c.
      dense_detail::add_scaled_row(ci, b[k], static_cast<uint32_t>(ai[k]), cols);
    }
  }
  return nullptr;
}

void* exec_thread_blocos(void* arg) {
  const auto* job = static_cast<const thread_arg_blocos*>(arg);
  if (job == nullptr || job->id < 0) {
    return nullptr;
  }
  const trace::span traced(trace::kBandProduct, job->id);
  block_kernel::mmsubmatriz(job->a_parts[job->id], job->b_parts[job->id], job->c_parts[job->id]);
  return nullptr;
}

matriz* multiplicarTh(const matriz* a, const matriz* b, int32_t n) {
  if (!factors_ok(a, b)) {
    return nullptr;
  }
  matriz* c = dense_detail::new_zeroed_matrix(a->lin, b->col);
  if (c == nullptr) {
    std::puts(dense_msg::kOutOfMemory);
    std::exit(1);
  }
  if (n < 1) {
    n = 1;
  }

  const int32_t q = a->lin / n;
  const int32_t r = a->lin % n;
  auto range = [&](int32_t i) {
    const int32_t lo = i * q;  // i < n, so i * q stays below a's rows
    const int32_t hi = i == n - 1 ? lo + q + r : lo + q;
    return thread_arg{i, n, lo, hi, c, a, b};
  };
  auto* args = static_cast<thread_arg*>(std::calloc(static_cast<size_t>(n), sizeof(thread_arg)));
  auto* handles = static_cast<pthread_t*>(std::calloc(static_cast<size_t>(n), sizeof(pthread_t)));
  auto* started = static_cast<bool*>(std::calloc(static_cast<size_t>(n), sizeof(bool)));
  if (args == nullptr || handles == nullptr || started == nullptr) {
    // No room for the bookkeeping: the ranges together are all the rows, so
    // compute them here in one go.
    thread_arg job{0, 1, 0, a->lin, c, a, b};
    exec_thread(&job);
  } else {
    for (int32_t i = 0; i < n; ++i) {
      args[i] = range(i);
      started[i] = start(&handles[i], exec_thread, &args[i]);
    }
    for (int32_t i = 0; i < n; ++i) {
      finish(started[i], handles[i], exec_thread, &args[i]);
    }
  }
  std::free(started);
  std::free(handles);
  std::free(args);
  return c;
}

matriz* multiplicarThblocos(const matriz* a, const matriz* b, int32_t n) {
  if (!factors_ok(a, b)) {
    return nullptr;
  }
  // Always two bands on two threads; n only sizes the records and handles,
  // never below the two that are used.
  constexpr int32_t kBands = 2;
  const int32_t slots = std::max(n, kBands);
  trace::span partition(trace::kPartition, -1);
  submatriz** a_parts = dense_arith::particionar_matriz(a->mat, a->lin, a->col, 1, kBands);
  if (a_parts == nullptr) {
    return nullptr;
  }
  submatriz** b_parts = dense_arith::particionar_matriz(b->mat, b->lin, b->col, 0, kBands);
  if (b_parts == nullptr) {
    dense_arith::detail::release_partition(a_parts, kBands);
    return nullptr;
  }
  // Only the two parts that the two bands fill are made.
  submatriz** c_parts = dense_arith::csubmatrizv2(a->lin, b->col, kBands);
  if (c_parts[0]->matriz->mat == nullptr || c_parts[1]->matriz->mat == nullptr) {
    dense_arith::detail::release_parts(c_parts, kBands);
    dense_arith::detail::release_partition(b_parts, kBands);
    dense_arith::detail::release_partition(a_parts, kBands);
    return nullptr;
  }
  auto* args = static_cast<thread_arg_blocos*>(
      std::calloc(static_cast<size_t>(slots), sizeof(thread_arg_blocos)));
  auto* handles =
      static_cast<pthread_t*>(std::calloc(static_cast<size_t>(slots), sizeof(pthread_t)));
  // Only two entries are ever used: when n asks for more room than the heap
  // has, two on the stack do the same work.
  thread_arg_blocos local_args[kBands];
  pthread_t local_handles[kBands];
  thread_arg_blocos* use_args = args != nullptr && handles != nullptr ? args : local_args;
  pthread_t* use_handles = args != nullptr && handles != nullptr ? handles : local_handles;
  partition.end();
  bool started[kBands];
  for (int32_t i = 0; i < kBands; ++i) {
    use_args[i] = thread_arg_blocos{i, n, a_parts, b_parts, c_parts};
    started[i] = start(&use_handles[i], exec_thread_blocos, &use_args[i]);
  }
  for (int32_t i = 0; i < kBands; ++i) {
    finish(started[i], use_handles[i], exec_thread_blocos, &use_args[i]);
  }
  trace::span adding(trace::kAddPart, -1);
  matriz* result = dense_arith::msomar(c_parts[0]->matriz, c_parts[1]->matriz, 1);
  adding.end();

  dense_arith::detail::release_parts(c_parts, kBands);
  std::free(handles);
  std::free(args);
  dense_arith::detail::release_partition(b_parts, kBands);
  dense_arith::detail::release_partition(a_parts, kBands);
  return result;
}

}  // namespace workers_ranges
