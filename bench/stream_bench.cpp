// The machine's memory bandwidth, STREAM style: the roofline's sloped roof, against which a
// product's operations per byte moved are read.
//
// Four loops over arrays of 32-bit numbers (the kit's element type), as in McCalpin's STREAM:
//   copy   c[i] = a[i]             8 bytes moved per element
//   scale  b[i] = q * c[i]         8
//   add    c[i] = a[i] + b[i]     12
//   triad  a[i] = b[i] + q * c[i] 12
// Bytes moved count each array read or written once, as STREAM does; a core that reads a line
// before it overwrites it (write-allocate) moves a third more on copy and scale than the count
// says, so triad, whose stores are a third of its traffic, is the figure to draw.
// Each loop runs at 1 thread and at every core (OpenMP, static schedule: each thread touches the
// same part of every array when the arrays are filled as when they are used, so on a machine of
// several sockets each part sits in its thread's own memory), on arrays of 2^24 elements each
// (64 MiB: three of them are far beyond any cache of the kit's machines) and of 2^16 (256 KiB:
// all three stay in a core's 1 MiB L2; the cache's roof, not memory's).
// The counter GB is a rate, printed as "GB=12.3/s": 10^9 bytes per second.
#include <benchmark/benchmark.h>
#include <omp.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

// Arrays aligned to a cache line; nothing is touched until the threads fill them.
struct aligned_free {
  void operator()(uint32_t* p) const { std::free(p); }
};
using array = std::unique_ptr<uint32_t[], aligned_free>;

array make_array(int64_t n) {
  const auto bytes = static_cast<size_t>(n) * sizeof(uint32_t);
  return array(static_cast<uint32_t*>(std::aligned_alloc(64, (bytes + 63) / 64 * 64)));
}

enum class loop { copy, scale, add, triad };

// Bytes one pass moves per element.
constexpr int64_t bytes_per_element(loop l) {
  return l == loop::copy || l == loop::scale ? 2 * sizeof(uint32_t) : 3 * sizeof(uint32_t);
}

// state.range(0): elements per array; state.range(1): threads.
template <loop L>
void BM_stream(benchmark::State& state) {
  const int64_t n = state.range(0);
  const auto threads = static_cast<int>(state.range(1));
  array a = make_array(n), b = make_array(n), c = make_array(n);
  if (!a || !b || !c) {
    state.SkipWithError("not enough memory for the arrays");
    return;
  }
  uint32_t* const pa = a.get();
  uint32_t* const pb = b.get();
  uint32_t* const pc = c.get();
  const uint32_t q = 3;
#pragma omp parallel for schedule(static) num_threads(threads)
  for (int64_t i = 0; i < n; ++i) {
    pa[i] = 1;
    pb[i] = 2;
    pc[i] = 0;
  }
  for (auto _ : state) {
#pragma omp parallel for schedule(static) num_threads(threads)
    for (int64_t i = 0; i < n; ++i) {
      if constexpr (L == loop::copy) {
        pc[i] = pa[i];
      } else if constexpr (L == loop::scale) {
        pb[i] = q * pc[i];
      } else if constexpr (L == loop::add) {
        pc[i] = pa[i] + pb[i];
      } else {
        pa[i] = pb[i] + q * pc[i];
      }
    }
    benchmark::DoNotOptimize(pa);
    benchmark::DoNotOptimize(pb);
    benchmark::DoNotOptimize(pc);
    benchmark::ClobberMemory();
  }
  state.counters["GB"] = benchmark::Counter(static_cast<double>(n * bytes_per_element(L)) * 1e-9,
                                            benchmark::Counter::kIsIterationInvariantRate);
}

void sizes_and_threads(benchmark::internal::Benchmark* b) {
  for (const int64_t n : {int64_t{1} << 24, int64_t{1} << 16}) {
    b->Args({n, 1});
    if (omp_get_num_procs() > 1) {
      b->Args({n, omp_get_num_procs()});
    }
  }
  b->ArgNames({"n", "threads"})->UseRealTime();
}

BENCHMARK(BM_stream<loop::copy>)->Name("BM_stream_copy")->Apply(sizes_and_threads);
BENCHMARK(BM_stream<loop::scale>)->Name("BM_stream_scale")->Apply(sizes_and_threads);
BENCHMARK(BM_stream<loop::add>)->Name("BM_stream_add")->Apply(sizes_and_threads);
BENCHMARK(BM_stream<loop::triad>)->Name("BM_stream_triad")->Apply(sizes_and_threads);

}  // namespace

BENCHMARK_MAIN();
