// What a run of compare_products holds in memory at its peak, and what this machine can give.
#pragma once

#include <cstdint>

#include "compare_options.hpp"

namespace compare_tool {

// Heap bytes of a matrix: the row table and every row with the allocator's
// bookkeeping (a double: sizes near the int32 limit overflow 64-bit counts).
double matrix_bytes(int64_t rows, int64_t cols);

// Heap bytes a run holds at its peak: both factors, the reference product,
// and the largest working set of one method that will run (the band products
// keep one full-size part per band next to their running sums; a row that
// will be skipped holds nothing). With `with_threads` false, the thread
// counts are left out (every method as if on one thread), which tells a size
// that cannot fit from a thread count that makes it too big.
double peak_bytes(const options& o, bool with_threads);

// Bytes this machine can still give (MemAvailable), or 0 when unknown.
uint64_t available_bytes();

}  // namespace compare_tool
