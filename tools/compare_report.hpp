// What compare_products measured, and the table, CSV and plot data made from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "compare_options.hpp"

namespace compare_tool {

// One method at one thread count.
struct row {
  int method = 0;
  int32_t threads = 1;
  std::string skipped;          // why it was not run; empty when it ran
  std::vector<double> seconds;  // one wall time per repetition
  bool identical = true;        // every repetition matched the reference
  // Filled by derive():
  double median_s = 0.0;
  double gops = 0.0;
  double vs_tipo0 = 0.0;  // 0 when tipo0 was not measured
  double vs_one = 0.0;    // 0 when the method has no measurement on one thread
};

// Median time, GOP/s (2*M*K*N operations per product) and both speedups of
// every row that ran. Speedup over one thread is given for the methods that
// are measured at each requested thread count, when 1 was among them.
void derive(std::vector<row>& rows, const options& o);

// The aligned table, one line per row, with a header line.
std::string format_table(const std::vector<row>& rows);

// CSV with a header line; one line per row, empty fields where a value does
// not apply; the result column is identical, differs or skipped.
std::string format_csv(const std::vector<row>& rows, const options& o);

// gnuplot input: a data block (one line per method, one GOP/s column per
// thread count that was measured, "-" where none) followed by the commands
// that draw it as clustered bars on a PNG written to standard output.
std::string gnuplot_script(const std::vector<row>& rows, const options& o);

}  // namespace compare_tool
