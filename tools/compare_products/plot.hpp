// The picture of a run of compare_products, as gnuplot input.
#pragma once

#include <string>
#include <vector>

#include "options.hpp"
#include "report.hpp"

namespace compare_products {

// gnuplot input and commands that draw a PNG on standard output, titled with
// `machine` (the CPU, its cores, the date). For one shape: a data block (one
// line per method, one GOP/s column per thread count that was measured, "-"
// where none) drawn as clustered bars. For a sweep of several sizes: two
// panels on log-log axes, GOP/s against n (a colour per method, solid for
// one thread and dashed for the largest thread count, each point with its 95%
// interval), and each threaded method's speedup over one thread against n.
std::string gnuplot_script(const std::vector<row>& rows, const options& o,
                           const std::string& machine);

// True when some row has a positive rate, so that a plot has something to draw.
bool has_rate(const std::vector<row>& rows);

}  // namespace compare_products
