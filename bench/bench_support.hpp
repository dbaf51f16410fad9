// What every benchmark program shares: random square inputs built outside the
// timing loops, the GOP/s counter, and the release of a returned product.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <dense/dense_core.hpp>
#include <random>

#include "common/matrix_records.hpp"

namespace bench_support {

// A random n x n matrix (values in [-1000, 1000]) with storage from the
// library, freed on scope exit.
class square {
 public:
  square(int32_t n, uint32_t seed) : m_{nullptr, n, n} {
    dense_core::malocar(&m_);
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int32_t> dist(-1000, 1000);
    for (int32_t i = 0; i < n; ++i) {
      for (int32_t j = 0; j < n; ++j) {
        m_.mat[i][j] = dist(gen);
      }
    }
  }
  square(const square&) = delete;
  square& operator=(const square&) = delete;
  ~square() { dense_core::mliberar(&m_); }
  dense_core::matriz* get() { return &m_; }
  const dense_core::matriz* get() const { return &m_; }

 private:
  dense_core::matriz m_;
};

// Operations of one n x n by n x n product: a multiply and an add per (i, j, k).
inline double product_ops(int64_t n) { return 2.0 * static_cast<double>(n * n * n); }

// Reports ops_per_iteration operations per iteration as the counter "GOP", a
// rate: the console prints it as "GOP=97.1/s" (a counter named "GOP/s" would
// read "GOP/s=97.1/s"), and the JSON and CSV outputs give GOP per second.
inline void report(benchmark::State& state, double ops_per_iteration) {
  state.counters["GOP"] =
      benchmark::Counter(ops_per_iteration * 1e-9, benchmark::Counter::kIsIterationInvariantRate);
}

// Releases a product's result (storage, then record); accepts null. Freeing
// is part of what a returning product costs its caller, so it is timed.
inline void release(dense_core::matriz* m) { dense_detail::release_matrix(m); }

}  // namespace bench_support
