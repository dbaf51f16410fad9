// gnuplot's input for compare_products' --plot: bars for one shape, panels of lines for a sweep.
#include "plot.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/common/gnuplot.hpp"
#include "tools/common/text.hpp"

namespace compare_products {
namespace {

using tool_common::format_number;
using tool_common::gnuplot_quoted;

// The methods of `rows` in the order they first appear.
std::vector<const product_method*> methods_of(const std::vector<row>& rows) {
  std::vector<const product_method*> order;
  for (const auto& r : rows) {
    if (std::find(order.begin(), order.end(), r.method) == order.end()) {
      order.push_back(r.method);
    }
  }
  return order;
}

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
  tool_common::bar_chart chart{title, "GOP/s (median; higher is faster)", {}, {}, {}};
  for (int32_t t : counts) {
    chart.columns.push_back(tool_common::threads_text(t));
  }
  for (const product_method* m : methods_of(rows)) {
    chart.groups.emplace_back(m->name);
    chart.values.emplace_back(counts.size(), 0.0);
    for (const auto& r : rows) {
      const auto c = std::find(counts.begin(), counts.end(), r.threads);
      if (r.method == m && r.skipped.empty() && c != counts.end()) {
        chart.values.back()[static_cast<size_t>(c - counts.begin())] = r.gops;
      }
    }
  }
  return tool_common::bar_chart_script(chart);
}

// A rate or speedup as a point: its value, its interval, and whether it is a
// result (enough calls for an interval, within the noise rule).
tool_common::plot_point point_of(double x, double y, const tool_common::interval& range,
                                 bool ranged, bool noisy) {
  if (!ranged || !std::isfinite(range.high)) {
    return {x, y, y, y, true};
  }
  return {x, y, range.low, range.high, noisy};
}

// The line of `m` on `threads` threads: its rates, or its speedups over one thread.
tool_common::plot_line line_of(const std::vector<row>& rows, const product_method* m,
                               int32_t threads, bool speedup, const std::string& colour) {
  tool_common::plot_line line{m->name, colour, threads > 1 && !speedup, {}};
  if (m->threads != threading::sequential && !speedup) {
    line.label += ", " + tool_common::threads_text(threads);
  }
  for (const auto& r : rows) {
    if (r.method != m || r.threads != threads) {
      continue;
    }
    const auto x = static_cast<double>(r.size.rows);
    if (speedup && r.vs_one.count > 0) {
      line.points.push_back(
          point_of(x, r.vs_one.median, r.vs_one.range, r.vs_one.has_interval(),
                   tool_common::wider_than_noise(r.vs_one.median, r.vs_one.range) ||
                       r.vs_one.median > r.threads));  // the table's "noise (x)"
    } else if (!speedup && r.gops > 0.0) {
      line.points.push_back(point_of(x, r.gops, r.gops_range,
                                     r.seconds.size() >= tool_common::kFewestForInterval,
                                     tool_common::noisy(r)));
    }
  }
  return line;
}

// The three panels of a sweep; `most` is the largest thread count a threaded
// method ran with. A panel with nothing to show is left out (no loop nest
// chosen; one thread only, so no speedup).
std::vector<tool_common::line_panel> sweep_panels(const std::vector<row>& rows, int32_t most) {
  std::vector<tool_common::line_panel> panels(3);
  int32_t dashed = 1;  // the most threads of a line drawn dashed
  size_t parallel = 0;
  for (const product_method* m : methods_of(rows)) {
    if (m->threads == threading::sequential) {
      panels[0].lines.push_back(
          line_of(rows, m, 1, false, tool_common::distinct_colour(panels[0].lines.size())));
      continue;
    }
    const std::string colour = tool_common::distinct_colour(parallel++);
    const int32_t many = m->threads == threading::two_fixed ? 2 : most;
    panels[1].lines.push_back(line_of(rows, m, 1, false, colour));
    if (many > 1) {
      panels[1].lines.push_back(line_of(rows, m, many, false, colour));
      dashed = std::max(dashed, many);
    }
    if (most > 1) {
      panels[2].lines.push_back(line_of(rows, m, most, true, colour));
    }
  }
  panels[0].title = "Loop nests (mmultiplicar tipo 0 ... 5), one thread";
  panels[1].title =
      "Parallel products: solid on 1 thread, dashed on " + tool_common::threads_text(dashed);
  panels[2].title = "Speedup of each parallel product on " + tool_common::threads_text(most) +
                    " over itself on 1 thread";
  panels[0].ylabel = panels[1].ylabel = "GOP/s (median, 95% interval)";
  panels[2].ylabel = "speedup (median of the ratios within each round)";
  panels[1].key = {{"with lines lw 2 dt 1 lc rgb \"#303030\"", "1 thread"},
                   {"with lines lw 2 dt 2 lc rgb \"#303030\"", tool_common::threads_text(dashed)}};
  if (dashed == 1) {
    panels[1].title = "Parallel products on 1 thread";
    panels[1].key.clear();
  }
  panels[2].log_y = false;
  // Up to the ideal, or to the highest interval drawn (a speedup above the ideal is noise).
  panels[2].y_top = most + 0.6;
  for (const auto& l : panels[2].lines) {
    for (const auto& p : l.points) {
      panels[2].y_top = std::max(panels[2].y_top, p.high * 1.05);
    }
  }
  panels[2].guides = {
      {1.0, "1x: no gain"},
      {static_cast<double>(most), format_number("ideal: %gx, every thread fully used", most)}};
  for (auto& p : panels) {
    p.lines.erase(std::remove_if(p.lines.begin(), p.lines.end(),
                                 [](const tool_common::plot_line& l) { return l.points.empty(); }),
                  p.lines.end());
  }
  panels.erase(std::remove_if(panels.begin(), panels.end(),
                              [](const tool_common::line_panel& p) { return p.lines.empty(); }),
               panels.end());
  return panels;
}

// The sweep plot: the panels of sweep_panels stacked over one n axis.
std::string lines_script(const std::vector<row>& rows, const std::string& title) {
  int32_t most = 1;
  for (const auto& r : rows) {
    if (r.method->threads == threading::requested && r.skipped.empty()) {
      most = std::max(most, r.threads);
    }
  }
  const auto panels = sweep_panels(rows, most);
  const size_t count = std::max<size_t>(panels.size(), 1);
  std::string script = "set terminal pngcairo size 1200," + std::to_string(200 + 450 * count) +
                       " noenhanced\nset datafile missing \"-\"\nset multiplot layout " +
                       std::to_string(count) + ",1 title " +
                       tool_common::gnuplot_quoted_lines(title) +
                       "\nset logscale x 2\nset grid\nset format y \"%g\"\n"
                       // The same margins in every panel, so that their n axes line up; the
                       // right one holds the lines' labels.
                       "set lmargin 12\nset rmargin 30\nset key top left horizontal box opaque "
                       "reverse Left samplen 2\n"
                       "set xlabel \"n (A and B are n x n)\"\n";
  if (panels.empty()) {
    script += "plot NaN notitle\n";
  }
  for (size_t p = 0; p < panels.size(); ++p) {
    std::string prefix = "p";  // piece by piece: g++ 12 warns wrongly about "p" + ...
    prefix += std::to_string(p);
    script += tool_common::line_panel_script(panels[p], prefix + "_");
  }
  return script + "unset multiplot\n";
}

}  // namespace

std::string gnuplot_script(const std::vector<row>& rows, const options& o,
                           const std::string& machine, const tool_common::machine_load& load) {
  if (o.sizes.size() > 1) {
    return lines_script(
        rows, tool_common::picture_title("GOP/s and speedups of libdense's products against n",
                                         machine, load));
  }
  char shape[160];
  std::snprintf(shape, sizeof shape, "GOP/s of each product, A %dx%d times B %dx%d", o.rows,
                o.inner, o.inner, o.cols);
  return bars_script(rows, tool_common::picture_title(shape, machine, load));
}

bool has_rate(const std::vector<row>& rows) {
  return std::any_of(rows.begin(), rows.end(), [](const row& r) { return r.gops > 0.0; });
}

}  // namespace compare_products
