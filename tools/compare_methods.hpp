// Running each method of compare_products once, and what a run of them costs in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "compare_options.hpp"
#include <dense/dense_core.hpp>

namespace compare_tool {

// The thread counts at which method `id` is measured: every requested count
// for the threaded methods, 1 for the sequential ones, 2 for the method that
// always runs two threads.
std::vector<int32_t> measured_thread_counts(int id, const std::vector<int32_t>& requested);

// Why method `id` cannot run with `threads` on an inner dimension of `inner`,
// or empty when it can. The band products need a band per thread.
std::string skip_reason(int id, int32_t inner, int32_t threads);

// A new zeroed rows x cols matrix in a heap record, or null when the heap is
// exhausted. Release with release_matrix.
dense_core::matriz* new_zero_matrix(int32_t rows, int32_t cols);

// mliberar, then free the record. Accepts null.
void release_matrix(dense_core::matriz* m);

// Computes a x b with method `id` on `threads` threads and returns the new
// product (the caller releases it), or null when the library gave none. The
// methods that add into a matrix get a fresh zeroed one, allocated inside the
// call so that every method is measured from the factors to a new product.
dense_core::matriz* run_method(int id, const dense_core::matriz* a, const dense_core::matriz* b,
                               int32_t threads);

// Heap bytes of a matrix: the row table and every row with the allocator's
// bookkeeping (a double: sizes near the int32 limit overflow 64-bit counts).
double matrix_bytes(int64_t rows, int64_t cols);

// Heap bytes a run holds at its peak: both factors, the reference product,
// and the largest working set of one method (the band products keep one
// full-size part per band next to their running sums). With
// `with_threads` false, the thread counts are left out (every method as if
// on one thread), which tells a size that cannot fit from a thread count
// that makes it too big.
double peak_bytes(const options& o, bool with_threads);

// Bytes this machine can still give (MemAvailable), or 0 when unknown.
uint64_t available_bytes();

// The median of `values` (the mean of the middle two for an even count); 0 for none.
double median(std::vector<double> values);

}  // namespace compare_tool
