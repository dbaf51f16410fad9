// What the threads' recorder costs each span: off (every run that does not trace) and on.
#include <benchmark/benchmark.h>

#include "common/trace.hpp"

namespace {

namespace trace = dense_detail::trace;

// A span around nothing, recording off: the price every product pays for
// being traceable.
void BM_span_off(benchmark::State& state) {
  for (auto _ : state) {
    const trace::span s(trace::kMultiply, 0);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_span_off);

// The same with recording on: two clock readings and an append to this
// thread's buffer. The buffer is handed over every 100000 spans, as a traced
// call hands it over when it ends.
void BM_span_on(benchmark::State& state) {
  trace::start();
  int64_t since_start = 0;
  for (auto _ : state) {
    const trace::span s(trace::kMultiply, 0);
    benchmark::ClobberMemory();
    if (++since_start == 100000) {
      state.PauseTiming();
      trace::stop();
      trace::start();
      since_start = 0;
      state.ResumeTiming();
    }
  }
  trace::stop();
}
BENCHMARK(BM_span_on);

}  // namespace

BENCHMARK_MAIN();
