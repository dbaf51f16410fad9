// Measuring one method at one thread count: timed repetitions, each result checked.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "compare_report.hpp"
#include <dense/dense_core.hpp>
#include "stdout_sink.hpp"

namespace compare_tool {

// Computes a new product of a and b on the given thread count, or null.
using product_fn = std::function<dense_core::matriz*(const dense_core::matriz* a,
                                                     const dense_core::matriz* b, int32_t threads)>;

// Runs `product` `repeat` times, timing each call with wtime, and compares
// every result with `reference` through mcomparar; the library's output
// goes to `sink`. `on_repetition` is told each repetition (from 0) before
// it starts. Returns the row; `verdict` is left empty when every result was
// identical, else says how the first bad one went wrong ("gave no result",
// or "differs from the sequential product: " and mcomparar's report).
row measure(int method, int32_t threads, int32_t repeat, const dense_core::matriz* a,
            const dense_core::matriz* b, const dense_core::matriz* reference,
            const product_fn& product, stdout_sink& sink,
            const std::function<void(int32_t)>& on_repetition, std::string* verdict);

}  // namespace compare_tool
