// Whole products side by side: the sequential i-k-j product, both threaded
// modules (rows and bands) and the OpenMP team, on 1 and 2 threads.
// GOP/s counts 2*n^3 operations per product; the 2-thread speedup is the ratio
// of a product's 1-thread and 2-thread times in the same run.
#include <benchmark/benchmark.h>

#include <dense/dense_arith.hpp>
#include <dense/dense_core.hpp>
#include <dense/team_rows.hpp>
#include <dense/workers_cyclic.hpp>
#include <dense/workers_ranges.hpp>

#include "bench_support.hpp"

namespace {

using dense_core::matriz;

using bench_support::product_ops;
using bench_support::release;
using bench_support::report;
using bench_support::square;

// A product that returns a new matrix, on state.range(1) threads.
template <matriz* (*Product)(const matriz*, const matriz*, int32_t)>
void BM_returning(benchmark::State& state) {
  const auto n = static_cast<int32_t>(state.range(0));
  const auto threads = static_cast<int32_t>(state.range(1));
  square a(n, 1), b(n, 2);
  for (auto _ : state) {
    matriz* c = Product(a.get(), b.get(), threads);
    benchmark::DoNotOptimize(c);
    release(c);
  }
  report(state, product_ops(n));
}

void BM_mmultiplicar_tipo1(benchmark::State& state) {
  const auto n = static_cast<int32_t>(state.range(0));
  square a(n, 1), b(n, 2);
  for (auto _ : state) {
    matriz* c = dense_arith::mmultiplicar(a.get(), b.get(), 1);
    benchmark::DoNotOptimize(c);
    release(c);
  }
  report(state, product_ops(n));
}

void BM_multiplicarOMP(benchmark::State& state) {
  const auto n = static_cast<int32_t>(state.range(0));
  const auto threads = static_cast<int32_t>(state.range(1));
  square a(n, 1), b(n, 2), c(n, 3);
  for (auto _ : state) {
    // Clearing c is part of every product the others time too (malocar + mzerar).
    dense_core::mzerar(c.get());
    team_rows::multiplicarOMP(a.get(), b.get(), c.get(), threads);
    benchmark::ClobberMemory();
  }
  report(state, product_ops(n));
}

void sizes(benchmark::internal::Benchmark* b) {
  for (int64_t n : {512, 1024}) {
    b->Arg(n);
  }
}

void sizes_and_threads(benchmark::internal::Benchmark* b) {
  for (int64_t n : {512, 1024}) {
    for (int64_t t : {1, 2}) {
      b->Args({n, t});
    }
  }
}

}  // namespace

// Wall-clock time everywhere, so the sequential product compares with the
// threaded ones on the same clock.
BENCHMARK(BM_mmultiplicar_tipo1)->Apply(sizes)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_returning<workers_cyclic::multiplicarTh>)
    ->Name("BM_cyclic_multiplicarTh")
    ->Apply(sizes_and_threads)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_returning<workers_cyclic::multiplicarThblocos>)
    ->Name("BM_cyclic_multiplicarThblocos")
    ->Apply(sizes_and_threads)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_returning<workers_ranges::multiplicarTh>)
    ->Name("BM_ranges_multiplicarTh")
    ->Apply(sizes_and_threads)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_returning<workers_ranges::multiplicarThblocos>)
    ->Name("BM_ranges_multiplicarThblocos")
    ->Apply(sizes_and_threads)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_multiplicarOMP)
    ->Apply(sizes_and_threads)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
