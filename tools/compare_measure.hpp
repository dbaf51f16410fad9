// Measuring one method at one thread count: timed repetitions, each result checked.
#pragma once

#include <cstdint>
#include <dense/dense_core.hpp>
#include <functional>
#include <string>

#include "compare_check.hpp"
#include "compare_report.hpp"
#include "stdout_sink.hpp"

namespace compare_tool {

// Computes a new product of a and b on the given thread count, or null.
using product_fn = std::function<dense_core::matriz*(const dense_core::matriz* a,
                                                     const dense_core::matriz* b, int32_t threads)>;

// Runs `product` `repeat` times, timing each call with wtime, and checks
// every result with `check`, timing the check too; the library's output
// goes to `sink`. `on_repetition` is told each repetition (from 0) before
// it starts. Returns the row (its shape taken from a and b); `verdict` is
// left empty when every result passed, else says how the first bad one went
// wrong ("gave no result", or the check's verdict). Each result that
// passed is offered to `keep` with its time; when it returns true the result
// is its own, else it is released here. With a positive `budget_seconds`,
// repetitions stop once they have taken that long in all (always at least
// one), so a sweep's slow rows do not dominate its time.
using result_keeper = std::function<bool(dense_core::matriz* result, double seconds)>;
row measure(const product_method* method, int32_t threads, int32_t repeat,
            const dense_core::matriz* a, const dense_core::matriz* b, const result_check& check,
            const product_fn& product, stdout_sink& sink,
            const std::function<void(int32_t)>& on_repetition, std::string* verdict,
            const result_keeper& keep = nullptr, double budget_seconds = 0.0);

// In a sweep: why `method` on `threads` threads is left out of the size
// rows x inner x cols, or empty. It is left out when its median at the
// largest smaller size in `done`, scaled by the work, predicts one repetition
// longer than `limit_seconds`.
std::string sweep_skip_reason(const std::vector<row>& done, const product_method* method,
                              int32_t threads, int32_t rows, int32_t inner, int32_t cols,
                              double limit_seconds);

}  // namespace compare_tool
