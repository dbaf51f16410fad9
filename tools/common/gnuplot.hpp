// Pictures drawn with gnuplot: its program found and run, text put safely into its scripts, data
// blocks, and panels of lines over a log2 x axis that label each line where it ends.
//
// Every picture a kit program draws says in its title what it shows and on which machine
// (picture_title), and on a busy machine how busy, so an outlier is never read as a result.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tools/common/machine.hpp"

namespace tool_common {

// `text` as a string in a gnuplot script: between double quotes, with its
// quotes and backslashes escaped and line breaks made spaces, so a title or
// a name cannot end the string and write script of its own.
std::string gnuplot_quoted(const std::string& text);

// `text` of several lines ('\n' between them) as a gnuplot string
// expression: each line quoted as above, joined by newlines.
std::string gnuplot_quoted_lines(const std::string& text);

// The full path of `program` on PATH, or empty.
std::string find_on_path(const std::string& program);

// Runs the program at `gnuplot` on `script` and returns in *png what it
// wrote on its standard output. True when it ran and exited with status 0.
bool run_gnuplot(const std::string& gnuplot, const std::string& script, std::string* png);

// A named data block: "$name << EOD", the lines, "EOD".
std::string data_block(const std::string& name, const std::string& lines);

// Colours far enough apart to tell on a white page, none of them grey (grey
// marks noise and waiting): colour i of a picture, repeating after the last.
std::string distinct_colour(size_t i);

// The grey of points that are noise rather than results.
inline constexpr char kNoiseGrey[] = "#a0a0a0";

// Other programs above this share of the machine's CPU time, or the
// hypervisor above this, and a second thread had no core of its own.
inline constexpr double kBusyOthersPercent = 10.0;
inline constexpr double kBusyStealPercent = 5.0;
bool machine_was_busy(const machine_load& load);

// "WHAT\nMACHINE", and a third line on a busy machine that says how busy,
// or, when the load is unknown, that it is: for gnuplot_quoted_lines.
std::string picture_title(const std::string& what, const std::string& machine,
                          const machine_load& load);

// Clustered bars: along x a group per entry of `groups`, in each a bar per
// entry of `columns` (a colour each, named in the key); values[g][c] not
// above 0: no bar.
struct bar_chart {
  std::string title;  // lines apart by '\n'
  std::string ylabel;
  std::vector<std::string> columns;
  std::vector<std::string> groups;
  std::vector<std::vector<double>> values;
};

// A whole picture of `chart`: a PNG on standard output.
std::string bar_chart_script(const bar_chart& chart);

// One point of a line: its value at x, the value's 95% interval, and whether
// the table marks it as noise (drawn hollow and grey).
struct plot_point {
  double x;
  double y;
  double low;
  double high;
  bool noisy;
};

// One line of a panel, labelled at its last point with `label`.
struct plot_line {
  std::string label;
  std::string colour;
  bool dashed;
  std::vector<plot_point> points;
};

// A horizontal line across a panel, labelled at its left end ("1x: no gain").
struct plot_guide {
  double y;
  std::string label;
};

// One panel of a multiplot: x on a log2 axis, y on a log2 axis or linear
// from 0 to `y_top` (0: gnuplot chooses).
struct line_panel {
  std::string title;
  std::string ylabel;
  bool log_y = true;
  double y_top = 0.0;
  std::vector<plot_line> lines;
  std::vector<plot_guide> guides;
  // Key entries that explain the styles: "with lines dt 2 lc rgb ..." and its title.
  std::vector<std::pair<std::string, std::string>> key;
};

// The panel's commands; its data blocks are named `prefix`0, `prefix`1, ...
// Each line is drawn through its points with their intervals; noisy points
// hollow and grey, with a key entry that says so; labels pushed apart so
// that lines ending close together stay readable.
std::string line_panel_script(const line_panel& panel, const std::string& prefix);

// Label heights: `ys` moved up as little as possible so that no two are
// closer than `gap`, each keeping its order.
std::vector<double> spread_labels(const std::vector<double>& ys, double gap);

}  // namespace tool_common
