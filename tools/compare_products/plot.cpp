// gnuplot's input for compare_products' --plot: bars for one shape, lines for a sweep.
#include "plot.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <iterator>
#include <utility>

#include "process.hpp"
#include "tools/common/text.hpp"

namespace compare_products {
namespace {

using tool_common::format_number;

// The single-shape plot: clustered bars, methods along x, one bar per thread count.
std::string bars_script(const std::vector<row>& rows, const std::string& title) {
  // Columns: every thread count some method ran with, ascending.
  std::vector<int32_t> counts;
  for (const auto& r : rows) {
    if (r.skipped.empty()) {
      counts.push_back(r.threads);
    }
  }
  std::sort(counts.begin(), counts.end());
  counts.erase(std::unique(counts.begin(), counts.end()), counts.end());

  std::string data = "$gops << EOD\n";
  std::vector<const product_method*> order;
  for (const auto& r : rows) {
    if (std::find(order.begin(), order.end(), r.method) == order.end()) {
      order.push_back(r.method);
    }
  }
  for (const product_method* m : order) {
    data += m->name;
    for (int32_t t : counts) {
      std::string cell = " -";
      for (const auto& r : rows) {
        if (r.method == m && r.threads == t && r.skipped.empty() && r.gops > 0.0) {
          cell = format_number(" %.4f", r.gops);
        }
      }
      data += cell;
    }
    data += "\n";
  }
  data += "EOD\n";

  std::string script = data;
  script +=
      "set terminal pngcairo size 1100,600 noenhanced\n"
      "set title ";
  script += gnuplot_quoted(title);
  script +=
      "\n"
      "set ylabel \"GOP/s\"\n"
      "set yrange [0:*]\n"
      "set grid ytics\n"
      "set style data histograms\n"
      "set style histogram clustered gap 1\n"
      "set style fill solid 0.85 border -1\n"
      "set datafile missing \"-\"\n"
      "set xtics rotate by -30\n"
      "set key top left title \"threads\"\n"
      "plot ";
  for (size_t c = 0; c < counts.size(); ++c) {
    if (c > 0) {
      script += ", ";
    }
    script += "$gops using " + std::to_string(c + 2) + (c == 0 ? ":xtic(1)" : "") + " title \"" +
              std::to_string(counts[c]) + "\"";
  }
  script += "\n";
  return script;
}

// A colour for each method of the table, far enough apart to tell on a white page.
constexpr const char* kColours[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728",
                                    "#9467bd", "#8c564b", "#e377c2", "#7f7f7f",
                                    "#bcbd22", "#17becf", "#000000", "#b15928"};

// Products given with --add: darker colours, none of them the table's, in the order they came.
constexpr const char* kAddedColours[] = {"#e6007e", "#006d2c", "#08306b", "#7a0177", "#8c2d04"};

// The place of `m` in the table of methods, or the table's size for a product given with --add.
size_t table_index(const product_method* m) {
  size_t i = 0;
  while (i < methods().size() && &methods()[i] != m) {
    ++i;
  }
  return i;
}

std::string colour_of(const product_method* m, const std::vector<row>& rows) {
  const size_t index = table_index(m);
  if (index < methods().size()) {
    return kColours[index % std::size(kColours)];
  }
  std::vector<const product_method*> added;
  for (const auto& r : rows) {
    if (table_index(r.method) == methods().size() &&
        std::find(added.begin(), added.end(), r.method) == added.end()) {
      added.push_back(r.method);
    }
  }
  const auto nth = static_cast<size_t>(std::find(added.begin(), added.end(), m) - added.begin());
  return kAddedColours[nth % std::size(kAddedColours)];
}

// One data block: "n value low high" per size that has a value.
std::string block(const std::string& name, const std::vector<std::array<double, 4>>& points) {
  std::string text = "$" + name + " << EOD\n";
  for (const auto& p : points) {
    text += format_number("%.0f", p[0]) + format_number(" %.6g", p[1]) +
            format_number(" %.6g", p[2]) + format_number(" %.6g", p[3]) + "\n";
  }
  return text + "EOD\n";
}

// The lines of a sweep plot: each method on one thread and on the most threads it ran with.
struct series {
  const product_method* method;
  int32_t threads;
};

// The largest thread count a threaded method ran with.
int32_t most_threads_of(const std::vector<row>& rows) {
  int32_t most = 1;
  for (const auto& r : rows) {
    if (r.method->threads == threading::requested && r.skipped.empty()) {
      most = std::max(most, r.threads);
    }
  }
  return most;
}

// The rate lines drawn: every row's method and thread count with a rate,
// threaded methods on 1 thread and on `most` threads only.
std::vector<series> rate_series(const std::vector<row>& rows, int32_t most) {
  std::vector<series> lines;
  for (const auto& r : rows) {
    const bool shown =
        r.method->threads != threading::requested || r.threads == 1 || r.threads == most;
    const bool known = std::any_of(lines.begin(), lines.end(), [&](const series& s) {
      return s.method == r.method && s.threads == r.threads;
    });
    if (r.gops > 0.0 && shown && !known) {
      lines.push_back({r.method, r.threads});
    }
  }
  return lines;
}

// The methods with a speedup over one thread at `most` threads.
std::vector<const product_method*> scaling_methods(const std::vector<row>& rows, int32_t most) {
  std::vector<const product_method*> scaling;
  for (const auto& r : rows) {
    if (r.vs_one.count > 0 && r.threads == most &&
        std::find(scaling.begin(), scaling.end(), r.method) == scaling.end()) {
      scaling.push_back(r.method);
    }
  }
  return scaling;
}

// One line of a panel: its data block `name` (appended to *data) from the
// rows `take` picks, as "n value low high", and its plot clause.
std::string line_of(const std::vector<row>& rows, const std::string& name,
                    const std::function<bool(const row&, std::array<double, 4>*)>& take,
                    const std::string& style, std::string* data) {
  std::vector<std::array<double, 4>> points;
  for (const auto& r : rows) {
    std::array<double, 4> p{};
    if (take(r, &p)) {
      points.push_back(p);
    }
  }
  *data += block(name, points);
  return "$" + name + " using 1:2:3:4 with yerrorlines lw 2 pt 7 ps 0.6 " + style;
}

// The sweep plot, two panels over n on log-log axes: GOP/s of each method on
// one thread and on the largest thread count it ran with (a colour per
// method, solid for one thread, dashed for more), each point with its 95%
// interval; below, each threaded method's speedup over one thread.
std::string lines_script(const std::vector<row>& rows, const std::string& title) {
  const int32_t most = most_threads_of(rows);
  const std::vector<series> lines = rate_series(rows, most);
  const std::vector<const product_method*> scaling = scaling_methods(rows, most);
  std::string data;
  std::string rates = "plot ";
  for (size_t i = 0; i < lines.size(); ++i) {
    const series& l = lines[i];
    rates +=
        std::string(i == 0 ? "" : ", ") +
        line_of(
            rows, "rate" + std::to_string(i),
            [&](const row& r, std::array<double, 4>* p) {
              *p = {static_cast<double>(r.size.rows), r.gops, r.gops_range.low, r.gops_range.high};
              return r.method == l.method && r.threads == l.threads && r.gops > 0.0;
            },
            "lc rgb \"" + colour_of(l.method, rows) + "\" dt " + (l.threads == 1 ? "1" : "2") +
                " title " +
                gnuplot_quoted(std::string(l.method->name) + ", " +
                               tool_common::threads_text(l.threads)),
            &data);
  }
  std::string speedups = "plot 1 with lines lc rgb \"#999999\" dt 3 notitle";
  for (size_t i = 0; i < scaling.size(); ++i) {
    speedups +=
        ", " + line_of(
                   rows, "speedup" + std::to_string(i),
                   [&](const row& r, std::array<double, 4>* p) {
                     *p = {static_cast<double>(r.size.rows), r.vs_one.median, r.vs_one.range.low,
                           r.vs_one.range.high};
                     return r.method == scaling[i] && r.threads == most && r.vs_one.count > 0;
                   },
                   "lc rgb \"" + colour_of(scaling[i], rows) + "\" dt 2 title " +
                       gnuplot_quoted(scaling[i]->name),
                   &data);
  }
  return data +
         "set terminal pngcairo size 1100,1000 noenhanced\n"
         "set datafile missing \"-\"\n"
         "set multiplot layout 2,1 title " +
         gnuplot_quoted(title) +
         "\n"
         "set logscale xy 2\n"
         "set grid\n"
         // The same margins in both panels, so that their n axes line up.
         "set lmargin 12\n"
         "set rmargin 34\n"
         "set key outside right top\n"
         "set xlabel \"n (A and B n x n)\"\n"
         "set ylabel \"GOP/s (median, 95% interval)\"\n"
         "set format y \"%g\"\n" +
         rates + "\nunset logscale y\nset yrange [0:" + std::to_string(most + 1) +
         "]\nset ylabel " +
         gnuplot_quoted("speedup, " + tool_common::threads_text(most) +
                        " over 1 (median of the ratios in each round)") +
         "\n" + speedups + "\nunset multiplot\n";
}

}  // namespace

std::string gnuplot_script(const std::vector<row>& rows, const options& o,
                           const std::string& machine) {
  if (o.sizes.size() > 1) {
    return lines_script(rows, machine);
  }
  char shape[160];
  std::snprintf(shape, sizeof shape, "A %dx%d times B %dx%d, ", o.rows, o.inner, o.inner, o.cols);
  return bars_script(rows, shape + machine);
}

bool has_rate(const std::vector<row>& rows) {
  return std::any_of(rows.begin(), rows.end(), [](const row& r) { return r.gops > 0.0; });
}

}  // namespace compare_products
