// What compare_products measured, and the table and CSV made from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "methods.hpp"
#include "options.hpp"
#include "tools/common/machine.hpp"
#include "tools/common/statistics.hpp"

namespace compare_products {

// One method at one thread count on one shape of factors.
struct row {
  const product_method* method = nullptr;
  int32_t threads = 1;
  int32_t rows = 0;  // A is rows x inner, B inner x cols
  int32_t inner = 0;
  int32_t cols = 0;
  std::string skipped;                // why it was not run; empty when it ran
  std::vector<double> seconds;        // one wall time per timed call
  std::vector<int32_t> rounds;        // the round of each timed call
  std::vector<double> check_seconds;  // the time checking each result took
  bool identical = true;              // every result passed the check
  std::string stopped;                // why it was called no more ("timed out"); empty if never
  int32_t shape_rounds = 0;           // the rounds its shape ran
  // Filled by derive():
  double median_s = 0.0;
  tool_common::interval seconds_range;  // the 95% interval of the median time
  double gops = 0.0;                    // 2*M*K*N operations over the median time
  tool_common::interval gops_range;
  // Ratios taken within each round: the baseline's time (tipo0; the same
  // method on one thread) over this row's; count 0 when there is none.
  tool_common::summary vs_tipo0;
  tool_common::summary vs_one;
  bool self_tipo0 = false;  // the baseline row itself
  bool self_one = false;    // the one-thread row itself
  double check_s = 0.0;     // median of check_seconds
};

// The ratios `reference`'s time over `r`'s time, one per round that both ran in.
std::vector<double> paired_ratios(const row& r, const row& reference);

// Whether a row's median interval is wider than +-10% of its median.
bool noisy(const row& r);

// Median time, its interval, GOP/s and both paired speedups of every row
// that ran, each against rows of the same shape. Speedup over one thread is
// given for the methods that are measured at each requested thread count,
// when 1 was among them.
void derive(std::vector<row>& rows);

// The aligned table, one line per row, with a header line; with `with_size`,
// a first column gives each row's square size (a sweep). Each rate and
// speedup shows its 95% interval; a noisy row, a speedup whose interval holds
// 1.0 and a speedup over one thread above the thread count are marked, and
// the lines under the table (see table_notes) say what the marks mean.
std::string format_table(const std::vector<row>& rows, bool with_size);

// The lines under the table that explain the marks the table used, then one
// line that says how busy the machine was.
std::string table_notes(const std::vector<row>& rows, const tool_common::machine_load& load);

// CSV with a header line; one line per row, empty fields where a value does
// not apply; the result column is identical, differs, skipped, crashed or
// timed out; the seed column is empty unless --seed was given.
std::string format_csv(const std::vector<row>& rows, const options& o,
                       const tool_common::machine_load& load);

// One line per timed call under the header
// "round,position,method,threads,rows,inner,cols,seconds"; `rows` are the
// run's rows that the calls' indices point into.
struct raw_call;
std::string format_raw(const std::vector<raw_call>& calls, const std::vector<row>& rows);

}  // namespace compare_products
