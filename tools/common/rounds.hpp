// Measuring rows in interleaved rounds: the warm-up, the shuffled rounds, the stop rule, and the
// ratios taken within a round.
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
//
// The rounds know rows and calls, nothing of what a call computes: a
// program hands each row's call over as a timed_call.
#pragma once

#include <cstdint>
#include <dense/dense_core.hpp>
#include <functional>
#include <string>
#include <vector>

#include "tools/common/measurement.hpp"
#include "tools/common/seeded.hpp"

namespace tool_common {

// One row while it is measured.
struct candidate {
  measured_row* out;
  size_t index;  // the row's place in the run's list of rows, for --raw and progress
  timed_call call;
  // The same thing on one thread (or rank), whose time over this row's (the
  // speedup) must be steady too before the rounds stop; may be null.
  const measured_row* one_thread = nullptr;
};

// How long the rounds of one shape may take by default, in seconds.
inline constexpr double kDefaultTime = 10.0;
// The longest --time the programs accept: a day.
inline constexpr double kMaxTime = 86400.0;

// When the rounds stop.
struct round_rules {
  int32_t exact_rounds = 0;  // --repeat N: exactly N rounds; 0: the rules below
  // Enough for a 95% interval of every row's median.
  int32_t min_rounds = static_cast<int32_t>(kFewestForInterval);
  int32_t max_rounds = 1000;
  // Stop once every row's interval lies within +-target of its median (or
  // within the clock's resolution of it), and so does the interval of every
  // speedup over one thread...
  double target = 0.05;
  // ... or once the rounds have taken this long (0: no such limit).
  double time_budget = kDefaultTime;
  // A row leaves the rounds once its calls have taken this long in all (0:
  // never): in a sweep, the slow loop nests would otherwise take minutes.
  double row_budget = 0.0;
};

// Checks one result: empty when it is right, else how it is wrong.
using result_check = std::function<std::string(const dense_core::matriz* result)>;

// Each result that passed its check is offered to a keeper with its time;
// when it returns true the result is the keeper's, else it is released.
using result_keeper = std::function<bool(dense_core::matriz* result, double seconds)>;

// What the rounds use besides their rows.
struct round_context {
  const dense_core::matriz* a = nullptr;  // the factors, handed to every call
  const dense_core::matriz* b = nullptr;
  // Checks each result a call returns; may be null when the calls check
  // their results themselves (and return no product).
  const result_check* check = nullptr;
  result_keeper keep;                    // may be empty: every result is released
  splitmix64* order = nullptr;           // draws each round's order
  std::vector<raw_call>* raw = nullptr;  // every timed call is appended; may be null
  // Told, before each call, the round (-1 for the warm-up) and the row's index; may be empty.
  std::function<void(int32_t round, size_t row)> progress;
};

// A row's first failure: a wrong result, none, a crash, a call stopped.
struct row_verdict {
  const measured_row* of;
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
std::vector<size_t> shuffled_order(size_t count, splitmix64& gen);

// Whether `values` have a 95% median interval and it lies within +-target of
// their median, or within `floor` of it (for times: the clock's resolution).
bool steady(const std::vector<double>& values, double target, double floor);

// The ratios `reference`'s time over `r`'s time, one per round that both ran
// in (a call that read 0 s gives none).
std::vector<double> paired_ratios(const measured_row& r, const measured_row& reference);

// Median time, its interval, the rate and its interval, the check's median.
void derive_times(measured_row& r);

// In a sweep: why a row of shape `next` is left out, given `earlier`, the
// rows of the same thing (method and threads) at the smaller sizes; empty
// when it runs. It is left out when one of them timed out (it would again,
// after the whole timeout), or when the median at the largest size that ran,
// scaled by the work, predicts one call longer than `limit_seconds`.
std::string sweep_skip_reason(const std::vector<const measured_row*>& earlier, const shape& next,
                              double limit_seconds);

}  // namespace tool_common
