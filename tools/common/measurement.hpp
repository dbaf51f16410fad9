// What the kit's programs measure, in one data model: the shape of a product, one row of a
// table, one call and what it gave, and one timed call as --raw writes it.
//
// A program's own row extends `measured_row` with what only it knows (its
// method, its ranks); the rounds (rounds.hpp) and the table cells
// (report_cells.hpp) work on the part every program shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <dense/dense_core.hpp>
#include <functional>
#include <string>
#include <vector>

#include "tools/common/statistics.hpp"

namespace tool_common {

// A x B of one product: rows x inner times inner x cols.
struct shape {
  int32_t rows = 0;
  int32_t inner = 0;
  int32_t cols = 0;
  // 2*M*K*N: one multiply and one add per term.
  double operations() const { return 2.0 * rows * static_cast<double>(inner) * cols; }
  bool operator==(const shape&) const = default;
};

// What one call gave.
struct call_result {
  dense_core::matriz* product = nullptr;  // null: no result (or a call that checked itself)
  double seconds = 0.0;                   // the call alone
  // Why there is no right result ("gave no result: ...", "crashed (signal
  // 11, SIGSEGV)", "timed out"); empty when there is one.
  std::string failure;
  // The row cannot be called again (its process crashed or was stopped).
  bool fatal = false;
};

// The failure of a call that was stopped for taking too long.
inline constexpr char kTimedOut[] = "timed out";

// Computes a new product of a and b on `threads` threads, timed.
using timed_call = std::function<call_result(const dense_core::matriz* a,
                                             const dense_core::matriz* b, int32_t threads)>;

// One row of a table: one thing measured on one shape, its calls' times, and
// what is derived from them (derive_times, and the program's pairings).
struct measured_row {
  int32_t threads = 1;
  shape size;
  std::string skipped;                // why it was not run; empty when it ran
  std::vector<double> seconds;        // one wall time per timed call
  std::vector<int32_t> rounds;        // the round of each timed call
  std::vector<double> check_seconds;  // the time checking each result took
  bool identical = true;              // every result passed the check
  std::string stopped;                // why it was called no more (kTimedOut); empty if never
  int32_t shape_rounds = 0;           // the rounds its shape ran
  // Derived:
  double median_s = 0.0;
  interval seconds_range;  // the 95% interval of the median time
  double gops = 0.0;       // operations over the median time, in billions per second
  // The rate's interval, from the slowest and fastest ends of the time's; its
  // high end is infinite when a call was faster than the clock (0 s).
  interval gops_range;
  // Ratios taken within each round: the program's baseline row's time over
  // this row's, and the same thing on one thread's (or rank's); count 0 when
  // there is none.
  summary vs_base;
  summary vs_one;
  bool self_base = false;  // the baseline row itself
  bool self_one = false;   // the one-thread row itself
  double check_s = 0.0;    // median of check_seconds

  bool ran() const { return skipped.empty() && !seconds.empty(); }
};

// One timed call, as --raw writes it.
struct raw_call {
  int32_t round;
  int32_t position;  // its place in its round, from 0
  size_t row;        // which row, by its place in the run's rows
  double seconds;
};

}  // namespace tool_common
