// What compare_products measured, and the table and CSV made from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "methods.hpp"
#include "options.hpp"
#include "tools/common/machine.hpp"
#include "tools/common/measurement.hpp"
#include "tools/common/report_cells.hpp"
#include "tools/common/rounds.hpp"
#include "tools/common/statistics.hpp"

namespace compare_products {

using tool_common::noisy;
using tool_common::paired_ratios;
using tool_common::raw_call;
using tool_common::shape;

// One method at one thread count on one shape of factors. The speedups:
// vs_base over tipo0, vs_one over the same method on one thread.
struct row : tool_common::measured_row {
  const product_method* method = nullptr;
};

// Median time, its interval, GOP/s and both paired speedups of every row
// that ran, each against rows of the same shape. Speedup over one thread is
// given for the methods that are measured at each requested thread count,
// when 1 was among them.
void derive(std::vector<row>& rows);

// The aligned table, one line per row, with a header line; with `with_size`,
// a first column gives each row's square size (a sweep). Each rate and
// speedup shows its 95% interval; the marks of tools/common/report_cells.hpp
// say when it cannot be trusted, and the lines under the table (see
// table_notes) say what the marks mean.
std::string format_table(const std::vector<row>& rows, bool with_size);

// The lines under the table that explain the marks the table used, then one
// line that says how busy the machine was.
std::string table_notes(const std::vector<row>& rows, const tool_common::machine_load& load);

// CSV with a header line; one line per row, empty fields where a value does
// not apply (an interval's ends with too few rounds for one); the result
// column is identical, differs, skipped, crashed or timed out; the seed
// column is empty unless --seed was given.
std::string format_csv(const std::vector<row>& rows, const options& o,
                       const tool_common::machine_load& load);

// One line per timed call under the header
// "round,position,method,threads,rows,inner,cols,seconds"; `rows` are the
// run's rows that the calls' indices point into.
std::string format_raw(const std::vector<raw_call>& calls, const std::vector<row>& rows);

}  // namespace compare_products
