// The cost of each loop order of the sequential product, and of the two visiting orders of the sum.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <dense/dense_arith.hpp>
#include <dense/dense_core.hpp>

#include "bench_support.hpp"

namespace {

using bench_support::product_ops;
using bench_support::release;
using bench_support::report;
using bench_support::square;

// One multiply-add per (i, j, k): 2 n^3 operations per product.
void BM_mmultiplicar(benchmark::State& state) {
  const auto tipo = static_cast<int32_t>(state.range(0));
  const auto n = static_cast<int32_t>(state.range(1));
  const square a(n, 1), b(n, 2);
  for (auto _ : state) {
    dense_core::matriz* r = dense_arith::mmultiplicar(a.get(), b.get(), tipo);
    benchmark::DoNotOptimize(r->mat[0][0]);
    release(r);
  }
  report(state, product_ops(n));
}
BENCHMARK(BM_mmultiplicar)
    ->ArgNames({"tipo", "n"})
    ->ArgsProduct({{0, 1, 2, 3, 4, 5}, {256, 512}})
    ->Unit(benchmark::kMillisecond);

// Row by row (0) against column by column (1).
void BM_msomar(benchmark::State& state) {
  const auto tipo = static_cast<int32_t>(state.range(0));
  const auto n = static_cast<int32_t>(state.range(1));
  const square a(n, 1), b(n, 2);
  for (auto _ : state) {
    dense_core::matriz* r = dense_arith::msomar(a.get(), b.get(), tipo);
    benchmark::DoNotOptimize(r->mat[0][0]);
    release(r);
  }
  report(state, static_cast<double>(n) * n);
}
BENCHMARK(BM_msomar)
    ->ArgNames({"tipo", "n"})
    ->ArgsProduct({{0, 1}, {1024, 2048}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
