// The picture of a run of compare_products, as gnuplot input.
#pragma once

#include <string>
#include <vector>

#include "options.hpp"
#include "report.hpp"
#include "tools/common/machine.hpp"

namespace compare_products {

// gnuplot input and commands that draw a PNG on standard output, titled with
// what it shows, `machine` (the CPU, its cores, the date) and, on a busy
// machine, how busy `load` says it was. For one shape: clustered bars of
// GOP/s, one per method and thread count. For a sweep of several sizes,
// three panels over n on a log2 axis, each line labelled where it ends: the
// loop nests' GOP/s; the parallel products' GOP/s on one thread (solid) and
// the most threads (dashed); and their speedup over one thread, with the
// lines of no gain (1x) and of every thread fully used. Each point carries
// its 95% interval; a point the table marks as noise, or with too few calls
// for an interval, is drawn hollow and grey.
std::string gnuplot_script(const std::vector<row>& rows, const options& o,
                           const std::string& machine, const tool_common::machine_load& load);

// True when some row has a positive rate, so that a plot has something to draw.
bool has_rate(const std::vector<row>& rows);

}  // namespace compare_products
