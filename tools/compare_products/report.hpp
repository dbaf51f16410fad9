// What compare_products measured, and the table and CSV made from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "methods.hpp"
#include "options.hpp"

namespace compare_products {

// One method at one thread count on one shape of factors.
struct row {
  const product_method* method = nullptr;
  int32_t threads = 1;
  int32_t rows = 0;  // A is rows x inner, B inner x cols
  int32_t inner = 0;
  int32_t cols = 0;
  std::string skipped;                // why it was not run; empty when it ran
  std::vector<double> seconds;        // one wall time per repetition
  std::vector<double> check_seconds;  // the time checking each repetition's result took
  bool identical = true;              // every repetition passed the check
  // Filled by derive():
  double median_s = 0.0;
  double gops = 0.0;
  double vs_tipo0 = 0.0;  // 0 when tipo0 was not measured on the same shape
  double vs_one = 0.0;    // 0 when the method has no measurement on one thread
  double check_s = 0.0;   // median of check_seconds
};

// Median time, GOP/s (2*M*K*N operations per product) and both speedups of
// every row that ran, each against rows of the same shape. Speedup over one
// thread is given for the methods that are measured at each requested thread
// count, when 1 was among them.
void derive(std::vector<row>& rows);

// The aligned table, one line per row, with a header line; with `with_size`,
// a first column gives each row's square size (a sweep).
std::string format_table(const std::vector<row>& rows, bool with_size);

// CSV with a header line; one line per row, empty fields where a value does
// not apply; the result column is identical, differs or skipped; the seed
// column is empty unless --seed was given.
std::string format_csv(const std::vector<row>& rows, const options& o);

}  // namespace compare_products
