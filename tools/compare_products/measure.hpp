// Measuring one method at one thread count: timed repetitions, each result checked.
#pragma once

#include <cstdint>
#include <dense/dense_core.hpp>
#include <functional>
#include <string>

#include "check.hpp"
#include "report.hpp"
#include "stdout_sink.hpp"

namespace compare_products {

// Computes a new product of a and b on the given thread count, or null.
using product_fn = std::function<dense_core::matriz*(const dense_core::matriz* a,
                                                     const dense_core::matriz* b, int32_t threads)>;

// Each result that passed its check is offered to a keeper with its time;
// when it returns true the result is the keeper's, else it is released.
using result_keeper = std::function<bool(dense_core::matriz* result, double seconds)>;

// One row to measure: `method` on `threads` threads, `repeat` times, on
// factors a and b.
struct measure_request {
  const product_method* method = nullptr;
  product_fn product;  // what is timed; method->run unless a test stands in
  int32_t threads = 1;
  int32_t repeat = 1;
  const dense_core::matriz* a = nullptr;
  const dense_core::matriz* b = nullptr;
  const result_check* check = nullptr;  // how each result is checked
  stdout_sink* sink = nullptr;          // where the library's output goes
  // Told each repetition (from 0) before it starts; may be empty.
  std::function<void(int32_t)> on_repetition;
  result_keeper keep;  // may be empty: every result is released
  // With a positive budget, repetitions stop once they have taken that
  // long in all (always at least one), so a sweep's slow rows do not
  // dominate its time.
  double budget_seconds = 0.0;
};

// Runs the request's product `repeat` times, timing each call with wtime,
// and checks every result, timing the check too. Returns the row (its shape
// taken from a and b); `verdict` is left empty when every result passed,
// else says how the first bad one went wrong ("gave no result", or the
// check's verdict).
row measure(const measure_request& request, std::string* verdict);

// In a sweep: why `method` on `threads` threads is left out of the size
// rows x inner x cols, or empty. It is left out when its median at the
// largest smaller size in `done`, scaled by the work, predicts one repetition
// longer than `limit_seconds`.
std::string sweep_skip_reason(const std::vector<row>& done, const product_method* method,
                              int32_t threads, int32_t rows, int32_t inner, int32_t cols,
                              double limit_seconds);

}  // namespace compare_products
