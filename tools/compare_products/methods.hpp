// compare_products' methods: one table, each entry saying what it calls, how it uses threads, how
// to run it and when it cannot run.
#pragma once

#include <cstdint>
#include <dense/dense_core.hpp>
#include <string>
#include <vector>

namespace compare_products {

// How a method uses threads, which decides the thread counts it is measured with.
enum class threading {
  sequential,  // runs on the calling thread: measured once, as 1 thread
  requested,   // runs on as many threads as asked: measured at every requested count
  two_fixed,   // always two threads whatever it is asked: measured once, as 2 threads
};

// Computes a x b on `threads` threads into a new matrix that the caller
// releases, or returns null when the library gave none.
using product_call = dense_core::matriz* (*)(const dense_core::matriz* a,
                                             const dense_core::matriz* b, int32_t threads);

// One way of computing the product.
struct product_method {
  const char* name;        // what --methods and the table call it
  const char* what;        // the library call behind it (no commas: it goes into the CSV)
  const char* help_label;  // first column of its --help line; null when a line above covers it
  const char* help;        // the rest of that line
  threading threads;
  product_call run;
  // Why it cannot run on `threads` threads when the inner dimension is
  // `inner`, or empty when it can; null for a method that always runs.
  std::string (*skip)(int32_t inner, int32_t threads);
  // How many matrices of the product's size it holds at once on `threads`
  // threads (its result, and the band products' parts and running sums).
  double (*held_products)(int32_t threads);
};

// Every method, in the order of the table.
const std::vector<product_method>& methods();

// tipo0, the first entry: the method the "vs tipo0" column divides by.
const product_method* baseline();

// The entry called `name`, or null.
const product_method* find_method(const std::string& name);

// The thread counts at which `m` is measured: every requested count for the
// threaded methods, 1 for the sequential ones, 2 for the method that always
// runs two threads.
std::vector<int32_t> measured_thread_counts(const product_method& m,
                                            const std::vector<int32_t>& requested);

// Why `m` cannot run with `threads` on an inner dimension of `inner`, or
// empty when it can. The band products need a band per thread.
std::string skip_reason(const product_method& m, int32_t inner, int32_t threads);

}  // namespace compare_products
