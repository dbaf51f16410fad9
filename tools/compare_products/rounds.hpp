// Measuring the rows of one shape in interleaved rounds.
//
// A machine's noise comes in bursts: another program wakes up, the CPU
// changes its clock, a page fault storm. Timed one row after another, a
// burst lands on one row and not its neighbour, and a speedup that divides
// two medians taken at different moments shows the burst, not the product.
// So every row first runs once untimed (caches, pages and thread pools
// warmed), and then rounds follow: each round runs every row once, in an
// order shuffled afresh, so that a burst falls on rows at random and a ratio
// between two rows can be taken within one round, between two calls close
// in time.
#pragma once

#include <cstdint>
#include <dense/dense_core.hpp>
#include <functional>
#include <string>
#include <vector>

#include "check.hpp"
#include "report.hpp"
#include "stdout_sink.hpp"
#include "tools/common/seeded.hpp"

namespace compare_products {

// What one call gave.
struct call_result {
  dense_core::matriz* product = nullptr;  // null: no result
  double seconds = 0.0;                   // the call alone
  // Why there is no result to check ("gave no result: ...", "crashed
  // (signal 11, SIGSEGV)", "timed out"); empty when there is one.
  std::string failure;
  // The row cannot be called again (its process crashed or was stopped).
  bool fatal = false;
};

// Computes a new product of a and b on `threads` threads.
using timed_call = std::function<call_result(const dense_core::matriz* a,
                                             const dense_core::matriz* b, int32_t threads)>;

// Computes a new product of a and b on the given thread count, or null.
using product_fn = std::function<dense_core::matriz*(const dense_core::matriz* a,
                                                     const dense_core::matriz* b, int32_t threads)>;

// A call of a product in this process: its stdout goes into `sink`, and
// wtime is read just before and just after it (the redirection stays outside).
timed_call in_process(product_fn product, stdout_sink* sink);

// One row of the table while it is measured.
struct candidate {
  row* out;
  size_t index;  // the row's place in the run's list of rows, for --raw
  timed_call call;
  // The same method on one thread, whose time over this row's (the speedup
  // over one thread) must be steady too before the rounds stop; may be null.
  const row* one_thread = nullptr;
};

// When the rounds stop.
struct round_rules {
  int32_t exact_rounds = 0;  // --repeat N: exactly N rounds; 0: the rules below
  int32_t min_rounds = 5;
  int32_t max_rounds = 1000;
  // Stop once every row's interval lies within +-target of its median (or
  // within the clock's resolution of it), and so does the interval of every
  // speedup over one thread...
  double target = 0.05;
  // ... or once the rounds have taken this long (0: no such limit).
  double time_budget = 10.0;
  // A row leaves the rounds once its calls have taken this long in all (0:
  // never): in a sweep, the slow loop nests would otherwise take minutes.
  double row_budget = 0.0;
};

// One timed call, as --raw writes it.
struct raw_call {
  int32_t round;
  int32_t position;  // its place in its round, from 0
  size_t row;        // which row (method, threads and shape), by its place in the run's rows
  double seconds;
};

// Each result that passed its check is offered to a keeper with its time;
// when it returns true the result is the keeper's, else it is released.
using result_keeper = std::function<bool(dense_core::matriz* result, double seconds)>;

// What the rounds use besides their rows.
struct round_context {
  const dense_core::matriz* a = nullptr;  // the factors
  const dense_core::matriz* b = nullptr;
  const result_check* check = nullptr;
  result_keeper keep;                        // may be empty: every result is released
  tool_common::splitmix64* order = nullptr;  // draws each round's order
  std::vector<raw_call>* raw = nullptr;      // every timed call is appended; may be null
  // Told, before each call, the round (-1 for the warm-up) and the row; may be empty.
  std::function<void(int32_t round, const row& r)> progress;
};

// A row's first failure: a wrong result, none, a crash, a call stopped.
struct row_verdict {
  const row* of;
  std::string verdict;
};

// Warms up every candidate (one call each, checked but not timed), then runs
// rounds until `rules` say stop. Each row gets its times, the round of each,
// its check times and whether every result was right; a row's first failure
// is appended to `differences`, and a fatal one takes the row out of the
// rounds. Returns the number of rounds run.
int32_t run_rounds(const std::vector<candidate>& candidates, const round_rules& rules,
                   round_context& ctx, std::vector<row_verdict>* differences);

// The positions 0 .. count-1 in an order drawn from `gen` (Fisher-Yates):
// every position once.
std::vector<size_t> shuffled_order(size_t count, tool_common::splitmix64& gen);

// Whether the median interval of `values` lies within +-target of their
// median, or within `floor` of it (for times: the clock's resolution).
bool steady(const std::vector<double>& values, double target, double floor);

// In a sweep: why `method` on `threads` threads is left out of the size
// rows x inner x cols, or empty. It is left out when its median at the
// largest smaller size in `done`, scaled by the work, predicts one repetition
// longer than `limit_seconds`.
std::string sweep_skip_reason(const std::vector<row>& done, const product_method* method,
                              int32_t threads, int32_t rows, int32_t inner, int32_t cols,
                              double limit_seconds);

}  // namespace compare_products
