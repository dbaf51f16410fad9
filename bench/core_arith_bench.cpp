// The cost of each loop order of the sequential product, and of the two visiting orders of the sum.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>

#include <dense/dense_arith.hpp>
#include <dense/dense_core.hpp>

namespace {

// A random n x n operand made through the library, released at scope end.
struct operand {
  dense_core::matriz m{nullptr, 0, 0};
  explicit operand(int32_t n) : m{nullptr, n, n} {
    if (dense_core::malocar(&m) == 0) std::abort();
    dense_core::mgerar_aleatorio(&m, 1000);
  }
  ~operand() { dense_core::mliberar(&m); }
  operand(const operand&) = delete;
  operand& operator=(const operand&) = delete;
};

void release(dense_core::matriz* r) {
  dense_core::mliberar(r);
  std::free(r);
}

// One multiply-add per (i, j, k): 2 n^3 operations per product.
void BM_mmultiplicar(benchmark::State& state) {
  const auto tipo = static_cast<int32_t>(state.range(0));
  const auto n = static_cast<int32_t>(state.range(1));
  const operand a(n), b(n);
  for (auto _ : state) {
    dense_core::matriz* r = dense_arith::mmultiplicar(&a.m, &b.m, tipo);
    benchmark::DoNotOptimize(r->mat[0][0]);
    release(r);
  }
  const double ops = 2.0 * n * n * static_cast<double>(n);
  state.counters["GOP/s"] =
      benchmark::Counter(ops / 1e9, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_mmultiplicar)
    ->ArgNames({"tipo", "n"})
    ->ArgsProduct({{0, 1, 2, 3, 4, 5}, {256, 512}})
    ->Unit(benchmark::kMillisecond);

// Row by row (0) against column by column (1).
void BM_msomar(benchmark::State& state) {
  const auto tipo = static_cast<int32_t>(state.range(0));
  const auto n = static_cast<int32_t>(state.range(1));
  const operand a(n), b(n);
  for (auto _ : state) {
    dense_core::matriz* r = dense_arith::msomar(&a.m, &b.m, tipo);
    benchmark::DoNotOptimize(r->mat[0][0]);
    release(r);
  }
  state.counters["GOP/s"] = benchmark::Counter(static_cast<double>(n) * n / 1e9,
                                               benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_msomar)
    ->ArgNames({"tipo", "n"})
    ->ArgsProduct({{0, 1}, {1024, 2048}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
