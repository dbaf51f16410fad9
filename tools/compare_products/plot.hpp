// The picture of a run of compare_products, as gnuplot input.
#pragma once

#include <string>
#include <vector>

#include "options.hpp"
#include "report.hpp"

namespace compare_products {

// gnuplot input and commands that draw a PNG on standard output. For one
// shape: a data block (one line per method, one GOP/s column per thread count
// that was measured, "-" where none) drawn as clustered bars. For a sweep of
// several sizes: GOP/s against n on a log scale of n, one line per method and
// thread count.
std::string gnuplot_script(const std::vector<row>& rows, const options& o);

// True when some row has a positive rate, so that a plot has something to draw.
bool has_rate(const std::vector<row>& rows);

}  // namespace compare_products
