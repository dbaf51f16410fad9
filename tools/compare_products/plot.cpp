// gnuplot's input for compare_products' --plot: bars for one shape, lines for a sweep.
#include "plot.hpp"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "tools/common/text.hpp"

namespace compare_products {
namespace {

using tool_common::format_number;

// The single-shape plot: clustered bars, methods along x, one bar per thread count.
std::string bars_script(const std::vector<row>& rows, const options& o) {
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

  char title[200];
  std::snprintf(title, sizeof title, "A %dx%d times B %dx%d, median of %d", o.rows, o.inner,
                o.inner, o.cols, o.repeat);
  std::string script = data;
  script +=
      "set terminal pngcairo size 1100,600 noenhanced\n"
      "set title \"";
  script += title;
  script +=
      "\"\n"
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

// The sweep plot: GOP/s against n, one line per method and thread count.
std::string lines_script(const std::vector<row>& rows, const options& o) {
  std::vector<std::pair<const product_method*, int32_t>> series;
  for (const auto& r : rows) {
    const std::pair<const product_method*, int32_t> key{r.method, r.threads};
    if (r.skipped.empty() && std::find(series.begin(), series.end(), key) == series.end()) {
      series.push_back(key);
    }
  }
  std::string data = "$gops << EOD\nn";
  for (const auto& [m, t] : series) {
    data += " \"" + std::string(m->name) + ", " + std::to_string(t) +
            (t == 1 ? " thread\"" : " threads\"");
  }
  data += "\n";
  for (int32_t n : o.sizes) {
    data += std::to_string(n);
    for (const auto& [m, t] : series) {
      std::string cell = " -";
      for (const auto& r : rows) {
        if (r.method == m && r.threads == t && r.rows == n && r.skipped.empty() && r.gops > 0.0) {
          cell = format_number(" %.4f", r.gops);
        }
      }
      data += cell;
    }
    data += "\n";
  }
  data += "EOD\n";
  return data + "set terminal pngcairo size 1100,650 noenhanced\n" +
         "set title \"A and B n x n, median of " + std::to_string(o.repeat) + "\"\n" +
         "set xlabel \"n\"\n"
         "set ylabel \"GOP/s\"\n"
         "set logscale x 2\n"
         "set yrange [0:*]\n"
         "set grid\n"
         "set datafile missing \"-\"\n"
         "set key outside right top\n"
         "plot for [i=2:" +
         std::to_string(series.size() + 1) +
         "] $gops using 1:i with linespoints title columnheader(i)\n";
}

}  // namespace

std::string gnuplot_script(const std::vector<row>& rows, const options& o) {
  return o.sizes.size() > 1 ? lines_script(rows, o) : bars_script(rows, o);
}

bool has_rate(const std::vector<row>& rows) {
  return std::any_of(rows.begin(), rows.end(), [](const row& r) { return r.gops > 0.0; });
}

}  // namespace compare_products
